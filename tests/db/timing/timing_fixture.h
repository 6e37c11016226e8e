#pragma once
// A facade of one family over a netlist of hand-made cells, with a host that
// records what the timing front end asks of it, and a flow driver that can
// claim to be inside a flow.

#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"
#include "hdb/hdb_options.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_timing.h"
#include "../core/morv_test_env.h"
#include "morv_test_util.h"

// Sets the flags of any flow driver that tests need.
class TIMING_DRIVER_FLAGS : public MORV_EXPERT
{
public:
    // Only the given flow runs (none for -1).
    static void run_only(MORV_EXPERT* expert, int flow)
    {
        bool(&running)[NUM_FSYN_FLOWS] = expert->*(&TIMING_DRIVER_FLAGS::m_fsyn_flow_is_running);
        for (int f = 0; f < NUM_FSYN_FLOWS; ++f) running[f] = f == flow;
    }
    static void set_estimator(MORV_EXPERT* expert, bool on) { expert->*(&TIMING_DRIVER_FLAGS::m_enable_nevra) = on; }
    // The delay back-annotation call, and the delay it writes for one input.
    static void back_annotate(MORV_EXPERT* expert) { (expert->*(&TIMING_DRIVER_FLAGS::back_annotate_delays))(); }
    static int written_delay(MORV_EXPERT* expert, CDB_ATOM_ITERM* iterm)
    {
        return (expert->*(&TIMING_DRIVER_FLAGS::get_interconnection_delay_on_iterm))(iterm);
    }
};

// Records the timing calls; otherwise the test host's.
class TIMING_ENV : public MORV_TEST_ENV
{
public:
    using MORV_TEST_ENV::MORV_TEST_ENV;

    // The six flags as "0"/"1" characters, first flag first.
    void build_timing_netlist(MORV_TIMING* timing, bool a, bool b, bool c, bool d, bool e, bool f) override
    {
        std::string flags;
        for (bool flag : {a, b, c, d, e, f}) flags += flag ? '1' : '0';
        m_build_flags.push_back(flags);
        TDC_ACCESSORIES* accessories = tdc_get_accessories();
        accessories->set_atom_netlist(get_atom_netlist());
        if (c) accessories->set_full_taint();
        else accessories->set_taint_change_set(m_last_change_set);
        accessories->build_timing_netlist();
        timing->set_tdc_utility(accessories->get_tdc_utility());
    }
    void discard_timing_netlist() override
    {
        ++m_discards;
        tdc_get_accessories()->discard_timing_netlist();
    }
    bool is_stitched_node(int node_id) override { return m_stitched.count(node_id) != 0; }
    // The part, for the point-to-point delay model (0: the test host's).
    int get_part() override { return m_part != 0 ? m_part : MORV_TEST_ENV::get_part(); }
    // The device's count of any resource (-1: the host cannot say).
    int get_resource_count(int) override { return m_resource_count; }
    // What sits behind a boundary port or a black box.
    CDB_ATOM_NODE* get_boundary_port_source(CDB_ATOM_BOUNDARY_PORT*, int* atom_type, int* port) override
    {
        *atom_type = m_hidden_source_type;
        *port = m_hidden_source_port;
        return nullptr;
    }
    CDB_ATOM_NODE* get_blackbox_source(CDB_ATOM_OTERM*, int* atom_type, int* port) override
    {
        *atom_type = m_hidden_source_type;
        *port = m_hidden_source_port;
        return nullptr;
    }

    std::vector<std::string> m_build_flags;
    int m_discards = 0;
    std::set<int> m_stitched;
    int m_part = 0;
    int m_resource_count = 1000;
    int m_hidden_source_type = 0;
    int m_hidden_source_port = DB_COMB_OUT;
};

