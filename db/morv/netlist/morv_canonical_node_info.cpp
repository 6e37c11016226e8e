#include "morv/netlist/morv_canonical_node_info.h"

#include "cdb/cdb_atom_node.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_deterministic.h"
#include "morv/netlist/morv_net_util.h"

namespace {

__extension__ typedef unsigned __int128 TABLE_WORD;

// The entries of a table over up to seven inputs whose bit i is 0.
TABLE_WORD entries_with_bit_clear(int i)
{
    static const uint64_t WORDS[6] = {0x5555555555555555ull, 0x3333333333333333ull, 0x0F0F0F0F0F0F0F0Full,
                                      0x00FF00FF00FF00FFull, 0x0000FFFF0000FFFFull, 0x00000000FFFFFFFFull};
    if (i == 6) return TABLE_WORD(~uint64_t(0));
    const TABLE_WORD word = WORDS[i];
    return word | (word << 64);
}

// The entries of a table over n inputs.
TABLE_WORD all_entries(int n)
{
    return n >= 7 ? ~TABLE_WORD(0) : (TABLE_WORD(1) << (1 << n)) - 1;
}

// The register's next state over (data, synchronous data, synchronous load,
// synchronous clear): not clear and (load ? synchronous data : data).
constexpr unsigned REGISTER_NEXT_STATE = 0xCA;

// The synchronous inputs the next state reads, after the data input.
constexpr int SYNCHRONOUS_INPUTS[3] = {DB_SYNCH_DATA, DB_SYNCH_LOAD, DB_SYNCH_CLEAR};

int compare_ints(long long a, long long b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

// b orders before a in the canonical input order: the greater source first,
// then the complemented reading of one source.
bool orders_first(const CDB_ATOM_OTERM* a_source, bool a_inverted, const CDB_ATOM_OTERM* b_source, bool b_inverted)
{
    if (a_source == nullptr) return true;
    if (a_source != b_source) return DETERMINISTIC_LESS<CDB_ATOM_OTERM*>()(a_source, b_source);
    return !a_inverted && b_inverted;
}

}  // namespace

MORV_CANONICAL_NODE_INFO::MORV_CANONICAL_NODE_INFO(MORV_API* api, CDB_ATOM_OTERM* oterm)
    : m_oterm(oterm), m_api(api), m_net_util(nullptr)
{
    MORV_ASSERT(api);
    MORV_ASSERT(oterm);
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    m_net_util = api->get_fsyn_net_util();
    m_partition_id = api->get_atom_partition_id(node);
}

bool MORV_CANONICAL_NODE_INFO::get_truth_table_entry(int k) const
{
    MORV_ASSERT(k >= 0 && k < (1 << MAX_INPUTS));
    return ((m_truth_table >> k) & 1u) != 0;
}

void MORV_CANONICAL_NODE_INFO::make_unique(CDB_ATOM_NODE* node)
{
    m_unique_id = node->get_atom_id();
}

// ---------------------------------------------------------------- table operations

void MORV_CANONICAL_NODE_INFO::fix_input(int i, int value, int n)
{
    MORV_ASSERT(i >= 0 && i < n && n <= MAX_INPUTS);
    const TABLE_WORD clear = entries_with_bit_clear(i);
    const int step = 1 << i;
    if (value == 0) {
        const TABLE_WORD half = m_truth_table & clear;
        m_truth_table = half | (half << step);
    } else {
        const TABLE_WORD half = m_truth_table & ~clear;
        m_truth_table = half | (half >> step);
    }
    m_truth_table &= all_entries(n);
}

bool MORV_CANONICAL_NODE_INFO::depends_on(int i, int n) const
{
    return (((m_truth_table >> (1 << i)) ^ m_truth_table) & entries_with_bit_clear(i) & all_entries(n)) != 0;
}

void MORV_CANONICAL_NODE_INFO::keep_equal_inputs(int i, int j, int n)
{
    for (int k = 0; k < (1 << n); ++k) {
        const int bit_i = (k >> i) & 1;
        if (bit_i == ((k >> j) & 1)) continue;
        const int equal = bit_i != 0 ? k | (1 << j) : k & ~(1 << j);
        const TABLE_WORD value = (m_truth_table >> equal) & 1u;
        m_truth_table = (m_truth_table & ~(TABLE_WORD(1) << k)) | (value << k);
    }
}

void MORV_CANONICAL_NODE_INFO::swap_inputs(int i, int j, int n)
{
    MORV_ASSERT(i >= 0 && i < j && j < n && n <= MAX_INPUTS);
    // Entries with bit i set and bit j clear trade places with those whose
    // two bits are the other way round.
    const int distance = (1 << j) - (1 << i);
    const TABLE_WORD low = ~entries_with_bit_clear(i) & entries_with_bit_clear(j) & all_entries(n);
    const TABLE_WORD high = low << distance;
    m_truth_table =
        (m_truth_table & ~(low | high)) | ((m_truth_table & low) << distance) | ((m_truth_table >> distance) & low);
}

// ---------------------------------------------------------------- building

void MORV_CANONICAL_NODE_INFO::read_input(CDB_ATOM_ITERM* iterm, int i, int n, ENTRY* entries)
{
    entries[i] = ENTRY();
    if (iterm != nullptr && iterm->get_source() != nullptr) {
        entries[i].source = iterm->get_source();
        entries[i].inverted = iterm->reads_complemented();
        return;
    }
    // A constant input reads its logical value; a missing or unconnected one reads 0.
    const bool vcc = iterm != nullptr && iterm->is_connected() && iterm->is_logical_vcc();
    fix_input(i, vcc ? 1 : 0, n);
}

void MORV_CANONICAL_NODE_INFO::read_register(CDB_ATOM_NODE* node, int first, int n, ENTRY* entries)
{
    m_registered = true;
    m_clock = node->get_input_term_by_type(DB_CLOCK);
    m_asynch_data = node->get_input_term_by_type(DB_ASYNCH_DATA);
    m_clear = node->get_input_term_by_type(DB_CLEAR);
    m_asynch_load = node->get_input_term_by_type(DB_ASYNCH_LOAD);
    m_clock_enable = node->get_input_term_by_type(DB_CLOCK_ENABLE);
    for (int q = 0; q < 3; ++q) read_input(node->get_input_term_by_type(SYNCHRONOUS_INPUTS[q]), first + q, n, entries);
}

void MORV_CANONICAL_NODE_INFO::canonicalise(ENTRY* entries, int n)
{
    for (int i = 0; i < n; ++i)
        if (entries[i].source != nullptr && !depends_on(i, n)) entries[i] = ENTRY();
    // One signal read the same way at two inputs is one input of the function.
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n && entries[i].source != nullptr; ++j) {
            if (entries[j].source != entries[i].source || entries[j].inverted != entries[i].inverted) continue;
            keep_equal_inputs(i, j, n);
            entries[j] = ENTRY();
        }
    for (int i = 0; i + 1 < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            if (entries[j].source == nullptr) continue;
            if (!orders_first(entries[i].source, entries[i].inverted, entries[j].source, entries[j].inverted)) continue;
            std::swap(entries[i], entries[j]);
            swap_inputs(i, j, n);
        }
    for (int i = 0; i < n && entries[i].source != nullptr; ++i) {
        m_inputs.push_back(entries[i].source);
        m_input_inverted.push_back(entries[i].inverted);
    }
}

