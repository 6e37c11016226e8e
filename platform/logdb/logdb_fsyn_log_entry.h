#pragma once
// The records of the fitter's change log as the log database stores them.
// Every record has a kind number and an entry id; node-bound kinds add the
// edited atom's id and short name, term-bound kinds also the input term's
// usage and index. Each class lists its fields once, through visit_fields,
// and the binary stream, the text form and equality all walk that list, so
// a field cannot be written by one and forgotten by another.

#include <cstdint>
#include <string>
#include <vector>

#include "mem/mem.h"

enum LOGDB_FSYN_LOG_OPERATION : uint32_t
{
    LOGDB_FSYN_LOG_OPERATION_END_OF_LOG = 0,
    LOGDB_FSYN_LOG_OPERATION_END_OF_LOG_PRINT = 1,
    LOGDB_FSYN_LOG_OPERATION_INSERT_ATOM = 2,
    LOGDB_FSYN_LOG_OPERATION_DELETE_ATOM = 3,
    LOGDB_FSYN_LOG_OPERATION_CREATE_ITERM = 6,
    LOGDB_FSYN_LOG_OPERATION_CREATE_OTERM = 7,
    LOGDB_FSYN_LOG_OPERATION_SET_LUTMASK = 8,
    LOGDB_FSYN_LOG_OPERATION_SET_USAGE_AS = 9,
    LOGDB_FSYN_LOG_OPERATION_RESET_DELAY_CHAIN = 10,
    LOGDB_FSYN_LOG_OPERATION_SET_CONNECTED_TO_DELAY_CHAIN = 11,
    LOGDB_FSYN_LOG_OPERATION_SET_DELAY_CHAIN_INDEX = 12,
    LOGDB_FSYN_LOG_OPERATION_SET_USER_DELAY_CHAIN = 13,
    LOGDB_FSYN_LOG_OPERATION_CLEAR_INVERT = 14,
    LOGDB_FSYN_LOG_OPERATION_SET_INVERT = 15,
    LOGDB_FSYN_LOG_OPERATION_SET_GLOBAL = 16,
    LOGDB_FSYN_LOG_OPERATION_CLEAR_GLOBAL = 17,
    LOGDB_FSYN_LOG_OPERATION_CLEAR_USAGE_AS = 18,
    LOGDB_FSYN_LOG_OPERATION_REPLACE_INPUT_TERM_BY_TYPE = 19,
    LOGDB_FSYN_LOG_OPERATION_SET_INSTANCE_NAME = 20,
    LOGDB_FSYN_LOG_OPERATION_REMOVE_UNORDERED_FANOUT_TERM = 21,
    LOGDB_FSYN_LOG_OPERATION_MOVE_BOUNDARY_PORT_ID = 23,
    LOGDB_FSYN_LOG_OPERATION_SET_BOUNDARY_PORT_ID = 24,
    LOGDB_FSYN_LOG_OPERATION_DISCONNECT_BOUNDARY_PORT_ID = 25,
    LOGDB_FSYN_LOG_OPERATION_SET_ITERM_PROPERTIES = 26,
    LOGDB_FSYN_LOG_OPERATION_STORE_NODE_INFO = 27,
    LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_COMB = 28,
    LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_LCELL_FF = 29,
    LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_IO = 30,
    LOGDB_FSYN_LOG_OPERATION_ADD_REMOVE_CONNECTION_RAM = 31,
    LOGDB_FSYN_LOG_OPERATION_SET_OUTPUT_PORT_CLOCK = 32,
    LOGDB_FSYN_LOG_OPERATION_SET_OUTPUT_PORT_CLEAR = 33,
    LOGDB_FSYN_LOG_OPERATION_SET_INPUT_PORT_CLOCK = 34,
    LOGDB_FSYN_LOG_OPERATION_SET_INPUT_PORT_CLEAR = 35,
    LOGDB_FSYN_LOG_OPERATION_SET_INPUT_PORT_WIDTH = 36,
    LOGDB_FSYN_LOG_OPERATION_CLEAR_NODE_ASSIGNMENTS = 37,
    LOGDB_FSYN_LOG_OPERATION_COPY_NODE_ASSIGNMENTS = 38,
    LOGDB_FSYN_LOG_OPERATION_COPY_OTERM_TIMING_ASSIGNMENTS = 39,
    LOGDB_FSYN_LOG_OPERATION_SET_USER_LCELL = 40,
    LOGDB_FSYN_LOG_OPERATION_SET_INVERT_OBSERVABLE = 41,
    LOGDB_FSYN_LOG_OPERATION_PRE_PLACEMENT_FLOW = 42,
    LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER = 43,
    LOGDB_FSYN_LOG_OPERATION_CONFIRM_CLKBUF = 44,
    LOGDB_FSYN_LOG_OPERATION_IGNORE_PARTITION_BP_INFO = 45,
};

