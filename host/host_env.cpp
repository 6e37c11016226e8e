#include "host_env.h"

#include "host_clock_crossings.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <unordered_set>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_cell_util.h"
#include "dev/dev_device.h"
#include "gen/gen.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hut/hut_util.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"
#include "thr/thr.h"
#include "morv/core/morv_expert_interface.h"
#include "morv/timing/morv_timing.h"
#include "host_grid.h"
#include "host_legalize.h"
#include "host_make_room.h"
#include "host_timing_data.h"

namespace morv_host {

// ------------------------------------------------------------------ design

HOST_DESIGN::HOST_DESIGN(int family, std::unique_ptr<CDB_ATOM_NETLIST> netlist, std::unique_ptr<HDB_NAME_MGR> names,
                         DEV_DEVICE* device)
    : m_family(family), m_names(std::move(names)), m_netlist(std::move(netlist)), m_device(device)
{
    if (!m_netlist) m_netlist = std::make_unique<CDB_ATOM_NETLIST>(family);
    if (!m_device) m_device = std::make_unique<DEV_DEVICE>(family);
    make_device_current();
    m_cmp.set_base_family_code(dev_base_family_of(family));
    m_cmp.set_family_code(family);
    m_cmp.set_project_name(HOST_COMPILE_NAME);
    m_cmp.set_compile_base_name(HOST_COMPILE_NAME);
    m_cmp.set_action_point_instance(&m_action_point);
    m_cmp.set_cmp_entry(&m_cmp_entry);
    m_cmp.get_report()->open_folder(HOST_RESULTS_FOLDER);
    m_cmp_entry.set_db_entries(&m_db_entries);
    m_db_entries.set_chip_db_entry(0, &m_chip_entry);
    m_chip_entry.set_atom_netlist(m_netlist.get());
    if (m_names) m_action_point.set_name_mgr(m_names.get());
    else m_action_point.set_name_mgr(m_netlist->get_or_create_name_mgr());
    // The design's atoms lie in the levels of its names.
    m_db_entries.set_hierarchy_db_entry(0, &m_hierarchy_entry);
    m_hierarchy_entry.get_atom_hierarchy_list() = m_action_point.get_name_mgr()->get_hierarchies();
    // Every atom of the chip belongs to the chip's database entry.
    for (CDB_ATOM_NODE* n : *m_netlist) n->set_chip_db_entry(&m_chip_entry);
}

HOST_DESIGN::~HOST_DESIGN()
{
    if (m_bpm && bpm_drl_get_active_boundary_port_manager() == m_bpm.get())
        bpm_drl_set_active_boundary_port_manager(nullptr);
    // The netlist's names may live in m_names: drop the netlist first.
    m_chip_entry.set_atom_netlist(nullptr);
    m_netlist.reset();
    m_names.reset();
    DMGR_UTILITY::withdraw_current_device(m_device.get());
}

BPM_BOUNDARY_PORT_MANAGER* HOST_DESIGN::install_boundary_port_manager()
{
    if (!m_bpm) m_bpm = std::make_unique<BPM_BOUNDARY_PORT_MANAGER>(&m_action_point);
    bpm_drl_set_active_boundary_port_manager(m_bpm.get());
    return m_bpm.get();
}

void HOST_DESIGN::make_device_current()
{
    DMGR_UTILITY::lend_current_device(m_device.get());
}

// ------------------------------------------------------------------ snapshots

MORV_SAVE_RESTORE_SNAPSHOT* HOST_SNAPSHOT_MGR::create_snapshot()
{
    auto* snapshot = new MORV_SAVE_RESTORE_SNAPSHOT(static_cast<int>(m_snapshots_stack.size()));
    m_snapshots_stack.push_back(snapshot);
    return snapshot;
}

// ------------------------------------------------------------------ environment

HOST_ENV::HOST_ENV(HOST_DESIGN& design, int partition_id) : MORV_ENV(&design.cmp(), partition_id), m_design(design)
{
    // The component reads the current device when its flow driver is built.
    m_design.make_device_current();
    // A migration compile writes its change-log chunks and final log into
    // "db/", which the host's project set-up makes.
    DEV_MIGRATION_INFO* migration = m_design.device()->get_migration_info();
    if (migration != nullptr && !migration->get_migratable_parts().empty()) {
        std::error_code ec;
        std::filesystem::create_directories("db", ec);
    }
    install_component_timing_data();
    set_save_restore_mgr(&m_snapshots);
    // One compile per analyser: nothing of an earlier compile's timing netlist
    // may survive into this one.
    tdc_reset_accessories();
    accessories();
}

HOST_ENV::~HOST_ENV()
{
    // Saved states hold parts of the facade's bookkeeping: drop them while the
    // facade exists, then the flow driver.
    if (peek_fsyn_expert() != nullptr) clear_all_states();
    free_fsyn_expert();
    set_save_restore_mgr(nullptr);
    // The analyser must not keep pointing into this compile's netlist.
    tdc_reset_accessories();
}

void HOST_ENV::note(const char* what, int64_t a, int64_t b, int64_t c, int64_t d)
{
    NOTE_TALLY& tally = m_notes[what];
    ++tally.count;
    tally.last = {what, a, b, c, d};
}

int HOST_ENV::count_notes(std::string_view what) const
{
    const auto found = m_notes.find(what);
    return found == m_notes.end() ? 0 : found->second.count;
}

const HOST_NOTE* HOST_ENV::last_note(std::string_view what) const
{
    const auto found = m_notes.find(what);
    return found == m_notes.end() ? nullptr : &found->second.last;
}

void HOST_ENV::note_user_locks()
{
    m_user_locked.clear();
    for (const CDB_ATOM_NODE* n : *m_design.netlist())
        if (n->get_assignments().locked_x1 >= 0) m_user_locked.insert(n->get_id());
}

uint32_t HOST_ENV::get_origin(uint32_t atom_id) const
{
    auto it = m_origin.find(atom_id);
    return it == m_origin.end() ? 0 : it->second;
}

std::string HOST_ENV::get_atom_name(int atom_id)
{
    CDB_ATOM_NODE* node = get_node(atom_id);
    if (node == nullptr || node->get_instance_name() == nullptr) return std::string();
    return node->get_instance_name()->get_short_hpath();
}

CDB_ATOM_NODE* HOST_ENV::get_node(int atom_id)
{
    if (atom_id < 0) return nullptr;
    return m_design.netlist()->get_node_by_id(static_cast<uint32_t>(atom_id));
}

int HOST_ENV::get_max_atom_id()
{
    return static_cast<int>(m_design.netlist()->get_max_id());
}

// An atom the component made joins the netlist here; one the host made
// (a duplicate) is in it already.
void HOST_ENV::node_added(CDB_ATOM_NODE* node, int flag)
{
    MSG_ASSERT(node, "HOST");
    note("node_added", node->get_id(), flag);
    if (node->get_chip_db_entry() == nullptr) node->set_chip_db_entry(m_design.chip_entry());
    if (node->get_netlist() == nullptr) m_design.netlist()->add_node(node);
    MSG_ASSERT(node->get_netlist() == m_design.netlist(), "HOST");
    m_taint.push_back(node->get_id());
}

void HOST_ENV::delete_node(CDB_ATOM_NODE* node)
{
    MSG_ASSERT(node, "HOST");
    MSG_ASSERT(node->get_netlist() == m_design.netlist(), "HOST");
    const uint32_t id = node->get_id();
    note("delete_node", id);
    m_taint.push_back(id);
    m_origin.erase(id);
    m_design.netlist()->delete_node(node);
}

// The clone keeps every property of the original (type, masks, bits, mode,
// term settings and connections, location, assignments); only its name and
// output names are new, and nothing is moved onto its outputs. An atom the
// user protected from duplication is refused like a missing output.
CDB_ATOM_NODE* HOST_ENV::duplicate_node(CDB_ATOM_NODE* node, int output_port_type, int, int, int)
{
    if (node == nullptr || node->get_output_term_by_type(output_port_type) == nullptr) return nullptr;
    if (!can_modify_atom(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_DUPLICATE)) {
        note("duplicate_refused", node->get_id(), output_port_type);
        return nullptr;
    }
    CDB_ATOM_NETLIST* netlist = m_design.netlist();
    HDB_NAME_MGR* names = netlist->get_or_create_name_mgr();
    HDB_INSTANCE_NAME* base = node->get_instance_name();
    HDB_INSTANCE_NAME* name = base ? HDB_INSTANCE_NAME::create_synthesized_name(base, "~dup", true)
                                   : names->create_unique_name("dup", HDB_INAME_FLAG_SYNTHESIZED);
    CDB_ATOM_NODE* copy = cdb_create_atom_of_type(node->get_family(), node->get_atom_type());
    if (copy == nullptr) return nullptr;
    copy->set_instance_name(name);
    copy->set_bits(node->get_bits());
    copy->set_mode(node->get_mode());
    if (node->get_latch_info()) copy->set_latch_info(new CDB_ATOM_LATCH_INFO(*node->get_latch_info()));
    if (const auto* params = node->get_block_params())
        for (const auto& [key, value] : *params) copy->set_block_param(key.first, key.second, value);
    copy->set_location(node->get_location());
    copy->set_assignments(node->get_assignments());
    copy->set_chip_db_entry(node->get_chip_db_entry() ? node->get_chip_db_entry() : m_design.chip_entry());

    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* from = *it;
        CDB_ATOM_ITERM* to = copy->add_input_term(from->get_any_usage_as(), from->get_port_index());
        for (int u = 1; u < from->get_usage_count(); ++u) to->set_usage_as(from->get_usage(u));
        to->set_literal_index(from->get_literal_index());
        to->set_invert(from->is_inverted());
        to->set_active_high(from->is_active_high());
        to->set_global(from->get_global());
        const int chain = DB_DELAY_CHAIN_INPUT;
        to->set_connected_to_delay_chain(chain, from->is_connected_to_delay_chain(chain));
        if (from->get_delay_chain_index(chain) >= 0)
            to->set_delay_chain_index(chain, from->get_delay_chain_index(chain));
        to->set_user_delay_chain(chain, from->has_user_delay_chain(chain));
        if (from->is_driven()) from->get_source()->insert_fanout(to);
        else if (from->is_vcc()) to->set_vcc();
        else if (from->is_gnd()) to->set_gnd();
    }
    // The masks follow the terms: a mask reading input F gives a cell
    // without an F term an empty one, and the copied F would then sit
    // beside it, unread.
    if (node->get_lut_size() > 0 && (node->is_lcell_comb() || node->is_lcell() || node->is_lcell_hsadder())) {
        copy->set_lutmask(node->get_lutmask());
        // Both halves of an adder cell's mask; a 6-input cell's are in its LUT mask already.
        if (node->get_adder_lutmask() != 0) {
            if (node->get_lut_size() == 6 || node->is_lcell_hsadder())
                copy->set_sum_lutmask(CDB_LUTMASK(5, node->get_adder_lutmask()));
            else copy->set_carry_lutmask(node->get_carry_lutmask());
        }
    }
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
        CDB_ATOM_OTERM* from = *it;
        HDB_INSTANCE_NAME* oname =
            from->get_instance_name()
                ? HDB_INSTANCE_NAME::create_synthesized_name(from->get_instance_name(), "~dup", true)
                : nullptr;
        CDB_ATOM_OTERM* to = copy->add_output_term(from->get_any_usage_as(), oname, from->get_port_index());
        to->set_invert_observable(from->is_invert_observable());
    }
    netlist->add_node(copy);
    m_origin[copy->get_id()] = node->get_id();
    if (m_placed) m_placed_copies.push_back(copy->get_id());
    note("duplicate_node", node->get_id(), copy->get_id(), output_port_type);
    m_taint.push_back(copy->get_id());
    return copy;
}

