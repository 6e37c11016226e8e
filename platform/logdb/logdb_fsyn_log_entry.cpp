#include "logdb/logdb_fsyn_log_entry.h"

#include "logdb/logdb_record_stream.h"

bool LOGDB_FSYN_LOG_ENTRY::operator==(const LOGDB_FSYN_LOG_ENTRY& other) const
{
    return logdb_encode_record(*this) == logdb_encode_record(other);
}

void LOGDB_FSYN_LOG_ENTRY_NODE_BASE::visit_fields(LOGDB_FIELD_VISITOR& v)
{
    v.field(m_node_id);
    v.field(m_node_name);
}

void LOGDB_FSYN_LOG_ENTRY_TERM_BASE::visit_fields(LOGDB_FIELD_VISITOR& v)
{
    LOGDB_FSYN_LOG_ENTRY_NODE_BASE::visit_fields(v);
    v.field(m_usage_as);
    v.field(m_term_index);
}

void LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER::visit_fields(LOGDB_FIELD_VISITOR& v)
{
    v.field(m_version);
    v.field(m_base_family);
}

namespace {
// Walks a list of member pointers of one record in order.
template <typename T, typename... MEMBERS>
void visit_members(T& record, LOGDB_FIELD_VISITOR& v, MEMBERS... members)
{
    (v.field(record.*members), ...);
}
}  // namespace

// The kind's own fields after the node-bound or term-bound part.
#define LOGDB_FIELDS(NAME, BASE, ...)                                                                                  \
    void LOGDB_FSYN_LOG_ENTRY_##NAME::visit_fields(LOGDB_FIELD_VISITOR& v)                                             \
    {                                                                                                                  \
        BASE::visit_fields(v);                                                                                         \
        using R = LOGDB_FSYN_LOG_ENTRY_##NAME;                                                                         \
        visit_members(*this, v, __VA_ARGS__);                                                                          \
    }

using NODE = LOGDB_FSYN_LOG_ENTRY_NODE_BASE;
using TERM = LOGDB_FSYN_LOG_ENTRY_TERM_BASE;
using TOP = LOGDB_FSYN_LOG_ENTRY;
using CONN = LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION;

LOGDB_FIELDS(INSERT_ATOM, NODE, &R::m_made_from_name, &R::m_is_comb, &R::m_is_kind3)
LOGDB_FIELDS(DELETE_ATOM, NODE, &R::m_oterm_names, &R::m_deleted_inserted_node)
LOGDB_FIELDS(CREATE_ITERM, NODE, &R::m_port_type, &R::m_unordered_index)
LOGDB_FIELDS(CREATE_OTERM, NODE, &R::m_term_name, &R::m_port_type)
LOGDB_FIELDS(SET_LUTMASK, NODE, &R::m_lutmask_type, &R::m_lutmask, &R::m_flag)
LOGDB_FIELDS(SET_USAGE_AS, TERM, &R::m_new_usage)
LOGDB_FIELDS(RESET_DELAY_CHAIN, TERM, &R::m_delay_chain)
LOGDB_FIELDS(SET_CONNECTED_TO_DELAY_CHAIN, TERM, &R::m_delay_chain, &R::m_connected)
LOGDB_FIELDS(SET_DELAY_CHAIN_INDEX, TERM, &R::m_delay_chain, &R::m_index)
LOGDB_FIELDS(SET_USER_DELAY_CHAIN, TERM, &R::m_delay_chain, &R::m_user)
LOGDB_FIELDS(SET_GLOBAL, TERM, &R::m_global_type)
LOGDB_FIELDS(REPLACE_INPUT_TERM_BY_TYPE, NODE, &R::m_port_type)
LOGDB_FIELDS(SET_INSTANCE_NAME, NODE, &R::m_port_type, &R::m_new_name)
LOGDB_FIELDS(REMOVE_UNORDERED_FANOUT_TERM, NODE, &R::m_port_type, &R::m_index)
LOGDB_FIELDS(MOVE_BOUNDARY_PORT_ID, NODE, &R::m_from_term_name, &R::m_to_term_name)
LOGDB_FIELDS(SET_BOUNDARY_PORT_ID, TERM, &R::m_bp_name)
LOGDB_FIELDS(SET_ITERM_PROPERTIES, TERM, &R::m_invert, &R::m_global, &R::m_connected_to_delay_chain,
             &R::m_use_delay_chain, &R::m_delay_chain_index, &R::m_user_delay_chain)
LOGDB_FIELDS(STORE_NODE_INFO, NODE, &R::m_input_ports, &R::m_sources, &R::m_lutmask, &R::m_output_ports,
             &R::m_output_port_name, &R::m_node_kind, &R::m_part_name, &R::m_is_constant_driver)
LOGDB_FIELDS(ADD_REMOVE_CONNECTION_RAM, NODE, &R::m_sources, &R::m_usage_as, &R::m_term_indices)
LOGDB_FIELDS(SET_OUTPUT_PORT_CLOCK, NODE, &R::m_port_type, &R::m_value)
LOGDB_FIELDS(SET_OUTPUT_PORT_CLEAR, NODE, &R::m_port_type, &R::m_value)
LOGDB_FIELDS(SET_INPUT_PORT_CLOCK, NODE, &R::m_port_type, &R::m_value)
LOGDB_FIELDS(SET_INPUT_PORT_CLEAR, NODE, &R::m_port_type, &R::m_value)
LOGDB_FIELDS(SET_INPUT_PORT_WIDTH, NODE, &R::m_port_type, &R::m_width)
LOGDB_FIELDS(COPY_NODE_ASSIGNMENTS, NODE, &R::m_second_node_name)
LOGDB_FIELDS(COPY_OTERM_TIMING_ASSIGNMENTS, TOP, &R::m_source_name, &R::m_source_name_again, &R::m_new_name)
LOGDB_FIELDS(SET_INVERT_OBSERVABLE, NODE, &R::m_port_type)
LOGDB_FIELDS(CONFIRM_CLKBUF, NODE, &R::m_clk_source_name, &R::m_output_name, &R::m_ena_source_name, &R::m_clock_type)
LOGDB_FIELDS(IGNORE_PARTITION_BP_INFO, TOP, &R::m_partition_name, &R::m_partition_name_again)