// ---------------------------------------------------------------- comparison

int MORV_CANONICAL_NODE_INFO::compare_identity(const MORV_CANONICAL_NODE_INFO& other) const
{
    int decided = compare_ints(static_cast<int32_t>(m_unique_id), static_cast<int32_t>(other.m_unique_id));
    if (decided == 0) decided = compare_ints(m_partition_id, other.m_partition_id);
    if (decided == 0) decided = compare_ints(m_registered, other.m_registered);
    return decided;
}

int MORV_CANONICAL_NODE_INFO::compare_controls(const MORV_CANONICAL_NODE_INFO& other) const
{
    CDB_ATOM_ITERM* const mine[5] = {m_clock, m_asynch_data, m_clear, m_asynch_load, m_clock_enable};
    CDB_ATOM_ITERM* const theirs[5] = {other.m_clock, other.m_asynch_data, other.m_clear, other.m_asynch_load,
                                       other.m_clock_enable};
    for (int c = 0; c < 5; ++c) {
        if (!m_net_util->iterm_properties_equal(mine[c], theirs[c]))
            return m_net_util->iterm_properties_less(mine[c], theirs[c]) ? -1 : 1;
        // The same source through an inverting port is another control.
        if (mine[c] != nullptr && theirs[c] != nullptr && mine[c]->is_active_high() != theirs[c]->is_active_high())
            return mine[c]->is_active_high() ? -1 : 1;
    }
    return 0;
}