void HOST_ENV::copy_node_assignments(CDB_ATOM_NODE* from, CDB_ATOM_NODE* to, int, int)
{
    MSG_ASSERT(from && to, "HOST");
    to->set_assignments(from->get_assignments());
    note("copy_node_assignments", from->get_id(), to->get_id());
}

void HOST_ENV::clear_node_assignments(CDB_ATOM_NODE* node)
{
    MSG_ASSERT(node, "HOST");
    // The partition is where the atom lives, not a constraint on it.
    CDB_ATOM_ASSIGNMENTS cleared;
    cleared.partition_id = node->get_assignments().partition_id;
    node->set_assignments(cleared);
    note("clear_node_assignments", node->get_id());
}

int HOST_ENV::get_grid_nx()
{
    return m_design.device()->get_nx();
}
int HOST_ENV::get_grid_ny()
{
    return m_design.device()->get_ny();
}
int HOST_ENV::get_resource_count(int atom_type)
{
    return m_design.device()->get_resource_count(atom_type);
}
int HOST_ENV::get_block_type(int x, int y, int sub_loc)
{
    return m_design.device()->get_block_type(x, y, sub_loc);
}
int HOST_ENV::get_part()
{
    return m_design.device()->get_part();
}

double HOST_ENV::get_routing_delay(int x1, int y1, int x2, int y2, int)
{
    return m_design.device()->get_routing_delay_ps(x1, y1, x2, y2) * 1e-12;
}

