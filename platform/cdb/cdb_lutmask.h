#pragma once
// Truth table of a LUT: 2^n bits (n <= 6) of a 64-bit word, bit k being the
// value for input row k. The raw value carries no bit order of its own:
// families that read masks in reverse order do so in their evaluation
// (CDB_ATOM_NODE::evaluate_output); mirror_mask converts between orders.

#include <cstdint>

class CDB_LUTMASK
{
public:
    CDB_LUTMASK() = default;
    CDB_LUTMASK(int num_inputs, uint64_t value) { set_value(num_inputs, value); }

    // Bits above 2^num_inputs are dropped; num_inputs is clamped to 0..6.
    void set_value(int num_inputs, uint64_t value);
    uint64_t get_value() const { return m_value; }
    int get_num_inputs() const { return m_num_inputs; }
    int get_num_rows() const { return 1 << m_num_inputs; }
    static uint64_t full_mask(int num_inputs);

    bool get_bit(int row) const { return (m_value >> row) & 1u; }
    void set_bit(int row, bool value);

    // Reverses the row order: row k becomes row 2^n - 1 - k.
    void mirror_mask();
    // The function of the complemented input k.
    void invert_input(int k);
    // Exchanges inputs i and j.
    void switch_inputs(int i, int j);
    // Complement of the function.
    void complement() { m_value = ~m_value & full_mask(m_num_inputs); }
    CDB_LUTMASK operator~() const;

    // The function with input k fixed to value, still of the same inputs
    // (independent of k); the function itself for an input it does not have.
    CDB_LUTMASK cofactor(int k, bool value) const;
    bool is_independent_of(int k) const;
    // True when the function equals one input (not complemented); which is
    // stored in *input when given.
    bool is_wire(int* input = nullptr) const;
    bool is_gnd() const { return m_value == 0; }
    bool is_vcc() const { return m_value == full_mask(m_num_inputs); }

    bool operator==(const CDB_LUTMASK& o) const { return m_num_inputs == o.m_num_inputs && m_value == o.m_value; }
    bool operator!=(const CDB_LUTMASK& o) const { return !(*this == o); }

private:
    uint64_t m_value = 0;
    int m_num_inputs = 0;
};
