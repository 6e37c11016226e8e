#include "fixture_netlist.h"

#include "atom_assignments.h"

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_node.h"
#include "cut/cut_atom_util.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"

FIXTURE_NETLIST::FIXTURE_NETLIST(int family) : m_family(family), m_netlist(std::make_unique<CDB_ATOM_NETLIST>(family))
{
    m_netlist->set_name_mgr(new HDB_NAME_MGR("top"), true);
}

CDB_ATOM_NODE* FIXTURE_NETLIST::add(int kind, const std::string& name)
{
    CDB_ATOM_NODE* node = cdb_create_atom(m_family, kind, m_netlist->get_name_mgr()->create_unique_name(name, 0));
    m_netlist->add_node(node);
    return node;
}

CDB_ATOM_OTERM* FIXTURE_NETLIST::named_output(CDB_ATOM_NODE* node, int port)
{
    const std::string name = node->get_instance_name()->get_short_hpath() + "_" + cdb_output_port_name(port);
    return node->add_output_term(port, m_netlist->get_name_mgr()->create_unique_name(name, 0));
}

CDB_ATOM_OTERM* FIXTURE_NETLIST::input(const std::string& name)
{
    CDB_ATOM_NODE* pin = add(CDB_KIND_IO, name);
    return pin->add_output_term(DB_DATA_OUT, pin->get_instance_name());
}

CDB_ATOM_NODE* FIXTURE_NETLIST::output(const std::string& name, CDB_ATOM_OTERM* driver, bool invert)
{
    CDB_ATOM_NODE* pin = cdb_create_output_pin(
        m_family, m_netlist->get_name_mgr()->create_unique_name(name + BLIF_OUTPUT_PIN_SUFFIX, 0));
    m_netlist->add_node(pin);
    CDB_ATOM_ITERM* sink = pin->get_input_term_by_type(DB_DATAIN);
    driver->insert_fanout(sink);
    sink->set_invert(invert);
    return pin;
}

CDB_ATOM_OTERM* FIXTURE_NETLIST::lut(const std::string& name, const std::vector<CDB_ATOM_OTERM*>& inputs,
                                     uint64_t truth)
{
    CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, name);
    for (size_t i = 0; i < inputs.size(); ++i)
        inputs[i]->insert_fanout(cell->add_input_term(DB_DATA_A + static_cast<int>(i)));
    cell->set_lutmask(blif_family_lutmask(m_family, static_cast<int>(inputs.size()), truth));
    return cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
}

void FIXTURE_NETLIST::tie(CDB_ATOM_ITERM* term, bool value)
{
    term->set_gnd();
    term->set_invert(value);
}

CDB_ATOM_OTERM* FIXTURE_NETLIST::constant(const std::string& name, bool value)
{
    CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, name);
    tie(cell->add_input_term(DB_DATA_A), value);
    cell->set_lutmask(blif_family_lutmask(m_family, 1, 0x2));  // the wire
    return cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
}

CDB_ATOM_OTERM* FIXTURE_NETLIST::reg(const std::string& name, CDB_ATOM_OTERM* d, CDB_ATOM_OTERM* clock,
                                     CDB_ATOM_OTERM* enable, CDB_ATOM_OTERM* clear)
{
    CDB_ATOM_NODE* r = add(CDB_KIND_REGISTER, name);
    d->insert_fanout(r->add_input_term(DB_DATAIN));
    clock->insert_fanout(r->add_input_term(DB_CLOCK));
    if (enable) enable->insert_fanout(r->add_input_term(DB_CLOCK_ENABLE));
    if (clear) clear->insert_fanout(r->add_input_term(DB_CLEAR));
    return r->add_output_term(DB_REG_OUT, r->get_instance_name());
}

CDB_ATOM_OTERM* FIXTURE_NETLIST::latch(const std::string& name, CDB_ATOM_OTERM* d, CDB_ATOM_OTERM* enable)
{
    CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, name);
    d->insert_fanout(cell->add_input_term(DB_DATA_A));
    CDB_ATOM_ITERM* feedback = cell->add_input_term(DB_DATA_C);
    enable->insert_fanout(cell->add_input_term(DB_DATA_D));
    // Inputs A, C, D as rows 0..2: enable ? data : held value.
    uint64_t truth = 0;
    for (unsigned row = 0; row < 8; ++row) {
        const unsigned a = row & 1u, q = (row >> 1) & 1u, en = (row >> 2) & 1u;
        if (en ? a : q) truth |= uint64_t{1} << row;
    }
    // The mask is over A..D: spread the three used inputs onto A, C and D.
    uint64_t spread = 0;
    for (unsigned k = 0; k < 16; ++k) {
        const unsigned row = (k & 1u) | (((k >> 2) & 1u) << 1) | (((k >> 3) & 1u) << 2);
        if ((truth >> row) & 1u) spread |= uint64_t{1} << k;
    }
    cell->set_lutmask(blif_family_lutmask(m_family, 4, spread));
    CDB_ATOM_OTERM* out = cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
    out->insert_fanout(feedback);
    auto* info = new CDB_ATOM_LATCH_INFO();
    info->set_full_latch_info(DB_DATA_A, DB_MAX_INPUT_PORT_TYPE, DB_DATA_D, DB_DATA_C, DB_COMB_OUT, 1);
    cut_set_atom_latch_info(cell, info);
    return out;
}

