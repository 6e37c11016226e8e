#include "nevra/nevra_estimator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cdb/cdb_atom_netlist.h"
#include "msg/msg.h"
#include "tdb/tdb_atom_builder.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"
#include "tdc/tdc_analysis.h"

#define NEVRA_ASSERT(cond) MSG_ASSERT(cond, "NEVRA")

namespace {
constexpr int NO_FOM = 0x7fffffff;
const char* const DEFAULT_DUMP_FILE = "nevra_timing_data.txt";
}  // namespace

// The builder's delays from the table model.
template <typename TYPES>
class NEVRA_ESTIMATOR<TYPES>::DELAYS : public TDB_DELAY_MODEL
{
public:
    explicit DELAYS(CSU_TABLE_TIMING_MODEL<TYPES>* model) : m_model(model) {}
    int ic_delay(CDB_ATOM_ITERM* iterm, const CDB_ATOM_NODE* src, const CDB_ATOM_NODE*, bool) const override
    {
        return iterm != nullptr && src != nullptr ? m_model->get_ic_delay(iterm) : 0;
    }
    bool ic_follows_placement() const override { return false; }
    int cell_delay(const CDB_ATOM_NODE* atom, int from_port, int to_port) const override
    {
        return m_model->get_cell_delay(atom, from_port, DB_MAX_OUTPUT_PORT_TYPE, to_port, true);
    }
    int tco(const CDB_ATOM_NODE* atom, const CDB_ATOM_OTERM* q) const override
    {
        return q != nullptr ? m_model->get_reg_micro_tco_delay(q, true)
                            : m_model->get_reg_micro_tco_delay(atom, DB_MAX_OUTPUT_PORT_TYPE, true);
    }
    int tsu(const CDB_ATOM_NODE* atom, const CDB_ATOM_OTERM* q) const override
    {
        return q != nullptr ? m_model->get_reg_micro_tsu_delay(q, true)
                            : m_model->get_reg_micro_tsu_delay(atom, DB_MAX_OUTPUT_PORT_TYPE, true);
    }

private:
    CSU_TABLE_TIMING_MODEL<TYPES>* m_model;
};

namespace {

// The edges standing for one input term (none when the term has no node).
template <typename F>
void for_each_edge_of(const TDB_NETLIST* tdb, const CDB_ATOM_ITERM* iterm, F f)
{
    if (tdb == nullptr || iterm == nullptr || iterm->get_my_node() == nullptr) return;
    for (int id : tdb->get_atom_nodes(static_cast<int>(iterm->get_my_node()->get_id())))
        for (TDB_EDGE_COMPOUND_ITER it(tdb->find_node(id), TDB_SELECT_DATA_FANIN | TDB_SELECT_CLOCK_FANIN); !it.done();
             ++it)
            if ((*it)->get_iterm() == iterm) f(*it);
}

}  // namespace

template <typename TYPES>
NEVRA_ESTIMATOR<TYPES>::NEVRA_ESTIMATOR(CSU_TABLE_TIMING_MODEL<TYPES>* model)
    : m_model(model), m_delays(std::make_unique<DELAYS>(model))
{
    NEVRA_ASSERT(model);
}

template <typename TYPES>
NEVRA_ESTIMATOR<TYPES>::~NEVRA_ESTIMATOR()
{
    m_analysis.reset();
    m_builder.reset();
    m_tdb.reset();
}

template <typename TYPES>
void NEVRA_ESTIMATOR<TYPES>::initialize_and_sync_to_netlist(NETLIST* netlist, TDB_NETLIST*, int annotation_mode)
{
    NEVRA_ASSERT(annotation_mode == 0);
    rebuild(netlist);
}

