#pragma once
// A host environment for the component's own tests: a real stand-in netlist
// behind the facade chain, a snapshot manager, and recorders for the host
// operations the entry code calls.

#include <cstdio>
#include <exception>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "atom_assignments.h"
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_db_entries.h"
#include "csu/csu_timing_data_adapter.h"
#include "cmp/cmp_facade.h"
#include "dev/dev_device.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_instance_name.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_save_restore.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_data.h"

// Makes a device of the family with one migratable part the current device:
// a BRK compile with an MRL part (or the reverse) writes a change log.
inline void morv_install_migration_device(int family, int migratable_part)
{
    const char* path = "migration_device.txt";
    std::ofstream(path) << "family " << family << "\nmigratable_part " << migratable_part << "\n";
    DMGR_UTILITY::set_current_device(DEV_DEVICE::load_from_file(path));
    std::remove(path);
}

class MORV_TEST_SNAPSHOT_MGR : public MORV_SAVE_RESTORE_MGR
{
public:
    MORV_SAVE_RESTORE_SNAPSHOT* create_snapshot() override
    {
        auto* snapshot = new MORV_SAVE_RESTORE_SNAPSHOT(static_cast<int>(m_snapshots_stack.size()));
        m_snapshots_stack.push_back(snapshot);
        return snapshot;
    }
};

// Everything the environment's constructor walks through, owned in one place.
struct MORV_TEST_HOST
{
    explicit MORV_TEST_HOST(int base_family) : netlist(std::make_unique<CDB_ATOM_NETLIST>(base_family))
    {
        cmp.set_base_family_code(base_family);
        cmp.set_family_code(base_family);
        cmp.set_project_name("top");
        cmp.set_compile_base_name("top");
        cmp.set_cmp_entry(&cmp_entry);
        cmp.set_action_point_instance(&ap);
        ap.set_name_mgr(&names);
        cmp_entry.set_db_entries(&db_entries);
        db_entries.set_chip_db_entry(0, &chip_entry);
        db_entries.set_hierarchy_db_entry(0, &hierarchy_entry);
        chip_entry.set_atom_netlist(netlist.get());
        netlist->set_name_mgr(&names);
        // Unsupported families have no device model; their driver needs none.
        try {
            DMGR_UTILITY::set_current_family(base_family);
        } catch (const std::exception&) {}
    }

    // A chain of n LUTs, each feeding the next; returns the atom ids.
    std::vector<int> build_chain(int n, const char* prefix = "lut")
    {
        std::vector<int> ids;
        CDB_ATOM_OTERM* previous = nullptr;
        for (int i = 0; i < n; ++i) {
            std::string name = std::string(prefix) + std::to_string(i);
            HDB_INSTANCE_NAME* iname = names.find_or_create_path(name, 0);
            CDB_ATOM_NODE* node = cdb_create_atom(cmp.get_base_family_code(), CDB_KIND_LCELL_COMB, iname);
            node->set_chip_db_entry(&chip_entry);
            netlist->add_node(node);
            // The output carries the atom's name, as read from a netlist file.
            CDB_ATOM_OTERM* out = node->add_output_term(DB_COMB_OUT, iname);
            if (previous != nullptr) node->add_input_term(DB_DATA_A)->insert_fanin(previous);
            previous = out;
            ids.push_back(static_cast<int>(node->get_id()));
        }
        return ids;
    }

    HDB_NAME_MGR names{"top"};
    HDB_ACTION_PT_INSTANCE ap;
    CDB_CHIP_DB_ENTRY chip_entry;
    CDB_HIERARCHY_DB_ENTRY hierarchy_entry;
    CDB_DB_ENTRIES db_entries;
    CDB_CMP_ENTRY cmp_entry;
    CMP_FACADE cmp;
    std::unique_ptr<CDB_ATOM_NETLIST> netlist;
};

class MORV_TEST_ENV : public MORV_ENV
{
public:
    MORV_TEST_ENV(CMP_FACADE* cmp, int partition_id = 0) : MORV_ENV(cmp, partition_id)
    {
        set_save_restore_mgr(&m_snapshots);
        // As the host does: no earlier compile's timing netlist survives into
        // this one, and the table timing model reads the component's tables.
        tdc_reset_accessories();
        static const CSU_TIMING_DATA_ADAPTER<MORV_TIMING_DATA> s_component_tables;
        csu_set_timing_data_source(&s_component_tables);
    }
    ~MORV_TEST_ENV() override
    {
        // Saved states hold facade objects; they go before the flow driver does.
        if (peek_fsyn_expert() != nullptr && dynamic_cast<MORV_EXPERT*>(peek_fsyn_expert()) != nullptr)
            clear_all_states();
        free_fsyn_expert();
        tdc_reset_accessories();
    }

