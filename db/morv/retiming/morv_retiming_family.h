#pragma once

// The retiming classes the families build for algorithm id 0 ("RTM"). Each
// carries its family's constants (LUT rotation delay, the largest slack a
// critical input may have, the weight of the netlist-wide slack term) and
// its pass schedule; everything else is its branch's. ZEPLA and TEV sit on
// the 4-LUT branch; BRK, KESTLIN, RZK and OBRAN on the 6-LUT branch, where
// the inverter and buffer cells follow the family's LUT-mask bit order.

#include <cstdint>

#include "morv/retiming/morv_retiming_4lut.h"
#include "morv/retiming/morv_retiming_6lut.h"

class MORV_TIMING;

// Parameter keys the family classes read.
#define MORV_RTM_PARAM_ROTATION_FACTOR "RF"
#define MORV_RTM_PARAM_TRADE "TRADE"

// The rotation delay in single precision times the factor, truncated
// toward zero.
int morv_retiming_max_critical_slack(int rotation_delay_ps, float rotation_factor);

// The delay a LUT saves by moving a signal from its slowest input
// (DB_DATA_A) to its fastest (last_port); 0 when the device model has no
// delay for either.
int morv_retiming_lut_rotation_delay(const MORV_TIMING* timing, int cell_kind, int last_port);

// The per-pass defaults. Schedule A keeps a user's SRT; schedule B (ZEPLA,
// TEV and MRL) uses 0.05 from pass 2 on whatever was given.
enum MORV_RETIMING_SCHEDULE : int
{
    MORV_RETIMING_SCHEDULE_A = 0,
    MORV_RETIMING_SCHEDULE_B = 1,
};
struct MORV_RETIMING_PASS_DEFAULTS
{
    bool backwards = true;
    double slack_ratio_threshold = -1.0;
    int num_iters = -1;
    int hill_climb_iters = -1;
};
// Fills the values of pass that the user left unset (-1); decides the
// direction.
void morv_retiming_pass_defaults(MORV_RETIMING_SCHEDULE schedule, int pass, MORV_RETIMING_PASS_DEFAULTS& values);
// The same on the fields a family class runs its pass with.
void morv_retiming_apply_pass_defaults(MORV_RETIMING_SCHEDULE schedule, int pass, bool& backwards,
                                       double& slack_ratio_threshold, int& num_iters, int& hill_climb_iters);

// What the constructor of every family class reads and logs.
struct MORV_RETIMING_FAMILY_CONSTANTS
{
    float rotation_factor = 4.0f;
    int rotation_delay = 0;
    int max_critical_slack = 0;
    double trade = 50.0;
};

// ---------------------------------------------------------------- 4-LUT families

class MORV_RETIMING_4LUT_FAMILY : public MORV_RETIMING_4LUT
{
public:
    ~MORV_RETIMING_4LUT_FAMILY() override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;

    const MORV_RETIMING_FAMILY_CONSTANTS& get_family_constants() const { return m_constants; }
    int get_max_critical_slack() const { return m_max_critical_slack; }
    double get_trade() const { return m_trade; }
    bool is_retiming_backwards() const { return m_retime_backwards; }

protected:
    // family: the lower-case name of the log lines.
    MORV_RETIMING_4LUT_FAMILY(MORV_API* api, const MORV_PARAMETER_MAP* params, const char* family);

private:
    const char* m_family;
    MORV_RETIMING_FAMILY_CONSTANTS m_constants;
};

class MORV_RETIMING_ZEPLA : public MORV_RETIMING_4LUT_FAMILY
{
public:
    MORV_RETIMING_ZEPLA(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_lcell_comb(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name) override;
};

class MORV_RETIMING_TEV : public MORV_RETIMING_4LUT_FAMILY
{
public:
    MORV_RETIMING_TEV(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_lcell_comb(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name) override;
};

// ---------------------------------------------------------------- 6-LUT families

class MORV_RETIMING_6LUT_FAMILY : public MORV_RETIMING_6LUT
{
public:
    ~MORV_RETIMING_6LUT_FAMILY() override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    bool is_inverter_lut(CDB_ATOM_NODE* node) override;
    void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) override;
    void insert_buffer_lcell(CDB_ATOM_ITERM* iterm) override;

    // The family's combinational cell, unplaced and unconnected.
    virtual CDB_ATOM_NODE* create_family_lcell_comb(HDB_INSTANCE_NAME* name) = 0;

