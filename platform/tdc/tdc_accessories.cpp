#include "tdc/tdc_accessories.h"

#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"

namespace {
constexpr int DEFAULT_PERIOD_PS = 10000;

// Visits the edges standing for one input of an atom.
template <typename F>
void for_each_iterm_edge(const TDB_NETLIST* tdb, const CDB_ATOM_NODE* node, int port_type, int port_index, F f)
{
    if (!tdb || !node) return;
    const CDB_ATOM_ITERM* t = node->get_input_term_by_type(port_type, port_index);
    if (!t) return;
    for (int id : tdb->get_atom_nodes((int)node->get_id()))
        for (TDB_EDGE_COMPOUND_ITER it(tdb->find_node(id), TDB_SELECT_DATA_FANIN | TDB_SELECT_CLOCK_FANIN); !it.done();
             ++it)
            if ((*it)->get_iterm() == t) f(*it);
}
}  // namespace

// ---------------------------------------------------------------- utility handle

bool TDC_UTILITY::run_legacy_analysis(bool annotate)
{
    if (!m_owner->get_atom_netlist() && !m_owner->get_tdb_netlist()) return false;
    m_owner->run_tan(*m_owner->get_tan_parameters(), annotate);
    return m_owner->get_tdb_netlist() != nullptr;
}

int TDC_UTILITY::get_legacy_figure_of_merit(bool) const
{
    m_owner->ensure_current_analysis();
    TDC_ANALYSIS* a = m_owner->get_analysis();
    return a ? a->get_worst_slack() : TDB_NO_PATH;
}

int TDC_UTILITY::get_slack(const CDB_ATOM_NODE* node, int port_type, int port_index) const
{
    m_owner->ensure_current_analysis();
    return get_annotated_slack(node, port_type, port_index);
}

double TDC_UTILITY::get_slack_ratio(const CDB_ATOM_NODE* node, int port_type, int port_index) const
{
    m_owner->ensure_current_analysis();
    return get_annotated_slack_ratio(node, port_type, port_index);
}

int TDC_UTILITY::get_annotated_slack(const CDB_ATOM_NODE* node, int port_type, int port_index) const
{
    int s = TDB_NO_PATH;
    for_each_iterm_edge(m_owner->get_tdb_netlist(), node, port_type, port_index,
                        [&](const TDB_EDGE* e) { s = std::min(s, e->get_slack()); });
    return s;
}

int TDC_UTILITY::get_annotated_worst_slack() const
{
    int s = TDB_NO_PATH;
    if (const TDB_NETLIST* tdb = m_owner->get_tdb_netlist())
        for (const TDB_EDGE* e : tdb->edge_table())
            if (e != nullptr) s = std::min(s, e->get_slack());
    return s;
}

bool TDC_UTILITY::has_analysis() const
{
    TDC_ANALYSIS* a = m_owner->get_analysis();
    return a != nullptr && a->get_num_runs() > 0;
}

double TDC_UTILITY::get_annotated_slack_ratio(const CDB_ATOM_NODE* node, int port_type, int port_index) const
{
    float r = 1.0f;
    for_each_iterm_edge(m_owner->get_tdb_netlist(), node, port_type, port_index,
                        [&](const TDB_EDGE* e) { r = std::min(r, e->get_slack_ratio()); });
    return r;
}

bool TDC_UTILITY::copy_oterm_timing_assignment(const CDB_ATOM_OTERM* from, const CDB_ATOM_OTERM* to)
{
    if (!from || !to) return false;
    return m_owner->copy_timing_assignments(TDC_ACCESSORIES::assignment_target(from),
                                            TDC_ACCESSORIES::assignment_target(to));
}

bool TDC_UTILITY::copy_oterm_timing_assignment(const HDB_INSTANCE_NAME* from, const HDB_INSTANCE_NAME* to)
{
    if (!from || !to) return false;
    return m_owner->copy_timing_assignments(from->get_short_hpath(), to->get_short_hpath());
}

// ---------------------------------------------------------------- accessories