// The field walk of a record. A 64-bit field is always a LUT mask.
class LOGDB_FIELD_VISITOR
{
public:
    virtual ~LOGDB_FIELD_VISITOR() = default;
    virtual void field(uint32_t& value) = 0;
    virtual void field(int32_t& value) = 0;
    virtual void field(uint16_t& value) = 0;
    virtual void field(uint64_t& value) = 0;
    virtual void field(bool& value) = 0;
    virtual void field(std::string& value) = 0;
    virtual void field(std::vector<std::string>& value) = 0;
    virtual void field(std::vector<uint32_t>& value) = 0;
    virtual void field(std::vector<int32_t>& value) = 0;
    virtual void field(std::vector<uint16_t>& value) = 0;
};

class LOGDB_FSYN_LOG_ENTRY;
using LOGDB_FSYN_LOG_ENTRY_OWNER = MEM_OWNER<LOGDB_FSYN_LOG_ENTRY>;

class LOGDB_FSYN_LOG_ENTRY
{
public:
    LOGDB_FSYN_LOG_ENTRY(uint32_t type, int32_t entry_id) : m_type(type), m_entry_id(entry_id) {}
    virtual ~LOGDB_FSYN_LOG_ENTRY() = default;
    virtual LOGDB_FSYN_LOG_ENTRY_OWNER clone() const = 0;
    // The fields after the kind and the entry id, in record order.
    virtual void visit_fields(LOGDB_FIELD_VISITOR&) {}
    // Why the fields cannot belong together, or nullptr.
    virtual const char* check_fields() const { return nullptr; }
    // Same kind, entry id and fields.
    bool operator==(const LOGDB_FSYN_LOG_ENTRY& other) const;

    uint32_t m_type;
    int32_t m_entry_id;
};

// A new record of a kind with all fields empty; null for a number no kind has.
LOGDB_FSYN_LOG_ENTRY_OWNER logdb_make_fsyn_log_entry(uint32_t type, int32_t entry_id);
// The class name without its prefix ("SET_LUTMASK"), or nullptr.
const char* logdb_fsyn_log_entry_kind_name(uint32_t type);

template <typename T, typename BASE>
class LOGDB_CLONEABLE : public BASE
{
public:
    using BASE::BASE;
    LOGDB_FSYN_LOG_ENTRY_OWNER clone() const override
    {
        return LOGDB_FSYN_LOG_ENTRY_OWNER(MEM_NEW("LOGDB", T, static_cast<const T&>(*this)));
    }
};

// Node-bound part: replay finds the node by its name, never by the id.
class LOGDB_FSYN_LOG_ENTRY_NODE_BASE : public LOGDB_FSYN_LOG_ENTRY
{
public:
    using LOGDB_FSYN_LOG_ENTRY::LOGDB_FSYN_LOG_ENTRY;
    void visit_fields(LOGDB_FIELD_VISITOR& v) override;
    uint32_t m_node_id = 0;
    std::string m_node_name;
};

// Term-bound part: the term is the node's input of (usage-as, term index).
class LOGDB_FSYN_LOG_ENTRY_TERM_BASE : public LOGDB_FSYN_LOG_ENTRY_NODE_BASE
{
public:
    using LOGDB_FSYN_LOG_ENTRY_NODE_BASE::LOGDB_FSYN_LOG_ENTRY_NODE_BASE;
    void visit_fields(LOGDB_FIELD_VISITOR& v) override;
    uint32_t m_usage_as = 0;
    uint16_t m_term_index = 0;
};

// Opens the class of a kind number; its own fields follow, then "};".
#define LOGDB_RECORD_CLASS(NAME, BASE)                                                                                 \
    class LOGDB_FSYN_LOG_ENTRY_##NAME : public LOGDB_CLONEABLE<LOGDB_FSYN_LOG_ENTRY_##NAME, BASE>                      \
    {                                                                                                                  \
    public:                                                                                                            \
        explicit LOGDB_FSYN_LOG_ENTRY_##NAME(int32_t entry_id)                                                         \
            : LOGDB_CLONEABLE<LOGDB_FSYN_LOG_ENTRY_##NAME, BASE>(LOGDB_FSYN_LOG_OPERATION_##NAME, entry_id)            \
        {}

LOGDB_RECORD_CLASS(END_OF_LOG, LOGDB_FSYN_LOG_ENTRY)
}
;
LOGDB_RECORD_CLASS(END_OF_LOG_PRINT, LOGDB_FSYN_LOG_ENTRY)
}
;
LOGDB_RECORD_CLASS(PRE_PLACEMENT_FLOW, LOGDB_FSYN_LOG_ENTRY)
}
;