    void build_timing_netlist(MORV_TIMING* timing, bool a, bool b, bool c, bool d, bool e, bool f) override
    {
        ++m_build_timing_calls;
        std::string flags;
        for (bool flag : {a, b, c, d, e, f}) flags += flag ? '1' : '0';
        m_timing_build_flags.push_back(flags);
        TDC_ACCESSORIES* accessories = tdc_get_accessories();
        accessories->set_atom_netlist(get_atom_netlist());
        accessories->build_timing_netlist();
        timing->set_tdc_utility(accessories->get_tdc_utility());
    }
    void reset_timing_netlist() override {}
    std::string get_atom_name(int atom_id) override { return "atom" + std::to_string(atom_id); }
    CDB_ATOM_NODE* get_node(int atom_id) override
    {
        return atom_id < 0 ? nullptr : get_atom_netlist()->get_node_by_id(static_cast<uint32_t>(atom_id));
    }
    int get_max_atom_id() override { return static_cast<int>(get_atom_netlist()->get_max_id()); }
    // As the host does: a created atom joins the netlist, a deleted one is freed.
    void node_added(CDB_ATOM_NODE* node, int) override
    {
        if (node->get_netlist() == nullptr) get_atom_netlist()->add_node(node);
        event("node_added", node);
    }
    void delete_node(CDB_ATOM_NODE* node) override
    {
        event("delete_node", node);
        if (m_on_delete) m_on_delete(node);
        get_atom_netlist()->delete_node(node);
    }
    CDB_ATOM_NODE* duplicate_node(CDB_ATOM_NODE* node, int port, int, int, int) override
    {
        return m_duplicate ? m_duplicate(node, port) : nullptr;
    }
    void copy_node_assignments(CDB_ATOM_NODE* from, CDB_ATOM_NODE* to, int, int) override
    {
        to->set_assignments(from->get_assignments());
        event("copy_node_assignments", to);
    }
    void clear_node_assignments(CDB_ATOM_NODE* node) override { node->set_assignments(CDB_ATOM_ASSIGNMENTS()); }
    int get_grid_nx() override { return m_grid_nx; }
    int get_grid_ny() override { return m_grid_ny; }
    int get_resource_count(int) override { return -1; }
    // Every location a plain LAB unless a test says otherwise.
    int get_block_type(int x, int y, int) override { return m_block_type ? m_block_type(x, y) : 7; }
    void set_progress(int) override {}
    bool is_tdc_on() override { return true; }
    bool is_fast_fit_on() override { return false; }
    void netlist_assimilated() override { ++m_assimilated_calls; }
    void set_taint_change_set(const std::vector<unsigned>& ids) override { m_last_change_set = ids; }
    bool can_share_ram_block(int, int) override { return false; }
    void set_full_taint() override
    {
        ++m_full_taint_calls;
        m_events.push_back("set_full_taint");
    }
    int get_rams_per_block(int, int) override { return 0; }
    void discard_timing_netlist() override {}
    bool is_reusing_post_fit_netlist() override { return false; }
    void set_tdc_utility(TDC_UTILITY*) override {}
    // Atoms assigned don't-touch are refused (reason 2), as by the host.
    bool is_atom_dont_touch(int atom_id, AMM_OP op) override { return !can_modify_atom(atom_id, op, nullptr, 0, 0, 0); }
    bool can_modify_oterm(CDB_ATOM_OTERM* oterm, AMM_OP op, int, int, int, int) override
    {
        return can_modify_atom(static_cast<int>(oterm->get_my_node()->get_id()), op, nullptr, 0, 0, 0);
    }
    bool can_modify_atom(int atom_id, AMM_OP, int* reason, int, int, int) override
    {
        CDB_ATOM_NODE* node = get_node(atom_id);
        const int why = node == nullptr ? 1 : node->get_assignments().dont_touch ? 2 : 0;
        if (reason) *reason = why;
        return why == 0;
    }
    void end_early_netlist_save() override {}
    void save_early_netlist() override {}
    bool is_late_tune_allowed() override { return false; }
    void begin_early_netlist_save() override {}
    bool is_atom_back_annotated(CDB_ATOM_NODE*) override { return false; }
    int get_node_kardel_region(CDB_ATOM_NODE* node) override { return node->get_assignments().kardel_region; }
    // As the host does: a node is locked when its assignments name a rectangle.
    bool get_node_locked_region(CDB_ATOM_NODE* node, int* x1, int* y1, int* x2, int* y2) override
    {
        const CDB_ATOM_ASSIGNMENTS& a = node->get_assignments();
        const bool locked = a.locked_x1 >= 0;
        *x1 = locked ? a.locked_x1 : -1;
        *y1 = locked ? a.locked_y1 : -1;
        *x2 = locked ? a.locked_x2 : -1;
        *y2 = locked ? a.locked_y2 : -1;
        return locked;
    }
    void set_node_locked_region(CDB_ATOM_NODE* node, int x1, int y1, int x2, int y2) override
    {
        assign_locked_region(node, x1, y1, x2, y2);
    }
    // Refused when the source or a node of the list is vetoed.
    bool can_collapse_node(CDB_ATOM_NODE* node, const std::vector<CDB_ATOM_NODE*>& nodes) override
    {
        ++m_can_collapse_calls;
        if (m_collapse_vetoes.count(node->get_id())) return false;
        for (CDB_ATOM_NODE* n : nodes)
            if (m_collapse_vetoes.count(n->get_id())) return false;
        return true;
    }
    void veto_collapse(uint32_t atom_id) { m_collapse_vetoes.insert(atom_id); }
    int get_can_collapse_calls() const { return m_can_collapse_calls; }
    int get_floating_region_lab_count(int region_id) override
    {
        auto found = m_floating_labs.find(region_id);
        return found == m_floating_labs.end() ? 0 : found->second;
    }
    // As the host does: the atom's assignments say whether it must stay.
    bool must_keep_node(CDB_ATOM_NODE* node) override { return node != nullptr && node->get_assignments().must_keep; }
    CDB_ATOM_NODE* get_gnd_lcell(int) override { return m_gnd_lcell; }
    CDB_ATOM_NODE* get_partition_gnd_lcell(int) override { return m_gnd_lcell; }
    void prepare_gnd_lcell(int) override {}
    MORV_ICP_RESULT run_icp(bool, bool, double, bool, bool, bool, bool) override { return MORV_ICP_RESULT{}; }
    double get_routing_delay(int x1, int y1, int x2, int y2, int drive) override
    {
        return m_routing_delay ? m_routing_delay(x1, y1, x2, y2, drive) : 0.0;
    }
    void get_progress_range(int* start, int* end) override { *start = 0, *end = 100; }
    int get_oterm_fl_id(CDB_ATOM_OTERM* oterm) override { return m_oterm_fl_id ? m_oterm_fl_id(oterm) : -1; }
    void initialize_chle_lib() override {}
    void refresh_after_netlist_change() override {}
    int get_figure_of_merit(bool) override { return 0; }
    void registers_retimed() override {}
    // As the host does: a restored netlist is made of new objects, so no
    // part of the timing netlist is kept.
    void restore_state(int state_id) override
    {
        ++m_restore_calls;
        tdc_get_accessories()->discard_timing_netlist();
        MORV_ENV::restore_state(state_id, 0);
    }
    void record_node_modification(CDB_ATOM_NODE* node, CDB_ATOM_NODE* other, int kind, int code) override
    {
        m_events.push_back("record " + std::to_string(node->get_id()) + " " +
                           (other ? std::to_string(other->get_id()) : std::string("none")) + " " +
                           std::to_string(kind) + " " + std::to_string(code));
    }
    void clear_rdb_table() override {}
    void end_of_fsyn_flow() override {}
    int get_part() override { return get_base_family_code() * 100; }
    bool should_discard_fsyn_result() override { return false; }
    void record_created_from(CDB_ATOM_OTERM* to, CDB_ATOM_OTERM*) override
    {
        event("record_created_from", to->get_my_node());
    }
    void pre_restore_state() override { ++m_pre_restore_calls; }

