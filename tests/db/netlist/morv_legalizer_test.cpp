// The MRL legaliser over small netlists: with the host's stand-in rule the
// legalised netlist computes what it computed before; with scripted records
// each record kind does what it says, and records that take away cells still
// waiting for their turn are survived.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_morlin_legalizer.h"
#include "dev/dev_device.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_legalizer.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_netlist_sweeper.h"
#include "../core/morv_test_env.h"
#include "morv_test_util.h"

namespace morv_legalizer_test {

namespace {

uint64_t and_of(unsigned inputs)
{
    uint64_t mask = 0;
    for (unsigned row = 0; row < 64; ++row)
        if ((row & inputs) == inputs) mask |= uint64_t(1) << row;
    return mask;
}

uint64_t wire(int k)
{
    return and_of(1u << k);
}

int id_of(const CDB_ATOM_NODE* node)
{
    return static_cast<int>(node->get_id());
}

// An MRL compile over a hand-built netlist.
class LEGALIZER_NETLIST
{
public:
    // With partitions, a boundary-port manager the run reads.
    explicit LEGALIZER_NETLIST(bool partitions = false)
        : m_host(CDB_FAMILY_MRL), m_bpm(partitions ? install_manager(&m_host.ap) : nullptr), m_env(&m_host.cmp)
    {
        m_api = dynamic_cast<MORV_EXPERT*>(m_env.get_fsyn_expert())->get_fsyn_api();
    }

    MORV_API* api() const { return m_api; }
    BPM_BOUNDARY_PORT_MANAGER* bpm() const { return m_bpm.get(); }
    CUT_ATOM_MORLIN_LEGALIZER* host() const { return m_api->get_atom_legalizer(); }
    CDB_ATOM_NETLIST* netlist() const { return m_host.netlist.get(); }
    MORV_NET_UTIL* util() const { return m_api->get_fsyn_net_util(); }

    CDB_ATOM_NODE* atom(int kind, const std::string& name)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(CDB_FAMILY_MRL, kind, m_host.names.find_or_create_path(name, 0));
        node->set_chip_db_entry(&m_host.chip_entry);
        netlist()->add_node(node);
        return node;
    }
    CDB_ATOM_OTERM* source()
    {
        CDB_ATOM_OTERM* out = atom(CDB_KIND_IO, "src" + std::to_string(m_count++))->add_output_term(DB_DATA_OUT);
        m_sources.push_back(out);
        return out;
    }
    // A combinational cell whose comb-out drives an output pin; each input
    // given a source is driven by it.
    CDB_ATOM_NODE* cell(const std::string& name, uint64_t mask, const std::vector<CDB_ATOM_OTERM*>& inputs)
    {
        CDB_ATOM_NODE* node = atom(CDB_KIND_LCELL_COMB, name);
        for (size_t k = 0; k < inputs.size(); ++k) {
            CDB_ATOM_ITERM* iterm = node->add_input_term(DB_DATA_A + static_cast<int>(k));
            if (inputs[k] != nullptr) inputs[k]->insert_fanout(iterm);
        }
        node->set_lutmask(CDB_LUTMASK(6, mask));
        CDB_ATOM_OTERM* out = node->add_output_term(DB_COMB_OUT, m_host.names.find_or_create_path(name, 0));
        out->insert_fanout(atom(CDB_KIND_IO, "pin" + std::to_string(m_count++))->add_input_term(DB_DATAIN));
        return node;
    }
    // The truth table of an output over every source made so far.
    uint64_t function_of(const CDB_ATOM_OTERM* out) const
    {
        uint64_t table = 0;
        for (unsigned row = 0; row < (1u << m_sources.size()); ++row) {
            std::map<const CDB_ATOM_OTERM*, unsigned> values;
            for (size_t i = 0; i < m_sources.size(); ++i) values[m_sources[i]] = (row >> i) & 1u;
            if (value_of(out, values)) table |= uint64_t(1) << row;
        }
        return table;
    }
    // Every combinational cell the host judges legal.
    bool all_cells_legal() const
    {
        for (CDB_ATOM_NODE* node : *netlist())
            if (node->is_lcell_comb() && !host()->is_node_legal(node)) return false;
        return true;
    }
    int count_cells() const
    {
        int n = 0;
        for (CDB_ATOM_NODE* node : *netlist()) n += node->is_lcell_comb() ? 1 : 0;
        return n;
    }

private:
    static std::unique_ptr<BPM_BOUNDARY_PORT_MANAGER> install_manager(HDB_ACTION_PT_INSTANCE* ap)
    {
        auto bpm = std::make_unique<BPM_BOUNDARY_PORT_MANAGER>(ap);
        bpm_drl_set_active_boundary_port_manager(bpm.get());
        return bpm;
    }
    static unsigned read(const CDB_ATOM_ITERM* iterm, const std::map<const CDB_ATOM_OTERM*, unsigned>& values)
    {
        if (iterm == nullptr || !iterm->is_connected()) return 0;
        if (!iterm->is_driven()) return iterm->is_logical_vcc() ? 1 : 0;
        return value_of(iterm->get_source(), values) ^ (iterm->reads_complemented() ? 1u : 0u);
    }
    static unsigned value_of(const CDB_ATOM_OTERM* out, const std::map<const CDB_ATOM_OTERM*, unsigned>& values)
    {
        auto found = values.find(out);
        if (found != values.end()) return found->second;
        const CDB_ATOM_NODE* node = out->get_my_node();
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
        for (int i = 0; i < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++i)
            in[i] = read(node->get_input_term_by_type(node->get_evaluate_input_port(i)), values);
        return node->evaluate_output(out->get_usage(), in);
    }