// The library fills in the version it writes and the base family (6 or 24)
// of the compile: a log replayed on its own family must not have its LUT
// masks converted.
class LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER
    : public LOGDB_CLONEABLE<LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER, LOGDB_FSYN_LOG_ENTRY>
{
public:
    static constexpr const char* s_current_version = "7.2";
    explicit LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER(int32_t entry_id, uint32_t base_family = 0)
        : LOGDB_CLONEABLE(LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER, entry_id), m_version(s_current_version),
          m_base_family(base_family)
    {}
    void visit_fields(LOGDB_FIELD_VISITOR& v) override;
    const std::string& get_version() const { return m_version; }
    uint32_t get_base_family() const { return m_base_family; }
    // Older versions exist only in logs of older compiles; tests make them.
    void set_version_for_test(const std::string& version) { m_version = version; }

private:
    std::string m_version;
    uint32_t m_base_family;
};

LOGDB_RECORD_CLASS(INSERT_ATOM, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
std::string m_made_from_name;
bool m_is_comb = false;
bool m_is_kind3 = false;
}
;
LOGDB_RECORD_CLASS(DELETE_ATOM, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
std::vector<std::string> m_oterm_names;
bool m_deleted_inserted_node = false;
}
;
LOGDB_RECORD_CLASS(CREATE_ITERM, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_port_type = 0;
uint16_t m_unordered_index = 0;
}
;
LOGDB_RECORD_CLASS(CREATE_OTERM, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
std::string m_term_name;
uint32_t m_port_type = 0;
}
;
LOGDB_RECORD_CLASS(SET_LUTMASK, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
static constexpr uint32_t SUM = 1;
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_lutmask_type = 0;
uint64_t m_lutmask = 0;
bool m_flag = false;
}
;
LOGDB_RECORD_CLASS(SET_USAGE_AS, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_new_usage = 0;
}
;
LOGDB_RECORD_CLASS(RESET_DELAY_CHAIN, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_delay_chain = 0;
}
;
LOGDB_RECORD_CLASS(SET_CONNECTED_TO_DELAY_CHAIN, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_delay_chain = 0;
bool m_connected = false;
}
;
LOGDB_RECORD_CLASS(SET_DELAY_CHAIN_INDEX, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_delay_chain = 0;
int32_t m_index = 0;
}
;
LOGDB_RECORD_CLASS(SET_USER_DELAY_CHAIN, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_delay_chain = 0;
bool m_user = false;
}
;
LOGDB_RECORD_CLASS(CLEAR_INVERT, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
}
;
LOGDB_RECORD_CLASS(SET_INVERT, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
}
;
LOGDB_RECORD_CLASS(SET_GLOBAL, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_global_type = 0;
}
;
LOGDB_RECORD_CLASS(CLEAR_GLOBAL, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
}
;
// The usage being cleared travels in the usage-as field.
LOGDB_RECORD_CLASS(CLEAR_USAGE_AS, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
}
;
LOGDB_RECORD_CLASS(REPLACE_INPUT_TERM_BY_TYPE, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_port_type = 0;
}
;
LOGDB_RECORD_CLASS(SET_INSTANCE_NAME, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_port_type = 0;
std::string m_new_name;
}
;
LOGDB_RECORD_CLASS(REMOVE_UNORDERED_FANOUT_TERM, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_port_type = 0;
uint16_t m_index = 0;
}
;
LOGDB_RECORD_CLASS(MOVE_BOUNDARY_PORT_ID, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
std::string m_from_term_name;
std::string m_to_term_name;
}
;
LOGDB_RECORD_CLASS(SET_BOUNDARY_PORT_ID, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
std::string m_bp_name;
}
;
LOGDB_RECORD_CLASS(DISCONNECT_BOUNDARY_PORT_ID, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
}
;
LOGDB_RECORD_CLASS(SET_ITERM_PROPERTIES, LOGDB_FSYN_LOG_ENTRY_TERM_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
bool m_invert = false;
int32_t m_global = 0;
bool m_connected_to_delay_chain = false;
bool m_use_delay_chain = false;
int32_t m_delay_chain_index = 0;
bool m_user_delay_chain = false;
}
;
LOGDB_RECORD_CLASS(STORE_NODE_INFO, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
const char* check_fields() const override;
std::vector<int32_t> m_input_ports;
std::vector<std::string> m_sources;
uint64_t m_lutmask = 0;
std::vector<int32_t> m_output_ports;
std::vector<std::string> m_output_port_name;
uint32_t m_node_kind = 0;
std::string m_part_name;
bool m_is_constant_driver = false;
}
;

