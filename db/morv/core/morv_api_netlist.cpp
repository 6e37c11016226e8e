// Facade helpers that need several services together: duplicating an
// output with everything that must follow it, copying timing assignments,
// netlist dumps and the whole-netlist check, partitions and boundary ports,
// kardel regions, and the change-log file of a migration compile.

#include "morv/core/morv_api.h"

#include <algorithm>
#include <fstream>
#include <string>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cmp/cmp_facade.h"
#include "cut/cut_atom_util.h"
#include "fio/fio.h"
#include "hdb/hdb_action_pt_instance.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_inst_asgn_mgr.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/netlist/morv_region_map.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_ite.h"

namespace {

HDB_NAME_MGR* names_of(MORV_ENV* env)
{
    CMP_FACADE* cmp = env->get_cmp();
    HDB_ACTION_PT_INSTANCE* ap = cmp ? cmp->get_action_point_instance() : nullptr;
    return ap ? ap->get_name_mgr() : nullptr;
}

}  // namespace

// ------------------------------------------------------------------ duplication

CDB_ATOM_NODE* MORV_API::duplicate_oterm(CDB_ATOM_NODE* node, int output_port_type, bool)
{
    MORV_ASSERT(m_morv_env);
    CDB_ATOM_NODE* new_node = m_morv_env->duplicate_node(node, output_port_type, 0, 0, 1);
    if (m_fsyn_cdb_interface->is_logging())
        m_fsyn_cdb_interface->get_fsyn_log()->log_new_node(node, new_node, output_port_type, 0);
    if (new_node == nullptr) {
        MORV_DEBUG_STREAM::print(0, "Warning: could not properly duplicate oterm (returning NULL");
        return nullptr;
    }
    MORV_ASSERT(m_fsyn_nt);
    m_fsyn_nt->record_operation(static_cast<int>(node->get_id()), static_cast<int>(new_node->get_id()),
                                MORV_NT_TYPE_DUPLICATE, "REPLICATION");
    CDB_ATOM_OTERM* from = node->get_output_term_by_type(output_port_type);
    CDB_ATOM_OTERM* to = new_node->get_output_term_by_type(output_port_type);
    if (output_port_type == DB_REG_OUT) {
        copy_oterm_timing_assignment(from, to);
    } else if (from != nullptr && to != nullptr) {
        m_atom_netlist->add_new_atom_to_created_from_map(to->get_instance_name(), from->get_instance_name());
    }
    for (auto it = new_node->begin_iterm(); it != new_node->end_iterm(); ++it)
        if ((*it)->is_connected()) modify_edge(*it, false);
    return new_node;
}

bool MORV_API::copy_oterm_timing_assignment(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to)
{
    MORV_ASSERT(from && to);
    MORV_ASSERT(m_morv_env);
    m_atom_netlist->add_new_atom_to_created_from_map(to->get_instance_name(), from->get_instance_name());
    m_morv_env->record_created_from(to, from);
    timing_assignment_utility()->copy_oterm_timing_assignment(from, to);
    if (m_fsyn_cdb_interface->is_logging())
        m_fsyn_cdb_interface->get_fsyn_log()->log_copy_oterm_timing_assignments(from, to);
    if (m_fsyn_timing->is_itest_enabled()) m_fsyn_timing->get_itest()->track_oterm_copy(from, to);
    m_inst_asgn_mgr->load_oterm_assignments(to);
    return true;
}

bool MORV_API::copy_oterm_timing_assignment(HDB_INSTANCE_NAME* from, HDB_INSTANCE_NAME* to)
{
    MORV_ASSERT(from && to);
    MORV_ASSERT_TEXT(!m_fsyn_timing->is_itest_enabled(),
                     "ERROR!!! Using unsupported overload of copy_oterm_timing_assignment (because of iTEst); use the "
                     "prototype that takes oterms instead of HDB names as arguments");
    m_atom_netlist->add_new_atom_to_created_from_map(to, from);
    timing_assignment_utility()->copy_oterm_timing_assignment(from, to);
    return true;
}

// Assignments are copied before the first timing netlist exists too.
TDC_UTILITY* MORV_API::timing_assignment_utility() const
{
    TDC_UTILITY* utility = m_fsyn_timing->get_tdc_utility();
    if (utility == nullptr) utility = tdc_get_accessories()->get_tdc_utility();
    MORV_ASSERT(utility);
    return utility;
}