TDC_ACCESSORIES::TDC_ACCESSORIES() = default;

TDC_ACCESSORIES::~TDC_ACCESSORIES()
{
    m_builder.reset();
    m_analysis.reset();
    m_tdb.reset();
}

void TDC_ACCESSORIES::set_atom_netlist(CDB_ATOM_NETLIST* atoms)
{
    if (atoms != m_atoms) discard_timing_netlist();
    m_atoms = atoms;
}

void TDC_ACCESSORIES::set_taint_change_set(const std::vector<unsigned>& ids)
{
    m_taint = ids;
}

void TDC_ACCESSORIES::discard_timing_netlist()
{
    if (m_tdb) {
        m_next_node_id = m_tdb->get_node_id_bound();
        m_next_edge_id = m_tdb->get_edge_id_bound();
    }
    m_builder.reset();
    m_analysis.reset();
    m_tdb.reset();
    m_taint.clear();
    m_full_taint = false;
}

TDB_NETLIST* TDC_ACCESSORIES::build_timing_netlist()
{
    if (!m_atoms) {
        discard_timing_netlist();
        return nullptr;
    }
    const DEV_DEVICE* device = DMGR_UTILITY::get_current_device();
    if (!m_tdb || m_full_taint) {
        bool had_edge_vec = m_tdb && m_tdb->get_vec_of_edges();
        discard_timing_netlist();
        m_tdb = std::make_unique<TDB_NETLIST>(m_next_node_id, m_next_edge_id);
        m_builder = std::make_unique<TDB_ATOM_BUILDER>(m_tdb.get(), m_atoms, device);
        m_builder->build_all();
        m_analysis = std::make_unique<TDC_ANALYSIS>(m_tdb.get());
        m_analysis->set_clock_namer([this](const TDB_NODE* root) { return tdc_clock_name(root, m_atoms); });
        if (had_edge_vec) m_tdb->create_vec_of_edges();
        ++m_num_full_builds;
    } else if (!m_taint.empty()) {
        m_builder->refresh(m_taint);
        ++m_num_refreshes;
    }
    m_taint.clear();
    m_full_taint = false;
    return m_tdb.get();
}

void TDC_ACCESSORIES::refresh_interconnect_delays()
{
    if (m_builder) m_builder->refresh_interconnect_delays();
}

void TDC_ACCESSORIES::refresh_interconnect_delays(const std::vector<unsigned>& atom_ids)
{
    if (m_builder) m_builder->refresh_interconnect_delays(atom_ids);
}

bool TDC_ACCESSORIES::ensure_current_analysis()
{
    if (!m_tdb || !m_analysis) return false;
    if (!m_analysis->is_current()) run_tan(m_params, true);
    return true;
}

TAN_RESULT TDC_ACCESSORIES::run_tan(void*, const TAN_PARAMETERS&, bool)
{
    TAN_RESULT result;
    if (!m_tdb && !build_timing_netlist()) return result;
    m_running = true;
    ++m_num_analyses;
    m_fom = m_analysis->run(get_settings(), m_collect);
    m_running = false;
    // The edges just timed are handed out, as the host's analyser does.
    m_tdb->create_vec_of_edges();
    result.m_figure_of_merit = m_fom;
    result.m_worst_slack = m_analysis->get_worst_slack();
    return result;
}

const std::vector<TDC_SUB_DOMAIN_DATA>* TDC_ACCESSORIES::get_sub_domain_data() const
{
    return m_analysis && m_analysis->has_sub_domain_data() ? &m_analysis->get_sub_domain_data() : nullptr;
}

void TDC_ACCESSORIES::release_sub_domain_data()
{
    if (m_analysis) m_analysis->release_sub_domain_data();
}

bool TDC_ACCESSORIES::is_early_timing_enabled() const
{
    return m_early_timing >= 0 ? m_early_timing != 0 : cfg_is_on("tdc_early_timing", true);
}

// ---------------------------------------------------------------- timing assignments