CDB_ATOM_OTERM* FIXTURE_NETLIST::clock_buffer(const std::string& name, CDB_ATOM_OTERM* clock)
{
    CDB_ATOM_NODE* buffer = add(CDB_KIND_CLKBUF, name);
    clock->insert_fanout(buffer->add_input_term(DB_CLKBUF_IN));
    return buffer->add_output_term(DB_CLKBUF_OUT, buffer->get_instance_name());
}

// Adder halves of an arithmetic cell: the lower half reads A, the upper
// half the complement of B, so sum = A + B + carry-in.
void FIXTURE_NETLIST::brk_adder_bit(CDB_ATOM_NODE* cell)
{
    const CDB_FAMILY_INFO* info = cdb_get_family_info(m_family);
    const bool reversed = info && info->reversed_bit_order;
    uint64_t low = 0, high = 0;
    for (unsigned k = 0; k < 16; ++k) {
        const unsigned at = reversed ? 15 - k : k;
        if (k & 1u) low |= uint64_t{1} << at;
        if (!(k & 2u)) high |= uint64_t{1} << at;
    }
    cell->set_sum_lutmask(CDB_LUTMASK(5, low | (high << 16)));
}

std::vector<CDB_ATOM_OTERM*> FIXTURE_NETLIST::adder(const std::string& name, const std::vector<CDB_ATOM_OTERM*>& a,
                                                    const std::vector<CDB_ATOM_OTERM*>& b)
{
    std::vector<CDB_ATOM_OTERM*> sum;
    CDB_ATOM_OTERM* carry = nullptr;
    const bool hs = m_family == CDB_FAMILY_MRL;
    for (size_t i = 0; i < a.size(); i += hs ? 2 : 1) {
        CDB_ATOM_NODE* cell = add(hs ? CDB_KIND_HSADDER : CDB_KIND_LCELL_COMB, name + "_" + std::to_string(i));
        a[i]->insert_fanout(cell->add_input_term(DB_DATA_A));
        b[i]->insert_fanout(cell->add_input_term(DB_DATA_B));
        if (hs && i + 1 < a.size()) {
            a[i + 1]->insert_fanout(cell->add_input_term(DB_DATA_C));
            b[i + 1]->insert_fanout(cell->add_input_term(DB_DATA_D));
        }
        CDB_ATOM_ITERM* carry_in = cell->add_input_term(hs ? DB_CHAIN_IN_0 : DB_CARRY_IN);
        if (carry) carry->insert_fanout(carry_in);
        if (hs) {
            sum.push_back(named_output(cell, DB_HSADDER_SUM_0));
            if (i + 1 < a.size()) sum.push_back(named_output(cell, DB_HSADDER_SUM_1));
        } else {
            brk_adder_bit(cell);
            sum.push_back(named_output(cell, DB_SUM_OUT));
        }
        // An adder with its upper bit unused carries out of the lower bit
        // through its upper sum (0 + 0 + carry).
        const bool half_used = hs && i + 1 >= a.size();
        carry = named_output(cell, half_used ? DB_HSADDER_SUM_1 : hs ? DB_CHAIN_OUT_0 : DB_CARRY_OUT);
    }
    sum.push_back(carry);
    return sum;
}

void FIXTURE_NETLIST::set_partition(CDB_ATOM_NODE* node, int partition_id)
{
    assign_partition(node, partition_id);
}

void FIXTURE_NETLIST::lock_to_region(CDB_ATOM_NODE* node, int x1, int y1, int x2, int y2)
{
    assign_locked_region(node, x1, y1, x2, y2);
}

CDB_ATOM_OTERM* FIXTURE_NETLIST::boundary_port(const std::string& port, CDB_ATOM_OTERM* signal, int partition)
{
    CDB_ATOM_OTERM* wire = lut(port + "_wire", {signal}, 0x2);
    set_partition(wire->get_my_node(), partition);
    m_ports.push_back({port, wire});
    return wire;
}

bool FIXTURE_NETLIST::bind_boundary_ports(BPM_BOUNDARY_PORT_MANAGER& bpm) const
{
    for (const PORT& p : m_ports) {
        const int id = bpm.create_port(p.name);
        if (!bpm.bind_port_id(p.oterm, id) || !bpm.assign_port_id(p.oterm, id)) return false;
        for (CDB_ATOM_ITERM* sink = p.oterm->get_first_fanout(); sink; sink = sink->get_next_fanout())
            if (!bpm.assign_port_id(sink, id)) return false;
    }
    return true;
}