// Only structured-ASIC devices have FL cells. There every output must answer
// a cell (the component uses it as the drive strength of delay queries): a
// register output is the flip-flop or latch cell, any other output the LUT
// cell, which is what drives the routing out of a pin or a block too.
int HOST_ENV::get_oterm_fl_id(CDB_ATOM_OTERM* oterm)
{
    const DEV_FL_INFO* fl = m_design.device()->get_fl_info();
    if (fl == nullptr || oterm == nullptr) return DEV_ILLEGAL_FL_ID;
    const CDB_ATOM_NODE* node = oterm->get_my_node();
    std::string_view cell = "FL_LUT";
    if (oterm->is_registered()) {
        const bool latch = node && node->get_latch_info() && node->get_latch_info()->is_latch;
        cell = latch ? "FL_LATCH" : "FL_FF";
    }
    for (int id = 0; id < fl->get_num_records(); ++id)
        if (cell == fl->get_cell_name(id)) return id;
    return DEV_ILLEGAL_FL_ID;
}

void HOST_ENV::get_progress_range(int* start, int* end)
{
    // The component's share of the fitter's progress bar.
    if (start) *start = 10;
    if (end) *end = 90;
}

void HOST_ENV::set_progress(int value)
{
    m_progress = std::clamp(value, 0, 100);
    // The terminal shows the progress lines of each algorithm run instead of
    // a bar, which would share their line.
    note("set_progress", m_progress);
}

