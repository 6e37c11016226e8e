#pragma once
// The host's table timing model: typical delays of a device family, looked
// up by the atom ports they join, for timing before (or without) routing.
//
// Three tables per family: interconnect (source atom type and port to sink
// atom type and port), cell (through an atom from an input port to an
// output) and register micro-timing (tsu and tco of a register output).
// They come from the timing-data source the host installed (the fitter
// component's exported tables); the model keeps its own copy of the
// interconnect table, which its owner may change row by row without
// touching anybody else's.
//
// Look-ups of a key the tables lack: interconnect answers the family's
// constant interconnect delay; cell and register delays answer the current
// device's own model (the numbers the timing analyser uses).

#include <cstdint>
#include <vector>

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

struct CSU_IC_TIMING_ELEMENT
{
    int32_t m_src_atom_type;
    int32_t m_src_port_type;
    int32_t m_dst_atom_type;
    int32_t m_dst_port_type;
    int32_t m_delay;
    int32_t m_delay_2;  // the delay the model answers

    bool operator==(const CSU_IC_TIMING_ELEMENT& o) const;  // the four key fields
    bool operator<(const CSU_IC_TIMING_ELEMENT& o) const;
};

struct CSU_CELL_TIMING_ELEMENT
{
    int32_t m_atom_type;
    int32_t m_variant;
    int32_t m_input_port_type;
    int32_t m_output_port_type;
    int32_t m_output_port_type_2;
    int32_t m_delay;

    bool operator==(const CSU_CELL_TIMING_ELEMENT& o) const;  // the five key fields
    bool operator<(const CSU_CELL_TIMING_ELEMENT& o) const;   // ports, then the variant
};

struct CSU_REG_MICRO_TIMING_ELEMENT
{
    int32_t m_atom_type;
    int32_t m_port_type;
    int32_t m_tsu;
    int32_t m_tco;

    bool operator==(const CSU_REG_MICRO_TIMING_ELEMENT& o) const;
    bool operator<(const CSU_REG_MICRO_TIMING_ELEMENT& o) const;
};

// Where the tables come from (the component's exported table functions).
class CSU_TIMING_DATA_SOURCE
{
public:
    virtual ~CSU_TIMING_DATA_SOURCE() = default;
    virtual int get_timing_family(int dev_family) const = 0;
    virtual int get_timing_device(int dev_device) const = 0;
    virtual std::vector<CSU_IC_TIMING_ELEMENT> get_ic_rows(int family, int device, bool variant) const = 0;
    virtual std::vector<CSU_CELL_TIMING_ELEMENT> get_cell_rows(int family, int device) const = 0;
    virtual std::vector<CSU_REG_MICRO_TIMING_ELEMENT> get_reg_micro_rows(int family, int device) const = 0;
    virtual int get_ic_constant_delay(int family, int device, bool variant) const = 0;
};

// Installs the process-wide source (not owned; null removes it). Without a
// source every model is the constant one.
void csu_set_timing_data_source(const CSU_TIMING_DATA_SOURCE* source);
const CSU_TIMING_DATA_SOURCE* csu_get_timing_data_source();

// The atom netlist's types, the one netlist the models work over.
struct CSU_ATOM_NETLIST_TYPES
{
    using NETLIST = CDB_ATOM_NETLIST;
    using NODE = CDB_ATOM_NODE;
    using ITERM = CDB_ATOM_ITERM;
    using OTERM = CDB_ATOM_OTERM;
};

template <typename TYPES>
class CSU_TABLE_TIMING_MODEL
{
public:
    using NODE = typename TYPES::NODE;
    using ITERM = typename TYPES::ITERM;
    using OTERM = typename TYPES::OTERM;

    // Constant delays until initialize.
    CSU_TABLE_TIMING_MODEL();
    CSU_TABLE_TIMING_MODEL(const CSU_TABLE_TIMING_MODEL&) = delete;
    CSU_TABLE_TIMING_MODEL& operator=(const CSU_TABLE_TIMING_MODEL&) = delete;

    // ---- virtual operations, in slot order. The tables hold one delay per
    // key; the bool (the larger of a delay's transitions) selects nothing.
    // Interconnect delay of the connection into iterm; 0 when it has none.
    virtual int get_ic_delay(ITERM* iterm);
    virtual int get_cell_delay(const NODE* node, int input_port, int output_port, int output_port_2, bool max_delay);
    virtual int get_cell_delay(const NODE* node, const ITERM* iterm, const OTERM* oterm, const OTERM* oterm_2,
                               bool max_delay);
    virtual int get_reg_micro_tsu_delay(const NODE* node, int output_port, bool max_delay);
    virtual int get_reg_micro_tsu_delay(const OTERM* oterm, bool max_delay);
    virtual int get_reg_micro_tco_delay(const NODE* node, int output_port, bool max_delay);
    virtual int get_reg_micro_tco_delay(const OTERM* oterm, bool max_delay);
    virtual ~CSU_TABLE_TIMING_MODEL();

    // Loads the family's tables from the installed source. The name-pattern
    // flag is kept for the caller; ic_variant picks between a family's two
    // interconnect tables; verbose reports the table sizes. False (constant
    // model) without a source or tables.
    bool initialize(int dev_family, int dev_device, bool name_pattern, bool ic_variant, bool verbose);
    bool is_initialized() const { return m_initialized; }
    bool get_name_pattern() const { return m_name_pattern; }
    int get_timing_family() const { return m_timing_family; }

    // The element of that key with its delay (the family's constant delay
    // when the table lacks the key).
    CSU_IC_TIMING_ELEMENT get_ic_delay(const CSU_IC_TIMING_ELEMENT& key) const;
    // The model's own interconnect rows, in ascending key order.
    int get_ic_timing_data_size() const { return static_cast<int>(m_ic.size()); }
    const CSU_IC_TIMING_ELEMENT& get_ic_timing_data(int row) const;
    // Both delays of a row; the order of the rows does not change.
    void modify_ic_timing_data(int row, int delay);
    int get_ic_constant_delay() const { return m_ic_constant; }
    int get_cell_timing_data_size() const { return static_cast<int>(m_cell.size()); }
    int get_reg_micro_timing_data_size() const { return static_cast<int>(m_reg_micro.size()); }

private:
    int device_cell_delay(const NODE* node, int input_port, int output_port) const;
    int device_register_delay(const NODE* node, bool tco) const;
    const CSU_REG_MICRO_TIMING_ELEMENT* find_reg_micro(const NODE* node, int output_port) const;

    std::vector<CSU_IC_TIMING_ELEMENT> m_ic;  // the model's copy
    std::vector<CSU_CELL_TIMING_ELEMENT> m_cell;
    std::vector<CSU_REG_MICRO_TIMING_ELEMENT> m_reg_micro;
    int m_timing_family = 0;
    int m_ic_constant = 500;
    bool m_name_pattern = false;
    bool m_initialized = false;
};

extern template class CSU_TABLE_TIMING_MODEL<CSU_ATOM_NETLIST_TYPES>;