    const MORV_RETIMING_FAMILY_CONSTANTS& get_family_constants() const { return m_constants; }
    int get_max_critical_slack() const { return m_max_critical_slack; }
    double get_trade() const { return m_trade; }
    bool is_retiming_backwards() const { return m_retime_backwards; }
    // The masks of a one-input cell on DB_DATA_A in the family's bit order.
    uint64_t get_inverter_mask() const;
    uint64_t get_buffer_mask() const;

protected:
    // timed_rotation: the LUT rotation delay comes from the device model;
    // otherwise it is 0 (and so is the largest critical slack).
    MORV_RETIMING_6LUT_FAMILY(MORV_API* api, const MORV_PARAMETER_MAP* params, const char* family,
                              bool timed_rotation = true);

private:
    // Bit 0 of a mask is the output for every input at 1 when the family
    // reverses its mask bits, else for every input at 0.
    // A one-input cell on DB_DATA_A next to base_node that reads the term's
    // former source and now drives the term; the term keeps its inversion.
    void insert_wire_cell(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* base_node, uint64_t mask);

    const char* m_family;
    bool m_mask_bits_reversed;
    MORV_RETIMING_FAMILY_CONSTANTS m_constants;
};

class MORV_RETIMING_BRK : public MORV_RETIMING_6LUT_FAMILY
{
public:
    MORV_RETIMING_BRK(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_family_lcell_comb(HDB_INSTANCE_NAME* name) override;
};

class MORV_RETIMING_KESTLIN : public MORV_RETIMING_6LUT_FAMILY
{
public:
    MORV_RETIMING_KESTLIN(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_family_lcell_comb(HDB_INSTANCE_NAME* name) override;
};

class MORV_RETIMING_RZK : public MORV_RETIMING_6LUT_FAMILY
{
public:
    MORV_RETIMING_RZK(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_family_lcell_comb(HDB_INSTANCE_NAME* name) override;
};

class MORV_RETIMING_OBRAN : public MORV_RETIMING_6LUT_FAMILY
{
public:
    MORV_RETIMING_OBRAN(MORV_API* api, const MORV_PARAMETER_MAP* params);
    CDB_ATOM_NODE* create_family_lcell_comb(HDB_INSTANCE_NAME* name) override;
};

// ---------------------------------------------------------------- UVO

// The LUT masks of the UVO demuxer (DB_DATA_A is bit 0).
uint64_t morv_retiming_uvo_control_mask(bool clear, bool enable);
uint64_t morv_retiming_uvo_sload_mask(bool inverted_load);

// Retiming on UVO, whose logic cell holds a 4-input LUT and an optional
// packed register in one atom: the hooks pack registers into cells, unpack
// them into new cells and move them between cells where the other families
// create and delete register atoms. The queries are in
// morv_retiming_uvo_query.cpp, the power-up values in
// morv_retiming_uvo_ic.cpp and the edits in morv_retiming_uvo_edit.cpp.
//
// A LUT sees on an input its source exclusive-or the input's inversion bit,
// and a packed register stores what its LUT computes (or its synchronous
// data when the synchronous load is tied high): every hook reads values that
// way, so no move loses an inversion bit.
class MORV_RETIMING_UVO : public MORV_RETIMING
{
public:
    static constexpr uint64_t s_INVERTER_MASK = 0x5555;
    static constexpr uint64_t s_BUFFER_MASK = 0xAAAA;

    MORV_RETIMING_UVO(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_RETIMING_UVO() override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;

    // ---- family hooks
    void collect_carry_chain_cone(CDB_ATOM_NODE* node, RETIME_NODE_SET& cone) override;
    void collect_fanin_cone(CDB_ATOM_NODE* node, int port_type, RETIME_NODE_SET& cone, int depth) override;
    void queue_for_demux(CDB_ATOM_NODE* node) override;
    int run_demuxer() override;
    bool is_lutout_feeding_regout(CDB_ATOM_NODE* node) override;
    bool get_lutout_register(CDB_ATOM_NODE* node, RETIME_REG& reg) override;
    CDB_ATOM_OTERM* get_secondary_output_term(CDB_ATOM_NODE*) override { return nullptr; }
    CDB_ATOM_OTERM* get_hsadder_output_term(CDB_ATOM_NODE*) override { return nullptr; }
    CDB_ATOM_OTERM* backward_push_get_reg(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, bool flag) override;
    bool create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                bool& share_low_ret) override;
    void get_forward_push_ports(CDB_ATOM_NODE* node, int& count, int* port_types) override;
    bool is_free_data_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type) override;
    bool is_excluded_iterm(CDB_ATOM_ITERM* iterm) override;
    bool get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg) override;
    bool create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                 bool& share_low_ret) override;
    bool is_push_allowed(CDB_ATOM_NODE* node) override;
    bool has_extra_input(CDB_ATOM_NODE* node) override;
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
    void insert_buffer_lcell(CDB_ATOM_ITERM* iterm) override;
    void delete_node(CDB_ATOM_NODE* node) override;
    bool has_critical_input(CDB_ATOM_NODE* node) override;
    bool oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool threshold) override;