bool HOST_ENV::can_share_ram_block(int representative_ram_id, int ram_id)
{
    return host_rams_share_block(get_node(representative_ram_id), get_node(ram_id));
}

int HOST_ENV::get_rams_per_block(int block_kind, int ram_atom_id)
{
    return host_rams_per_block(*DMGR_UTILITY::get_current_device(), block_kind, get_node(ram_atom_id));
}

// Don't-touch is the refusal of can_modify_atom for the same operation, so the
// component's statistics agree with what its edits will be allowed.
bool HOST_ENV::is_atom_dont_touch(int atom_id, AMM_OP op)
{
    return get_node(atom_id) != nullptr && !can_modify_atom(atom_id, op);
}

bool HOST_ENV::can_modify_oterm(CDB_ATOM_OTERM* oterm, AMM_OP op, int, int, int, int)
{
    if (oterm == nullptr || oterm->get_my_node() == nullptr) return false;
    return can_modify_atom(static_cast<int>(oterm->get_my_node()->get_id()), op);
}

bool HOST_ENV::can_modify_atom(int atom_id, AMM_OP op, int* reason, int, int, int)
{
    CDB_ATOM_NODE* node = get_node(atom_id);
    int why = 0;
    if (node == nullptr) why = 1;  // no such atom
    else if (node->get_assignments().dont_touch) why = 2;
    // Replacing an atom removes the original: what must be kept may be
    // copied, but not replaced.
    else if ((op == AMM_OP_FITTER_FSYN_REMOVE || op == AMM_OP_FITTER_FSYN_REPLACE) && must_keep_node(node)) why = 3;
    else if ((op == AMM_OP_FITTER_FSYN_RETIME || op == AMM_OP_FITTER_FSYN_SKEW_RETIME) &&
             is_clock_crossing_register(node->get_id()))
        why = 4;
    if (reason) *reason = why;
    return why == 0;
}

// Found once: the crossings are the design's, and retiming, the one asker,
// keeps them where they are; what it or duplication makes of one answers as
// the atom it was made from.
bool HOST_ENV::is_clock_crossing_register(uint32_t atom_id)
{
    if (!m_crossing_registers) m_crossing_registers = host_clock_crossing_registers(*get_atom_netlist());
    if (m_crossing_registers->empty()) return false;
    for (int hops = 0; atom_id != 0 && hops < 64; ++hops) {
        if (m_crossing_registers->count(atom_id) != 0) return true;
        atom_id = get_origin(atom_id);
    }
    return false;
}

bool HOST_ENV::is_atom_back_annotated(CDB_ATOM_NODE* node)
{
    return node && node->get_assignments().back_annotated;
}

int HOST_ENV::get_node_kardel_region(CDB_ATOM_NODE* node)
{
    return node ? node->get_assignments().kardel_region : -1;
}

// A free node answers false with every corner -1: some callers clamp with
// the corners without looking at the answer.
bool HOST_ENV::get_node_locked_region(CDB_ATOM_NODE* node, int* x1, int* y1, int* x2, int* y2)
{
    const bool locked = node != nullptr && node->get_assignments().locked_x1 >= 0;
    if (!locked) {
        for (int* p : {x1, y1, x2, y2})
            if (p) *p = -1;
        return false;
    }
    const CDB_ATOM_ASSIGNMENTS& a = node->get_assignments();
    if (x1) *x1 = a.locked_x1;
    if (y1) *y1 = a.locked_y1;
    if (x2) *x2 = a.locked_x2;
    if (y2) *y2 = a.locked_y2;
    return true;
}