#undef LOGDB_FIELDS

void LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION::visit_fields(LOGDB_FIELD_VISITOR& v)
{
    LOGDB_FSYN_LOG_ENTRY_NODE_BASE::visit_fields(v);
    v.field(m_connection_array);
}

const char* LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO::check_fields() const
{
    if (m_input_ports.size() != m_sources.size()) return "input port and source lists differ in length";
    if (m_output_ports.size() != m_output_port_name.size()) return "output port and name lists differ in length";
    return nullptr;
}

const char* LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION_RAM::check_fields() const
{
    if (m_sources.size() != m_usage_as.size() || m_sources.size() != m_term_indices.size())
        return "RAM connection lists differ in length";
    return nullptr;
}

// ------------------------------------------------------------------ kinds

namespace {
struct KIND
{
    const char* name;
    LOGDB_FSYN_LOG_ENTRY_OWNER (*make)(int32_t);
};

template <typename T>
LOGDB_FSYN_LOG_ENTRY_OWNER make_kind(int32_t entry_id)
{
    return LOGDB_FSYN_LOG_ENTRY_OWNER(MEM_NEW("LOGDB", T, entry_id));
}

#define LOGDB_KIND(NAME)                                                                                               \
    {                                                                                                                  \
#NAME, &make_kind < LOGDB_FSYN_LOG_ENTRY_##NAME>                                                               \
    }
const KIND k_kinds[] = {
    LOGDB_KIND(END_OF_LOG),
    LOGDB_KIND(END_OF_LOG_PRINT),
    LOGDB_KIND(INSERT_ATOM),
    LOGDB_KIND(DELETE_ATOM),
    {nullptr, nullptr},
    {nullptr, nullptr},
    LOGDB_KIND(CREATE_ITERM),
    LOGDB_KIND(CREATE_OTERM),
    LOGDB_KIND(SET_LUTMASK),
    LOGDB_KIND(SET_USAGE_AS),
    LOGDB_KIND(RESET_DELAY_CHAIN),
    LOGDB_KIND(SET_CONNECTED_TO_DELAY_CHAIN),
    LOGDB_KIND(SET_DELAY_CHAIN_INDEX),
    LOGDB_KIND(SET_USER_DELAY_CHAIN),
    LOGDB_KIND(CLEAR_INVERT),
    LOGDB_KIND(SET_INVERT),
    LOGDB_KIND(SET_GLOBAL),
    LOGDB_KIND(CLEAR_GLOBAL),
    LOGDB_KIND(CLEAR_USAGE_AS),
    LOGDB_KIND(REPLACE_INPUT_TERM_BY_TYPE),
    LOGDB_KIND(SET_INSTANCE_NAME),
    LOGDB_KIND(REMOVE_UNORDERED_FANOUT_TERM),
    {nullptr, nullptr},
    LOGDB_KIND(MOVE_BOUNDARY_PORT_ID),
    LOGDB_KIND(SET_BOUNDARY_PORT_ID),
    LOGDB_KIND(DISCONNECT_BOUNDARY_PORT_ID),
    LOGDB_KIND(SET_ITERM_PROPERTIES),
    LOGDB_KIND(STORE_NODE_INFO),
    LOGDB_KIND(ADD_REMOVE_CONNECTION_LCELL_COMB),
    LOGDB_KIND(ADD_REMOVE_CONNECTION_LCELL_FF),
    LOGDB_KIND(ADD_REMOVE_CONNECTION_IO),
    LOGDB_KIND(ADD_REMOVE_CONNECTION_RAM),
    LOGDB_KIND(SET_OUTPUT_PORT_CLOCK),
    LOGDB_KIND(SET_OUTPUT_PORT_CLEAR),
    LOGDB_KIND(SET_INPUT_PORT_CLOCK),
    LOGDB_KIND(SET_INPUT_PORT_CLEAR),
    LOGDB_KIND(SET_INPUT_PORT_WIDTH),
    LOGDB_KIND(CLEAR_NODE_ASSIGNMENTS),
    LOGDB_KIND(COPY_NODE_ASSIGNMENTS),
    LOGDB_KIND(COPY_OTERM_TIMING_ASSIGNMENTS),
    LOGDB_KIND(SET_USER_LCELL),
    LOGDB_KIND(SET_INVERT_OBSERVABLE),
    LOGDB_KIND(PRE_PLACEMENT_FLOW),
    LOGDB_KIND(REVISION_NUMBER),
    LOGDB_KIND(CONFIRM_CLKBUF),
    LOGDB_KIND(IGNORE_PARTITION_BP_INFO),
};
#undef LOGDB_KIND
constexpr uint32_t k_kind_count = sizeof(k_kinds) / sizeof(k_kinds[0]);
}  // namespace

LOGDB_FSYN_LOG_ENTRY_OWNER logdb_make_fsyn_log_entry(uint32_t type, int32_t entry_id)
{
    if (type >= k_kind_count || k_kinds[type].make == nullptr) return nullptr;
    return k_kinds[type].make(entry_id);
}

const char* logdb_fsyn_log_entry_kind_name(uint32_t type)
{
    return type < k_kind_count ? k_kinds[type].name : nullptr;
}