class TIMING_NETLIST
{
public:
    // seed: the placer seed option, when given; migratable_part: a part the
    // device lists as migratable (-1: none).
    // part: the part the host reports (0: the test host's).
    explicit TIMING_NETLIST(int family, const int* seed = nullptr, int migratable_part = -1, int part = 0)
        : m_host(family), m_env(&m_host.cmp)
    {
        m_env.m_part = part;
        if (seed != nullptr) m_host.ap.get_options().set_int(566, *seed);
        if (migratable_part >= 0) morv_install_migration_device(family, migratable_part);
        m_expert = dynamic_cast<MORV_EXPERT*>(m_env.get_fsyn_expert());
    }
    ~TIMING_NETLIST() { DMGR_UTILITY::set_current_device(nullptr); }

    MORV_API* api() { return m_expert->get_fsyn_api(); }
    MORV_TIMING* timing() { return api()->get_fsyn_timing(); }
    MORV_EXPERT* expert() { return m_expert; }
    TIMING_ENV& env() { return m_env; }
    MORV_TEST_HOST& host() { return m_host; }
    CDB_ATOM_NETLIST* netlist() { return m_host.netlist.get(); }
    int family() const { return m_host.cmp.get_base_family_code(); }
    void run_only(int flow) { TIMING_DRIVER_FLAGS::run_only(m_expert, flow); }

    CDB_ATOM_NODE* atom(int kind)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(family(), kind, name("n"));
        node->set_chip_db_entry(&m_host.chip_entry);
        netlist()->add_node(node);
        return node;
    }
    CDB_ATOM_OTERM* input_pin() { return atom(CDB_KIND_IO)->add_output_term(DB_DATA_OUT, name("in")); }
    CDB_ATOM_OTERM* reg(CDB_ATOM_OTERM* d, CDB_ATOM_OTERM* clk)
    {
        CDB_ATOM_NODE* r = atom(CDB_KIND_REGISTER);
        CDB_ATOM_ITERM* din = r->add_input_term(DB_DATAIN);
        if (d != nullptr) d->insert_fanout(din);
        clk->insert_fanout(r->add_input_term(DB_CLOCK));
        return r->add_output_term(DB_REG_OUT, name("q"));
    }
    CDB_ATOM_OTERM* lut(const std::vector<CDB_ATOM_OTERM*>& ins)
    {
        CDB_ATOM_NODE* l = atom(CDB_KIND_LCELL_COMB);
        for (size_t i = 0; i < ins.size(); ++i) {
            CDB_ATOM_ITERM* t = l->add_input_term(DB_DATA_A + static_cast<int>(i));
            if (ins[i] != nullptr) ins[i]->insert_fanout(t);
        }
        return l->add_output_term(DB_COMB_OUT, name("y"));
    }
    // A register pipeline: clock pin, two registers around a LUT that reads
    // the first register on both of its inputs, a second LUT behind it.
    void build_pipeline()
    {
        clock = input_pin();
        CDB_ATOM_OTERM* in = input_pin();
        q1 = reg(in, clock);
        y1 = lut({q1, q1});
        y2 = lut({y1, in});
        q2 = reg(y2, clock);
    }
    // Synchronised in full and analysed by the current back end.
    void analyse()
    {
        timing()->set_mode_switched(true);
        timing()->sync_timing_netlist(false, true);
        timing()->perform_timing_analysis();
    }

    CDB_ATOM_OTERM* clock = nullptr;
    CDB_ATOM_OTERM* q1 = nullptr;
    CDB_ATOM_OTERM* y1 = nullptr;
    CDB_ATOM_OTERM* y2 = nullptr;
    CDB_ATOM_OTERM* q2 = nullptr;

private:
    HDB_INSTANCE_NAME* name(const char* base)
    {
        // Appended, not added: GCC 12 in Release misreads operator+ on two
        // temporaries as an overlapping copy.
        std::string text(base);
        text.append(std::to_string(m_count++));
        return m_host.names.find_or_create_path(text, 0);
    }

    MORV_TEST_HOST m_host;
    TIMING_ENV m_env;
    MORV_EXPERT* m_expert = nullptr;
    int m_count = 0;
};
