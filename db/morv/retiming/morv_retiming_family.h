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
    bool is_inverting_wire_lut(CDB_ATOM_NODE* node) override;
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
    bool is_mask_inverting(uint64_t mask) const;
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