int MORV_API::compare_oterms_for_timing(CDB_ATOM_OTERM* oterm_a, CDB_ATOM_OTERM* oterm_b) const
{
    MORV_ASSERT(oterm_a && oterm_b);
    return tdc_get_accessories()->are_oterms_timing_equivalent(oterm_a, oterm_b) ? s_TIMING_EQUIVALENT
                                                                                 : s_TIMING_DIFFERENT;
}

// ------------------------------------------------------------------ dumps and checks

void MORV_API::dump_atom_netlist(const std::string& suffix) const
{
    if (!m_enable_netlist_dump) return;
    MORV_ASSERT(m_morv_env);
    const std::string path = m_morv_env->get_project_name() + suffix;
    // The user asked for the dump: a place that cannot take it stops the compile.
    std::string error;
    if (!CUT_ATOM_DUMPER::dump_current_atom_netlist(m_atom_netlist, path, &error)) throw FIO_WRITE_ERROR(path, error);
}

std::string MORV_API::get_project_name() const
{
    MORV_ASSERT(m_morv_env);
    return m_morv_env->get_project_name();
}

std::string MORV_API::get_project_path() const
{
    MORV_ASSERT(m_morv_env);
    CMP_FACADE* cmp = m_morv_env->get_cmp();
    MORV_ASSERT(cmp);
    return FIO_PATH(cmp->get_project_directory()).fullpath();
}

bool MORV_API::check_atom_netlist()
{
    MORV_ASSERT(m_fsyn_net_util);
    const std::string path = (FIO_PATH(get_project_path()) / FIO_PATH("fsyn_check_atom_netlist.txt")).str();
    std::ofstream file(path, std::ios::trunc);
    if (!file)
        MORV_DEBUG_STREAM::print(0, "Warning: cannot write %s; the netlist check goes on without it", path.c_str());
    bool clean = true;
    for (CDB_ATOM_NODE* node : *m_atom_netlist)
        if (m_fsyn_net_util->is_lcell(node)) clean = check_logic_cell(node, file) && clean;
    return clean;
}

// One line per finding: the text, the atom id.
bool MORV_API::check_logic_cell(CDB_ATOM_NODE* node, std::ostream& out)
{
    bool clean = true;
    const int id = static_cast<int>(node->get_id());
    auto finding = [&](const char* text, const char* after = "") {
        out << text << id << after << "\n";
        clean = false;
    };
    if (node->begin_iterm() == node->end_iterm()) finding("Node with id ", " has 0 iterm");
    if (node->begin_oterm() == node->end_oterm()) finding("Node with id ", " has 0 oterm");
    int fanouts = 0;
    for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot) {
        fanouts += (*ot)->get_number_of_fanout();
        if ((*ot)->is_used_as(DB_REG_OUT) && !m_fsyn_net_util->is_register_present(node))
            finding("REG_OUT is not registered at node with id ");
        for (auto f = (*ot)->begin_iterm_fanout(); f != (*ot)->end_iterm_fanout(); ++f) {
            CDB_ATOM_NODE* fanout_node = (*f)->get_my_node();
            if (fanout_node == nullptr) finding("Unable to obtain fanout node for node with id ");
            else if (!fanout_node->verify_fanin()) finding("verify_fanin returns false for node with id ");
        }
    }
    if (fanouts == 0 && !is_atom_dont_touch(id, AMM_OP_FITTER_FSYN_DUPLICATE))
        finding("Node with id ", " has 0 fanout and is removable.");
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        const int usage = iterm->get_any_usage_as();
        if ((iterm->is_vcc() || iterm->is_gnd()) && usage >= DB_DATA_A && usage <= DB_DATA_G)
            finding("Data port connected to VCC/GND at node with id ");
        if (!iterm->is_driven()) continue;
        CDB_ATOM_OTERM* source = iterm->get_source();
        if (source == nullptr) finding("Unable to obtain fanin oterm for node with id ");
        else if (source->get_my_node() == nullptr) finding("Unable to obtain fanin node for node with id ");
        else if (!source->get_my_node()->verify_fanout()) finding("verify_fanout returns false for node with id ");
    }
    if (morv_family_traits(m_base_family).m_qfbk_cells && node->test_bit(CDB_ATOM_BIT_QFBK_MODE)) {
        if (node->get_output_term_by_type(DB_COMB_OUT) == nullptr)
            finding("QFBK mode lcell has no comb_out at node with id ");
        if (node->get_output_term_by_type(DB_REG_OUT) == nullptr)
            finding("QFBK mode lcell has no reg_out at node with id ");
    }
    return clean;
}