int MORV_CANONICAL_NODE_INFO::compare_inputs(const MORV_CANONICAL_NODE_INFO& other) const
{
    const DETERMINISTIC_LESS<CDB_ATOM_OTERM*> less;
    for (size_t i = 0; i < m_inputs.size() && i < other.m_inputs.size(); ++i) {
        if (m_inputs[i] == other.m_inputs[i]) continue;
        return less(m_inputs[i], other.m_inputs[i]) ? -1 : 1;
    }
    return compare_ints(static_cast<long long>(m_inputs.size()), static_cast<long long>(other.m_inputs.size()));
}

int MORV_CANONICAL_NODE_INFO::compare_flags(const MORV_CANONICAL_NODE_INFO& other) const
{
    for (size_t i = 0; i < m_input_inverted.size() && i < other.m_input_inverted.size(); ++i)
        if (m_input_inverted[i] != other.m_input_inverted[i]) return m_input_inverted[i] ? 1 : -1;
    return compare_ints(static_cast<long long>(m_input_inverted.size()),
                        static_cast<long long>(other.m_input_inverted.size()));
}

int MORV_CANONICAL_NODE_INFO::compare_tables(const MORV_CANONICAL_NODE_INFO& other) const
{
    const TABLE_WORD differing = m_truth_table ^ other.m_truth_table;
    if (differing == 0) return 0;
    // The first differing entry decides, false before true.
    const TABLE_WORD lowest = differing & (~differing + 1);
    return (m_truth_table & lowest) != 0 ? 1 : -1;
}

// ---------------------------------------------------------------- 4-LUT and 6-LUT families

MORV_CANONICAL_NODE_INFO_4LUT::MORV_CANONICAL_NODE_INFO_4LUT(MORV_API* api, CDB_ATOM_OTERM* oterm)
    : MORV_CANONICAL_NODE_INFO_4LUT(api, oterm, 4)
{}

MORV_CANONICAL_NODE_INFO_4LUT::MORV_CANONICAL_NODE_INFO_4LUT(MORV_API* api, CDB_ATOM_OTERM* oterm, int lut_inputs)
    : MORV_CANONICAL_NODE_INFO(api, oterm)
{
    CDB_ATOM_NODE* node = oterm->get_my_node();
    if (!is_canonicalisable(node, lut_inputs)) {
        make_unique(node);
        return;
    }
    if (oterm->is_used_as(DB_REG_OUT)) {
        m_truth_table = REGISTER_NEXT_STATE;
        ENTRY entries[4];
        read_input(node->get_input_term_by_type(DB_DATAIN), 0, 4, entries);
        read_register(node, 1, 4, entries);
        canonicalise(entries, 4);
        return;
    }
    MORV_ASSERT_TEXT(oterm->is_used_as(DB_COMB_OUT), "Neither reg-out nor comb-out!");
    build_lut(node, lut_inputs);
}

bool MORV_CANONICAL_NODE_INFO_4LUT::is_canonicalisable(CDB_ATOM_NODE* node, int lut_inputs) const
{
    if (!m_net_util->is_lcell(node) || m_net_util->is_lcell_hsadder(node) || m_net_util->is_lcell_in_a_chain(node))
        return false;
    if (!node->is_lcell_comb()) return true;
    if (m_net_util->is_in_arithmetic_mode(node) || m_net_util->is_carry_in_connected(node)) return false;
    return lut_inputs == 4 || !m_net_util->is_in_extended_mode(node);
}