void HOST_ENV::set_node_locked_region(CDB_ATOM_NODE* node, int x1, int y1, int x2, int y2)
{
    MSG_ASSERT(node, "HOST");
    CDB_ATOM_ASSIGNMENTS a = node->get_assignments();
    a.locked_x1 = x1;
    a.locked_y1 = y1;
    a.locked_x2 = x2;
    a.locked_y2 = y2;
    node->set_assignments(a);
    note("set_node_locked_region", node->get_id(), x1, y1);
}

bool HOST_ENV::can_collapse_node(CDB_ATOM_NODE* node, const std::vector<CDB_ATOM_NODE*>& nodes)
{
    if (node == nullptr || node->get_assignments().dont_touch || must_keep_node(node)) return false;
    if (m_collapse_vetoes.count(node->get_id())) return false;
    for (CDB_ATOM_NODE* n : nodes)
        if (n == nullptr || n->get_assignments().dont_touch || m_collapse_vetoes.count(n->get_id())) return false;
    return true;
}

std::string HOST_ENV::locked_region_origin(int x1, int y1, int x2, int y2) const
{
    auto it = m_locked_region_origin.find({x1, y1, x2, y2});
    return it == m_locked_region_origin.end() ? std::string() : it->second;
}

int HOST_ENV::get_floating_region_lab_count(int region_id)
{
    auto it = m_floating_labs.find(region_id);
    return it == m_floating_labs.end() ? 0 : it->second;
}

bool HOST_ENV::must_keep_node(CDB_ATOM_NODE* node)
{
    if (node == nullptr) return false;
    if (node->get_assignments().must_keep) return true;
    for (const auto& [partition, id] : m_ground_cells)
        if (id == node->get_id()) return true;
    return false;
}

// Ground cells are made on first use, one per partition, and kept; they are
// found again by id so that a restored netlist (new objects) still finds its
// own cell.
CDB_ATOM_NODE* HOST_ENV::ground_cell(int partition, bool create)
{
    auto it = m_ground_cells.find(partition);
    if (it != m_ground_cells.end()) {
        if (CDB_ATOM_NODE* node = get_node(static_cast<int>(it->second))) return node;
        m_ground_cells.erase(it);
    }
    if (!create) return nullptr;
    CDB_ATOM_NETLIST* netlist = m_design.netlist();
    HDB_NAME_MGR* names = netlist->get_or_create_name_mgr();
    std::string base = partition < 0 ? "~GND" : "~GND_p" + std::to_string(partition);
    HDB_INSTANCE_NAME* name = names->create_unique_name(base, HDB_INAME_FLAG_PROTECTED);
    CDB_ATOM_NODE* gnd = CUT_LCELL_UTIL::create_gnd_lcell_atom(nullptr, m_design.family(), name);
    MSG_ASSERT(gnd, "HOST");
    CDB_ATOM_ASSIGNMENTS a;
    a.partition_id = partition;
    a.must_keep = true;
    gnd->set_assignments(a);
    gnd->set_chip_db_entry(m_design.chip_entry());
    netlist->add_node(gnd);
    m_ground_cells[partition] = gnd->get_id();
    note("ground_cell_created", partition, gnd->get_id());
    m_taint.push_back(gnd->get_id());
    return gnd;
}

void HOST_ENV::prepare_gnd_lcell(int partition)
{
    note("prepare_gnd_lcell", partition);
    ground_cell(partition, true);
}

CDB_ATOM_NODE* HOST_ENV::get_gnd_lcell(int partition)
{
    return ground_cell(partition, true);
}

CDB_ATOM_NODE* HOST_ENV::get_partition_gnd_lcell(int partition)
{
    return ground_cell(partition, true);
}

void HOST_ENV::record_node_modification(CDB_ATOM_NODE* node, CDB_ATOM_NODE* other, int kind, int code)
{
    note("record_node_modification", node ? node->get_id() : -1, other ? other->get_id() : -1, kind, code);
}

void HOST_ENV::record_created_from(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* source_oterm)
{
    CDB_ATOM_NODE* n = new_oterm ? new_oterm->get_my_node() : nullptr;
    CDB_ATOM_NODE* s = source_oterm ? source_oterm->get_my_node() : nullptr;
    note("record_created_from", n ? n->get_id() : -1, s ? s->get_id() : -1);
    if (n && s && n != s && !m_origin.count(n->get_id())) m_origin[n->get_id()] = s->get_id();
}

void HOST_ENV::netlist_assimilated()
{
    note("netlist_assimilated");
    m_full_taint = true;
}

