#include "cut/cut_cell_util.h"

#include "cdb/cdb_atom_netlist.h"

CDB_ATOM_NODE* CUT_ATOM_IO::get_pad_from_buffer(const CDB_ATOM_NODE* buffer, bool)
{
    if (buffer == nullptr || !buffer->is_pin()) return nullptr;
    for (auto it = buffer->begin_iterm(); it != buffer->end_iterm(); ++it) {
        const CDB_ATOM_OTERM* src = (*it)->get_source();
        if (src != nullptr && src->get_my_node() != buffer && src->get_my_node()->is_pin()) return src->get_my_node();
    }
    for (auto it = buffer->begin_oterm(); it != buffer->end_oterm(); ++it)
        for (auto f = (*it)->begin_iterm_fanout(); f != (*it)->end_iterm_fanout(); ++f) {
            CDB_ATOM_NODE* sink = (*f)->get_my_node();
            if (sink != nullptr && sink != buffer && sink->is_pin()) return sink;
        }
    return const_cast<CDB_ATOM_NODE*>(buffer);
}

int CUT_CLKBUF_UTIL::get_clock_type(const CDB_ATOM_NODE* clkbuf)
{
    if (clkbuf == nullptr || !clkbuf->is_clkbuf()) return -1;
    return clkbuf->get_block_param(CDB_PARAM_CLOCK_TYPE, 0, CUT_CLOCK_TYPE_GLOBAL);
}

void CUT_CLKBUF_UTIL::set_clock_type(CDB_ATOM_NODE* clkbuf, int clock_type)
{
    if (clkbuf != nullptr && clkbuf->is_clkbuf()) clkbuf->set_block_param(CDB_PARAM_CLOCK_TYPE, 0, clock_type);
}

bool CUT_CLKBUF_UTIL::is_pure_clkbuf(const CDB_ATOM_NODE* node)
{
    if (node == nullptr || !node->is_clkbuf()) return false;
    const CDB_ATOM_ITERM* ena = node->get_input_term_by_type(DB_CLOCK_ENABLE);
    return ena == nullptr || !ena->is_driven();
}

CDB_ATOM_NODE* CUT_CLKBUF_UTIL::create_clkbuf_atom(CDB_ATOM_NETLIST* netlist, int clock_type, int family,
                                                   HDB_INSTANCE_NAME* name)
{
    CDB_ATOM_NODE* node = cdb_create_atom(family, CDB_KIND_CLKBUF, name);
    if (node == nullptr) return nullptr;
    set_clock_type(node, clock_type);
    if (netlist != nullptr) netlist->add_node(node);
    return node;
}

CDB_ATOM_NODE* CUT_CLKBUF_UTIL::create_clkbuf_atom(MEM_SEGMENT*, CDB_ATOM_NETLIST* netlist, int clock_type, int family,
                                                   HDB_INSTANCE_NAME* name)
{
    return create_clkbuf_atom(netlist, clock_type, family, name);
}

bool CUT_LCELL_UTIL::oterm_is_comb_gnd(const CDB_ATOM_OTERM* oterm)
{
    if (oterm == nullptr || !oterm->is_used_as(DB_COMB_OUT)) return false;
    const CDB_ATOM_NODE* node = oterm->get_my_node();
    if (node == nullptr || node->get_lut_size() == 0 || !(node->is_lcell_comb() || node->is_lcell())) return false;
    constexpr int SLOTS = CDB_ATOM_NODE::EVALUATE_INPUT_COUNT;
    const int* ports = CDB_ATOM_NODE::EVALUATE_INPUT_PORTS;
    unsigned fixed[SLOTS];
    int free_slots[SLOTS];
    int n_free = 0;
    for (int k = 0; k < SLOTS; ++k) {
        const CDB_ATOM_ITERM* t = node->get_input_term_by_type(ports[k]);
        if (t != nullptr && t->is_driven()) {
            free_slots[n_free++] = k;
            fixed[k] = 0;
        } else if (t != nullptr && t->is_connected()) {
            fixed[k] = t->is_logical_vcc() ? 1u : 0u;
        } else {
            fixed[k] = node->floats_high(ports[k]) ? 1u : 0u;
        }
    }
    unsigned in[SLOTS];
    for (unsigned row = 0; row < (1u << n_free); ++row) {
        for (int k = 0; k < SLOTS; ++k) in[k] = fixed[k];
        for (int i = 0; i < n_free; ++i) in[free_slots[i]] = (row >> i) & 1u;
        if (node->evaluate_output(DB_COMB_OUT, in) != 0) return false;
    }
    return true;
}

CDB_ATOM_NODE* CUT_LCELL_UTIL::create_gnd_lcell_atom(MEM_SEGMENT*, int family, HDB_INSTANCE_NAME* name,
                                                     CDB_ATOM_NETLIST* netlist)
{
    CDB_ATOM_NODE* node = cdb_create_atom(family, CDB_KIND_LCELL_COMB, name);
    if (node == nullptr) return nullptr;
    node->set_lutmask(CDB_LUTMASK(node->get_lut_size(), 0));
    node->add_output_term(DB_COMB_OUT, name);
    if (netlist != nullptr) netlist->add_node(node);
    return node;
}

bool CUT_VIRTUAL_IO_UTIL::is_virtual_io(const CDB_ATOM_NODE* node)
{
    return node != nullptr && node->bit_is_legal(CDB_ATOM_BIT_VIRTUAL_IO) && node->test_bit(CDB_ATOM_BIT_VIRTUAL_IO);
}

int CUT_VIRTUAL_IO_UTIL::get_pad_iport_for_vio(const CDB_ATOM_NODE* node)
{
    if (!is_virtual_io(node)) return DB_MAX_INPUT_PORT_TYPE;
    static constexpr int ports[8] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D,
                                     DB_DATA_E, DB_DATA_F, DB_DATA_G, DB_DATAIN};
    for (int p : ports)
        if (node->get_input_term_by_type(p) != nullptr) return p;
    return DB_MAX_INPUT_PORT_TYPE;
}