namespace {
bool is_on_value(const std::string& v)
{
    return v == "1" || v == "ON" || v == "on" || v == "On";
}

bool is_cut_from_on(const TDC_TIMING_ASSIGNMENTS& keys)
{
    auto it = keys.find(TDC_ASSIGNMENT_CUT_FROM);
    return it != keys.end() && is_on_value(it->second);
}
}  // namespace

std::string TDC_ACCESSORIES::assignment_target(const CDB_ATOM_OTERM* oterm)
{
    if (!oterm) return {};
    if (const HDB_INSTANCE_NAME* n = oterm->get_instance_name()) return n->get_short_hpath();
    const CDB_ATOM_NODE* node = oterm->get_my_node();
    if (node && node->get_instance_name()) return node->get_instance_name()->get_short_hpath();
    return {};
}

// Only a false path from the target changes what the analysis finds: any
// other assignment is kept for the names, and retiming copies one onto every
// register it makes, which must not re-time the whole netlist at the next
// slack query.
void TDC_ACCESSORIES::assignment_changed(const std::string& target, bool was_cut)
{
    const bool cut = is_target_cut(target);
    if (cut == was_cut) return;
    m_num_cut_from += cut ? 1 : -1;
    if (m_analysis) m_analysis->on_delays_changed();
}

bool TDC_ACCESSORIES::is_target_cut(const std::string& target) const
{
    const TDC_TIMING_ASSIGNMENTS* keys = get_timing_assignments(target);
    return keys != nullptr && is_cut_from_on(*keys);
}

void TDC_ACCESSORIES::set_timing_assignment(const std::string& target, const std::string& key, const std::string& value)
{
    if (target.empty() || key.empty()) return;
    const bool was_cut = is_target_cut(target);
    if (value.empty()) {
        auto it = m_assignments.find(target);
        if (it == m_assignments.end()) return;
        it->second.erase(key);
        if (it->second.empty()) m_assignments.erase(it);
    } else {
        m_assignments[target][key] = value;
    }
    assignment_changed(target, was_cut);
}

const TDC_TIMING_ASSIGNMENTS* TDC_ACCESSORIES::get_timing_assignments(const std::string& target) const
{
    auto it = m_assignments.find(target);
    return it == m_assignments.end() ? nullptr : &it->second;
}

const TDC_TIMING_ASSIGNMENTS* TDC_ACCESSORIES::get_timing_assignments(const CDB_ATOM_OTERM* oterm) const
{
    std::string target = assignment_target(oterm);
    return target.empty() ? nullptr : get_timing_assignments(target);
}

bool TDC_ACCESSORIES::copy_timing_assignments(const std::string& from, const std::string& to)
{
    if (from.empty() || to.empty()) return false;
    if (from == to) return true;
    const bool was_cut = is_target_cut(to);
    auto it = m_assignments.find(from);
    if (it == m_assignments.end()) m_assignments.erase(to);
    else m_assignments[to] = it->second;
    assignment_changed(to, was_cut);
    return true;
}

bool TDC_ACCESSORIES::are_oterms_timing_equivalent(const CDB_ATOM_OTERM* a, const CDB_ATOM_OTERM* b) const
{
    if (!a || !b) return false;
    if (a == b) return true;
    std::string ta = assignment_target(a), tb = assignment_target(b);
    if (!ta.empty() && ta == tb) return true;
    const TDC_TIMING_ASSIGNMENTS* xa = ta.empty() ? nullptr : get_timing_assignments(ta);
    const TDC_TIMING_ASSIGNMENTS* xb = tb.empty() ? nullptr : get_timing_assignments(tb);
    if (!xa || !xb) return !xa && !xb;
    return *xa == *xb;
}

void TDC_ACCESSORIES::clear_timing_assignments()
{
    m_assignments.clear();
    if (m_num_cut_from > 0 && m_analysis) m_analysis->on_delays_changed();
    m_num_cut_from = 0;
}