// Every edit the component makes reaches the timing netlist through its
// notifications and its change set, so the refresh stays incremental: a
// rebuild would renumber every timing node and edge under the component's
// records for nothing. Only the host's own analysis is out of date.
void HOST_ENV::refresh_after_netlist_change()
{
    note("refresh_after_netlist_change");
    m_analysed = false;
}

void HOST_ENV::restore_state(int state_id)
{
    note("restore_state", state_id);
    // A restored netlist is made of new objects: nothing of the timing
    // netlist may be kept.
    discard_timing_netlist();
    MORV_ENV::restore_state(state_id, 0);
}

// The atoms of the replaced netlist held the names an earlier restore made,
// and they are gone: the names the netlist still records are found again
// among the restored ones, and the earlier managers go, or every restore
// of the compile would keep a copy of all names.
void HOST_ENV::post_restore_state()
{
    note("post_restore_state");
    HDB_ACTION_PT_INSTANCE* cap = m_design.cmp().get_action_point_instance();
    if (cap == nullptr || cap->get_name_mgr() == nullptr) return;
    get_atom_netlist()->rebind_created_from(*cap->get_name_mgr());
    HUT_UTIL::release_superseded_name_mgrs(cap);
}

// ------------------------------------------------------------------ timing

TDC_ACCESSORIES* HOST_ENV::accessories()
{
    TDC_ACCESSORIES* acc = tdc_get_accessories();
    if (acc->get_atom_netlist() != m_design.netlist()) acc->set_atom_netlist(m_design.netlist());
    return acc;
}

void HOST_ENV::end_of_fsyn_flow()
{
    note("end_of_fsyn_flow");
    const std::vector<unsigned> moved = adopt_copy_locations();
    m_taint.insert(m_taint.end(), moved.begin(), moved.end());
}

// A member of a full LAB leaves for a copy only when its connections keep
// more slack than the worst path has: the copy is there to mend that path,
// and the move must not make another one worse.
HOST_ROOM_MAKER HOST_ENV::room_maker(const std::vector<unsigned>& copies)
{
    TDC_UTILITY* utility = accessories()->get_tdc_utility();
    const bool timed = utility->has_analysis();
    const int floor = timed ? utility->get_legacy_figure_of_merit(true) : INT_MAX;
    auto slack_of = [utility, timed](const CDB_ATOM_ITERM* iterm) {
        const CDB_ATOM_NODE* node = iterm->get_my_node();
        if (!timed || node == nullptr) return INT_MAX;
        return utility->get_annotated_slack(node, iterm->get_any_usage_as(), iterm->get_port_index());
    };
    return HOST_ROOM_MAKER(*m_design.netlist(), *m_design.device(), slack_of, floor, copies);
}

std::vector<unsigned> HOST_ENV::adopt_copy_locations()
{
    std::vector<unsigned> moved;
    if (m_placed_copies.empty() || !m_placed) return moved;
    MORV_EXPERT_INTERFACE* expert = get_fsyn_expert();
    // A copy the component did not place stays with its original, for the
    // legaliser to move when that LAB is full.
    std::unordered_map<uint32_t, std::pair<int, int>> chosen;
    for (uint32_t id : m_placed_copies) {
        int x = -1, y = -1, sub = -1, index = -1;
        if (get_node(static_cast<int>(id)) != nullptr &&
            expert->get_atoms_preferred_location(static_cast<int>(id), &x, &y, &sub, &index) && x >= 0 && y >= 0)
            chosen[id] = {x, y};
    }
    HOST_OCCUPANCY occupancy(*m_design.device());
    for (CDB_ATOM_NODE* n : *m_design.netlist())
        if (n->get_lab_x() >= 0 && chosen.count(n->get_id()) == 0) occupancy.add(n, n->get_lab_x(), n->get_lab_y());
    HOST_ROOM_MAKER room = room_maker(m_placed_copies);
    for (uint32_t id : m_placed_copies) {
        auto at = chosen.find(id);
        if (at == chosen.end()) continue;
        CDB_ATOM_NODE* n = get_node(static_cast<int>(id));
        int x = at->second.first, y = at->second.second, sub = -1;
        if (!occupancy.has_room(n, x, y, &sub) && !room.make_room(occupancy, n, x, y, &sub, &moved) &&
            !occupancy.find_nearest(n, x, y, x, y, sub))
            continue;
        occupancy.add(n, x, y);
        if (x == n->get_lab_x() && y == n->get_lab_y() && sub == n->get_sub_location()) continue;
        n->set_location(x, y, sub);
        moved.push_back(id);
    }
    m_placed_copies.clear();
    if (!moved.empty()) note("placed_copies", static_cast<int64_t>(moved.size()));
    hand_locations_back(moved);
    return moved;
}

