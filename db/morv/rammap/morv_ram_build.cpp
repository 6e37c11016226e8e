// The RAM that replaces an encoded cluster: one slice per data bit, each a
// one-bit-wide ROM over the cluster's address bits, all reading one
// memory-initialisation file. The slices' registered outputs stand for the
// cluster's registers; state bits come back into every slice's address from
// the slice's real output (the RAM output, or the LUT behind it).

#include "morv/rammap/morv_ram_build.h"

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_cluster.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/rammap/morv_ram_cluster_manager.h"
#include "morv/rammap/morv_ram_encode.h"
#include "morv/rammap/morv_ram_map_util.h"
#include "morv/rammap/morv_register_type.h"

std::vector<MORV_RAM_COLUMN> morv_ram_stored_columns(const MORV_CLUSTER_RAM_STATE_ENCODING& encoding,
                                                     bool emulates_clear)
{
    std::vector<MORV_RAM_COLUMN> columns = encoding.get_contents();
    const std::vector<bool>& power_up = encoding.get_power_up_values();
    if (emulates_clear) return columns;
    for (size_t s = 0; s < columns.size() && s < power_up.size(); ++s)
        if (power_up[s]) columns[s].flip();
    return columns;
}

namespace {

class MORV_RAM_BUILDER
{
public:
    MORV_RAM_BUILDER(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster);
    bool build(std::string& ram_name);

private:
    bool take_file();
    void build_slice(int s);
    CDB_ATOM_NODE* new_slice_atom(int s, const MORV_REGISTER_TYPE& type);
    void set_parameters(CDB_ATOM_NODE* ram, int s);
    CDB_ATOM_ITERM* new_control(CDB_ATOM_NODE* ram, int port_type);
    void wire_clock(CDB_ATOM_NODE* ram, const MORV_REGISTER_TYPE& type);
    void wire_enable(CDB_ATOM_NODE* ram, const MORV_REGISTER_TYPE& type);
    CDB_ATOM_OTERM* wire_clear(CDB_ATOM_NODE* ram, const MORV_REGISTER_TYPE& type);
    void set_signal_properties(CDB_ATOM_ITERM* iterm, const MORV_SIGNAL& signal, bool invert);
    CDB_ATOM_OTERM* new_data_output(CDB_ATOM_NODE* ram, int s);
    CDB_ATOM_OTERM* move_fanout(CDB_ATOM_OTERM* data, CDB_ATOM_OTERM* ram_out, CDB_ATOM_OTERM* aclr, bool invert);
    bool inputs_can_be_looked_through() const;
    void check_carry_address_bits() const;
    CDB_ATOM_OTERM* address_driver(int k) const;
    void wire_address(CDB_ATOM_NODE* ram);
    void close(std::string& ram_name);
    HDB_INSTANCE_NAME* slice_name(CDB_ATOM_OTERM* data) const;

    MORV_RAM_MAP_AREA_CLUSTER_MANAGER* m_manager;
    MORV_CLUSTER* m_cluster;
    MORV_RAM_MAP_UTIL* m_util = nullptr;
    MORV_API* m_api = nullptr;
    MORV_CDB_INTERFACE* m_cdb = nullptr;
    MORV_NET_UTIL* m_net = nullptr;
    MORV_CLUSTER_RAM_STATE_ENCODING* m_encoding = nullptr;

    std::vector<CDB_ATOM_OTERM*> m_address;
    std::vector<CDB_ATOM_OTERM*> m_data;
    std::vector<MORV_RAM_COLUMN> m_columns;
    std::vector<bool> m_power_up;
    int m_true_inputs = 0;
    int m_depth_bits = 0;
    int m_depth = 0;
    bool m_emulates_clear = false;
    bool m_registered_inputs = false;
    CDB_ATOM_NODE* m_first_node = nullptr;
    CDB_ATOM_NODE* m_representative = nullptr;
    CDB_ATOM_OTERM* m_representative_out = nullptr;
    HDB_INSTANCE_NAME* m_base_name = nullptr;
    std::string m_file_name;
    std::string m_hierarchy;

