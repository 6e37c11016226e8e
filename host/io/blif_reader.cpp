#include "io/blif_reader.h"

#include <stdexcept>
#include <vector>

#include "io/blif_str_cat.h"
#include "msg/msg.h"

const char* const BLIF_OUTPUT_PIN_SUFFIX = "~output";

namespace {

// The global-network setting of a clock on a global clock network.
constexpr int HOST_GLOBAL_CLOCK = 4;

const CDB_FAMILY_INFO& family_info(int family)
{
    const CDB_FAMILY_INFO* info = cdb_get_family_info(family);
    if (!info || (info->lut_size != 4 && info->lut_size != 6))
        throw std::invalid_argument(str_cat("unknown device family ", std::to_string(family)));
    return *info;
}

int family_code(const std::string& family)
{
    int code = cdb_family_from_name(family.c_str());
    if (code == CDB_FAMILY_NONE) throw std::invalid_argument("unknown device family '" + family + "'");
    return code;
}

// Names and atoms of one read. Names of nets come first so that the
// synthesized names made afterwards (output pins, init-1 registers) can
// never take a name that a later net of the file needs.
class BUILDER
{
public:
    BUILDER(const BLIF_MODEL& model, int family, HDB_NAME_MGR* names, bool pack_registers)
        : m_model(model), m_family(family), m_pack_registers(pack_registers),
          m_netlist(std::make_unique<CDB_ATOM_NETLIST>(family))
    {
        if (names) m_netlist->set_name_mgr(names);
        else names = m_netlist->get_or_create_name_mgr();
        m_names = names;
    }

    std::unique_ptr<CDB_ATOM_NETLIST> run()
    {
        const size_t nets = m_model.m_nets.size();
        m_net_name.assign(nets, nullptr);
        m_driver.assign(nets, nullptr);
        for (size_t i = 0; i < nets; ++i)
            if (m_model.m_nets[i].m_driver != BLIF_DRIVER::NONE) m_net_name[i] = net_name(m_model.m_nets[i].m_name);

        for (int net : m_model.m_inputs) {
            CDB_ATOM_NODE* pin = add_atom(CDB_KIND_IO, m_net_name[net]);
            m_driver[net] = add_oterm(pin, DB_DATA_OUT, m_net_name[net]);
        }
        std::vector<CDB_ATOM_NODE*> output_pins;
        output_pins.reserve(m_model.m_outputs.size());
        for (int net : m_model.m_outputs) {
            std::string base = m_model.m_nets[net].m_name + BLIF_OUTPUT_PIN_SUFFIX;
            output_pins.push_back(add_output_pin(synthesized_name(base)));
        }
        std::vector<CDB_ATOM_NODE*> cells;
        cells.reserve(m_model.m_covers.size());
        for (const BLIF_COVER& c : m_model.m_covers) {
            CDB_ATOM_NODE* cell = add_atom(CDB_KIND_LCELL_COMB, m_net_name[c.m_output]);
            for (size_t i = 0; i < c.m_inputs.size(); ++i) cell->add_input_term(DB_DATA_A + static_cast<int>(i));
            cell->set_lutmask(blif_family_lutmask(m_family, static_cast<int>(c.m_inputs.size()), c.m_truth));
            m_driver[c.m_output] = add_oterm(cell, DB_COMB_OUT, m_net_name[c.m_output]);
            cells.push_back(cell);
        }
        std::vector<LATCH_TERMS> latch_terms(m_model.m_latches.size());
        for (size_t i = 0; i < latch_terms.size(); ++i) add_latch(m_model.m_latches[i], latch_terms[i]);

        // Connections, now that every driver exists.
        for (size_t i = 0; i < m_model.m_outputs.size(); ++i)
            connect(output_pins[i]->get_input_term_by_type(DB_DATAIN), m_model.m_outputs[i]);
        for (size_t c = 0; c < m_model.m_covers.size(); ++c) {
            const BLIF_COVER& cover = m_model.m_covers[c];
            for (size_t i = 0; i < cover.m_inputs.size(); ++i)
                connect(cells[c]->get_input_term_by_type(DB_DATA_A + static_cast<int>(i)), cover.m_inputs[i]);
        }
        for (size_t i = 0; i < m_model.m_latches.size(); ++i) connect_latch(m_model.m_latches[i], latch_terms[i]);
        return std::move(m_netlist);
    }

private:
    // The input terms of a latch's register that read nets of the file.
    struct LATCH_TERMS
    {
        CDB_ATOM_ITERM* d = nullptr;
        CDB_ATOM_ITERM* clock = nullptr;
        CDB_ATOM_ITERM* clear = nullptr;
        CDB_ATOM_ITERM* ena = nullptr;
        CDB_ATOM_ITERM* sclr = nullptr;
        CDB_ATOM_ITERM* sload = nullptr;
        CDB_ATOM_ITERM* sdata = nullptr;
    };

