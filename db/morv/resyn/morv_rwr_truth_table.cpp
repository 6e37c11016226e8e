#include "morv/resyn/morv_rwr_truth_table.h"

#include <utility>

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"

MORV_RWR_TRUTH_TABLE::MORV_RWR_TRUTH_TABLE(uint64_t mask_a, uint64_t mask_b, int port_ab, int shared_a, int shared_b,
                                           int lut_size, int mask_bits, bool reversed_bits, bool invert_ab)
    : m_mask_a(mask_a), m_mask_b(mask_b), m_port_ab(port_ab), m_shared_a(shared_a), m_shared_b(shared_b),
      m_lut_size(lut_size), m_mask_bits(mask_bits), m_reversed_bits(reversed_bits), m_invert_ab(invert_ab)
{
    MORV_ASSERT((lut_size == 4 && mask_bits == 16) || (lut_size == 6 && mask_bits == 64));
    MORV_ASSERT(port_ab >= 0 && port_ab < lut_size);
    MORV_ASSERT(shared_a >= 0 && shared_a <= s_NO_SHARED && shared_b >= 0 && shared_b <= s_NO_SHARED);
    for (int i = 0; i < m_mask_bits; ++i)
        for (int j = 0; j < m_mask_bits; ++j) m_entries[i * m_mask_bits + j] = static_cast<uint8_t>(get_entry(i, j));
}

bool MORV_RWR_TRUTH_TABLE::has_reversed_bits(MORV_API* api)
{
    MORV_ASSERT(api);
    return morv_family_traits(api->get_base_family_code()).m_mask_bits_reversed;
}

bool MORV_RWR_TRUTH_TABLE::output(uint64_t mask, int combination) const
{
    const int bit = m_reversed_bits ? 63 - combination : combination;
    return ((mask >> bit) & 1u) != 0;
}

void MORV_RWR_TRUTH_TABLE::set_output(uint64_t& mask, int combination) const
{
    const int bit = m_reversed_bits ? 63 - combination : combination;
    mask |= uint64_t(1) << bit;
}

uint32_t MORV_RWR_TRUTH_TABLE::get_entry(int i, int j) const
{
    // An index of 6 reads as 0 on both sides, so no shared signal never
    // gives a combination that cannot occur.
    const int shared_a = m_shared_a < s_NO_SHARED ? (i >> m_shared_a) & 1 : 0;
    const int shared_b = m_shared_b < s_NO_SHARED ? (j >> m_shared_b) & 1 : 0;
    if (shared_a != shared_b) return 3;
    const int a = (output(m_mask_a, i) ? 1 : 0) ^ (m_invert_ab ? 1 : 0);
    const int j_prime = (j & ~(1 << m_port_ab)) | (a << m_port_ab);
    return 1u + (output(m_mask_b, j_prime) ? 1u : 0u);
}

void MORV_RWR_TRUTH_TABLE::swap_ports(int port_a, int port_b)
{
    MORV_ASSERT_TEXT(port_a >= 0 && port_a <= 5, "port_a >= 0 && port_a <= 5");
    MORV_ASSERT_TEXT(port_b >= 0 && port_b <= 5 && port_b != m_port_ab,
                     "port_b >= 0 && port_b <= 5 && port_b != m_port_ab");
    // Exchanging two index bits pairs every position with its image; each
    // pair is swapped once, from the side whose node_a bit is set.
    const int bit_a = 1 << (m_lut_size + port_a);
    const int bit_b = 1 << port_b;
    const int size = m_mask_bits * m_mask_bits;
    for (int x = 0; x < size; ++x) {
        if ((x & bit_a) == 0 || (x & bit_b) != 0) continue;
        std::swap(m_entries[x], m_entries[(x & ~bit_a) | bit_b]);
    }
}

bool MORV_RWR_TRUTH_TABLE::decompose(uint64_t& mask_a, uint64_t& mask_b) const
{
    uint8_t classes[2][s_MAX_MASK_BITS];
    int num_classes = 0;
    uint64_t new_mask_a = 0;
    for (int i = 0; i < m_mask_bits; ++i) {
        const uint8_t* row = &m_entries[i * m_mask_bits];
        int taken = -1;
        for (int c = 0; c < num_classes && taken < 0; ++c) {
            bool fits = true;
            for (int j = 0; j < m_mask_bits && fits; ++j) fits = (row[j] & classes[c][j]) != 0;
            if (!fits) continue;
            for (int j = 0; j < m_mask_bits; ++j) classes[c][j] &= row[j];
            taken = c;
        }
        if (taken < 0) {
            if (num_classes == 2) return false;
            for (int j = 0; j < m_mask_bits; ++j) classes[num_classes][j] = row[j];
            taken = num_classes++;
        }
        // node_b reads the inverse of node_a's output when its input inverts.
        if ((taken == 1) != m_invert_ab) set_output(new_mask_a, i);
    }
    mask_a = new_mask_a;
    mask_b = build_mask_b(classes[0], classes[num_classes == 2 ? 1 : 0]);
    return true;
}

uint64_t MORV_RWR_TRUTH_TABLE::build_mask_b(const uint8_t* class0, const uint8_t* class1) const
{
    uint64_t mask = 0;
    for (int j = 0; j < m_mask_bits; ++j) {
        const uint8_t* cls = ((j >> m_port_ab) & 1) == 0 ? class0 : class1;
        if (cls == class0)
            MORV_ASSERT_TEXT(class0[j] >= 1 && class0[j] <= 3, "mask_b0[mod_i] >= 1 && mask_b0[mod_i] <= 3");
        else MORV_ASSERT_TEXT(class1[j] >= 1 && class1[j] <= 3, "mask_b1[mod_i] >= 1 && mask_b1[mod_i] <= 3");
        if (cls[j] == 2) set_output(mask, j);
    }
    return mask;
}
