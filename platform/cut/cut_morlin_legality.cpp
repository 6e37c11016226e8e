// The stand-in legality rule of the MRL atom legaliser and the change
// records it proposes (the rule is described in cut_morlin_legalizer.h).
// Every proposal keeps the cell's function: a signal that moves to another
// LUT position takes its polarity into the mask, and constant or unconnected
// inputs are folded into the mask at the value the LUT reads there.

#include <bit>
#include <utility>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_node.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_morlin_legalizer.h"
#include "cut/cut_morlin_terms.h"
#include "dev/dev_device.h"
#include "msg/msg.h"

namespace {

constexpr int k_data_inputs = 6;
constexpr int k_rows = 64;

int data_port(int k)
{
    return DB_DATA_A + k;
}

uint64_t cofactor(uint64_t mask, int k, bool value)
{
    return CDB_LUTMASK(k_data_inputs, mask).cofactor(k, value).get_value();
}

bool depends_on(uint64_t mask, int k)
{
    return !CDB_LUTMASK(k_data_inputs, mask).is_independent_of(k);
}

uint64_t invert_input(uint64_t mask, int k)
{
    CDB_LUTMASK m(k_data_inputs, mask);
    m.invert_input(k);
    return m.get_value();
}

// The cell's mask as six inputs: a narrower mask repeats over the rows of
// the inputs it does not have.
uint64_t six_input_mask(const CDB_ATOM_NODE* node)
{
    const CDB_LUTMASK mask = node->get_lutmask();
    uint64_t value = mask.get_value();
    for (int width = mask.get_num_rows(); width < k_rows; width <<= 1) value |= value << width;
    return value;
}

bool is_input_connected(const CDB_ATOM_NODE* node, int port_type)
{
    const CDB_ATOM_ITERM* term = node->get_input_term_by_type(port_type);
    return term != nullptr && term->is_connected();
}

// Carry chains, arithmetic and extended mode are not the stand-in rule's business.
bool is_special_cell(const CDB_ATOM_NODE* node)
{
    return is_input_connected(node, DB_CARRY_IN) || is_input_connected(node, DB_SHARE_IN) ||
           is_input_connected(node, DB_DATA_G) || cut_morlin_output_has_fanout(node, DB_CARRY_OUT) ||
           cut_morlin_output_has_fanout(node, DB_SUM_OUT) || cut_morlin_output_has_fanout(node, DB_SHARE_OUT);
}

bool is_latch_cell(const CDB_ATOM_NODE* node)
{
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
    return info != nullptr && info->is_latch;
}

// The cell's function of its driven data inputs as the LUT reads them.
uint64_t driven_function(const CDB_ATOM_NODE* node)
{
    uint64_t mask = six_input_mask(node);
    for (int k = 0; k < k_data_inputs; ++k) {
        const CDB_ATOM_ITERM* term = node->get_input_term_by_type(data_port(k));
        if (term != nullptr && term->is_driven()) continue;
        // An unconnected data input floats low.
        const bool value = term != nullptr && term->is_connected() && term->is_logical_vcc();
        mask = cofactor(mask, k, value);
    }
    return mask;
}

// Whether the LUT reads port k complemented once the legaliser has connected
// a driver to it: a driven or unconnected term keeps its inversion, a term
// tied to a constant loses it, a new term has none.
bool complemented_after_rewiring(const CDB_ATOM_ITERM* term)
{
    if (term == nullptr) return false;
    if (term->is_connected() && !term->is_driven()) return !term->is_active_high();
    return term->reads_complemented();
}

CUT_ATOM_MODIFIED_ITERM_S disconnection(int port_type)
{
    CUT_ATOM_MODIFIED_ITERM_S entry;
    entry.port_type = port_type;
    return entry;
}

CUT_ATOM_MODIFIED_NODE_LIST_PTR one_record(int kind, CDB_ATOM_NODE* node)
{
    auto list = std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>(1);
    (*list)[0].id = 1;
    (*list)[0].kind = kind;
    (*list)[0].node = node;
    return list;
}

// 0 or 1 for a mask that is constant, -1 for one that is not.
int constant_of(uint64_t mask)
{
    if (mask == 0) return 0;
    return mask == ~uint64_t(0) ? 1 : -1;
}

// in_select ? in_high : in_low over the LUT positions given; a side whose
// constant is 0 or 1 reads that constant instead of its position.
uint64_t multiplexer_mask(int select, int low, int high, int low_constant, int high_constant)
{
    uint64_t mask = 0;
    for (unsigned row = 0; row < k_rows; ++row) {
        const bool selects_high = (row >> select) & 1u;
        const int constant = selects_high ? high_constant : low_constant;
        const unsigned chosen = selects_high ? high : low;
        if (constant < 0 ? ((row >> chosen) & 1u) != 0 : constant == 1) mask |= uint64_t(1) << row;
    }
    return mask;
}

bool is_fl_id_current(const CUT_ATOM_MORLIN_LEGALIZER& legalizer, const CDB_ATOM_NODE* node)
{
    const int fl_id = legalizer.get_fl_id_from_atom_properties(node);
    return fl_id != DEV_ILLEGAL_FL_ID && legalizer.get_stored_fl_id(node) == fl_id;
}

}  // namespace

