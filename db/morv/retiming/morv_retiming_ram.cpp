// RAM output registers for retiming: in forward iterations a RAM whose data
// output is registered inside the block gets that register unpacked into
// ordinary registers, one per used output bit, which the forward pushes can
// then move like any other. The atoms of one logical RAM are unpacked
// together.
#include <string>
#include <utility>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/timing/morv_timing.h"

namespace {

constexpr int k_ram_ports = 2;
constexpr int k_ram_data_outputs[k_ram_ports] = {DB_RAM_PORTA_DATAOUT, DB_RAM_PORTB_DATAOUT};

bool is_output_registered(const CDB_ATOM_NODE* node, int ram_port)
{
    return CUT_RAM_UTIL::ram_mode_is(node, ram_port, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_REGISTERED});
}

// Every bit of a data output with fanout: the whole port is registered, so
// a bit left without its register would arrive a cycle early.
template <typename F>
void for_each_used_output(CDB_ATOM_NODE* node, int port_type, F&& f)
{
    const int width = cut_output_terms_width(node, port_type);
    for (int k = 0; k < width; ++k) {
        CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(port_type, k);
        if (oterm != nullptr && oterm->has_fanout()) f(oterm);
    }
}

}  // namespace

void MORV_RETIMING::build_ram_slices()
{
    MORV_DEBUG_STREAM::print(2, "-GENERATING RAM SLICE RETIMING INFO-");
    m_rams.clear();
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        MORV_ASSERT_TEXT(node, "node");
        if (node->is_ram()) add_ram_to_slice(node);
    }
    MORV_DEBUG_STREAM::print(2, "RAM Slices Found: %d", static_cast<int>(m_rams.size()));
    MORV_DEBUG_STREAM::print(2, "------------------------------------");
}

void MORV_RETIMING::add_ram_to_slice(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    const std::string name = CUT_RAM_UTIL::get_logical_name_str(node);
    MORV_DEBUG_STREAM::print(2, "NODE <%d> is a RAM (%s)", static_cast<int>(node->get_id()), name.c_str());
    if (!is_output_registered(node, 0)) {
        MORV_DEBUG_STREAM::print(2, "   The output is NOT registered. -> Nothing to do");
        return;
    }
    MORV_DEBUG_STREAM::print(2, "   The output is registered. -> Adding to ram_slices MAP");
    auto found = m_rams.find(name);
    if (found != m_rams.end()) {
        MORV_DEBUG_STREAM::print(2, "   Adding to existing slice");
    } else {
        MORV_DEBUG_STREAM::print(2, "   Creating new slice");
        found = m_rams.emplace(name, MORV_RAM_SLICE{name, {}, false}).first;
    }
    MORV_ASSERT_TEXT(found != m_rams.end(), "ram_slice");
    found->second.nodes.push_back(node);
}

// Only the registered ports count: unpacking does nothing for the other.
bool MORV_RETIMING::is_ram_output_critical(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(node->is_ram(), "node->is_ram()");
    MORV_ASSERT_TEXT(m_ram_retiming_enabled, "m_ram_retiming_enabled");
    if (!is_output_registered(node, 0)) return false;
    bool critical = false;
    for (int port = 0; port < k_ram_ports && !critical; ++port) {
        if (!is_output_registered(node, port)) continue;
        for_each_used_output(node, k_ram_data_outputs[port], [&](CDB_ATOM_OTERM* oterm) {
            for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout() && !critical; ++it) {
                MORV_ASSERT_TEXT(*it, "iterm");
                critical = m_fsyn_timing->get_slack_ratio(*it) < m_slack_ratio_threshold;
            }
        });
    }
    return critical;
}

bool MORV_RETIMING::unpack_ram_slice(MORV_RAM_SLICE* slice)
{
    MORV_ASSERT_TEXT(slice, "slice");
    reset_push();
    MORV_DEBUG_STREAM::print(2, " Unpacking RAM slice <%s>", slice->name.c_str());
    // Node tracking records the new registers as made from the slice's atoms.
    m_operation_text = "RAM unpack <";
    m_operation_text += slice->name;
    m_operation_text += ">";
    bool unpacked = false;
    for (CDB_ATOM_NODE* node : slice->nodes) {
        MORV_ASSERT_TEXT(node, "node");
        m_consumed_register_ids.emplace_back(static_cast<int>(node->get_id()));
        unpacked = unpack_ram_output_registers(node) || unpacked;
    }
    slice->unpacked = true;
    prepare_commit();
    commit();
    return unpacked;
}

