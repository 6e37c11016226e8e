// The fanouts a backward move meets behind a cell, surveyed once for all
// the registers the cell loads. A register's backward move fails with the
// reason of the last fanout that fails for it: a fanout that fails for
// every register (no register behind it, one that cannot move, a power-up
// value the first register contradicts), or a register of another class.
// When the survey shows the move fails, the reason and the queues the walk
// would fill are set from it; a move that may go ahead is left to the walk,
// which plans it.
#include <algorithm>
#include <functional>
#include <utility>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/rtm/morv_rtm.h"

namespace {

// A traced run names every fanout the walk queues: it takes the walk.
bool tracing_every_step()
{
    const MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
    return stream.is_enabled() && stream.get_threshold() >= 100;
}

void mix(size_t* seed, size_t value)
{
    *seed ^= value + 0x9e3779b97f4a7c15ull + (*seed << 6) + (*seed >> 2);
}

}  // namespace

bool MORV_RTM::settle_backward_fanouts(MORV_RTM_OP* op, CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, MORV_RTM_REG* reg)
{
    if (!m_surveys_allowed || !m_survey_fanouts || tracing_every_step()) return false;
    FANOUT_SURVEY* survey = survey_fanouts(oterm);
    const auto own = survey->m_entry_of.find(reg->m_node);
    if (own == survey->m_entry_of.end()) return false;
    const FANOUT_SURVEY::ENTRY& mine = survey->m_entries[own->second];
    // The record the register was listed with may be older than a commit.
    if (!check_register_compatibility(reg, mine.m_record.get(), nullptr)) return false;
    const FANOUT_SURVEY::ENTRY& last_register = survey->m_entries[static_cast<size_t>(survey->m_last_register)];
    const int incompatible =
        last_register.m_class != mine.m_class ? survey->m_last_register : survey->m_last_other_class;
    const int last = std::max(survey->m_last_fixed_failure, incompatible);
    if (last < 0 && op->is_legal()) return false;
    for (CDB_ATOM_NODE* dest : survey->m_unmovable) queue_register_for_demux(dest);
    if (survey->m_class_records.size() >= 2) queue_node_for_split(node);
    if (last < 0) return true;
    const FANOUT_SURVEY::ENTRY& failing = survey->m_entries[static_cast<size_t>(last)];
    op->m_failure_reason = last == incompatible ? incompatible_reason(reg, failing.m_record.get()) : failing.m_reason;
    return true;
}

MORV_RTM::FANOUT_SURVEY* MORV_RTM::survey_fanouts(CDB_ATOM_OTERM* oterm)
{
    MORV_OWNER<FANOUT_SURVEY>& slot = m_fanout_surveys[oterm];
    if (slot) return slot.get();
    slot = MORV_MAKE_OWNER(FANOUT_SURVEY);
    MORV_ASSERT_TEXT(slot, "survey");
    FANOUT_SURVEY* survey = slot.get();
    int first_ic = MORV_RTM_REG_IC_NONE;
    std::unordered_map<size_t, std::vector<int>> buckets;
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it) {
        survey_fanout(survey, *it, &first_ic);
        FANOUT_SURVEY::ENTRY& entry = survey->m_entries.back();
        if (entry.m_record) entry.m_class = classify_record(survey, entry.m_record.get(), &buckets);
    }
    if (survey->m_last_register < 0) return survey;
    const int last_class = survey->m_entries[static_cast<size_t>(survey->m_last_register)].m_class;
    for (int k = survey->m_last_register - 1; k >= 0 && survey->m_last_other_class < 0; --k) {
        const int entry_class = survey->m_entries[static_cast<size_t>(k)].m_class;
        if (entry_class >= 0 && entry_class != last_class) survey->m_last_other_class = k;
    }
    return survey;
}

// What the walk's step learns of one fanout, whoever moves.
void MORV_RTM::survey_fanout(FANOUT_SURVEY* survey, CDB_ATOM_ITERM* fanout, int* first_ic)
{
    ++m_fanouts_examined;
    const int index = static_cast<int>(survey->m_entries.size());
    FANOUT_SURVEY::ENTRY entry;
    bool inverted = false;
    CDB_ATOM_NODE* dest = find_destination_register(fanout, &inverted);
    if (dest == nullptr) {
        entry.m_reason = MORV_RTM_NO_REG_ON_OUTPUT;
    } else if (!is_retimeable_register(dest)) {
        entry.m_reason = MORV_RTM_REG_NO_GOOD;
        survey->m_unmovable.push_back(dest);
    } else {
        const int value = inverted ? MORV_RTM_REG_IC_HIGH : MORV_RTM_REG_IC_LOW;
        if (*first_ic == MORV_RTM_REG_IC_NONE) *first_ic = value;
        else if (*first_ic != value) entry.m_reason = MORV_RTM_BAD_IC;
        entry.m_record = new_lcell_record(dest);
        survey->m_entry_of.emplace(dest, static_cast<size_t>(index));
        survey->m_last_register = index;
    }
    if (entry.m_reason != MORV_RTM_NO_FAILURE) survey->m_last_fixed_failure = index;
    survey->m_entries.push_back(std::move(entry));
}

// Registers with different controls never share a class, so only those of
// one signature are compared.
int MORV_RTM::classify_record(FANOUT_SURVEY* survey, const MORV_RTM_REG* record,
                              std::unordered_map<size_t, std::vector<int>>* buckets) const
{
    std::vector<int>& bucket = (*buckets)[control_signature(record)];
    for (int id : bucket)
        if (check_register_compatibility(survey->m_class_records[static_cast<size_t>(id)], record, nullptr)) return id;
    const int id = static_cast<int>(survey->m_class_records.size());
    survey->m_class_records.push_back(record);
    bucket.push_back(id);
    return id;
}

// Equal for equivalent controls (MORV_RTM_SIGNAL::is_equivalent).
size_t MORV_RTM::control_signature(const MORV_RTM_REG* record) const
{
    size_t seed = 0;
    for (int type : m_register_secondary_signals) {
        const MORV_RTM_SIGNAL* signal = record->get_secondary_signal(type);
        mix(&seed, signal != nullptr ? 1 : 0);
        if (signal == nullptr) continue;
        const MORV_ITERM_PROPERTIES properties = signal->get_iterm_properties();
        mix(&seed, static_cast<size_t>(signal->get_port_type()));
        mix(&seed, std::hash<const void*>()(signal->get_src_oterm()));
        mix(&seed, (signal->is_vcc() ? 1u : 0u) | (signal->is_gnd() ? 2u : 0u) | (properties.inverted ? 4u : 0u));
        mix(&seed, static_cast<size_t>(properties.global_setting));
        mix(&seed, static_cast<size_t>(properties.boundary_port_id));
    }
    return seed;
}