    MORV_TEST_HOST m_host;
    // The manager outlives the facade that reads it.
    std::unique_ptr<BPM_BOUNDARY_PORT_MANAGER> m_bpm;
    MORV_TEST_ENV m_env;
    MORV_API* m_api = nullptr;
    std::vector<CDB_ATOM_OTERM*> m_sources;
    int m_count = 0;
};

// A script whose cells are illegal until the legaliser has asked for their
// records once; the records of each cell are given, the calls recorded.
struct SCRIPTED_HOST
{
    std::map<int, std::function<CUT_ATOM_MODIFIED_NODE_LIST(CDB_ATOM_NODE*)>> records;
    std::set<int> illegal;
    std::vector<int> calls;

    void install(CUT_ATOM_MORLIN_LEGALIZER* host)
    {
        CUT_MORLIN_SCRIPT script;
        script.is_node_legal = [this](const CDB_ATOM_NODE* node) { return illegal.count(id_of(node)) == 0; };
        script.legalize_node = [this](CDB_ATOM_NODE* node) {
            const int id = id_of(node);
            calls.push_back(id);
            illegal.erase(id);
            auto found = records.find(id);
            auto list = std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>();
            if (found != records.end()) *list = found->second(node);
            return list;
        };
        host->set_script(script);
    }
};

CUT_ATOM_MODIFIED_NODE_S record(int id, int kind, CDB_ATOM_NODE* node)
{
    CUT_ATOM_MODIFIED_NODE_S r;
    r.id = id;
    r.kind = kind;
    r.node = node;
    return r;
}

CUT_ATOM_MODIFIED_ITERM_S entry(int port_type, bool connect, CDB_ATOM_OTERM* source = nullptr, int source_id = -1)
{
    CUT_ATOM_MODIFIED_ITERM_S e;
    e.port_type = port_type;
    e.connect = connect;
    e.source_oterm = source;
    e.source_id = source_id;
    return e;
}

class MorvLegalizerTest : public MORV_CLEAN_STATE_TEST
{};

}  // namespace

TEST_F(MorvLegalizerTest, LegalNetlistLosesOnlyTheInputsItsMasksIgnore)
{
    LEGALIZER_NETLIST n;
    CDB_ATOM_OTERM* a = n.source();
    CDB_ATOM_OTERM* b = n.source();
    CDB_ATOM_NODE* plain = n.cell("plain", wire(0), {a, b});
    CDB_ATOM_NODE* chain = n.cell("chain", wire(0), {a, b});
    n.source()->insert_fanout(chain->add_input_term(DB_CARRY_IN));
    CDB_ATOM_NODE* extended = n.cell("extended", wire(0), {a, b});
    n.source()->insert_fanout(extended->add_input_term(DB_DATA_G));
    const int cells = n.count_cells();

    MORV_LEGALIZER legalizer(n.api());
    n.api()->reset_taint();
    EXPECT_EQ(legalizer.legalize_netlist(), 0);
    EXPECT_FALSE(plain->get_input_term_by_type(DB_DATA_B)->is_connected());
    EXPECT_NE(n.api()->get_taint(), 0u) << "a dropped input reaches timing";
    EXPECT_FALSE(n.api()->is_atom_modified_for_icp(id_of(plain)));
    EXPECT_TRUE(plain->get_input_term_by_type(DB_DATA_A)->is_connected());
    EXPECT_TRUE(chain->get_input_term_by_type(DB_DATA_B)->is_connected());
    EXPECT_TRUE(extended->get_input_term_by_type(DB_DATA_B)->is_connected());
    EXPECT_EQ(n.count_cells(), cells);
}

TEST_F(MorvLegalizerTest, RegisterFLIdIsFixedOnceAndThenNotCounted)
{
    LEGALIZER_NETLIST n;
    CDB_ATOM_NODE* reg = n.atom(CDB_KIND_REGISTER, "reg");
    MORV_LEGALIZER legalizer(n.api());
    EXPECT_EQ(legalizer.legalize_netlist(), 1);
    EXPECT_NE(n.api()->get_stored_fl_id(reg), DEV_ILLEGAL_FL_ID);
    EXPECT_EQ(n.api()->get_stored_fl_id(reg), n.api()->get_fl_id_from_atom_properties(reg));
    EXPECT_EQ(legalizer.legalize_netlist(), 0);
    // A stale id is fixed and counted.
    const int fl_id = n.api()->get_fl_id_from_atom_properties(reg);
    n.api()->set_fl_id(reg, fl_id + 1);
    EXPECT_EQ(legalizer.legalize_netlist(), 1);
    EXPECT_EQ(n.api()->get_stored_fl_id(reg), fl_id);
}