// ------------------------------------------------------------------ the rule

bool CUT_ATOM_MORLIN_LEGALIZER::is_lutmask_legal_as_placed(uint64_t lutmask)
{
    int support = 0;
    for (int k = 0; k < k_data_inputs; ++k) support += depends_on(lutmask, k) ? 1 : 0;
    if (support <= 4) return true;
    return std::popcount(lutmask & 0xFFFFFFFFu) >= std::popcount(lutmask >> 32);
}

uint64_t CUT_ATOM_MORLIN_LEGALIZER::rotate_lutmask(uint64_t lutmask, int r)
{
    r = ((r % k_data_inputs) + k_data_inputs) % k_data_inputs;
    uint64_t out = 0;
    for (unsigned row = 0; row < k_rows; ++row) {
        unsigned source = 0;
        for (int k = 0; k < k_data_inputs; ++k)
            if ((row >> k) & 1u) source |= 1u << ((k + r) % k_data_inputs);
        if ((lutmask >> source) & 1u) out |= uint64_t(1) << row;
    }
    return out;
}

bool CUT_ATOM_MORLIN_LEGALIZER::is_lutmask_legal_by_rotation(uint64_t lutmask) const
{
    if (m_script.is_lutmask_legal_by_rotation) return m_script.is_lutmask_legal_by_rotation(lutmask);
    for (int r = 0; r < k_data_inputs; ++r)
        if (is_lutmask_legal_as_placed(rotate_lutmask(lutmask, r))) return true;
    return false;
}

int CUT_ATOM_MORLIN_LEGALIZER::latch_kind_of_lutmask(uint64_t lutmask)
{
    int kind = 0;
    for (int w = 0; w < 4; ++w) {
        const unsigned word = static_cast<unsigned>((lutmask >> (16 * w)) & 0xFFFFu);
        if (word == 0 || word == 0xFFFFu) continue;
        if (word == 0xF0CCu) kind = 1;
        else if (word == 0xCCF0u) kind = 2;
        else return -1;
    }
    return kind;
}

bool CUT_ATOM_MORLIN_LEGALIZER::is_latch_description_current(const CDB_ATOM_NODE* node)
{
    MSG_ASSERT(node, "CUT");
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(node);
    if (info == nullptr || !info->is_latch) return false;
    const int kind = latch_kind_of_lutmask(six_input_mask(node));
    const bool two_data = is_input_connected(node, DB_DATA_E);
    const int data = two_data ? DB_DATA_F : DB_MAX_INPUT_PORT_TYPE;
    const int data_2 = two_data ? DB_DATA_E : DB_MAX_INPUT_PORT_TYPE;
    return kind >= 0 && info->kind == kind && info->data_port == data && info->data_port_2 == data_2 &&
           info->enable_port == DB_DATA_D && info->feedback_port == DB_DATA_C && info->output_port == DB_COMB_OUT;
}

bool CUT_ATOM_MORLIN_LEGALIZER::rule_says_legal(const CDB_ATOM_NODE* node) const
{
    if (node->is_register()) return is_fl_id_current(*this, node);
    if (!node->is_lcell_comb()) return true;
    if (is_latch_cell(node)) return is_latch_description_current(node);
    if (is_special_cell(node)) return true;
    return is_lutmask_legal_as_placed(six_input_mask(node));
}