    HDB_INSTANCE_NAME* net_name(const std::string& name)
    {
        HDB_INSTANCE_NAME* n = m_names->find_or_create_path(name, HDB_INAME_FLAG_FROM_NETLIST);
        if (!n) throw BLIF_ERROR(m_model.m_file, 0, "cannot create the name '" + name + "'");
        n->set_flag(HDB_INAME_FLAG_FROM_NETLIST);
        return n;
    }

    HDB_INSTANCE_NAME* synthesized_name(const std::string& base)
    {
        HDB_INSTANCE_NAME* n = m_names->create_unique_name(base, HDB_INAME_FLAG_FROM_NETLIST);
        if (!n) throw BLIF_ERROR(m_model.m_file, 0, "cannot create a name from '" + base + "'");
        return n;
    }

    CDB_ATOM_NODE* add_atom(int kind, HDB_INSTANCE_NAME* name)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(m_family, kind, name);
        if (!node)
            throw BLIF_ERROR(m_model.m_file, 0,
                             str_cat("the device family has no atom of kind ", std::to_string(kind)));
        m_netlist->add_node(node);
        return node;
    }

    CDB_ATOM_OTERM* add_oterm(CDB_ATOM_NODE* node, int port, HDB_INSTANCE_NAME* name)
    {
        CDB_ATOM_OTERM* o = node->add_output_term(port, name);
        o->set_host_index(m_next_host_index++);
        return o;
    }

    // The pad term comes with the pin; it was read from the file like every
    // other term, so it is numbered like them.
    CDB_ATOM_NODE* add_output_pin(HDB_INSTANCE_NAME* name)
    {
        CDB_ATOM_NODE* pin = cdb_create_output_pin(m_family, name);
        if (!pin) throw BLIF_ERROR(m_model.m_file, 0, "the device family has no I/O atom");
        m_netlist->add_node(pin);
        pin->get_output_term_by_type(DB_PAD_OUT)->set_host_index(m_next_host_index++);
        return pin;
    }

    // A combinational cell computing the complement of its one input.
    CDB_ATOM_NODE* add_inverter(HDB_INSTANCE_NAME* name, CDB_ATOM_OTERM** out)
    {
        CDB_ATOM_NODE* inv = add_atom(CDB_KIND_LCELL_COMB, name);
        inv->add_input_term(DB_DATA_A);
        inv->set_lutmask(blif_family_lutmask(m_family, 1, 0x1));
        *out = add_oterm(inv, DB_COMB_OUT, name);
        return inv;
    }

    void add_latch(const BLIF_LATCH& l, LATCH_TERMS& t)
    {
        CDB_ATOM_ITERM*& d = t.d;
        CDB_ATOM_ITERM*& clock = t.clock;
        const std::string& q = m_model.m_nets[l.m_q].m_name;
        if (l.m_init == 0) {
            CDB_ATOM_NODE* host = packing_host(m_driver[l.m_d]);
            CDB_ATOM_NODE* reg =
                host != nullptr ? add_packed_register(host, clock) : add_register(m_net_name[l.m_q], d, clock);
            m_driver[l.m_q] = add_oterm(reg, DB_REG_OUT, m_net_name[l.m_q]);
            if (l.m_clock_falling) clock->set_invert();
            if (l.m_reset >= 0) t.clear = reg->add_input_term(DB_CLEAR);
            add_controls(reg, l, t);
            return;
        }
        // Power-up 1 as !reg(!D): the register holds the complement and starts at 0.
        CDB_ATOM_OTERM* d_inv_out = nullptr;
        CDB_ATOM_NODE* d_inv = add_inverter(synthesized_name(q + "~init_d"), &d_inv_out);
        HDB_INSTANCE_NAME* reg_name = synthesized_name(q + "~init_reg");
        CDB_ATOM_ITERM* reg_d = nullptr;
        CDB_ATOM_NODE* host = packing_host(d_inv_out);
        CDB_ATOM_NODE* reg = host != nullptr ? add_packed_register(host, clock) : add_register(reg_name, reg_d, clock);
        if (l.m_clock_falling) clock->set_invert();
        CDB_ATOM_OTERM* reg_out = add_oterm(reg, DB_REG_OUT, reg_name);
        CDB_ATOM_OTERM* q_out = nullptr;
        CDB_ATOM_NODE* q_inv = add_inverter(m_net_name[l.m_q], &q_out);
        if (reg_d != nullptr) d_inv_out->insert_fanout(reg_d);
        reg_out->insert_fanout(q_inv->get_input_term_by_type(DB_DATA_A));
        m_driver[l.m_q] = q_out;
        d = d_inv->get_input_term_by_type(DB_DATA_A);
    }