TEST_F(MorvLegalizerTest, RotatedAndDecomposedCellsComputeWhatTheyComputedBefore)
{
    LEGALIZER_NETLIST n;
    std::vector<CDB_ATOM_OTERM*> s;
    for (int i = 0; i < 6; ++i) s.push_back(n.source());
    // Five driven inputs B..F, one inverted: rotated.
    CDB_ATOM_NODE* five = n.cell("five", and_of(0x3E), {nullptr, s[1], s[2], s[3], s[4], s[5]});
    five->get_input_term_by_type(DB_DATA_C)->set_invert();
    // Six inputs: split into a new cell and a multiplexer that holds the
    // constant cofactor, also when every input is inverted. With some inputs inverted, a rotation that
    // brings one to F can be legal.
    CDB_ATOM_NODE* six = n.cell("six", and_of(0x3F), s);
    CDB_ATOM_NODE* six_inverted = n.cell("inverted", and_of(0x3F), s);
    for (int k = 0; k < 6; ++k) six_inverted->get_input_term_by_type(DB_DATA_A + k)->set_invert();
    CDB_ATOM_NODE* two_inverted = n.cell("two", and_of(0x3F), s);
    two_inverted->get_input_term_by_type(DB_DATA_A)->set_invert();
    two_inverted->get_input_term_by_type(DB_DATA_F)->set_invert();
    // Six inputs, one tied to VCC: five left, rotated.
    CDB_ATOM_NODE* tied = n.cell("tied", and_of(0x3F), {nullptr, s[1], s[2], s[3], s[4], s[0]});
    tied->get_input_term_by_type(DB_DATA_A)->set_vcc();
    tied->get_input_term_by_type(DB_DATA_D)->set_invert();
    n.api()->reset_fsyn_chip_map(false);
    MORV_LOC where;
    where.x = 2;
    where.y = 3;
    n.api()->get_fsyn_chip_map()->set_node_location(id_of(six), where);

    const std::vector<CDB_ATOM_NODE*> cells_to_fix = {five, six, six_inverted, two_inverted, tied};
    std::vector<uint64_t> before;
    for (CDB_ATOM_NODE* node : cells_to_fix) {
        ASSERT_FALSE(n.host()->is_node_legal(node));
        before.push_back(n.function_of(node->get_output_term_by_type(DB_COMB_OUT)));
    }
    const int cells = n.count_cells();
    MORV_LEGALIZER legalizer(n.api());
    EXPECT_EQ(legalizer.legalize_netlist(), 5);
    EXPECT_TRUE(n.all_cells_legal());
    EXPECT_EQ(n.count_cells(), cells + 2);
    int index = 0;
    for (CDB_ATOM_NODE* node : cells_to_fix)
        EXPECT_EQ(n.function_of(node->get_output_term_by_type(DB_COMB_OUT)), before[index++]) << index;
    // The new cells are named after the split cell and sit in its LAB.
    int named = 0;
    for (CDB_ATOM_NODE* node : *n.netlist()) {
        if (!node->is_lcell_comb() || node->get_instance_name()->get_short_hpath().find("six_LEGAL") != 0) continue;
        ++named;
        MORV_LOC location;
        ASSERT_TRUE(n.api()->get_fsyn_chip_map()->get_node_location(id_of(node), &location));
        EXPECT_EQ(location.x, 2);
        EXPECT_EQ(location.y, 3);
    }
    EXPECT_EQ(named, 1);
}

TEST_F(MorvLegalizerTest, RecordKindsNewNodeIntermsLutmaskAndDoNothing)
{
    LEGALIZER_NETLIST n;
    CDB_ATOM_OTERM* s0 = n.source();
    CDB_ATOM_OTERM* s1 = n.source();
    CDB_ATOM_OTERM* s2 = n.source();
    CDB_ATOM_NODE* x = n.cell("x", and_of(0x1F), {s0, s1, s2, nullptr, s0});
    x->get_input_term_by_type(DB_DATA_B)->set_invert();
    CDB_ATOM_NODE* y = n.cell("y", wire(0), {s0});
    CDB_ATOM_OTERM* x_out = x->get_output_term_by_type(DB_COMB_OUT);
    CDB_ATOM_ITERM* pin = x_out->get_first_fanout();
    n.api()->reset_fsyn_chip_map(false);
    MORV_LOC where;
    where.x = 1;
    where.y = 4;
    n.api()->get_fsyn_chip_map()->set_node_location(id_of(x), where);

    SCRIPTED_HOST script;
    script.illegal = {id_of(x)};
    script.records[id_of(x)] = [&](CDB_ATOM_NODE* node) {
        CUT_ATOM_MODIFIED_NODE_LIST list;
        CUT_ATOM_MODIFIED_NODE_S fresh = record(10, CUT_MODIFICATION_NEW_NODE, nullptr);
        fresh.oterm = x_out;
        fresh.modified_iterms = {entry(DB_DATA_A, true, s2)};
        fresh.lutmask = ~wire(0);
        list.push_back(fresh);
        CUT_ATOM_MODIFIED_NODE_S rewire = record(11, CUT_MODIFICATION_ITERMS, node);
        rewire.modified_iterms = {entry(DB_DATA_B, true, nullptr, 10), entry(DB_DATA_C, false), entry(DB_DATA_D, true),
                                  entry(DB_DATA_E, true)};
        rewire.modified_iterms[0].global_type = 3;
        rewire.modified_iterms[2].tie_to_vcc = true;
        rewire.modified_iterms[3].tie_to_gnd = true;
        list.push_back(rewire);
        list.push_back(record(12, CUT_MODIFICATION_DO_NOTHING, node));
        CUT_ATOM_MODIFIED_NODE_S mask = record(13, CUT_MODIFICATION_LUTMASK, node);
        mask.lutmask = wire(1);
        list.push_back(mask);
        CUT_ATOM_MODIFIED_NODE_S both = record(14, CUT_MODIFICATION_ITERMS_AND_LUTMASK, y);
        both.modified_iterms = {entry(DB_DATA_B, true, s1)};
        both.lutmask = wire(1);
        list.push_back(both);
        return list;
    };
    script.install(n.host());
    MORV_LEGALIZER legalizer(n.api());
    EXPECT_EQ(legalizer.legalize_netlist(), 1);
    EXPECT_EQ(script.calls, std::vector<int>{id_of(x)});

    // NEW_NODE: the new cell took over x's output, its name and its sink.
    EXPECT_EQ(x->get_output_term_by_type(DB_COMB_OUT), nullptr);
    CDB_ATOM_NODE* fresh = pin->get_source()->get_my_node();
    ASSERT_NE(fresh, x);
    EXPECT_EQ(pin->get_source()->get_instance_name()->get_short_hpath(), "x");
    EXPECT_TRUE(n.api()->is_atom_modified_for_icp(id_of(pin->get_my_node()))) << "the moved sink was announced";
    EXPECT_EQ(fresh->get_instance_name()->get_short_hpath().find("x_LEGAL"), 0u);
    EXPECT_EQ(fresh->get_input_term_by_type(DB_DATA_A)->get_source(), s2);
    EXPECT_EQ(fresh->get_lutmask().get_value(), ~wire(0));
    EXPECT_EQ(n.api()->get_stored_fl_id(fresh), n.api()->get_fl_id_from_atom_properties(fresh));
    MORV_LOC location;
    ASSERT_TRUE(n.api()->get_fsyn_chip_map()->get_node_location(id_of(fresh), &location));
    EXPECT_EQ(location.x, 1);
    EXPECT_EQ(location.y, 4);
    // ITERMS: B now reads the new cell by its record id, still inverted,
    // with the entry's settings; C is disconnected, D and E tied.
    CDB_ATOM_ITERM* b = x->get_input_term_by_type(DB_DATA_B);
    EXPECT_EQ(b->get_source()->get_my_node(), fresh);
    EXPECT_TRUE(b->is_inverted());
    EXPECT_EQ(b->get_global(), 3);
    EXPECT_FALSE(x->get_input_term_by_type(DB_DATA_C)->is_connected());
    EXPECT_TRUE(x->get_input_term_by_type(DB_DATA_D)->is_vcc());
    EXPECT_TRUE(x->get_input_term_by_type(DB_DATA_E)->is_gnd());
    // DO_NOTHING and LUTMASK: the FL id and the new mask.
    EXPECT_EQ(n.api()->get_stored_fl_id(x), n.api()->get_fl_id_from_atom_properties(x));
    EXPECT_EQ(x->get_lutmask().get_value(), wire(1));
    // ITERMS_AND_LUTMASK on another cell: terms first, then the mask.
    EXPECT_EQ(y->get_input_term_by_type(DB_DATA_B)->get_source(), s1);
    EXPECT_EQ(y->get_lutmask().get_value(), wire(1));
    EXPECT_EQ(n.api()->get_stored_fl_id(y), n.api()->get_fl_id_from_atom_properties(y)) << "a new mask, a fresh FL id";
}