void MORV_CANONICAL_NODE_INFO_4LUT::build_lut(CDB_ATOM_NODE* node, int lut_inputs)
{
    const uint64_t mask = m_net_util->get_lutmask(node);
    const bool reversed = morv_family_traits(m_api->get_base_family_code()).m_mask_bits_reversed;
    const int rows = 1 << lut_inputs;
    for (int k = 0; k < rows; ++k)
        if ((mask >> (reversed ? rows - 1 - k : k)) & 1u) m_truth_table |= TABLE_WORD(1) << k;
    ENTRY entries[6];
    for (int i = 0; i < lut_inputs; ++i) {
        // A 4-input cell that does not read input C there reads its carry-in,
        // which is unconnected in a cell outside a chain.
        if (lut_inputs == 4 && i == 2 && !node->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB)) {
            fix_input(i, 0, lut_inputs);
            continue;
        }
        read_input(node->get_input_term_by_type(DB_DATA_A + i), i, lut_inputs, entries);
    }
    canonicalise(entries, lut_inputs);
}

bool MORV_CANONICAL_NODE_INFO_4LUT::compare(const MORV_CANONICAL_NODE_INFO* other_info) const
{
    MORV_ASSERT(other_info);
    const MORV_CANONICAL_NODE_INFO& other = *other_info;
    for (int decided : {compare_identity(other), compare_controls(other), compare_inputs(other), compare_flags(other),
                        compare_tables(other)})
        if (decided != 0) return decided < 0;
    return false;
}

MORV_CANONICAL_NODE_INFO_BRK::MORV_CANONICAL_NODE_INFO_BRK(MORV_API* api, CDB_ATOM_OTERM* oterm)
    : MORV_CANONICAL_NODE_INFO_4LUT(api, oterm, 6)
{}

// ---------------------------------------------------------------- UVO

MORV_CANONICAL_NODE_INFO_UVO::MORV_CANONICAL_NODE_INFO_UVO(MORV_API* api, CDB_ATOM_OTERM* oterm)
    : MORV_CANONICAL_NODE_INFO(api, oterm)
{
    CDB_ATOM_NODE* node = oterm->get_my_node();
    const bool registered = oterm->is_used_as(DB_REG_OUT);
    if (!node->is_lcell() || m_net_util->is_lcell_in_a_chain(node) || m_net_util->is_in_arithmetic_mode(node) ||
        !(registered || oterm->is_used_as(DB_COMB_OUT))) {
        make_unique(node);
        m_output_usage = oterm->get_usage();
        return;
    }
    // Over the LUT and the three synchronous inputs: not clear and (load ?
    // synchronous data : LUT).
    const uint64_t mask = m_net_util->get_lutmask(node);
    for (int k = 0; k < 16; ++k) {
        const TABLE_WORD bit = (mask >> k) & 1u;
        m_truth_table |= (bit << k) | (bit << (k + 16)) | (TABLE_WORD(1) << (k + 48));
    }
    ENTRY entries[MAX_INPUTS];
    for (int i = 0; i < 4; ++i) {
        // With the flag the LUT reads its carry-in there, unconnected outside a chain.
        if (i == 2 && node->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG)) fix_input(i, 0, MAX_INPUTS);
        else read_input(node->get_input_term_by_type(DB_DATA_A + i), i, MAX_INPUTS, entries);
    }
    if (registered) {
        read_register(node, 4, MAX_INPUTS, entries);
    } else {
        for (int i = 4; i < MAX_INPUTS; ++i) fix_input(i, 0, MAX_INPUTS);
    }
    canonicalise(entries, MAX_INPUTS);
}

bool MORV_CANONICAL_NODE_INFO_UVO::compare(const MORV_CANONICAL_NODE_INFO* other_info) const
{
    MORV_ASSERT(other_info);
    const auto& other = static_cast<const MORV_CANONICAL_NODE_INFO_UVO&>(*other_info);
    int decided = compare_identity(other);
    if (decided == 0) decided = compare_ints(m_output_usage, other.m_output_usage);
    if (decided == 0) decided = compare_tables(other);
    if (decided == 0) decided = compare_controls(other);
    if (decided == 0) decided = compare_flags(other);
    if (decided == 0) decided = compare_inputs(other);
    return decided < 0;
}