    // The logic cell a register loading `d` joins, as synthesis packs it:
    // the cell whose LUT computes d, when the family's logic cell holds a
    // register and this one holds none yet. The LUT keeps driving its other
    // sinks from its combinational output.
    CDB_ATOM_NODE* packing_host(const CDB_ATOM_OTERM* d) const
    {
        if (!m_pack_registers || d == nullptr || !d->is_used_as(DB_COMB_OUT)) return nullptr;
        CDB_ATOM_NODE* cell = d->get_my_node();
        if (cell->get_kind() != CDB_KIND_UVO_LCELL || cell->get_output_term_by_type(DB_REG_OUT) != nullptr)
            return nullptr;
        return cell;
    }

    CDB_ATOM_NODE* add_packed_register(CDB_ATOM_NODE* cell, CDB_ATOM_ITERM*& clock)
    {
        clock = cell->add_input_term(DB_CLOCK);
        clock->set_global(HOST_GLOBAL_CLOCK);
        return cell;
    }

    // UVO registers live in a logic cell whose LUT passes data input A through.
    CDB_ATOM_NODE* add_register(HDB_INSTANCE_NAME* name, CDB_ATOM_ITERM*& d, CDB_ATOM_ITERM*& clock)
    {
        CDB_ATOM_NODE* reg = add_atom(CDB_KIND_REGISTER, name);
        if (reg->is_register()) {
            d = reg->add_input_term(DB_DATAIN);
        } else {
            d = reg->add_input_term(DB_DATA_A);
            reg->set_lutmask(blif_family_lutmask(m_family, 1, 0x2));
        }
        clock = reg->add_input_term(DB_CLOCK);
        // The host promotes every clock net to a global network.
        clock->set_global(HOST_GLOBAL_CLOCK);
        return reg;
    }

    // The synchronous controls the reader found in the latch's logic.
    static void add_controls(CDB_ATOM_NODE* reg, const BLIF_LATCH& l, LATCH_TERMS& t)
    {
        if (l.m_ena >= 0) {
            t.ena = reg->add_input_term(DB_CLOCK_ENABLE);
            if (l.m_ena_active_low) t.ena->set_invert();
        }
        if (l.m_sclr >= 0) {
            t.sclr = reg->add_input_term(DB_SYNCH_CLEAR);
            if (l.m_sclr_active_low) t.sclr->set_invert();
        }
        if (l.m_sload >= 0) {
            t.sload = reg->add_input_term(DB_SYNCH_LOAD);
            t.sdata = reg->add_input_term(DB_SYNCH_DATA);
        }
    }

    void connect_latch(const BLIF_LATCH& l, const LATCH_TERMS& t)
    {
        connect(t.d, l.m_d);
        connect(t.clock, l.m_clock);
        if (t.clear != nullptr) connect_clear(t.clear, l);
        if (t.ena != nullptr) connect(t.ena, l.m_ena);
        if (t.sclr != nullptr) connect(t.sclr, l.m_sclr);
        if (t.sload != nullptr) connect(t.sload, l.m_sload);
        if (t.sdata != nullptr) connect(t.sdata, l.m_sdata);
    }