TEST_F(MorvLegalizerTest, LoadTiedToGroundDropsItsDataInputUnlessTheOtherLoadStillUsesIt)
{
    LEGALIZER_NETLIST n;
    CDB_ATOM_OTERM* s0 = n.source();
    CDB_ATOM_OTERM* s1 = n.source();
    CDB_ATOM_OTERM* s2 = n.source();
    auto reg = [&](const std::string& name, const std::vector<std::pair<int, CDB_ATOM_OTERM*>>& inputs) {
        CDB_ATOM_NODE* node = n.atom(CDB_KIND_REGISTER, name);
        for (const auto& [port, source] : inputs) source->insert_fanout(node->add_input_term(port));
        return node;
    };
    // Asynchronous load to GND: the asynchronous data goes; a synchronous
    // clear is never tied, any other input is.
    CDB_ATOM_NODE* alone =
        reg("alone", {{DB_ASYNCH_LOAD, s0}, {DB_ASYNCH_DATA, s1}, {DB_SYNCH_CLEAR, s2}, {DB_CLOCK_ENABLE, s0}});
    // The synchronous load still loads: the asynchronous data stays.
    CDB_ATOM_NODE* other = reg("other", {{DB_ASYNCH_LOAD, s0}, {DB_SYNCH_LOAD, s1}, {DB_ASYNCH_DATA, s2}});
    // No asynchronous data: the synchronous data goes.
    CDB_ATOM_NODE* sync = reg("sync", {{DB_SYNCH_LOAD, s0}, {DB_SYNCH_DATA, s1}});
    CDB_ATOM_NODE* vcc = reg("vcc", {{DB_CLOCK_ENABLE, s0}});
    auto tie = [](CDB_ATOM_NODE* node, const std::vector<int>& ports, bool to_vcc) {
        CUT_ATOM_MODIFIED_NODE_S r = record(1, CUT_MODIFICATION_ITERMS, node);
        for (int port : ports) {
            r.modified_iterms.push_back(entry(port, true));
            (to_vcc ? r.modified_iterms.back().tie_to_vcc : r.modified_iterms.back().tie_to_gnd) = true;
        }
        return r;
    };
    CDB_ATOM_NODE* x = n.cell("x", wire(0), {s0});
    SCRIPTED_HOST script;
    script.illegal = {id_of(x)};
    script.records[id_of(x)] = [&](CDB_ATOM_NODE*) {
        return CUT_ATOM_MODIFIED_NODE_LIST{tie(alone, {DB_ASYNCH_LOAD, DB_SYNCH_CLEAR, DB_CLOCK_ENABLE}, false),
                                           tie(other, {DB_ASYNCH_LOAD}, false), tie(sync, {DB_SYNCH_LOAD}, false),
                                           tie(vcc, {DB_CLOCK_ENABLE}, true)};
    };
    script.install(n.host());
    MORV_LEGALIZER legalizer(n.api());
    EXPECT_EQ(legalizer.legalize_netlist(), 1);

    auto term = [](CDB_ATOM_NODE* node, int port) { return node->get_input_term_by_type(port); };
    EXPECT_FALSE(term(alone, DB_ASYNCH_LOAD)->is_connected()) << "a load is not tied";
    EXPECT_FALSE(term(alone, DB_ASYNCH_DATA)->is_connected());
    EXPECT_FALSE(term(alone, DB_SYNCH_CLEAR)->is_connected()) << "a synchronous clear is not tied";
    EXPECT_TRUE(term(alone, DB_CLOCK_ENABLE)->is_gnd());
    EXPECT_EQ(term(other, DB_ASYNCH_DATA)->get_source(), s2);
    EXPECT_FALSE(term(sync, DB_SYNCH_DATA)->is_connected());
    EXPECT_TRUE(term(vcc, DB_CLOCK_ENABLE)->is_vcc());
    // Every tied register's FL id follows its new properties.
    for (CDB_ATOM_NODE* node : {alone, other, sync, vcc})
        EXPECT_EQ(n.api()->get_stored_fl_id(node), n.api()->get_fl_id_from_atom_properties(node))
            << node->get_instance_name()->get_short_hpath();
}

