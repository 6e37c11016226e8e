// A reference family leaf of the retiming object, kept in the tests so that
// the family-independent engine runs on real netlists before any family
// branch exists: plain 6-input LUT cells and stand-alone registers, no
// carry chains, no extended mode, no demuxer. Registers are edited through
// the object's own term helpers; the power-up value of every register a
// push creates comes from an exhaustive search over the cell's inputs.
//
// Unlike a bare reading of a family's rules, the values the search works
// with are the values the cell's ports see: inversion bits on LUT inputs
// and on a register's data input are part of them, so that a register
// moved across an inverted input keeps its power-up state.
#pragma once

#include <string>
#include <vector>

#include "morv/core/morv_api.h"
#include "morv/retiming/morv_retiming.h"

class CDB_ATOM_NETLIST;
class SCRIPTED_SLACK_SOURCE;

class RETIMING_REF_LEAF : public MORV_RETIMING
{
public:
    // What the leaf counted; pushes are told apart by the hooks the engine
    // calls between two commits.
    struct COUNTS
    {
        int pushes = 0;
        int inverters = 0;
        int registers_created = 0;
        int registers_removed = 0;
    };

    RETIMING_REF_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params, int max_critical_slack = 100);

    // Even passes push backward, odd passes forward.
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;

    // ---- family hooks
    void collect_carry_chain_cone(CDB_ATOM_NODE*, RETIME_NODE_SET&) override {}
    void collect_fanin_cone(CDB_ATOM_NODE*, int, RETIME_NODE_SET&, int) override {}
    void queue_for_demux(CDB_ATOM_NODE*) override {}
    int run_demuxer() override { return 0; }
    bool is_lutout_feeding_regout(CDB_ATOM_NODE*) override { return false; }
    bool get_lutout_register(CDB_ATOM_NODE*, RETIME_REG&) override { return false; }
    CDB_ATOM_OTERM* get_secondary_output_term(CDB_ATOM_NODE*) override { return nullptr; }
    CDB_ATOM_OTERM* get_hsadder_output_term(CDB_ATOM_NODE*) override { return nullptr; }
    CDB_ATOM_OTERM* backward_push_get_reg(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, bool flag) override;
    bool create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                bool& share_low_ret) override;
    void get_forward_push_ports(CDB_ATOM_NODE* node, int& count, int* port_types) override;
    bool is_free_data_input(CDB_ATOM_NODE*, CDB_ATOM_ITERM*, int) override { return false; }
    bool is_excluded_iterm(CDB_ATOM_ITERM*) override { return false; }
    bool get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg) override;
    bool create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                 bool& share_low_ret) override;
    bool is_push_allowed(CDB_ATOM_NODE* node) override;
    bool has_extra_input(CDB_ATOM_NODE*) override { return false; }
    bool is_inverting_wire_lut(CDB_ATOM_NODE* node) override;
    bool is_register_complex(CDB_ATOM_NODE* node, bool flag) override;
    bool has_register_feedback(CDB_ATOM_NODE* node) override;
    void add_retime_iterm(const RETIME_REG& reg, CDB_ATOM_NODE* node, int port_type, bool clear_low) override;
    bool is_inverter_lut(CDB_ATOM_NODE* node) override;
    bool is_retimeable_iterm(CDB_ATOM_ITERM* iterm) override;
    void remove_register(CDB_ATOM_NODE* node) override;
    void disconnect_register(CDB_ATOM_ITERM* iterm) override;
    void add_register_on_output(CDB_ATOM_OTERM* oterm, const RETIME_REG& reg) override;
    void insert_register(const RETIME_ITERM& retime_iterm) override;
    void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) override;
    void insert_buffer_lcell(CDB_ATOM_ITERM*) override {}
    void delete_node(CDB_ATOM_NODE* node) override { m_fsyn_api->delete_node(node); }
    bool has_critical_input(CDB_ATOM_NODE* node) override;
    bool oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool threshold) override;

    // A forward push takes a register in front of this term.
    bool is_forward_push_candidate(CDB_ATOM_ITERM* iterm);

    // ---- test access
    const COUNTS& counts() const { return m_counts; }
    void set_srt(double srt) { m_slack_ratio_threshold = srt; }
    void set_backwards(bool on) { m_retime_backwards = on; }
    // Starts a push by hand, as the engine does before a collection.
    void begin_push();
    const RETIME_ITERM_SET& planned_input_registers() const { return insert_set1; }
    const RETIME_HASH_SET<CDB_ATOM_NODE*>& consumed_registers() const { return delete_set0; }
    const RETIME_ITERM_ORDERED_SET& terms_to_disconnect() const { return m_iterms_to_disconnect; }
    const std::map<CDB_ATOM_OTERM*, RETIME_REG, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>>& planned_output_registers() const
    {
        return m_output_registers;
    }
    const RETIME_NODE_SET& registers_to_check() const { return m_registers_to_check; }
    const RETIME_HASH_SET<CDB_ATOM_NODE*>& new_registers() const { return m_new_registers; }
    int age_of(CDB_ATOM_NODE* node) const;

    // The cell's combinational output for port values by bit (DB_DATA_A is
    // bit 0), unconnected inputs at 0 as the simulator reads them.
    static unsigned evaluate_cell(CDB_ATOM_NODE* node, unsigned index);

private:
    // The register behind a data input that a push may move.
    bool is_movable_register(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* data_input, bool flag);
    // The value the cell must give at power-up so that the register's
    // fanouts read 0 once the register is gone.
    bool target_clear_low(CDB_ATOM_NODE* reg_node, CDB_ATOM_NODE* wire_lut);
    // The first input combination in the engine's order whose output is
    // `value`; -1 when none.
    int search_input_combination(CDB_ATOM_NODE* node, unsigned value);
    // The cell's port values at power-up with the registers in front of it.
    unsigned power_up_inputs(CDB_ATOM_NODE* node);
    CDB_ATOM_NODE* new_register(CDB_ATOM_NODE* model, const RETIME_REG& reg, CDB_ATOM_OTERM*& regout,
                                CDB_ATOM_ITERM*& datain);
    void place_next_to(CDB_ATOM_NODE* model, CDB_ATOM_NODE* node);
    void take_new_register(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* regout, const RETIME_REG& reg, int nt_kind);
    void connect_controls(CDB_ATOM_NODE* node, const RETIME_REG& reg);
    void note_query() { m_committing = false; }
    void note_commit();

    COUNTS m_counts;
    bool m_committing = false;
};

// Slacks of a unit-delay analysis scripted term by term: every LUT cell is
// one level, registers and pins start and end paths, the period is the
// deepest path. Ratios are slack over period; a register's control inputs
// and constant terms are not critical (ratio 1). One level is 100 ps.
void script_unit_delay_slacks(CDB_ATOM_NETLIST& netlist, SCRIPTED_SLACK_SOURCE& slacks);

// The deepest LUT path between sequential points (pins and registers).
int deepest_lut_path(CDB_ATOM_NETLIST& netlist);
