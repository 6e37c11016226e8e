#pragma once

// The composite function of a LUT pair (node_a driving input port_ab of
// node_b) as a table over the input combinations of both LUTs, so that the
// rewiring searches can exchange inputs between the two by permuting the
// table and ask whether the result still splits into two LUT masks.
//
// Entry (i, j) holds the values node_b's output may take for combination i
// of node_a and combination j of node_b: 1 = 0, 2 = 1, 3 = either (the
// combination cannot occur because two inputs carry one signal). The table
// is a value object built on the search's stack; exchanges and their undo
// permute it in place without allocating.

#include <cstdint>

class MORV_API;

class MORV_RWR_TRUTH_TABLE
{
public:
    // Index of a shared input when the pair shares no signal.
    static constexpr int s_NO_SHARED = 6;
    static constexpr int s_MAX_MASK_BITS = 64;

    // invert_ab: node_b's input at port_ab reads node_a's output inverted.
    // reversed_bits: the family holds combination c in mask bit 63 - c.
    MORV_RWR_TRUTH_TABLE(uint64_t mask_a, uint64_t mask_b, int port_ab, int shared_a, int shared_b, int lut_size,
                         int mask_bits, bool reversed_bits, bool invert_ab = false);
    MORV_RWR_TRUTH_TABLE(const MORV_RWR_TRUTH_TABLE&) = default;
    MORV_RWR_TRUTH_TABLE& operator=(const MORV_RWR_TRUTH_TABLE&) = default;

    // The family's bit order, from the facade's base family.
    static bool has_reversed_bits(MORV_API* api);

    // The entry the masks give for combination i of node_a and j of node_b.
    uint32_t get_entry(int i, int j) const;
    // The entry as the exchanges have left it.
    uint32_t entry(int i, int j) const { return m_entries[i * m_mask_bits + j]; }
    // Exchanges data input port_a of node_a with data input port_b of
    // node_b; doing it twice restores the table.
    void swap_ports(int port_a, int port_b);
    // Splits the rows into at most two classes, first fit in row order; the
    // class index of a row is node_a's new output for it.
    bool decompose(uint64_t& mask_a, uint64_t& mask_b) const;
    // node_b's mask that reads class0 where node_a outputs 0, else class1.
    uint64_t build_mask_b(const uint8_t* class0, const uint8_t* class1) const;

    int get_port_ab() const { return m_port_ab; }
    int get_lut_size() const { return m_lut_size; }
    int get_mask_bits() const { return m_mask_bits; }

private:
    bool output(uint64_t mask, int combination) const;
    void set_output(uint64_t& mask, int combination) const;

    uint64_t m_mask_a;
    uint64_t m_mask_b;
    int m_port_ab;
    int m_shared_a;
    int m_shared_b;
    int m_lut_size;
    int m_mask_bits;
    bool m_reversed_bits;
    bool m_invert_ab;
    uint8_t m_entries[s_MAX_MASK_BITS * s_MAX_MASK_BITS];
};