TEST_F(MorvLegalizerTest, RewiredTermsAreAnnouncedAndTakeTheirEntrysBoundaryPort)
{
    LEGALIZER_NETLIST n(true);
    CDB_ATOM_OTERM* s0 = n.source();
    CDB_ATOM_OTERM* s1 = n.source();
    CDB_ATOM_OTERM* s2 = n.source();
    const int port_a = n.bpm()->create_port("p|a");
    const int port_b = n.bpm()->create_port("p|b");
    const int port_new = n.bpm()->create_port("p|new");
    CDB_ATOM_NODE* z = n.cell("z", and_of(0x3), {s0, s1});
    ASSERT_TRUE(n.bpm()->assign_port_id(z->get_input_term_by_type(DB_DATA_A), port_a));
    ASSERT_TRUE(n.bpm()->assign_port_id(z->get_input_term_by_type(DB_DATA_B), port_b));
    std::vector<CUT_ATOM_MODIFIED_ITERM_S> entries = {entry(DB_DATA_A, true, s2), entry(DB_DATA_B, false)};
    entries[0].boundary_port_id = port_new;
    SCRIPTED_HOST script;
    script.records[id_of(z)] = [&](CDB_ATOM_NODE* node) {
        CUT_ATOM_MODIFIED_NODE_S r = record(1, CUT_MODIFICATION_ITERMS, node);
        r.modified_iterms = entries;
        return CUT_ATOM_MODIFIED_NODE_LIST{r};
    };
    script.illegal = {id_of(z)};
    script.install(n.host());
    MORV_LEGALIZER legalizer(n.api());
    EXPECT_EQ(legalizer.legalize_netlist(), 1);
    CDB_ATOM_ITERM* a = z->get_input_term_by_type(DB_DATA_A);
    CDB_ATOM_ITERM* b = z->get_input_term_by_type(DB_DATA_B);
    EXPECT_EQ(a->get_source(), s2);
    EXPECT_EQ(n.bpm()->get_assigned_port_id(a), port_new);
    EXPECT_FALSE(b->is_connected());
    EXPECT_EQ(n.bpm()->get_assigned_port_id(b), -1) << "a disconnected term keeps no port";

    // A disconnection alone still reaches timing, and marks nothing for ICP.
    CDB_ATOM_NODE* w = n.cell("w", and_of(0x3), {s0, s1});
    script.records[id_of(w)] = [](CDB_ATOM_NODE* node) {
        CUT_ATOM_MODIFIED_NODE_S r = record(1, CUT_MODIFICATION_ITERMS, node);
        r.modified_iterms = {entry(DB_DATA_A, false)};
        return CUT_ATOM_MODIFIED_NODE_LIST{r};
    };
    script.illegal = {id_of(w)};
    n.api()->reset_taint();
    EXPECT_EQ(legalizer.legalize_netlist(), 1);
    EXPECT_FALSE(w->get_input_term_by_type(DB_DATA_A)->is_connected());
    EXPECT_NE(n.api()->get_taint(), 0u);
    EXPECT_FALSE(n.api()->is_atom_modified_for_icp(id_of(w)));
}

TEST_F(MorvLegalizerTest, LatchDescriptionFollowsTheMaskWordsAndTheDataInputs)
{
    LEGALIZER_NETLIST n;
    CDB_ATOM_OTERM* s0 = n.source();
    CDB_ATOM_NODE* latch = n.cell("latch", 0x0000CCF00000F0CCull, {nullptr, nullptr, s0, s0, s0, s0});
    auto* info = new CDB_ATOM_LATCH_INFO();
    info->is_latch = true;
    info->enable_mode = CDB_LATCH_ENABLE_MODE_NON_INVERTED;
    cut_set_atom_latch_info(latch, info);
    uint64_t next_mask = 0x0000CCF00000F0CCull;
    SCRIPTED_HOST script;
    script.records[id_of(latch)] = [&](CDB_ATOM_NODE* node) {
        CUT_ATOM_MODIFIED_NODE_S mask = record(1, CUT_MODIFICATION_LUTMASK, node);
        mask.lutmask = next_mask;
        return CUT_ATOM_MODIFIED_NODE_LIST{mask};
    };
    script.install(n.host());
    MORV_LEGALIZER legalizer(n.api());

    script.illegal = {id_of(latch)};
    EXPECT_EQ(legalizer.legalize_netlist(), 1);
    EXPECT_EQ(info->kind, 2);
    EXPECT_EQ(info->data_port, DB_DATA_F);
    EXPECT_EQ(info->data_port_2, DB_DATA_E);
    EXPECT_EQ(info->enable_port, DB_DATA_D);
    EXPECT_EQ(info->feedback_port, DB_DATA_C);
    EXPECT_EQ(info->output_port, DB_COMB_OUT);

    // Without data inputs E and F, and only constant words.
    latch->get_input_term_by_type(DB_DATA_E)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    latch->get_input_term_by_type(DB_DATA_F)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    next_mask = 0xFFFF0000FFFF0000ull;
    script.illegal = {id_of(latch)};
    EXPECT_EQ(legalizer.legalize_netlist(), 1);
    EXPECT_EQ(info->kind, 0);
    EXPECT_EQ(info->data_port, DB_MAX_INPUT_PORT_TYPE);
    EXPECT_EQ(info->data_port_2, DB_MAX_INPUT_PORT_TYPE);

    // A word that is no latch word, and a second data input without the first.
    next_mask = 0x000000000000F0CDull;
    script.illegal = {id_of(latch)};
    EXPECT_EQ(internal_error_of([&] { legalizer.legalize_netlist(); }), "word == 0xF0CC");
    next_mask = 0x000000000000F0CCull;
    s0->insert_fanout(latch->get_input_term_by_type(DB_DATA_E));
    script.illegal = {id_of(latch)};
    EXPECT_EQ(internal_error_of([&] { legalizer.legalize_netlist(); }), "data_f && data_f->is_connected()");
}

