// The skew passes on the timing estimator: no timing netlist to edit, so a
// step becomes a clock offset of the register outputs the element drives,
// which the estimator's next analysis applies.

#include <algorithm>
#include <climits>
#include <cstdint>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "nevra/nevra_estimator.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

void MORV_OPT_SKEW::estimator_pass(PASS& pass)
{
    MORV_TIMING::NEVRA* nevra = m_fsyn_timing->get_nevra();
    if (pass.phase == 1) {
        // Every offset goes, whoever gave it.
        if (pass.restore) {
            nevra->clear_all_clock_offsets();
            m_applied_offsets.clear();
        }
        return;
    }
    m_offsets_estimator = nevra;
    m_offsets_restores = m_fsyn_timing->get_netlist_restores();
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        ELEMENT kind;
        bool classified = false;
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            const CDB_ATOM_ITERM* clock = *it;
            if (!is_clock_term(clock) || clock->get_source() == nullptr) continue;
            if (!classified) kind = classify(node, pass.pre_placement);
            classified = true;
            int delta = 0;
            if (!element_delta(node, kind, pass, delta)) continue;
            // A block with several clocks sums the steps of all of them.
            int* skew = skew_slot(node->get_id());
            const int64_t sum = static_cast<int64_t>(*skew == CDB_ILLEGAL_TSM_DELAY ? 0 : *skew) + delta;
            *skew = static_cast<int>(std::clamp<int64_t>(sum, INT_MIN + 1, INT_MAX));
            if (delta == 0) continue;
            pass.add(delta);
            apply_estimator_step(node, kind, clock, delta);
        }
    }
}

// Registers and the registers of a MAC block move by the step; a shift
// register's RAM takes its whole skew, the later clock on its data-in side
// and the earlier one on its output side.
void MORV_OPT_SKEW::apply_estimator_step(CDB_ATOM_NODE* node, const ELEMENT& kind, const CDB_ATOM_ITERM* clock,
                                         int delta)
{
    if (kind.is_sr) {
        const int total = *skew_slot(node->get_id());
        const int observable = CUT_RAM_UTIL::get_observable_port_type(DB_RAM_PORTA_DATAIN);
        if (const CDB_ATOM_OTERM* data_in = node->get_output_term_by_type(observable, 0))
            set_offset(data_in, total > 0 ? total : 0, 0);
        if (const CDB_ATOM_OTERM* data_out = node->get_output_term_by_type(DB_RAM_PORTB_DATAOUT, 0))
            set_offset(data_out, 0, total < 0 ? total : 0);
        return;
    }
    if (kind.is_mac) {
        // Only the registers this clock term clocks.
        const int index = clock->get_port_index();
        if (CUT_MAC_UTIL::get_input_port_clock(node, DB_DATA_A) == index) {
            const CDB_ATOM_OTERM* data_a =
                node->get_output_term_by_type(CUT_MAC_UTIL::get_observable_port_type(DB_DATA_A, false, false), 0);
            MORV_ASSERT_TEXT(data_a != nullptr, "data_a_oterm != NULL");
            add_offset(data_a, delta);
        }
        if (CUT_MAC_UTIL::get_input_port_clock(node, DB_DATA_B) == index) {
            const CDB_ATOM_OTERM* data_b =
                node->get_output_term_by_type(CUT_MAC_UTIL::get_observable_port_type(DB_DATA_B, false, false), 0);
            MORV_ASSERT_TEXT(data_b != nullptr, "data_b_oterm != NULL");
            add_offset(data_b, delta);
        }
        if (CUT_MAC_UTIL::get_output_port_clock(node, DB_DATA_OUT) == index) {
            const CDB_ATOM_OTERM* data_out = node->get_output_term_by_type(DB_DATA_OUT, 0);
            MORV_ASSERT_TEXT(data_out != nullptr, "data_out_oterm != NULL");
            add_offset(data_out, delta);
        }
        return;
    }
    const CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT, 0);
    MORV_ASSERT_TEXT(regout != nullptr, "regout != NULL");
    add_offset(regout, delta);
}

void MORV_OPT_SKEW::add_offset(const CDB_ATOM_OTERM* oterm, int delta)
{
    m_fsyn_timing->get_nevra()->add_clock_offset_to_register(oterm, delta, delta, delta, delta);
    OFFSET_RECORD& record = m_applied_offsets[oterm];
    for (int& value : record.values) value += delta;
}

void MORV_OPT_SKEW::set_offset(const CDB_ATOM_OTERM* oterm, int capture, int launch)
{
    m_fsyn_timing->get_nevra()->set_clock_offset_to_register(oterm, capture, capture, launch, launch);
    OFFSET_RECORD& record = m_applied_offsets[oterm];
    record = OFFSET_RECORD{{capture, capture, launch, launch}, true};
}

// The estimator keeps offsets by the term it was handed; each goes back to
// what it was before this object's first step: added values are taken off,
// absolute ones (a shift register's) cleared. An estimator that replaced
// the one the offsets were given to never had them; a netlist restored
// since took them away with the terms they were given to.
bool MORV_OPT_SKEW::restore_offsets()
{
    MORV_TIMING::NEVRA* nevra = m_fsyn_timing->get_nevra();
    bool changed = false;
    if (nevra != nullptr && nevra == m_offsets_estimator &&
        m_offsets_restores == m_fsyn_timing->get_netlist_restores()) {
        for (const auto& [oterm, record] : m_applied_offsets) {
            const int* v = record.values;
            if (record.set) {
                nevra->set_clock_offset_to_register(oterm, 0, 0, 0, 0);
            } else if (v[0] != 0 || v[1] != 0 || v[2] != 0 || v[3] != 0) {
                nevra->add_clock_offset_to_register(oterm, -v[0], -v[1], -v[2], -v[3]);
            } else {
                continue;
            }
            changed = true;
        }
    }
    m_applied_offsets.clear();
    return changed;
}