    std::vector<CDB_ATOM_OTERM*> m_ram_outputs;
    std::vector<CDB_ATOM_NODE*> m_rams;
};

MORV_RAM_BUILDER::MORV_RAM_BUILDER(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster)
    : m_manager(manager), m_cluster(cluster)
{
    MORV_ASSERT_TEXT(cluster, "cluster");
    MORV_ASSERT_TEXT(cluster->get_encoding(), "cluster->get_encoding()");
    MORV_ASSERT_TEXT(MORV_RAM_MAP_UTIL::has_instance(), "m_instance");
    m_encoding = cluster->get_encoding()->as_ram_state_encoding();
    MORV_ASSERT_TEXT(m_encoding, "cluster->get_encoding()");
    m_util = MORV_RAM_MAP_UTIL::get_instance();
    m_api = m_util->get_api();
    m_net = m_util->get_net_util();
    m_cdb = m_api->get_fsyn_cdb_interface();
    // RAM atoms cannot be recorded in the change log; the flow stays out of
    // logged compiles, and an edit that slipped through must not leave a
    // log that replays into a different netlist.
    MORV_ASSERT_TEXT(!m_cdb->is_logging(), "This function is not implemented and should not be required");

    m_address = m_encoding->get_address_oterms();
    m_data = m_encoding->get_data_oterms();
    m_power_up = m_encoding->get_power_up_values();
    m_true_inputs = static_cast<int>(m_encoding->get_inputs().size());
    m_depth_bits = static_cast<int>(m_address.size());
    m_depth = 1 << m_depth_bits;
    m_emulates_clear = m_util->counts_outputs_in_gain();
    m_columns = morv_ram_stored_columns(*m_encoding, m_emulates_clear);

    MORV_ASSERT_TEXT(cluster->begin_included() != cluster->end_included(), "cluster");
    m_first_node = (*cluster->begin_included())->get_my_node();
    for (auto it = cluster->begin_included(); it != cluster->end_included(); ++it)
        if (cluster->get_node_info(*it).is_ff()) m_representative_out = *it;
    // A cluster of logic only has the registers feeding it as its register
    // stage: the RAM's address register takes their place, reading what
    // they read, and the last of them stands for their controls.
    m_registered_inputs = m_representative_out == nullptr;
    for (int k = 0; m_registered_inputs && k < m_true_inputs; ++k)
        if (m_address[k]->get_my_node()->is_register()) m_representative_out = m_address[k];
    MORV_ASSERT_TEXT(m_representative_out, "any_regout");
    m_representative = m_representative_out->get_my_node();
    if (HDB_INSTANCE_NAME* parent = m_first_node->get_instance_name()->get_parent())
        if (!parent->is_root()) m_hierarchy = parent->get_short_hpath();
}

bool MORV_RAM_BUILDER::build(std::string& ram_name)
{
    MORV_DEBUG_STREAM::print(2, "Creating simple RAM...");
    MORV_DEBUG_STREAM::print(2, " width_bits %d, depth_bits %d", static_cast<int>(m_data.size()), m_depth_bits);
    if (!inputs_can_be_looked_through() || !take_file()) return false;
    m_base_name =
        HDB_INSTANCE_NAME::create_synthesized_name(m_first_node->get_instance_name(), MORV_RAM_BASE_NAME, true);
    for (int s = 0; s < static_cast<int>(m_data.size()); ++s) build_slice(s);
    check_carry_address_bits();
    for (CDB_ATOM_NODE* ram : m_rams) wire_address(ram);
    close(ram_name);
    return true;
}

// A file the flow wrote is taken as it is; otherwise one is written now,
// before any edit, so that a failed write leaves the netlist untouched.
bool MORV_RAM_BUILDER::take_file()
{
    if (!m_manager->m_mif_file_name.empty()) {
        m_file_name = m_manager->m_mif_file_name;
        m_manager->m_mif_file_name.clear();
        return true;
    }
    m_file_name = m_util->make_mif_file_name();
    if (morv_write_mif_file(m_file_name, static_cast<int>(m_columns.size()), m_depth, m_columns)) return true;
    MORV_DEBUG_STREAM::print(1, "Cannot write memory initialization file %s", m_file_name.c_str());
    m_manager->m_mif_file_name = m_file_name;
    return false;
}

HDB_INSTANCE_NAME* MORV_RAM_BUILDER::slice_name(CDB_ATOM_OTERM* data) const
{
    // Slices sit under the RAM's base name, which is how the host groups
    // them into one logical RAM (one block) however the data bits are named.
    HDB_NAME_MGR* names = m_base_name->get_name_mgr();
    std::string leaf(data->get_my_node()->get_instance_name()->get_leaf());
    leaf.append(MORV_RAM_SLICE_SUFFIX);
    HDB_INSTANCE_NAME* name = names->create_name(m_base_name, leaf, HDB_INAME_FLAG_SYNTHESIZED);
    while (name == nullptr) {
        std::string unique = leaf;
        unique.append("_");
        unique.append(std::to_string(names->next_unique_counter()));
        name = names->create_name(m_base_name, unique, HDB_INAME_FLAG_SYNTHESIZED);
    }
    return name;
}

void MORV_RAM_BUILDER::build_slice(int s)
{
    const MORV_REGISTER_TYPE type(m_representative);
    MORV_DEBUG_STREAM::print(100, "Creating slice %d", s);
    CDB_ATOM_NODE* ram = new_slice_atom(s, type);
    set_parameters(ram, s);
    wire_clock(ram, type);
    wire_enable(ram, type);
    CDB_ATOM_OTERM* aclr = wire_clear(ram, type);
    ram->create_atom_info();

    const bool one = m_power_up[s];
    MORV_DEBUG_STREAM::print(100, "TEST: invert oterm? %d", one ? 1 : 0);
    static_cast<CDB_ATOM_RAM*>(ram)->set_content(m_columns[s]);
    CDB_ATOM_OTERM* out = new_data_output(ram, s);
    m_ram_outputs.push_back(move_fanout(m_data[s], out, aclr, one));
    m_rams.push_back(ram);
}

CDB_ATOM_NODE* MORV_RAM_BUILDER::new_slice_atom(int s, const MORV_REGISTER_TYPE& type)
{
    CDB_RAM_FLAG_SET flags{1, 2, 8, 11, 12, 48};
    if (!m_emulates_clear && type.m_clear.m_oterm != nullptr) {
        flags.set(20);
        flags.set(CDB_RAM_FLAG_OUTPUT_CLEAR);
    }
    if (type.m_enable.m_oterm != nullptr) {
        flags.set(63);
        flags.set(67);
    }
    CDB_ATOM_NODE* ram = m_util->create_ram_atom(m_base_name, m_file_name, flags);
    ram->set_instance_name(slice_name(m_data[s]));
    static_cast<CDB_ATOM_RAM*>(ram)->set_renamed(true);
    // Announced before its terms are made, so that every connection lands
    // on a node the netlist holds.
    m_api->node_added(ram, m_first_node, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE, true, nullptr);
    return ram;
}

void MORV_RAM_BUILDER::set_parameters(CDB_ATOM_NODE* ram, int s)
{
    CUT_RAM_UTIL::set_block_type(ram, 0, m_util->uses_block_type_3() ? 3 : 1);
    CUT_RAM_UTIL::set_target_block_type(ram, 0, 1);
    CUT_RAM_UTIL::set_physical_port(ram, 0, 0);
    CUT_RAM_UTIL::set_content_view(ram, 0, 0);
    CUT_RAM_UTIL::set_mixed_port_feed_through_mode(ram, 0, 2);
    CUT_RAM_UTIL::set_logical_depth(ram, 0, m_depth);
    CUT_RAM_UTIL::set_logical_width(ram, 0, static_cast<int>(m_data.size()));
    CUT_RAM_UTIL::set_address_width(ram, 0, m_depth_bits);
    CUT_RAM_UTIL::set_first_address(ram, 0, 0);
    CUT_RAM_UTIL::set_last_address(ram, 0, m_depth - 1);
    CUT_RAM_UTIL::set_first_bit_number(ram, 0, s);
    CUT_RAM_UTIL::set_data_width(ram, 0, 1);
    CUT_RAM_UTIL::set_data_width_mode(ram, 0, 1);
    CUT_RAM_UTIL::set_data_interleave_offset_in_bits(ram, 0, 1);
    CUT_RAM_UTIL::set_data_interleave_width_in_bits(ram, 0, 1);
}

CDB_ATOM_ITERM* MORV_RAM_BUILDER::new_control(CDB_ATOM_NODE* ram, int port_type)
{
    CDB_ATOM_ITERM* iterm = nullptr;
    m_cdb->create_input_term(nullptr, iterm, ram, port_type, 0);
    MORV_ASSERT_TEXT(iterm, "new_iterm");
    return iterm;
}

void MORV_RAM_BUILDER::set_signal_properties(CDB_ATOM_ITERM* iterm, const MORV_SIGNAL& signal, bool invert)
{
    MORV_ITERM_PROPERTIES properties;
    m_net->save_iterm_properties(iterm, &properties);
    properties.inverted = invert;
    properties.global_setting = signal.get_global_setting();
    m_net->restore_iterm_properties(properties, iterm);
}

void MORV_RAM_BUILDER::wire_clock(CDB_ATOM_NODE* ram, const MORV_REGISTER_TYPE& type)
{
    CDB_ATOM_ITERM* clock = new_control(ram, DB_RAM_CLK0);
    MORV_ASSERT_TEXT(type.m_clock.m_oterm, "clock_oterm");
    m_net->insert_fanout(type.m_clock.m_oterm, clock);
    set_signal_properties(clock, type.m_clock, type.m_clock.m_inverted);
}

void MORV_RAM_BUILDER::wire_enable(CDB_ATOM_NODE* ram, const MORV_REGISTER_TYPE& type)
{
    CDB_ATOM_ITERM* enable = new_control(ram, DB_RAM_CLK0_ENA);
    if (enable->is_connected()) m_net->disconnect_iterm(enable, CDB_NET_ITERM::UNCONNECTED);
    m_cdb->set_iterm_vcc(enable);
    if (type.m_enable.m_oterm != nullptr) m_net->insert_fanout(type.m_enable.m_oterm, enable);
    set_signal_properties(enable, type.m_enable, type.m_enable.m_oterm != nullptr && type.m_enable.m_inverted);
}

// The register clear is active low and the RAM's active high: the RAM reads
// it inverted, and without a clear it sees an inverted VCC.
CDB_ATOM_OTERM* MORV_RAM_BUILDER::wire_clear(CDB_ATOM_NODE* ram, const MORV_REGISTER_TYPE& type)
{
    CDB_ATOM_ITERM* clear = new_control(ram, DB_RAM_CLR0);
    if (m_emulates_clear) {
        CDB_ATOM_OTERM*& aclr = m_manager->m_aclr_register_oterms[type];
        if (aclr == nullptr) aclr = m_util->create_aclr_register(m_representative);
        return aclr;
    }
    m_cdb->set_iterm_vcc(clear);
    if (type.m_clear.m_oterm != nullptr) m_net->insert_fanout(type.m_clear.m_oterm, clear);
    set_signal_properties(clear, type.m_clear, !(type.m_clear.m_oterm != nullptr && type.m_clear.m_inverted));
    return nullptr;
}

CDB_ATOM_OTERM* MORV_RAM_BUILDER::new_data_output(CDB_ATOM_NODE* ram, int s)
{
    CDB_ATOM_OTERM* out = nullptr;
    m_cdb->create_oterm(nullptr, out, ram, DB_RAM_PORTA_DATAOUT, ram->get_instance_name());
    MORV_ASSERT_TEXT(out, "new_oterm");
    CDB_RAM_SLICE_INFO info;
    info.m_logical_name = CUT_RAM_UTIL::get_logical_name_str(ram);
    info.m_file_name = m_file_name;
    info.m_logical_width = CUT_RAM_UTIL::get_logical_width(ram, 0);
    info.m_logical_depth = CUT_RAM_UTIL::get_logical_depth(ram, 0);
    info.m_first_address = CUT_RAM_UTIL::get_first_address(ram, 0);
    info.m_last_address = CUT_RAM_UTIL::get_last_address(ram, 0);
    info.m_slice_index = s;
    info.m_mif_view = 0;
    info.m_hierarchy = m_hierarchy;
    static_cast<CDB_ATOM_RAM*>(ram)->set_slice_info(out, info);
    MORV_DEBUG_STREAM::print(100, "TEST: slice logical width, depth (%d, %d), ec: (%d, %d), bits (%d, %d)",
                             CUT_RAM_UTIL::get_slice_width(ram, 0),
                             static_cast<int>(CUT_RAM_UTIL::get_slice_depth(ram, 0)), info.m_logical_width,
                             info.m_logical_depth, static_cast<int>(m_data.size()), m_depth_bits);
    return out;
}

// Every sink of the data bit moves to the slice; an inverter or clear
// wrapper goes in front of the first and is shared by the rest. Answers
// the slice's real output.
CDB_ATOM_OTERM* MORV_RAM_BUILDER::move_fanout(CDB_ATOM_OTERM* data, CDB_ATOM_OTERM* ram_out, CDB_ATOM_OTERM* aclr,
                                              bool invert)
{
    std::vector<CDB_ATOM_ITERM*> sinks;
    for (auto it = data->begin_iterm_fanout(); it != data->end_iterm_fanout(); ++it) sinks.push_back(*it);
    MORV_ASSERT_TEXT(!sinks.empty(), "fanout_iterm_vec.size()");
    bool inverter_pending = invert && aclr == nullptr;
    bool wrapper_pending = aclr != nullptr;
    CDB_ATOM_OTERM* driver = ram_out;
    CDB_ATOM_OTERM* real_output = nullptr;
    for (CDB_ATOM_ITERM* sink : sinks) {
        MORV_DEBUG_STREAM::print(100, "TEST: moving away iterm: %d (%s)",
                                 static_cast<int>(sink->get_my_node()->get_id()),
                                 sink->get_my_node()->get_instance_name()->get_short_hpath().c_str());
        CDB_ATOM_ITERM* target = sink;
        if (target->get_any_usage_as() == DB_CARRY_IN) target = m_util->create_carry_out_wire_lut(target);
        if (target->is_connected()) m_net->disconnect_iterm(target, CDB_NET_ITERM::UNCONNECTED);
        m_net->insert_fanout(driver, target);
        if (inverter_pending || wrapper_pending) {
            CDB_ATOM_ITERM* w = target;
            if (inverter_pending) w = m_util->insert_inverter_lut(target);
            if (wrapper_pending) m_util->create_aclr_wrapper(w, aclr, invert);
            inverter_pending = wrapper_pending = false;
            driver = target->get_source();
        }
        if (real_output == nullptr) real_output = target->get_source();
    }
    return real_output;
}

// Where the feeding registers are the register stage, each address bit is
// a register of the cluster's type whose data input the RAM can read as it
// is: driven, not inverted.
bool MORV_RAM_BUILDER::inputs_can_be_looked_through() const
{
    if (!m_registered_inputs) return true;
    const MORV_REGISTER_TYPE type(m_representative);
    for (int k = 0; k < m_true_inputs; ++k) {
        CDB_ATOM_NODE* node = m_address[k]->get_my_node();
        const CDB_ATOM_ITERM* data_in = node->get_input_term_by_type(DB_DATAIN);
        if (!node->is_register() || !(MORV_REGISTER_TYPE(node) == type) || data_in == nullptr ||
            data_in->get_source() == nullptr || data_in->is_inverted()) {
            MORV_DEBUG_STREAM::print(2, "Address bit %d cannot be read through its register", k);
            return false;
        }
    }
    return true;
}

// A carry output among the address bits reaches the RAM through its carry
// input's cell, which must not be needed for anything outside the cluster.
void MORV_RAM_BUILDER::check_carry_address_bits() const
{
    for (CDB_ATOM_OTERM* bit : m_address) {
        if (bit->get_any_usage_as() != DB_CARRY_OUT) continue;
        MORV_DEBUG_STREAM::print(100, "node is %d", static_cast<int>(bit->get_my_node()->get_id()));
        MORV_ASSERT_TEXT(bit->get_number_of_fanout() == 1, "!done");
        CDB_ATOM_ITERM* carry_in = *bit->begin_iterm_fanout();
        MORV_ASSERT_TEXT(carry_in->get_any_usage_as() == DB_CARRY_IN, "iterm->get_any_usage_as() == ::DB_CARRY_IN");
        CDB_ATOM_OTERM* target_combout = carry_in->get_my_node()->get_output_term_by_type(DB_COMB_OUT);
        MORV_ASSERT_TEXT(
            !target_combout || !target_combout->has_fanout() ||
                (m_cluster->has_node_info(target_combout) && m_cluster->get_node_info(target_combout).is_included()),
            "!target_combout || !target_combout->has_fanout() || (cluster->has_node_info(target_combout) "
            "&& cluster->get_node_info(target_combout).is_included())");
    }
}

CDB_ATOM_OTERM* MORV_RAM_BUILDER::address_driver(int k) const
{
    CDB_ATOM_OTERM* bit = m_address[k];
    if (k < m_true_inputs && m_registered_inputs)
        return bit->get_my_node()->get_input_term_by_type(DB_DATAIN)->get_source();
    if (k < m_true_inputs) return bit;
    size_t j = 0;
    while (j < m_data.size() && m_data[j] != bit) ++j;
    MORV_ASSERT_TEXT(j < m_ram_outputs.size(), "j < ram_outputs.size()");
    MORV_ASSERT_TEXT(m_ram_outputs[j], "real_oterm");
    return m_ram_outputs[j];
}

void MORV_RAM_BUILDER::wire_address(CDB_ATOM_NODE* ram)
{
    for (int k = 0; k < m_depth_bits; ++k) {
        CDB_ATOM_OTERM* driver = address_driver(k);
        if (driver->get_any_usage_as() == DB_CARRY_OUT) {
            MORV_ASSERT_TEXT(driver->get_number_of_fanout() == 1, "!done");
            CDB_ATOM_ITERM* carry_in = *driver->begin_iterm_fanout();
            MORV_ASSERT_TEXT(carry_in->get_any_usage_as() == DB_CARRY_IN, "iterm->get_any_usage_as() == ::DB_CARRY_IN");
            driver = m_util->convert_to_carry_chain_wire_lut(carry_in->get_my_node());
            MORV_ASSERT_TEXT(driver, "done && real_oterm");
        }
        CDB_ATOM_ITERM* address = nullptr;
        m_cdb->create_input_term(nullptr, address, ram, DB_RAM_PORTA_ADDRESS, 0);
        MORV_ASSERT_TEXT(address, "new_iterm");
        address->set_port_index(k);
        if (address->get_global() != 0) m_cdb->set_iterm_global(address, 0);
        m_net->insert_fanout(driver, address);
    }
    cut_add_observable_oterms(ram);
    // The address register stands for the cluster's registers: it keeps
    // their timing assignments.
    m_util->copy_timing_to_input_registers(m_representative_out, ram);
    MORV_DEBUG_STREAM::print(100, "TEST: New RAM Node: %d %s %s", static_cast<int>(ram->get_id()),
                             ram->get_instance_name()->get_hpath_to_root().c_str(), m_file_name.c_str());
}

void MORV_RAM_BUILDER::close(std::string& ram_name)
{
    for (CDB_ATOM_NODE* ram : m_rams) {
        CDB_RECONFIG_INFO info;
        info.m_mif_file_name = m_file_name;
        info.m_mif_file_usage = 1;
        static_cast<CDB_ATOM_RAM*>(ram)->set_reconfig_info(info);
    }
    ram_name = m_base_name->get_hpath_to_root();
    for (auto it = m_cluster->begin_included(); it != m_cluster->end_included(); ++it)
        m_manager->m_mapped_nodes.insert((*it)->get_my_node());
}

}  // namespace

bool MORV_RAM_MAP_AREA_CLUSTER_MANAGER::create_simple_ram(MORV_CLUSTER* cluster, std::string& ram_name)
{
    MORV_RAM_BUILDER builder(this, cluster);
    return builder.build(ram_name);
}