// A port without its own registered output keeps its modes and gets no
// register: a register there would add a cycle.
bool MORV_RETIMING::unpack_ram_output_registers(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(node->is_ram(), "node->is_ram()");
    MORV_ASSERT_TEXT(!m_retime_backwards, "!m_retime_backwards");
    MORV_ASSERT_TEXT(m_ram_retiming_enabled, "m_ram_retiming_enabled");
    MORV_DEBUG_STREAM::print(2, "   Unpacking NODE -> %d", static_cast<int>(node->get_id()));
    bool registered[k_ram_ports];
    for (int port = 0; port < k_ram_ports; ++port) registered[port] = is_output_registered(node, port);
    for (int port = 0; port < k_ram_ports; ++port) {
        if (!registered[port]) continue;
        for_each_used_output(node, k_ram_data_outputs[port], [&](CDB_ATOM_OTERM* oterm) {
            m_output_registers[oterm] = describe_ram_output_register(node, oterm);
        });
    }
    for (int flag : {CDB_RAM_FLAG_OUTPUT_REGISTERED, CDB_RAM_FLAG_OUTPUT_CLEAR})
        for (int port = 0; port < k_ram_ports; ++port)
            if (registered[port]) CUT_RAM_UTIL::clear_ram_mode(node, port, CDB_RAM_FLAG_SET{flag});
    m_fsyn_api->modify_node(node);
    return true;
}

// The look-up of the core's RAM push: the slice of the node's logical RAM,
// unless it was unpacked already in this iteration.
bool MORV_RETIMING::unpack_ram_at_node(CDB_ATOM_NODE* node)
{
    auto found = m_rams.find(CUT_RAM_UTIL::get_logical_name_str(node));
    if (found == m_rams.end() || found->second.unpacked) return false;
    return unpack_ram_slice(&found->second);
}

RETIME_REG MORV_RETIMING::describe_ram_output_register(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm)
{
    const int port_type = oterm->get_any_usage_as();
    const int clock_type = CUT_RAM_UTIL::get_physical_port_clock(node, port_type);
    MORV_ASSERT_TEXT(clock_type != DB_MAX_INPUT_PORT_TYPE, "clock_type != DB_MAX_INPUT_PORT_TYPE");
    RETIME_REG reg;
    reg.signals[RETIME_CLOCK] = capture_signal(node, clock_type);
    reg.signals[RETIME_CLEAR] = capture_ram_clear(node, port_type);
    const int enable_type = CUT_RAM_UTIL::get_physical_port_clock_enable(node, port_type);
    if (enable_type != DB_MAX_INPUT_PORT_TYPE) reg.signals[RETIME_CLOCK_ENABLE] = capture_signal(node, enable_type);
    reg.clear_low = true;
    reg.kardel_region = -1;
    reg.regout = oterm;
    reg.name = oterm->get_instance_name();
    return reg;
}

// A RAM clear acts at logical 1 and a register clear at logical 0, so the
// register reads the RAM's clear signal the other way round: a driven clear
// with its inversion flipped, a constant as the other constant. A missing
// or unconnected clear stays empty and the register gets no clear.
RETIME_SIGNAL MORV_RETIMING::capture_ram_clear(CDB_ATOM_NODE* node, int port_type)
{
    const int clear_type = CUT_RAM_UTIL::get_physical_port_clear(node, port_type);
    if (clear_type == DB_MAX_INPUT_PORT_TYPE) return RETIME_SIGNAL();
    RETIME_SIGNAL signal = capture_signal(node, clear_type);
    if (signal.is_gnd || signal.is_vcc) {
        std::swap(signal.is_gnd, signal.is_vcc);
        signal.inverted = false;
    } else if (signal.source != nullptr) {
        signal.inverted = !signal.inverted;
    }
    return signal;
}