bool CUT_ATOM_MORLIN_LEGALIZER::is_node_legal(const CDB_ATOM_NODE* node) const
{
    MSG_ASSERT(node, "CUT");
    if (m_script.is_node_legal) return m_script.is_node_legal(node);
    return rule_says_legal(node);
}

// ------------------------------------------------------------------ proposals

// A connection of the record's port to the driver of source, with the
// settings of the source term.
CUT_ATOM_MODIFIED_ITERM_S CUT_ATOM_MORLIN_LEGALIZER::connection_like(int port_type, const CDB_ATOM_ITERM* source) const
{
    CUT_ATOM_MODIFIED_ITERM_S entry;
    entry.port_type = port_type;
    entry.connect = true;
    entry.source_oterm = source->get_source();
    entry.global_type = source->get_global();
    entry.connected_to_delay_chain = source->is_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT);
    entry.use_delay_chain = source->use_delay_chain(DB_DELAY_CHAIN_INPUT);
    entry.user_delay_chain = source->has_user_delay_chain(DB_DELAY_CHAIN_INPUT);
    entry.delay_chain_index = source->get_delay_chain_index(DB_DELAY_CHAIN_INPUT);
    if (m_bpm != nullptr) entry.boundary_port_id = m_bpm->get_assigned_port_id(source);
    return entry;
}

// The cell with its driven inputs rotated by r, as one ITERMS_AND_LUTMASK
// record; empty when the rotated mask is not legal as placed.
CUT_ATOM_MODIFIED_NODE_LIST_PTR CUT_ATOM_MORLIN_LEGALIZER::rotation_record(CDB_ATOM_NODE* node, uint64_t function,
                                                                           int r) const
{
    CUT_ATOM_MODIFIED_NODE_S record;
    record.id = 1;
    record.kind = CUT_MODIFICATION_ITERMS_AND_LUTMASK;
    record.node = node;
    uint64_t mask = rotate_lutmask(function, r);
    for (int k = 0; k < k_data_inputs; ++k) {
        const int from = (k + r) % k_data_inputs;
        const CDB_ATOM_ITERM* present = node->get_input_term_by_type(data_port(k));
        if (!depends_on(function, from)) {
            if (present != nullptr) record.modified_iterms.push_back(disconnection(data_port(k)));
            continue;
        }
        const CDB_ATOM_ITERM* source = node->get_input_term_by_type(data_port(from));
        record.modified_iterms.push_back(connection_like(data_port(k), source));
        if (source->reads_complemented() != complemented_after_rewiring(present)) mask = invert_input(mask, k);
    }
    if (!is_lutmask_legal_as_placed(mask)) return nullptr;
    record.lutmask = mask;
    auto list = std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>();
    list->push_back(std::move(record));
    return list;
}

// A new cell over the cell's driven inputs but split_input, computing the
// cofactor of function at split_input = value.
CUT_ATOM_MODIFIED_NODE_S CUT_ATOM_MORLIN_LEGALIZER::cofactor_cell(const CDB_ATOM_NODE* node, uint64_t function,
                                                                  int split_input, bool value, int id) const
{
    CUT_ATOM_MODIFIED_NODE_S record;
    record.id = id;
    record.kind = CUT_MODIFICATION_NEW_NODE;
    uint64_t mask = cofactor(function, split_input, value);
    for (int k = 0; k < k_data_inputs; ++k) {
        if (k == split_input || !depends_on(mask, k)) continue;
        const CDB_ATOM_ITERM* source = node->get_input_term_by_type(data_port(k));
        record.modified_iterms.push_back(connection_like(data_port(k), source));
        // The new cell's term is a new one: it reads the driver as it is.
        if (source->reads_complemented()) mask = invert_input(mask, k);
    }
    record.lutmask = mask;
    return record;
}