TEST_F(MorvLegalizerTest, RemovalQueuesChainDriversAndSkipsThoseGoneBeforeTheirTurn)
{
    for (bool remove_driver_too : {false, true}) {
        LEGALIZER_NETLIST n;
        CDB_ATOM_OTERM* s0 = n.source();
        CDB_ATOM_NODE* a = n.cell("a", wire(0), {s0});
        CDB_ATOM_NODE* b = n.cell("b", wire(0), {s0});
        CDB_ATOM_NODE* c = n.cell("c", wire(0), {s0});
        a->add_output_term(DB_CARRY_OUT)->insert_fanout(b->add_input_term(DB_CARRY_IN));
        b->add_output_term(DB_CARRY_OUT)->insert_fanout(c->add_input_term(DB_CARRY_IN));
        const int a_id = id_of(a), b_id = id_of(b), c_id = id_of(c);
        SCRIPTED_HOST script;
        script.illegal = {c_id};
        script.records[c_id] = [&](CDB_ATOM_NODE* node) {
            CUT_ATOM_MODIFIED_NODE_LIST list{record(1, CUT_MODIFICATION_REMOVE_NODE, node)};
            if (remove_driver_too) list.push_back(record(2, CUT_MODIFICATION_REMOVE_NODE, b));
            return list;
        };
        script.install(n.host());
        MORV_LEGALIZER legalizer(n.api());
        EXPECT_EQ(legalizer.legalize_netlist(), 1);
        EXPECT_EQ(n.api()->get_node(c_id), nullptr);
        // b is queued by c's removal; when b goes too, its own driver a is
        // queued instead and b is skipped.
        const std::vector<int> expected =
            remove_driver_too ? std::vector<int>{c_id, a_id} : std::vector<int>{c_id, b_id};
        EXPECT_EQ(script.calls, expected) << remove_driver_too;
    }
}

TEST_F(MorvLegalizerTest, CellDeletedByAnEarlierCellsRecordsIsSkipped)
{
    LEGALIZER_NETLIST n;
    CDB_ATOM_OTERM* s0 = n.source();
    CDB_ATOM_NODE* first = n.cell("first", wire(0), {s0});
    CDB_ATOM_NODE* second = n.cell("second", wire(0), {s0});
    const int first_id = id_of(first), second_id = id_of(second);
    SCRIPTED_HOST script;
    script.illegal = {first_id, second_id};
    script.records[first_id] = [&](CDB_ATOM_NODE*) {
        return CUT_ATOM_MODIFIED_NODE_LIST{record(1, CUT_MODIFICATION_REMOVE_NODE, second)};
    };
    script.install(n.host());
    MORV_LEGALIZER legalizer(n.api());
    EXPECT_EQ(legalizer.legalize_netlist(), 1);
    EXPECT_EQ(script.calls, std::vector<int>{first_id});
    EXPECT_EQ(n.api()->get_node(second_id), nullptr);
}

TEST_F(MorvLegalizerTest, HostFaultsAreInternalErrors)
{
    LEGALIZER_NETLIST n;
    CDB_ATOM_NODE* cell = n.cell("cell", wire(0), {n.source()});
    MORV_LEGALIZER legalizer(n.api());
    CUT_MORLIN_SCRIPT script;
    script.is_node_legal = [](const CDB_ATOM_NODE* node) { return !node->is_lcell_comb(); };
    // A cell the decomposition leaves illegal may not be decomposed again.
    script.legalize_node = [](CDB_ATOM_NODE* node) {
        return std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>(1, record(1, CUT_MODIFICATION_DO_NOTHING, node));
    };
    script.decompose_node = [](CDB_ATOM_NODE* node) {
        return std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>(1, record(1, CUT_MODIFICATION_LUTMASK, node));
    };
    n.host()->set_script(script);
    EXPECT_EQ(internal_error_of([&] { legalizer.legalize_netlist(); }), "Couldn't legalize node");
    script.legalize_node = [](CDB_ATOM_NODE* node) {
        return std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>(1, record(1, 7, node));
    };
    n.host()->set_script(script);
    EXPECT_EQ(internal_error_of([&] { legalizer.legalize_netlist(); }), "Unknown transformation");
    script.legalize_node = [](CDB_ATOM_NODE*) { return CUT_ATOM_MODIFIED_NODE_LIST_PTR(); };
    n.host()->set_script(script);
    EXPECT_EQ(internal_error_of([&] { legalizer.legalize_netlist(); }), "modified_node_list");
    EXPECT_NE(n.api()->get_node(id_of(cell)), nullptr);
}