    // The forward-push filter of a fanin register; logs the refusal.
    bool is_forward_push_candidate(CDB_ATOM_ITERM* iterm);

    const MORV_RETIMING_FAMILY_CONSTANTS& get_family_constants() const { return m_constants; }
    int get_max_critical_slack() const { return m_max_critical_slack; }
    double get_trade() const { return m_trade; }
    bool is_retiming_backwards() const { return m_retime_backwards; }
    double get_slack_ratio_threshold() const { return m_slack_ratio_threshold; }

protected:
    // The register of a LUT input, for the backward push: the cell's packed
    // register behind a wire LUT, or behind its synchronous data.
    CDB_ATOM_OTERM* get_lcell_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg);
    // The value (0 or 1) the LUT reads on its input of port when what drives
    // the input powers up to 0: the inversion bit of a driven input, the
    // logical value of a constant, 0 for an unconnected input.
    unsigned power_up_value(CDB_ATOM_NODE* node, int port);

    // ---- power-up searches (morv_retiming_uvo_ic.cpp)
    bool search_lut(CDB_ATOM_NODE* node, const RETIME_REG& reg);
    bool search_carry(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret);
    // Records a register on the input so that the LUT reads seen at power-up.
    void plan_input(CDB_ATOM_NODE* node, const RETIME_REG& reg, int port, unsigned seen);

    // ---- edits (morv_retiming_uvo_edit.cpp)
    void release_register_inputs(CDB_ATOM_NODE* node);
    void hand_synch_data_to_readers(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* regout);
    void strip_register_controls(CDB_ATOM_NODE* node);
    void drop_register_part(CDB_ATOM_NODE* node);
    void turn_synch_data_into_data_c(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* sdata);
    CDB_ATOM_OTERM* ensure_combout(CDB_ATOM_NODE* node);
    CDB_ATOM_OTERM* pack_register(CDB_ATOM_NODE* node, const RETIME_REG& reg, const char* suffix);
    CDB_ATOM_NODE* create_register_cell(CDB_ATOM_NODE* loc_node, const RETIME_REG& reg, uint64_t mask,
                                        CDB_ATOM_ITERM*& data_a);
    CDB_ATOM_NODE* unpack_register(CDB_ATOM_NODE* node);
    // Complements the LUT of a cell whose packed register is to store the
    // complement; the carry mask of an arithmetic cell is written back.
    void complement_lut(CDB_ATOM_NODE* node);
    CDB_ATOM_OTERM* find_reusable_register(const RETIME_ITERM& retime_iterm);
    CDB_ATOM_OTERM* reuse_or_pack_source(const RETIME_ITERM& retime_iterm);
    bool fits_chain_registers(CDB_ATOM_NODE* cell, const RETIME_REG& reg);
    CDB_ATOM_OTERM* find_vcc_register(const RETIME_ITERM& retime_iterm);
    bool holds_vcc_register(CDB_ATOM_NODE* cell, const RETIME_REG& reg);
    CDB_ATOM_OTERM* find_register_to_reuse(const RETIME_ITERM& retime_iterm);
    void store_complement_in_source(CDB_ATOM_NODE* src_node, CDB_ATOM_OTERM* combout, CDB_ATOM_ITERM* term);
    void create_inserted_register(const RETIME_ITERM& retime_iterm);
    CDB_ATOM_NODE* insert_wire_cell(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* base_node, uint64_t mask);
    void write_lutmask(CDB_ATOM_NODE* node, uint64_t mask);

    // ---- demux (morv_retiming_uvo_demux.cpp)
    bool has_critical_data_input(CDB_ATOM_NODE* node);
    // Both answer whether the cell was rebuilt; a refusal changes nothing.
    bool create_sload_mux(CDB_ATOM_NODE* node);
    bool create_control_mux(CDB_ATOM_NODE* node);
    bool allows_sload_mux(CDB_ATOM_NODE* node);
    CDB_ATOM_OTERM* move_lut_to_duplicate(CDB_ATOM_NODE* node);
    CDB_ATOM_ITERM* free_lut_input(CDB_ATOM_NODE* node, int port);
    void release_synch_data(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* sdata);
    void move_control_to_lut(CDB_ATOM_ITERM* control, CDB_ATOM_ITERM* lut_input);
    void feed_control_mux_data(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* data_a);
    bool control_mux_inputs(CDB_ATOM_NODE* node, bool& enable_used, bool& clear_used);
    void retire_demuxed_register(CDB_ATOM_NODE* node);

private:
    MORV_RETIMING_FAMILY_CONSTANTS m_constants;
};