template <typename TYPES>
void NEVRA_ESTIMATOR<TYPES>::rebuild(NETLIST* netlist)
{
    NEVRA_ASSERT(netlist);
    m_analysis.reset();
    m_builder.reset();
    // Ids continue above the old graph's, as in the analyser's rebuilds.
    const int first_node = m_tdb ? m_tdb->get_node_id_bound() : 0;
    const int first_edge = m_tdb ? m_tdb->get_edge_id_bound() : 0;
    m_tdb = std::make_unique<TDB_NETLIST>(first_node, first_edge);
    m_netlist = netlist;
    m_builder = std::make_unique<TDB_ATOM_BUILDER>(m_tdb.get(), netlist, m_delays.get());
    m_builder->build_all();
    m_analysis = std::make_unique<TDC_ANALYSIS>(m_tdb.get());
    m_analysis->set_clock_namer([netlist](const TDB_NODE* root) { return tdc_clock_name(root, netlist); });
    m_has_estimation = false;
}

template <typename TYPES>
void NEVRA_ESTIMATOR<TYPES>::sync_to_netlist(NETLIST* netlist, int annotation_mode,
                                             const std::vector<unsigned>* changed_atom_ids)
{
    NEVRA_ASSERT(annotation_mode == 0);
    if (changed_atom_ids == nullptr || netlist != m_netlist || !m_builder) {
        rebuild(netlist);
        return;
    }
    if (!changed_atom_ids->empty()) m_builder->refresh(*changed_atom_ids);
}

// A block's launch register does not capture: its capture offsets belong to
// the block's capture register.
template <typename TYPES>
const TDB_NODE* NEVRA_ESTIMATOR<TYPES>::capture_keeper_of(const TDB_NODE* keeper) const
{
    if (keeper->get_num_of_fanin() > 0) return keeper;
    for (int id : m_tdb->get_atom_nodes(keeper->get_atom_id())) {
        const TDB_NODE* n = m_tdb->find_node(id);
        if (n->is_keeper() && n->get_num_of_fanin() > 0) return n;
    }
    return nullptr;
}

template <typename TYPES>
void NEVRA_ESTIMATOR<TYPES>::run_timing_estimation(NETLIST* netlist, NEVRA_ESTIMATOR_HOOKS* hooks)
{
    NEVRA_ASSERT(hooks == nullptr);
    if (netlist != m_netlist || !m_analysis) rebuild(netlist);
    // Offsets per timing node: launch from the term's own register, capture
    // at the register that captures for it (the largest when several terms
    // of a block give one).
    std::vector<OFFSETS> offsets;
    const int base = m_tdb->get_node_id_base();
    auto position = [base](const TDB_NODE* node) { return static_cast<size_t>(node->get_id() - base); };
    if (!m_clock_offsets.empty()) {
        offsets.assign(static_cast<size_t>(m_tdb->get_node_id_bound() - m_tdb->get_node_id_base()), OFFSETS{});
        std::vector<char> has_capture(offsets.size(), 0);
        for (const auto& [oterm, values] : m_clock_offsets) {
            const TDB_NODE* keeper = m_tdb->get_tdb_node_from_oterm(oterm);
            if (keeper == nullptr || !keeper->is_keeper()) continue;
            offsets[position(keeper)].launch = values[2];
            const TDB_NODE* capture = capture_keeper_of(keeper);
            if (capture == nullptr) continue;
            const size_t c = position(capture);
            offsets[c].capture = has_capture[c] ? std::max(offsets[c].capture, values[1]) : values[1];
            has_capture[c] = 1;
        }
    }
    TDC_ANALYSIS_SETTINGS settings = tdc_get_accessories()->get_settings();
    if (!offsets.empty())
        settings.clock_offset = [&offsets, &position](const TDB_NODE* keeper, bool launch) {
            const OFFSETS& o = offsets[position(keeper)];
            return launch ? o.launch : o.capture;
        };
    m_figure_of_merit = m_analysis->run(settings, false);
    m_has_estimation = true;
}

template <typename TYPES>
int NEVRA_ESTIMATOR<TYPES>::get_slack_of_connection(const ITERM* iterm) const
{
    int slack = TDB_NO_PATH;
    if (m_has_estimation)
        for_each_edge_of(m_tdb.get(), iterm, [&](const TDB_EDGE* e) { slack = std::min(slack, e->get_slack()); });
    return slack;
}