    // A register's clear acts at logical 0: an active-high reset reaches it
    // through the input's inversion.
    void connect_clear(CDB_ATOM_ITERM* clear, const BLIF_LATCH& l)
    {
        if (m_driver[l.m_reset] == nullptr) {
            // An undriven reset reads as 0: the clear stays idle.
            if (l.m_reset_active_high) clear->set_logical_vcc();
            else clear->set_logical_gnd();
            return;
        }
        m_driver[l.m_reset]->insert_fanout(clear);
        if (l.m_reset_active_high) clear->set_invert();
    }

    void connect(CDB_ATOM_ITERM* sink, int net)
    {
        if (sink == nullptr) return;  // a packed register reads its cell's LUT
        if (m_driver[net]) m_driver[net]->insert_fanout(sink);
        else sink->set_logical_gnd();
    }

    const BLIF_MODEL& m_model;
    int m_family;
    bool m_pack_registers;
    std::unique_ptr<CDB_ATOM_NETLIST> m_netlist;
    HDB_NAME_MGR* m_names = nullptr;
    std::vector<HDB_INSTANCE_NAME*> m_net_name;
    std::vector<CDB_ATOM_OTERM*> m_driver;
    int m_next_host_index = 0;
};

}  // namespace

BLIF_READER::BLIF_READER(int family) : m_family(family), m_lut_size(family_info(family).lut_size) {}

BLIF_READER::BLIF_READER(const std::string& family) : BLIF_READER(family_code(family)) {}

std::unique_ptr<CDB_ATOM_NETLIST> BLIF_READER::read_file(const std::string& path, HDB_NAME_MGR* names)
{
    return build(parse_blif_file(path, m_lut_size, m_clock_net), names);
}

std::unique_ptr<CDB_ATOM_NETLIST> BLIF_READER::read_text(std::string_view text, const std::string& file_label,
                                                         HDB_NAME_MGR* names)
{
    return build(parse_blif_text(text, file_label, m_lut_size, m_clock_net), names);
}

std::unique_ptr<CDB_ATOM_NETLIST> BLIF_READER::build(const BLIF_MODEL& model, HDB_NAME_MGR* names)
{
    m_model_name = model.m_name;
    m_undriven_count = model.m_undriven.size();
    if (m_undriven_count > 0 && m_undriven_is_error) throw blif_undriven_error(model);
    m_control_counts = {};
    std::unique_ptr<CDB_ATOM_NETLIST> netlist;
    if (m_fold_register_controls && family_info(m_family).atom_type[CDB_KIND_UVO_LCELL] == CDB_ATOM_TYPE_NONE) {
        BLIF_MODEL folded = model;
        m_control_counts = blif_fold_register_controls(folded);
        netlist = BUILDER(folded, m_family, names, m_pack_registers).run();
    } else {
        netlist = BUILDER(model, m_family, names, m_pack_registers).run();
    }
    if (m_undriven_count > 0) {
        MSG_W warning;
        warning.fill_args("%1!s!/WHOST_BLIF_UNDRIVEN_NETS", blif_undriven_warning_text(model));
        warning.set_always_shown(true);
        warning.post();
    }
    return netlist;
}

std::string blif_output_port_name(std::string_view pin_name)
{
    std::string_view suffix = BLIF_OUTPUT_PIN_SUFFIX;
    size_t at = pin_name.rfind(suffix);
    if (at == std::string_view::npos) return std::string(pin_name);
    std::string_view rest = pin_name.substr(at + suffix.size());
    // create_unique_name appends "_<n>" when the plain name is taken.
    if (!rest.empty()) {
        if (rest.size() < 2 || rest[0] != '_') return std::string(pin_name);
        for (char c : rest.substr(1))
            if (c < '0' || c > '9') return std::string(pin_name);
    }
    return std::string(pin_name.substr(0, at));
}

CDB_LUTMASK blif_family_lutmask(int family, int inputs, uint64_t truth)
{
    const CDB_FAMILY_INFO& info = family_info(family);
    const int k = info.lut_size;
    if (inputs < 0 || inputs > k) throw std::invalid_argument("cover wider than the family's LUT");
    uint64_t rows = CDB_LUTMASK::full_mask(inputs);
    uint64_t value = truth & rows;
    // Unused inputs must not matter: repeat the table over their rows.
    for (int width = 1 << inputs; width < (1 << k); width <<= 1) value |= value << width;
    CDB_LUTMASK mask(k, value);
    if (info.reversed_bit_order) mask.mirror_mask();
    return mask;
}