bool TDC_ACCESSORIES::is_cut_source(const TDB_NODE* keeper) const
{
    std::string target = assignment_target(keeper->get_oterm(true));
    if (target.empty() && m_atoms) {
        const CDB_ATOM_NODE* atom = m_atoms->get_node_by_id((uint32_t)keeper->get_atom_id());
        if (atom && atom->get_instance_name()) target = atom->get_instance_name()->get_short_hpath();
    }
    const TDC_TIMING_ASSIGNMENTS* keys = target.empty() ? nullptr : get_timing_assignments(target);
    return keys && is_cut_from_on(*keys);
}

// ---------------------------------------------------------------- settings

void TDC_ACCESSORIES::set_clock_period_ps(const std::string& clock_name, int ps)
{
    auto it = m_periods.find(clock_name);
    if (it != m_periods.end() && it->second == ps) return;
    m_periods[clock_name] = ps;
    if (m_analysis) m_analysis->on_delays_changed();
}

void TDC_ACCESSORIES::set_default_clock_period_ps(int ps)
{
    if (ps == m_default_period) return;
    m_default_period = ps;
    if (m_analysis) m_analysis->on_delays_changed();
}

void TDC_ACCESSORIES::clear_clock_periods()
{
    m_periods.clear();
    m_default_period = 0;
    if (m_analysis) m_analysis->on_delays_changed();
}

int TDC_ACCESSORIES::get_clock_period_ps(const std::string& name) const
{
    if (auto it = m_periods.find(name); it != m_periods.end()) return it->second;
    std::string key = "tdc_clock_period_ps." + name;
    int per_clock = cfg_get_int_value(key.c_str(), 0);
    if (per_clock > 0) return per_clock;
    int dflt = default_period_setting();
    return dflt > 0 ? dflt : DEFAULT_PERIOD_PS;
}

int TDC_ACCESSORIES::default_period_setting() const
{
    return m_default_period > 0 ? m_default_period : cfg_get_int_value("tdc_clock_period_ps", DEFAULT_PERIOD_PS);
}

TDC_ANALYSIS_SETTINGS TDC_ACCESSORIES::get_settings() const
{
    TDC_ANALYSIS_SETTINGS s;
    s.clock_period_ps = [this](const std::string& name) { return get_clock_period_ps(name); };
    s.input_delay_ps = cfg_get_int_value("tdc_input_delay_ps", 0);
    s.output_delay_ps = cfg_get_int_value("tdc_output_delay_ps", 0);
    s.tpd_requirement_ps =
        cfg_get_int_value("tdc_tpd_requirement_ps", default_period_setting() - s.input_delay_ps - s.output_delay_ps);
    if (m_num_cut_from > 0) s.is_cut_source = [this](const TDB_NODE* keeper) { return is_cut_source(keeper); };
    return s;
}

std::string tdc_clock_name(const TDB_NODE* root, const CDB_ATOM_NETLIST* atoms)
{
    const CDB_ATOM_OTERM* o = root->get_oterm();
    if (!o && root->get_num_of_fanout() > 0) {  // an input pin: its output's node
        const TDB_NODE* n = root->fanout()[0]->get_dst_node();
        if (n->get_atom_id() == root->get_atom_id()) o = n->get_oterm();
    }
    if (o && o->get_instance_name()) return o->get_instance_name()->get_short_hpath();
    const CDB_ATOM_NODE* atom = atoms ? atoms->get_node_by_id((uint32_t)root->get_atom_id()) : nullptr;
    if (atom && atom->get_instance_name()) return atom->get_instance_name()->get_short_hpath();
    return "clock_" + std::to_string(root->get_atom_id());
}

namespace {
std::unique_ptr<TDC_ACCESSORIES>& accessories_slot()
{
    static std::unique_ptr<TDC_ACCESSORIES> slot;
    return slot;
}
}  // namespace

TDC_ACCESSORIES* tdc_get_accessories()
{
    auto& slot = accessories_slot();
    if (!slot) slot = std::make_unique<TDC_ACCESSORIES>();
    return slot.get();
}

void tdc_reset_accessories()
{
    accessories_slot().reset();
}