// One slot per input port of the node's kind; the library starts every slot
// as "UNCHANGED".
class LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION : public LOGDB_FSYN_LOG_ENTRY_NODE_BASE
{
public:
    static constexpr const char* s_unchanged = "UNCHANGED";
    LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION(uint32_t type, int32_t entry_id, uint32_t slot_count = 0)
        : LOGDB_FSYN_LOG_ENTRY_NODE_BASE(type, entry_id), m_connection_array(slot_count, s_unchanged)
    {}
    void visit_fields(LOGDB_FIELD_VISITOR& v) override;
    std::vector<std::string> m_connection_array;
};

#define LOGDB_CONNECTION_CLASS(NAME)                                                                                   \
    class LOGDB_FSYN_LOG_ENTRY_##NAME                                                                                  \
        : public LOGDB_CLONEABLE<LOGDB_FSYN_LOG_ENTRY_##NAME, LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION>              \
    {                                                                                                                  \
    public:                                                                                                            \
        explicit LOGDB_FSYN_LOG_ENTRY_##NAME(int32_t entry_id, uint32_t slot_count = 0)                                \
            : LOGDB_CLONEABLE(LOGDB_FSYN_LOG_OPERATION_##NAME, entry_id, slot_count)                                   \
        {}

LOGDB_CONNECTION_CLASS(ADD_REMOVE_CONNECTION_LCELL_COMB)
}
;
LOGDB_CONNECTION_CLASS(ADD_REMOVE_CONNECTION_LCELL_FF)
}
;
LOGDB_CONNECTION_CLASS(ADD_REMOVE_CONNECTION_IO)
}
;
// Three parallel lists in place of the slots, one entry per logged change.
LOGDB_CONNECTION_CLASS(ADD_REMOVE_CONNECTION_RAM)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
const char* check_fields() const override;
void add(const std::string& source, uint32_t usage_as, uint16_t term_index)
{
    m_sources.push_back(source);
    m_usage_as.push_back(usage_as);
    m_term_indices.push_back(term_index);
}
std::vector<std::string> m_sources;
std::vector<uint32_t> m_usage_as;
std::vector<uint16_t> m_term_indices;
}
;

LOGDB_RECORD_CLASS(SET_OUTPUT_PORT_CLOCK, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_port_type = 0;
int32_t m_value = 0;
}
;
LOGDB_RECORD_CLASS(SET_OUTPUT_PORT_CLEAR, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_port_type = 0;
int32_t m_value = 0;
}
;
LOGDB_RECORD_CLASS(SET_INPUT_PORT_CLOCK, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_port_type = 0;
int32_t m_value = 0;
}
;
LOGDB_RECORD_CLASS(SET_INPUT_PORT_CLEAR, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_port_type = 0;
int32_t m_value = 0;
}
;
LOGDB_RECORD_CLASS(SET_INPUT_PORT_WIDTH, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_port_type = 0;
uint32_t m_width = 0;
}
;
// Written by other steps of the host's compile, never by the fitter.
LOGDB_RECORD_CLASS(CLEAR_NODE_ASSIGNMENTS, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
}
;
LOGDB_RECORD_CLASS(COPY_NODE_ASSIGNMENTS, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
std::string m_second_node_name;
}
;
LOGDB_RECORD_CLASS(COPY_OTERM_TIMING_ASSIGNMENTS, LOGDB_FSYN_LOG_ENTRY)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
std::string m_source_name;
std::string m_source_name_again;
std::string m_new_name;
}
;
LOGDB_RECORD_CLASS(SET_USER_LCELL, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
}
;
LOGDB_RECORD_CLASS(SET_INVERT_OBSERVABLE, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
uint32_t m_port_type = 0;
}
;
LOGDB_RECORD_CLASS(CONFIRM_CLKBUF, LOGDB_FSYN_LOG_ENTRY_NODE_BASE)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
std::string m_clk_source_name;
std::string m_output_name;
std::string m_ena_source_name;
uint32_t m_clock_type = 0;
}
;
LOGDB_RECORD_CLASS(IGNORE_PARTITION_BP_INFO, LOGDB_FSYN_LOG_ENTRY)
void visit_fields(LOGDB_FIELD_VISITOR& v) override;
std::string m_partition_name;
std::string m_partition_name_again;
}
;

#undef LOGDB_RECORD_CLASS
#undef LOGDB_CONNECTION_CLASS