CUT_ATOM_MODIFIED_NODE_LIST_PTR CUT_ATOM_MORLIN_LEGALIZER::legalize_node(CDB_ATOM_NODE* node) const
{
    MSG_ASSERT(node, "CUT");
    if (m_script.legalize_node) return m_script.legalize_node(node);
    if (rule_says_legal(node)) return std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>();
    if (!node->is_lcell_comb()) return one_record(CUT_MODIFICATION_DO_NOTHING, node);
    if (is_latch_cell(node)) {
        // The description can be rewritten from a mask of latch words, with
        // data inputs E and F connected both or neither.
        const bool data_f_ok = is_input_connected(node, DB_DATA_E) == is_input_connected(node, DB_DATA_F);
        if (latch_kind_of_lutmask(six_input_mask(node)) < 0 || !data_f_ok)
            return one_record(CUT_MODIFICATION_DO_NOTHING, node);
        CUT_ATOM_MODIFIED_NODE_LIST_PTR list = one_record(CUT_MODIFICATION_LUTMASK, node);
        (*list)[0].lutmask = six_input_mask(node);
        return list;
    }
    const uint64_t function = driven_function(node);
    for (int r = 0; r < k_data_inputs; ++r)
        if (CUT_ATOM_MODIFIED_NODE_LIST_PTR list = rotation_record(node, function, r)) return list;
    return one_record(CUT_MODIFICATION_DO_NOTHING, node);
}

CUT_ATOM_MODIFIED_NODE_LIST_PTR CUT_ATOM_MORLIN_LEGALIZER::decompose_node(CDB_ATOM_NODE* node) const
{
    MSG_ASSERT(node, "CUT");
    if (m_script.decompose_node) return m_script.decompose_node(node);
    MSG_ASSERT(node->is_lcell_comb(), "CUT");
    const uint64_t function = driven_function(node);
    int split = -1;
    for (int k = 0; k < k_data_inputs; ++k)
        if (depends_on(function, k)) split = k;
    // Nothing to split: the mask alone is the fix.
    if (split < 0) {
        CUT_ATOM_MODIFIED_NODE_LIST_PTR list = one_record(CUT_MODIFICATION_LUTMASK, node);
        (*list)[0].lutmask = function;
        return list;
    }
    const int low = split == 0 ? 1 : 0;
    const int high = split <= 1 ? 2 : 1;
    // A constant cofactor (an AND's or an OR's) is no cell: the multiplexer
    // reads it from its mask, so that no later sweep has a constant to fold.
    const int low_constant = constant_of(cofactor(function, split, false));
    const int high_constant = constant_of(cofactor(function, split, true));
    auto list = std::make_unique<CUT_ATOM_MODIFIED_NODE_LIST>();
    if (low_constant < 0) list->push_back(cofactor_cell(node, function, split, false, 1));
    if (high_constant < 0) list->push_back(cofactor_cell(node, function, split, true, 2));

    CUT_ATOM_MODIFIED_NODE_S mux;
    mux.id = 3;
    mux.kind = CUT_MODIFICATION_ITERMS_AND_LUTMASK;
    mux.node = node;
    uint64_t mask = multiplexer_mask(split, low, high, low_constant, high_constant);
    for (int k = 0; k < k_data_inputs; ++k) {
        if (k == split) continue;
        const CDB_ATOM_ITERM* present = node->get_input_term_by_type(data_port(k));
        if ((k == low && low_constant < 0) || (k == high && high_constant < 0)) {
            CUT_ATOM_MODIFIED_ITERM_S entry = disconnection(data_port(k));
            entry.connect = true;
            entry.source_id = k == low ? 1 : 2;
            mux.modified_iterms.push_back(entry);
            if (complemented_after_rewiring(present)) mask = invert_input(mask, k);
        } else if (present != nullptr) {
            mux.modified_iterms.push_back(disconnection(data_port(k)));
        }
    }
    mux.lutmask = mask;
    list->push_back(std::move(mux));
    return list;
}

CUT_ATOM_MODIFIED_NODE_LIST_PTR
CUT_ATOM_MORLIN_LEGALIZER::legalize_for_high_speed_adder_transformation(CDB_ATOM_NODE* node) const
{
    MSG_ASSERT(node, "CUT");
    if (m_script.legalize_for_high_speed_adder_transformation)
        return m_script.legalize_for_high_speed_adder_transformation(node);
    return one_record(CUT_MODIFICATION_DO_NOTHING, node);
}