void HOST_ENV::ensure_timing()
{
    const std::vector<unsigned> moved = adopt_copy_locations();
    m_taint.insert(m_taint.end(), moved.begin(), moved.end());
    TDC_ACCESSORIES* acc = accessories();
    acc->set_default_clock_period_ps(m_clock_period_ps);
    const bool rebuild = m_full_taint || acc->get_tdb_netlist() == nullptr;
    if (rebuild) {
        acc->set_full_taint();
    } else if (!m_taint.empty()) {
        std::sort(m_taint.begin(), m_taint.end());
        m_taint.erase(std::unique(m_taint.begin(), m_taint.end()), m_taint.end());
        acc->set_taint_change_set(m_taint);
    }
    acc->build_timing_netlist();
    // A rebuilt netlist starts from pre-placement delays.
    if (rebuild && m_placed) acc->refresh_interconnect_delays();
    else if (!moved.empty()) acc->refresh_interconnect_delays(moved);
    m_full_taint = false;
    m_taint.clear();
}

double HOST_ENV::analyse_timing()
{
    ensure_timing();
    return run_analysis();
}

double HOST_ENV::run_analysis()
{
    TDC_ACCESSORIES* acc = accessories();
    TAN_RESULT r = acc->run_tan(*acc->get_tan_parameters(), true);
    m_worst_slack = r.m_worst_slack;
    m_worst_slack_period_ps = acc->get_analysis() != nullptr ? acc->get_analysis()->get_worst_slack_period_ps() : 0;
    m_analysed = true;
    return r.m_figure_of_merit;
}

int HOST_ENV::measure_unoptimised_critical_path_ps()
{
    const int probe = 100000000;
    set_clock_period_ps(probe);
    analyse_timing();
    // A clock given a period of its own is measured at the probe too: what
    // is measured is the path, not the period asked of it.
    TDC_ACCESSORIES* acc = accessories();
    bool own_periods = false;
    if (acc->get_analysis() != nullptr)
        for (const TDC_CLOCK_INFO& clock : acc->get_analysis()->get_clocks())
            if (clock.m_period_ps != probe) {
                acc->set_clock_period_ps(clock.m_name, probe);
                own_periods = true;
            }
    if (own_periods) analyse_timing();
    const int slack = get_worst_slack();
    if (own_periods) acc->clear_clock_periods();
    return slack != TDB_NO_PATH && slack < probe ? probe - slack : 0;
}

int HOST_ENV::get_worst_slack() const
{
    return m_worst_slack;
}

TDB_NETLIST* HOST_ENV::get_tdb_netlist()
{
    return tdc_get_accessories()->get_tdb_netlist();
}

// The third flag asks for a build from scratch (the component passes it when
// it could not keep its change set incremental); the others only tune a real
// analyser and are recorded, as a bit mask from the first flag up. Building
// does not analyse: the component analyses when it wants timing, and the
// handle's slack queries analyse a timing netlist that changed since.
void HOST_ENV::build_timing_netlist(MORV_TIMING* timing, bool a, bool b, bool c, bool d, bool e, bool f)
{
    int64_t flags = 0;
    int bit = 0;
    for (bool flag : {a, b, c, d, e, f}) flags |= static_cast<int64_t>(flag) << bit++;
    note("build_timing_netlist", flags);
    if (c) m_full_taint = true;
    ensure_timing();
    const TDC_ANALYSIS* analysis = accessories()->get_analysis();
    if (analysis == nullptr || !analysis->is_current()) m_analysed = false;
    if (timing) timing->set_tdc_utility(accessories()->get_tdc_utility());
}

void HOST_ENV::reset_timing_netlist()
{
    note("reset_timing_netlist");
    m_full_taint = true;
    m_analysed = false;
}

void HOST_ENV::discard_timing_netlist()
{
    note("discard_timing_netlist");
    accessories()->discard_timing_netlist();
    m_full_taint = true;
    m_analysed = false;
    m_component_utility = nullptr;  // the handle died with the timing netlist
}

void HOST_ENV::set_full_taint()
{
    note("set_full_taint");
    m_full_taint = true;
    m_analysed = false;
}

void HOST_ENV::set_taint_change_set(const std::vector<unsigned>& node_ids)
{
    note("set_taint_change_set", static_cast<int64_t>(node_ids.size()));
    m_taint.insert(m_taint.end(), node_ids.begin(), node_ids.end());
    if (!node_ids.empty()) m_analysed = false;
}