// ------------------------------------------------------------------ partitions and boundary ports

BPM_BOUNDARY_PORT_MANAGER* MORV_API::get_boundary_port_manager() const
{
    MORV_ASSERT(m_morv_env);
    return m_morv_env->get_boundary_port_manager();
}

int MORV_API::get_atom_partition_id(CDB_ATOM_NODE* atom) const
{
    MORV_ASSERT(atom);
    BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager();
    return bpm ? bpm->get_partition_id(atom) : BPM_BOUNDARY_PORT_MANAGER::NO_PARTITION;
}

int MORV_API::get_boundary_port_id(CDB_ATOM_OTERM* oterm) const
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager();
    return bpm ? bpm->get_bound_port_id(oterm) : BPM_BOUNDARY_PORT_MANAGER::NO_PORT;
}

int MORV_API::get_assigned_boundary_port_id(CDB_ATOM_OTERM* oterm) const
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager();
    return bpm ? bpm->get_assigned_port_id(oterm) : BPM_BOUNDARY_PORT_MANAGER::NO_PORT;
}

int MORV_API::get_assigned_boundary_port_id(CDB_ATOM_ITERM* iterm) const
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager();
    return bpm ? bpm->get_assigned_port_id(iterm) : BPM_BOUNDARY_PORT_MANAGER::NO_PORT;
}

std::string MORV_API::get_boundary_port_name(CDB_ATOM_OTERM* oterm) const
{
    return get_boundary_port_name(get_assigned_boundary_port_id(oterm));
}

std::string MORV_API::get_boundary_port_name(int port_id) const
{
    if (port_id < 0 || get_boundary_port_manager() == nullptr) return std::string();
    HDB_NAME_MGR* names = names_of(m_morv_env);
    HDB_INSTANCE_NAME* name = names ? names->get_iname(static_cast<uint32_t>(port_id)) : nullptr;
    return name ? name->get_short_hpath() : std::string();
}

std::string MORV_API::get_atom_partition_name(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return get_partition_name(get_atom_partition_id(node));
}

std::string MORV_API::get_partition_name(int partition_id) const
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager();
    return bpm && partition_id >= 0 ? bpm->get_partition_name(partition_id) : std::string();
}

void MORV_API::move_boundary_port_id(CDB_ATOM_OTERM* src_oterm, CDB_ATOM_OTERM* dst_oterm)
{
    MORV_ASSERT(src_oterm);
    MORV_ASSERT(dst_oterm);
    if (BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager())
        m_fsyn_cdb_interface->move_boundary_port_id(bpm, src_oterm, dst_oterm);
}

void MORV_API::set_boundary_port_id(CDB_ATOM_OTERM* oterm, int port_id)
{
    if (BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager())
        m_fsyn_cdb_interface->set_boundary_port_id(bpm, oterm, port_id);
}

void MORV_API::set_boundary_port_id(CDB_ATOM_ITERM* iterm, int port_id)
{
    if (BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager())
        m_fsyn_cdb_interface->set_boundary_port_id(bpm, iterm, port_id);
}

void MORV_API::copy_boundary_port_binding(CDB_ATOM_OTERM* existing, CDB_ATOM_OTERM* replacement)
{
    if (BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager()) bpm->move_bindings(existing, replacement);
}

bool MORV_API::check_boundary_port_node(CDB_ATOM_NODE* node) const
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager();
    return bpm == nullptr || bpm->check_node(node);
}

bool MORV_API::check_bp_info() const
{
    if (!cfg_is_on("vnid_debug_ini", false)) return true;
    BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager();
    return bpm == nullptr || bpm->check();
}

