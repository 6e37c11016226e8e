#pragma once

// The canonical form of one logic-cell output: the Boolean function it
// computes, the signals it reads and the register controls it depends on,
// independent of the order in which the cell's inputs happen to be wired.
// Two outputs whose forms compare equal compute the same function of the
// same signals; the net utility groups a netlist's outputs by it. An output
// that cannot be canonicalised gets a form equal only to forms of its own
// cell (and, for UVO, its own output).
//
// The table is the function's own: entry k is the value for the input
// assignment k (bit i of k is input i), whatever bit order the family keeps
// its masks in. An input's value is the signal as the LUT reads it, so an
// input is listed with whether the cell reads its source complemented (an
// inverted term or an inverting port). Inputs tied to a constant or left
// unconnected are folded into the table with the value the cell reads.

#include <cstdint>
#include <vector>

class MORV_API;
class MORV_NET_UTIL;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

class MORV_CANONICAL_NODE_INFO
{
public:
    MORV_CANONICAL_NODE_INFO(MORV_API* api, CDB_ATOM_OTERM* oterm);
    virtual ~MORV_CANONICAL_NODE_INFO() {}
    MORV_CANONICAL_NODE_INFO(const MORV_CANONICAL_NODE_INFO&) = delete;
    MORV_CANONICAL_NODE_INFO& operator=(const MORV_CANONICAL_NODE_INFO&) = delete;

    // True when this form orders before other (a form of the same variant).
    virtual bool compare(const MORV_CANONICAL_NODE_INFO* other) const = 0;

    CDB_ATOM_OTERM* get_oterm() const { return m_oterm; }
    bool is_canonicalised() const { return m_unique_id == 0; }
    const std::vector<CDB_ATOM_OTERM*>& get_inputs() const { return m_inputs; }
    const std::vector<bool>& get_input_inverted() const { return m_input_inverted; }
    bool get_truth_table_entry(int k) const;

    // Up to 7 inputs: the widest function is a UVO cell's LUT with the
    // register's three synchronous inputs.
    static constexpr int MAX_INPUTS = 7;

protected:
    // One input while the form is built: the source read (null: none) and
    // whether it is read complemented.
    struct ENTRY
    {
        CDB_ATOM_OTERM* source = nullptr;
        bool inverted = false;
    };
    __extension__ typedef unsigned __int128 TABLE;

    // The output is not canonicalised: equal only to forms of its own cell.
    void make_unique(CDB_ATOM_NODE* node);
    // Input i of n reads the term: its source, or the constant the cell
    // reads when it has none (a missing term reads 0).
    void read_input(CDB_ATOM_ITERM* iterm, int i, int n, ENTRY* entries);
    // The function with input i held at value: a constant input.
    void fix_input(int i, int value, int n);
    bool depends_on(int i, int n) const;
    void swap_inputs(int i, int j, int n);
    // Inputs i and j always carry the same value: the table keeps the rows
    // where they agree and no longer reads j.
    void keep_equal_inputs(int i, int j, int n);
    // The register's next state over data, synchronous data, synchronous
    // load and synchronous clear (inputs first to first + 3), and its controls.
    void read_register(CDB_ATOM_NODE* node, int first, int n, ENTRY* entries);
    // Orders the n entries canonically and keeps the ones the table reads.
    void canonicalise(ENTRY* entries, int n);

    // Shared parts of compare, each -1, 0 or 1.
    int compare_identity(const MORV_CANONICAL_NODE_INFO& other) const;
    int compare_controls(const MORV_CANONICAL_NODE_INFO& other) const;
    int compare_inputs(const MORV_CANONICAL_NODE_INFO& other) const;
    int compare_flags(const MORV_CANONICAL_NODE_INFO& other) const;
    int compare_tables(const MORV_CANONICAL_NODE_INFO& other) const;

    CDB_ATOM_OTERM* m_oterm;
    uint32_t m_unique_id = 0;
    int m_partition_id = -1;
    // A register output never equals a combinational one, whatever drives it.
    bool m_registered = false;
    CDB_ATOM_ITERM* m_clock = nullptr;
    CDB_ATOM_ITERM* m_asynch_data = nullptr;
    CDB_ATOM_ITERM* m_clear = nullptr;
    CDB_ATOM_ITERM* m_asynch_load = nullptr;
    CDB_ATOM_ITERM* m_clock_enable = nullptr;
    TABLE m_truth_table = 0;
    std::vector<CDB_ATOM_OTERM*> m_inputs;
    std::vector<bool> m_input_inverted;
    MORV_API* m_api;
    MORV_NET_UTIL* m_net_util;
};

// TEV and ZEPLA: 4-input LUTs and separate registers.
class MORV_CANONICAL_NODE_INFO_4LUT : public MORV_CANONICAL_NODE_INFO
{
public:
    MORV_CANONICAL_NODE_INFO_4LUT(MORV_API* api, CDB_ATOM_OTERM* oterm);
    bool compare(const MORV_CANONICAL_NODE_INFO* other) const override;

protected:
    // The 4-LUT and the 6-LUT forms differ only in the LUT they read and in
    // the extended mode the 6-input cells have.
    MORV_CANONICAL_NODE_INFO_4LUT(MORV_API* api, CDB_ATOM_OTERM* oterm, int lut_inputs);

private:
    bool is_canonicalisable(CDB_ATOM_NODE* node, int lut_inputs) const;
    void build_lut(CDB_ATOM_NODE* node, int lut_inputs);
};

// The five 6-input families, each in its own mask bit order.
class MORV_CANONICAL_NODE_INFO_BRK : public MORV_CANONICAL_NODE_INFO_4LUT
{
public:
    MORV_CANONICAL_NODE_INFO_BRK(MORV_API* api, CDB_ATOM_OTERM* oterm);
};

// UVO: a 4-input LUT and a register in one cell.
class MORV_CANONICAL_NODE_INFO_UVO : public MORV_CANONICAL_NODE_INFO
{
public:
    MORV_CANONICAL_NODE_INFO_UVO(MORV_API* api, CDB_ATOM_OTERM* oterm);
    bool compare(const MORV_CANONICAL_NODE_INFO* other) const override;

private:
    int m_output_usage = 0;
};