TEST_F(MorvLegalizerTest, SpecialCellsAreCheckedAfterTheirRecordsAndSeeNoEarlierNewCells)
{
    LEGALIZER_NETLIST n;
    CDB_ATOM_OTERM* s0 = n.source();
    CDB_ATOM_NODE* plain = n.cell("plain", wire(0), {s0});
    CDB_ATOM_NODE* chain = n.cell("chain", wire(0), {s0});
    n.source()->insert_fanout(chain->add_input_term(DB_CARRY_IN));
    const int plain_id = id_of(plain), chain_id = id_of(chain);
    SCRIPTED_HOST script;
    // The plain cell makes a cell for record 10; the chain cell's records
    // may not reach it through that id.
    script.records[plain_id] = [](CDB_ATOM_NODE*) {
        return CUT_ATOM_MODIFIED_NODE_LIST{record(10, CUT_MODIFICATION_NEW_NODE, nullptr)};
    };
    script.records[chain_id] = [](CDB_ATOM_NODE* node) {
        CUT_ATOM_MODIFIED_NODE_S rewire = record(1, CUT_MODIFICATION_ITERMS, node);
        rewire.modified_iterms = {entry(DB_DATA_B, true, nullptr, 10)};
        return CUT_ATOM_MODIFIED_NODE_LIST{rewire};
    };
    script.illegal = {plain_id, chain_id};
    script.install(n.host());
    MORV_LEGALIZER legalizer(n.api());
    EXPECT_EQ(internal_error_of([&] { legalizer.legalize_netlist(); }),
              "m_new_nodes.find(modified_iterm->source_id) != m_new_nodes.end()");

    // A chain cell its own records leave illegal is a fault of the host.
    LEGALIZER_NETLIST m;
    CDB_ATOM_NODE* stuck = m.cell("stuck", wire(0), {m.source()});
    m.source()->insert_fanout(stuck->add_input_term(DB_CARRY_IN));
    CUT_MORLIN_SCRIPT stays_illegal;
    stays_illegal.is_node_legal = [](const CDB_ATOM_NODE* node) { return !node->is_lcell_comb(); };
    stays_illegal.legalize_node = [](CDB_ATOM_NODE* node) {
        return std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>(1, record(1, CUT_MODIFICATION_LUTMASK, node));
    };
    m.host()->set_script(stays_illegal);
    MORV_LEGALIZER stuck_legalizer(m.api());
    EXPECT_EQ(internal_error_of([&] { stuck_legalizer.legalize_netlist(); }),
              "m_atom_legalizer->is_node_legal(fixed_node)");
}

// An MRL arithmetic cell adding A, B (or what its term is tied to) and its
// carry-in; its sum drives an output pin.
constexpr uint64_t ADD_A_AND_B = 0x000033330000aaaaull;

CDB_ATOM_NODE* adder_bit(LEGALIZER_NETLIST& n, const std::string& name, CDB_ATOM_OTERM* a, CDB_ATOM_OTERM* b,
                         CDB_ATOM_OTERM* carry_in, uint64_t mask = ADD_A_AND_B)
{
    CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, name);
    a->insert_fanout(cell->add_input_term(DB_DATA_A));
    CDB_ATOM_ITERM* b_term = cell->add_input_term(DB_DATA_B);
    if (b != nullptr) b->insert_fanout(b_term);
    else b_term->set_vcc();
    if (carry_in != nullptr) carry_in->insert_fanout(cell->add_input_term(DB_CARRY_IN));
    cell->set_lutmask(CDB_LUTMASK(6, mask));
    HDB_NAME_MGR* names = n.netlist()->get_name_mgr();
    cell->add_output_term(DB_SUM_OUT, names->find_or_create_path(name + "_sum", 0))
        ->insert_fanout(n.atom(CDB_KIND_IO, name + "_pin")->add_input_term(DB_DATAIN));
    cell->add_output_term(DB_CARRY_OUT, names->find_or_create_path(name + "_carry", 0));
    return cell;
}

CDB_ATOM_ITERM* pin_of(LEGALIZER_NETLIST& n, const std::string& cell)
{
    for (CDB_ATOM_NODE* node : *n.netlist())
        if (node->get_instance_name()->get_short_hpath() == cell + "_pin")
            return node->get_input_term_by_type(DB_DATAIN);
    return nullptr;
}

TEST_F(MorvLegalizerTest, HighSpeedAdderTakesOverTwoChainCellsAndAddsWhatTheyAdded)
{
    LEGALIZER_NETLIST n(true);
    std::vector<CDB_ATOM_OTERM*> s;
    for (int i = 0; i < 6; ++i) s.push_back(n.source());
    // Three bits: the last one alone, with B tied high and its carry unused.
    CDB_ATOM_NODE* bit0 = adder_bit(n, "bit0", s[0], s[1], s[2]);
    CDB_ATOM_NODE* bit1 = adder_bit(n, "bit1", s[3], s[4], bit0->get_output_term_by_type(DB_CARRY_OUT));
    CDB_ATOM_NODE* bit2 = adder_bit(n, "bit2", s[5], nullptr, bit1->get_output_term_by_type(DB_CARRY_OUT));
    const char* bits[] = {"bit0", "bit1", "bit2"};
    uint64_t before[3];
    for (int i = 0; i < 3; ++i) before[i] = n.function_of(pin_of(n, bits[i])->get_source());
    CDB_ATOM_ITERM* sum_sink = pin_of(n, "bit0");
    const int port = n.bpm()->create_port("p|sum");
    ASSERT_TRUE(n.bpm()->bind_port_id(sum_sink->get_source(), port));
    const int bit0_id = id_of(bit0), bit1_id = id_of(bit1), bit2_id = id_of(bit2);

    MORV_LEGALIZER legalizer(n.api());
    EXPECT_TRUE(legalizer.turn_into_high_speed_adder(bit0));
    EXPECT_EQ(n.api()->get_node(bit0_id), nullptr);
    EXPECT_EQ(n.api()->get_node(bit1_id), nullptr) << "the cell the carry fed is the adder's second bit";
    CDB_ATOM_NODE* adder = sum_sink->get_source()->get_my_node();
    EXPECT_TRUE(adder->is_lcell_hsadder());
    EXPECT_EQ(adder->get_instance_name()->get_short_hpath().find("bit0_LEGAL"), 0u);
    EXPECT_EQ(sum_sink->get_source()->get_instance_name()->get_short_hpath(), "bit0_sum");
    EXPECT_TRUE(sum_sink->get_source()->is_used_as(DB_HSADDER_SUM_0));
    EXPECT_TRUE(pin_of(n, "bit1")->get_source()->is_used_as(DB_HSADDER_SUM_1));
    EXPECT_TRUE(bit2->get_input_term_by_type(DB_CARRY_IN)->get_source()->is_used_as(DB_CHAIN_OUT_0));
    EXPECT_EQ(n.bpm()->get_bound_port_id(sum_sink->get_source()), port) << "the port moved with the output";

    // The last bit alone: the adder's high bit adds nothing.
    EXPECT_TRUE(legalizer.turn_into_high_speed_adder(bit2));
    EXPECT_EQ(n.api()->get_node(bit2_id), nullptr);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(pin_of(n, bits[i])->get_source()->get_my_node()->is_lcell_hsadder()) << bits[i];
        EXPECT_EQ(n.function_of(pin_of(n, bits[i])->get_source()), before[i]) << bits[i];
    }

    CDB_ATOM_NODE* plain = n.cell("plain", wire(0), {s[0]});
    EXPECT_EQ(internal_error_of([&] { legalizer.turn_into_high_speed_adder(plain); }),
              "m_net_util->is_lcell_part_of_a_carry_chain(node)");
}