void MORV_API::ignore_partition_bp_info(int partition_id)
{
    BPM_BOUNDARY_PORT_MANAGER* bpm = get_boundary_port_manager();
    if (bpm == nullptr) return;
    if (m_fsyn_cdb_interface->is_logging())
        m_fsyn_cdb_interface->get_fsyn_log()->log_ignore_partition_bp_info(partition_id);
    bpm->ignore_partition(partition_id);
}

// ------------------------------------------------------------------ regions and logs

bool MORV_API::can_model_kardel_region(CDB_ATOM_NODE* cell) const
{
    return m_fsyn_net_util->is_lcell(cell) || m_fsyn_net_util->is_ff(cell) || cell->is_lcell_comb();
}

MORV_KARDEL_INDEX& MORV_API::kardel_index()
{
    if (m_kardel_index.is_valid()) return m_kardel_index;
    for (CDB_ATOM_NODE* cell : *m_atom_netlist)
        if (can_model_kardel_region(cell)) m_kardel_index.add(cell, m_morv_env->get_node_kardel_region(cell));
    m_kardel_index.mark_valid();
    return m_kardel_index;
}

// The node takes the assignments of the last other cell of the region; a
// region without a cell leaves it with none.
void MORV_API::set_node_kardel_region(CDB_ATOM_NODE* node, int kdr_id)
{
    MORV_ASSERT(node);
    MORV_ASSERT(kdr_id != -1);
    MORV_ASSERT(m_morv_env);
    MORV_ASSERT(m_fsyn_net_util);
    MORV_KARDEL_INDEX& index = kardel_index();
    CDB_ATOM_NODE* model = index.last_cell(kdr_id, node);
    const bool indexed = can_model_kardel_region(node);
    if (indexed) index.remove(node, m_morv_env->get_node_kardel_region(node));
    m_morv_env->clear_node_assignments(node);
    if (model == nullptr) {
        MORV_DEBUG_STREAM::print(100, "Warning: was unable to set node kardel region...leaving region open");
        return;
    }
    m_morv_env->copy_node_assignments(model, node, 0, 0);
    if (indexed) index.add(node, m_morv_env->get_node_kardel_region(node));
}

void MORV_API::lock_new_node_to_region(CDB_ATOM_NODE* node, int x1, int y1, int x2, int y2)
{
    MORV_ASSERT(node);
    m_morv_env->set_node_locked_region(node, x1, y1, x2, y2);
    const int id = static_cast<int>(node->get_id());
    MORV_LOC at;
    if (m_fsyn_chip_map != nullptr && m_fsyn_chip_map->get_node_location(id, &at) && at.x != MORV_OPEN &&
        at.y != MORV_OPEN) {
        const MORV_LOC inside{std::clamp(at.x, x1, x2), std::clamp(at.y, y1, y2), -1, -1};
        if (inside.x != at.x || inside.y != at.y) m_fsyn_chip_map->set_node_location(id, inside);
    }
    m_fsyn_region_map->node_added(node);
}

// A migration compile's change log starts from the synthesis step's log.
// One reset for the host's two requests: the pending records, the chunk list
// and the stored nodes go, and the final file holds the synthesis-stage log
// alone (a compile without one gets an empty file).
void MORV_API::prepare_migration_log_file()
{
    if (!is_fsyn_write_log_required()) return;
    MORV_ASSERT(m_fsyn_log);
    const std::string revision = m_morv_env->get_cmp()->get_compile_base_name();
    LOGDB_FSYN_LOG_FILE compile_log;
    compile_log.set_file_name("db/" + revision + ".cmp.psl");
    compile_log.init(true);
    if (!compile_log.delete_file())
        MORV_DEBUG_STREAM::print(0, "Warning: could not delete %s", compile_log.get_file_name().c_str());
    m_fsyn_log->reset_log();
    const std::string synthesis_log = "db/" + revision + ".map.psl";
    if (!FIO_FILE_SYSTEM::exists(FIO_PATH(synthesis_log))) return;
    const std::string error = MORV_LOG::copy_log_file(synthesis_log, compile_log.get_file_name());
    if (!error.empty())
        MORV_DEBUG_STREAM::print(0, "Warning: could not append %s to %s: %s", synthesis_log.c_str(),
                                 compile_log.get_file_name().c_str(), error.c_str());
}
