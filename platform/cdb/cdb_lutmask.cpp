#include "cdb/cdb_lutmask.h"

#include <utility>

uint64_t CDB_LUTMASK::full_mask(int n)
{
    if (n >= 6) return ~uint64_t(0);
    if (n <= 0) return 1;
    return (uint64_t(1) << (1 << n)) - 1;
}

void CDB_LUTMASK::set_value(int num_inputs, uint64_t value)
{
    m_num_inputs = num_inputs < 0 ? 0 : (num_inputs > 6 ? 6 : num_inputs);
    m_value = value & full_mask(m_num_inputs);
}

void CDB_LUTMASK::set_bit(int row, bool value)
{
    if (row < 0 || row >= get_num_rows()) return;
    if (value) m_value |= uint64_t(1) << row;
    else m_value &= ~(uint64_t(1) << row);
}

void CDB_LUTMASK::mirror_mask()
{
    const int rows = get_num_rows();
    uint64_t out = 0;
    for (int k = 0; k < rows; ++k)
        if (get_bit(k)) out |= uint64_t(1) << (rows - 1 - k);
    m_value = out;
}

void CDB_LUTMASK::invert_input(int k)
{
    if (k < 0 || k >= m_num_inputs) return;
    const int rows = get_num_rows();
    uint64_t out = 0;
    for (int r = 0; r < rows; ++r)
        if (get_bit(r ^ (1 << k))) out |= uint64_t(1) << r;
    m_value = out;
}

void CDB_LUTMASK::switch_inputs(int i, int j)
{
    if (i == j || i < 0 || j < 0 || i >= m_num_inputs || j >= m_num_inputs) return;
    const int rows = get_num_rows();
    uint64_t out = 0;
    for (int r = 0; r < rows; ++r) {
        int bi = (r >> i) & 1, bj = (r >> j) & 1;
        int src = (r & ~((1 << i) | (1 << j))) | (bj << i) | (bi << j);
        if (get_bit(src)) out |= uint64_t(1) << r;
    }
    m_value = out;
}

CDB_LUTMASK CDB_LUTMASK::operator~() const
{
    CDB_LUTMASK r = *this;
    r.complement();
    return r;
}

CDB_LUTMASK CDB_LUTMASK::cofactor(int k, bool value) const
{
    if (k < 0 || k >= m_num_inputs) return *this;
    CDB_LUTMASK out = *this;
    const int bit = 1 << k;
    for (int r = 0; r < get_num_rows(); ++r) out.set_bit(r, get_bit(value ? (r | bit) : (r & ~bit)));
    return out;
}

bool CDB_LUTMASK::is_independent_of(int k) const
{
    if (k < 0 || k >= m_num_inputs) return true;
    const int rows = get_num_rows();
    for (int r = 0; r < rows; ++r)
        if (!(r & (1 << k)) && get_bit(r) != get_bit(r | (1 << k))) return false;
    return true;
}

bool CDB_LUTMASK::is_wire(int* input) const
{
    for (int k = 0; k < m_num_inputs; ++k) {
        bool ok = true;
        for (int r = 0; r < get_num_rows() && ok; ++r) ok = get_bit(r) == (((r >> k) & 1) != 0);
        if (ok) {
            if (input) *input = k;
            return true;
        }
    }
    return false;
}