TEST_F(MorvLegalizerTest, ACellThatDoesNotJustAddStaysInItsChain)
{
    // The low half computes A and C, which no adder input takes; an
    // inverted operand, which the adder's terms cannot carry.
    for (const bool inverted : {false, true}) {
        LEGALIZER_NETLIST n;
        CDB_ATOM_OTERM* s0 = n.source();
        CDB_ATOM_OTERM* s1 = n.source();
        CDB_ATOM_OTERM* s2 = n.source();
        const uint64_t mask = inverted ? ADD_A_AND_B : 0x000033330000a0a0ull;
        CDB_ATOM_NODE* bit0 = adder_bit(n, "bit0", s0, s1, nullptr, mask);
        s2->insert_fanout(bit0->add_input_term(DB_DATA_C));
        if (inverted) bit0->get_input_term_by_type(DB_DATA_A)->set_invert(true);
        CDB_ATOM_NODE* bit1 = adder_bit(n, "bit1", s2, s0, bit0->get_output_term_by_type(DB_CARRY_OUT));
        const uint64_t before = n.function_of(pin_of(n, "bit1")->get_source());
        MORV_LEGALIZER legalizer(n.api());
        EXPECT_FALSE(legalizer.turn_into_high_speed_adder(bit0)) << inverted;
        EXPECT_EQ(n.api()->get_node(id_of(bit0)), bit0);
        EXPECT_EQ(n.api()->get_node(id_of(bit1)), bit1);
        EXPECT_EQ(n.function_of(pin_of(n, "bit1")->get_source()), before);
    }
}

// The pass loop finds nothing to clean; the legaliser after it fixes a
// register's FL id and a cell the host rejects, and the sweep counts both.
TEST_F(MorvLegalizerTest, MrlSweepCountsWhatItsLegaliserFixedAndRepeatsNothing)
{
    cfg_set_value("fsyn_enable_netlist_dump", "on");
    LEGALIZER_NETLIST n;
    std::vector<CDB_ATOM_OTERM*> s;
    for (int i = 0; i < 6; ++i) s.push_back(n.source());
    CDB_ATOM_NODE* six = n.cell("six", and_of(0x3F), s);
    CDB_ATOM_NODE* reg = n.atom(CDB_KIND_REGISTER, "reg");
    s[0]->insert_fanout(reg->add_input_term(DB_DATAIN));
    reg->add_output_term(DB_REG_OUT)->insert_fanout(n.atom(CDB_KIND_IO, "q")->add_input_term(DB_DATAIN));
    const uint64_t before = n.function_of(six->get_output_term_by_type(DB_COMB_OUT));
    MORV_OWNER<MORV_NETLIST_SWEEPER> sweeper = morv_make_netlist_sweeper(n.api());
    EXPECT_EQ(sweeper->sweep(), 2);
    EXPECT_TRUE(n.all_cells_legal());
    EXPECT_EQ(n.api()->get_stored_fl_id(reg), n.api()->get_fl_id_from_atom_properties(reg));
    EXPECT_EQ(n.function_of(six->get_output_term_by_type(DB_COMB_OUT)), before);
    for (const char* dump : {"top.pre_fsyn_netlist_legalizer", "top.post_fsyn_netlist_legalizer",
                             "top.pre_fsyn_netlist_sweeper", "top.post_fsyn_netlist_sweeper"})
        EXPECT_TRUE(std::filesystem::remove(dump)) << dump;
    cfg_set_value("fsyn_enable_netlist_dump", "off");
    // The split's constant half lives in the multiplexer's mask: the next
    // sweep has nothing to fold.
    EXPECT_EQ(sweeper->sweep(), 0) << "a clean, legal netlist";
    EXPECT_EQ(n.function_of(six->get_output_term_by_type(DB_COMB_OUT)), before);
    EXPECT_EQ(count_posted("WMORV_FSYN_NOT_AVAILABLE_YET"), 0) << "the collapser runs: nothing is skipped";
}

TEST_F(MorvLegalizerTest, LegalisationAfterASweepIsDumpedBeforeAndAfter)
{
    cfg_set_value("fsyn_enable_netlist_dump", "on");
    LEGALIZER_NETLIST n;
    n.atom(CDB_KIND_REGISTER, "reg");
    EXPECT_EQ(MORV_LEGALIZER::legalize_after_sweep(n.api()), 1);
    EXPECT_TRUE(std::filesystem::remove("top.pre_fsyn_netlist_legalizer"));
    EXPECT_TRUE(std::filesystem::remove("top.post_fsyn_netlist_legalizer"));
    // A family without the legaliser refuses it.
    MORV_TEST_HOST brk_host(CDB_FAMILY_BRK);
    MORV_TEST_ENV brk_env(&brk_host.cmp);
    MORV_API* brk_api = dynamic_cast<MORV_EXPERT*>(brk_env.get_fsyn_expert())->get_fsyn_api();
    EXPECT_EQ(internal_error_of([&] { MORV_LEGALIZER legalizer(brk_api); }),
              "get_base_family_code() == DEV_FAMILY_MORLIN");
}

}  // namespace morv_legalizer_test