void HOST_ENV::set_tdc_utility(TDC_UTILITY* utility)
{
    note("set_tdc_utility", utility != nullptr);
    m_component_utility = utility;
}

// The legacy figure is the worst slack; the other weighs every clock group.
int HOST_ENV::get_figure_of_merit(bool legacy)
{
    if (!m_analysed || !m_taint.empty() || m_full_taint) analyse_timing();
    if (legacy) return accessories()->get_tdc_utility()->get_legacy_figure_of_merit(true);
    return static_cast<int>(accessories()->get_figure_of_merit());
}

// ------------------------------------------------------------------ placement

// Once placed, the netlist the component hands back may hold new atoms without
// a location and atoms left where they no longer fit (a duplicate keeps its
// original's place): both are legalised. A full call then analyses timing
// from scratch, any other incrementally. The multiplier and the remaining
// flags steer a real placer's effort; this placement has no such knobs.
MORV_ICP_RESULT HOST_ENV::run_icp(bool full, bool second, double multiplier, bool fourth, bool routing_estimate,
                                  bool sixth, bool post_clustering)
{
    ++m_icp_calls;
    note("run_icp", full, post_clustering, second, routing_estimate);
    (void)multiplier;
    (void)fourth;
    (void)sixth;
    MORV_ICP_RESULT r;
    if (m_icp_fails) return r;  // status 0
    const double cpu0 = gen_get_sec_cpu();
    const std::vector<unsigned> copies = adopt_copy_locations();
    m_taint.insert(m_taint.end(), copies.begin(), copies.end());
    const int moved = (m_placed ? legalize_placement() : 0) + static_cast<int>(copies.size());
    const double cpu1 = gen_get_sec_cpu();
    if (full) m_full_taint = true;
    ensure_timing();
    if (m_placed) accessories()->refresh_interconnect_delays();
    const double fom = run_analysis();
    const double cpu2 = gen_get_sec_cpu();
    r.m_first_seconds = static_cast<int>(cpu1 - cpu0 + 0.5);
    r.m_second_seconds = static_cast<int>(cpu2 - cpu1 + 0.5);
    r.m_moved_atoms = moved;
    r.m_figure_of_merit = static_cast<int>(fom);
    r.m_status = 1;
    return r;
}

// The component reads the placement from its own map, filled once after
// placement: what the host moved or placed since reaches it the same way,
// or its next edit would start from where atoms no longer are.
void HOST_ENV::hand_locations_back(const std::vector<unsigned>& ids)
{
    MORV_EXPERT_INTERFACE* expert = m_placed ? peek_fsyn_expert() : nullptr;
    if (expert == nullptr) return;
    for (unsigned id : ids)
        if (const CDB_ATOM_NODE* n = get_node(static_cast<int>(id))) hand_location(expert, *n);
}

void HOST_ENV::hand_location(MORV_EXPERT_INTERFACE* expert, const CDB_ATOM_NODE& n)
{
    if (n.get_lab_x() >= 0)
        expert->set_atoms_preferred_location(static_cast<int>(n.get_id()), n.get_lab_x(), n.get_lab_y(),
                                             n.get_sub_location(), -1);
}

int HOST_ENV::place_unplaced_atoms()
{
    return place_atoms(false);
}

int HOST_ENV::legalize_placement()
{
    return place_atoms(true);
}

// Once placed, a new atom goes where the component asked for it (as a real
// incremental placer starts from the component's preferred locations);
// without an answer it goes next to its origin. The placement of atoms made
// before that is the host's own.
int HOST_ENV::place_atoms(bool legalize)
{
    MORV_EXPERT_INTERFACE* expert = legalize && m_placed ? peek_fsyn_expert() : nullptr;
    HOST_PREFERRED_LAB preferred;
    if (expert != nullptr)
        preferred = [expert](uint32_t id, int& x, int& y) {
            int sub = -1, index = -1;
            return expert->get_atoms_preferred_location(static_cast<int>(id), &x, &y, &sub, &index);
        };
    HOST_LEGALIZE_RESULT r = legalize_atoms(
        *m_design.netlist(), *m_design.device(), legalize, [this](uint32_t id) { return get_origin(id); }, preferred);
    m_taint.insert(m_taint.end(), r.changed.begin(), r.changed.end());
    hand_locations_back(r.changed);
    if (r.moved) note("moved_crowded_atoms", r.moved);
    if (r.placed) note("placed_new_atoms", r.placed);
    return r.moved + r.placed;
}

}  // namespace morv_host