template <typename TYPES>
float NEVRA_ESTIMATOR<TYPES>::get_slack_ratio_of_connection(const ITERM* iterm) const
{
    float ratio = 1.0f;
    if (m_has_estimation)
        for_each_edge_of(m_tdb.get(), iterm, [&](const TDB_EDGE* e) { ratio = std::min(ratio, e->get_slack_ratio()); });
    return ratio;
}

template <typename TYPES>
int NEVRA_ESTIMATOR<TYPES>::get_delay_of_connection(const ITERM* iterm) const
{
    int delay = 0;
    bool found = false;
    for_each_edge_of(m_tdb.get(), iterm, [&](const TDB_EDGE* e) {
        delay = found ? std::max(delay, e->get_max_ic_delay()) : e->get_max_ic_delay();
        found = true;
    });
    return delay;
}

template <typename TYPES>
int NEVRA_ESTIMATOR<TYPES>::get_figure_of_merit() const
{
    return m_has_estimation ? static_cast<int>(std::trunc(m_figure_of_merit)) : NO_FOM;
}

template <typename TYPES>
bool NEVRA_ESTIMATOR<TYPES>::dump_timing_data(const char* file_name) const
{
    FILE* f = std::fopen(file_name != nullptr ? file_name : DEFAULT_DUMP_FILE, "w");
    if (f == nullptr) return false;
    std::fprintf(f, "figure of merit %d\n", get_figure_of_merit());
    if (m_tdb)
        for (const TDB_EDGE* e : m_tdb->edge_table()) {
            if (e == nullptr || e->get_iterm() == nullptr) continue;
            const CDB_ATOM_ITERM* t = e->get_iterm();
            const CDB_ATOM_OTERM* d = t->get_source();
            std::fprintf(f, "%d ( %d %d ) -> %d ( %d %d ) ic %d cell %d slack %d ratio %.4f\n",
                         d && d->get_my_node() ? static_cast<int>(d->get_my_node()->get_id()) : -1,
                         d ? d->get_any_usage_as() : -1, d ? d->get_port_index() : -1,
                         static_cast<int>(t->get_my_node()->get_id()), t->get_any_usage_as(), t->get_port_index(),
                         e->get_max_ic_delay(), e->get_max_cell_delay(), e->get_slack(),
                         static_cast<double>(e->get_slack_ratio()));
        }
    return std::fclose(f) == 0;
}

template <typename TYPES>
void NEVRA_ESTIMATOR<TYPES>::add_clock_offset_to_register(const OTERM* oterm, int capture_max, int capture_min,
                                                          int launch_max, int launch_min)
{
    NEVRA_ASSERT(oterm);
    std::vector<int>& values = m_clock_offsets[oterm];
    if (values.empty()) values.assign(4, 0);
    values[0] += capture_max;
    values[1] += capture_min;
    values[2] += launch_max;
    values[3] += launch_min;
}

template <typename TYPES>
void NEVRA_ESTIMATOR<TYPES>::set_clock_offset_to_register(const OTERM* oterm, int capture_max, int capture_min,
                                                          int launch_max, int launch_min)
{
    NEVRA_ASSERT(oterm);
    m_clock_offsets[oterm] = {capture_max, capture_min, launch_max, launch_min};
}

template <typename TYPES>
void NEVRA_ESTIMATOR<TYPES>::clear_all_clock_offsets()
{
    m_clock_offsets.clear();
}

template <typename TYPES>
const std::vector<int>* NEVRA_ESTIMATOR<TYPES>::get_clock_offsets(const OTERM* oterm) const
{
    const auto found = m_clock_offsets.find(oterm);
    return found == m_clock_offsets.end() ? nullptr : &found->second;
}

template class NEVRA_ESTIMATOR<CSU_ATOM_NETLIST_TYPES>;

#undef NEVRA_ASSERT