    // "<what> <atom id>" for the host calls a test follows, in order.
    void event(const char* what, const CDB_ATOM_NODE* node)
    {
        m_events.push_back(std::string(what) + " " + std::to_string(node->get_id()));
    }

    MORV_TEST_SNAPSHOT_MGR m_snapshots;
    std::vector<std::string> m_events;
    // Called by delete_node just before the atom is freed.
    std::function<void(CDB_ATOM_NODE*)> m_on_delete;
    // Answers duplicate_node (null when unset).
    std::function<CDB_ATOM_NODE*(CDB_ATOM_NODE*, int)> m_duplicate;
    // Answers both ground-cell queries (none when null).
    CDB_ATOM_NODE* m_gnd_lcell = nullptr;
    // Answers get_block_type (7 everywhere when unset).
    std::function<int(int, int)> m_block_type;
    // Answers get_routing_delay in seconds (0 when unset).
    std::function<double(int, int, int, int, int)> m_routing_delay;
    std::function<int(CDB_ATOM_OTERM*)> m_oterm_fl_id;
    // LABs of each floating region.
    std::map<int, int> m_floating_labs;
    int m_grid_nx = 8;
    int m_grid_ny = 6;
    int m_build_timing_calls = 0;
    // The six flags of each build_timing_netlist call, as "011011".
    std::vector<std::string> m_timing_build_flags;
    int m_assimilated_calls = 0;
    int m_full_taint_calls = 0;
    int m_restore_calls = 0;
    int m_pre_restore_calls = 0;
    std::vector<unsigned> m_last_change_set;
    std::set<uint32_t> m_collapse_vetoes;
    int m_can_collapse_calls = 0;
};
