#pragma once

// The process-wide endpoint of the link to the interactive tool: one byte
// stream (a socket the tool listens on, or a write-only session file) and
// the packet formats written to and read from it. Every field goes on the
// wire little-endian at a fixed offset with zeroed padding, whatever the
// layout of the structures in memory.

#include <cstdint>
#include <string>

#include "ipc/ipc_stream.h"

#include "morv/core/morv_debug_stream.h"

// Longest command, netlist and type names and descriptions, in characters.
constexpr int MORV_PLX_MAX_CMD_STRING = 31;
constexpr int MORV_PLX_MAX_DESC_LENGTH = 255;
constexpr int MORV_PLX_MAX_NETLIST_NAME = 31;
constexpr int MORV_PLX_MAX_TYPE_STRING = 31;

constexpr int MORV_PLX_NAME_FIELD = 32;
constexpr int MORV_PLX_TEXT_FIELD = 256;
constexpr int MORV_PLX_NODE_RECORD_SIZE = 112;
constexpr int MORV_PLX_EDGE_RECORD_SIZE = 40;
constexpr int MORV_PLX_COMMAND_BODY_SIZE = 36;
constexpr int MORV_PLX_SIZE_ANNOUNCEMENT = 4;

// Packet codes from the component to the tool.
enum MORV_PLX_PACKET : uint32_t
{
    MORV_PLX_NETLIST_START = 0,
    MORV_PLX_NETLIST_END = 1,
    MORV_PLX_NODE = 2,
    MORV_PLX_EDGE = 3,
    MORV_PLX_CLOSING = 4,
    MORV_PLX_REGISTER_COMMAND = 5,
    MORV_PLX_TEXT = 6,
    MORV_PLX_BUSY = 7,
    MORV_PLX_TABLE_START = 8,
    MORV_PLX_TABLE_ENTRY = 9,
    MORV_PLX_WAITING = 10,
    MORV_PLX_LONG_TEXT = 11,
    MORV_PLX_SIZE = 12,
    MORV_PLX_NODE_SIZE = 13,
    MORV_PLX_EDGE_SIZE = 14,
    MORV_PLX_UNREGISTER_COMMAND = 15,
};
// The only packet the tool sends.
constexpr uint32_t MORV_PLX_COMMAND = 0;

// The three name tables: id, entries (the last one "Unknown").
constexpr uint32_t MORV_PLX_CELL_TYPE_TABLE = 0;
constexpr uint32_t MORV_PLX_INPUT_PORT_TABLE = 1;
constexpr uint32_t MORV_PLX_OUTPUT_PORT_TABLE = 2;
constexpr int MORV_PLX_CELL_TYPE_ENTRIES = 316;
constexpr int MORV_PLX_INPUT_PORT_ENTRIES = 3017;
constexpr int MORV_PLX_OUTPUT_PORT_ENTRIES = 4150;

// Session file name (file mode) and socket name (in the runtime folder).
constexpr const char* MORV_PLX_SESSION_FILE = "plumrix_session.plx";
constexpr const char* MORV_PLX_SOCKET_NAME = "plumrix_named_pipe";

struct MORV_PLX_NODE_RECORD
{
    std::string name;  // shortened on the wire
    uint32_t atom_id = 0;
    uint32_t cell_type = 0;
    int32_t category = 8;
    int32_t input_slack = 2147483647;
    double input_slack_ratio = 2.0;
    int32_t fanout_slack = 2147483647;
    double fanout_slack_ratio = 1.0;
    uint64_t lut_mask = 0xDEADBEEFDEADBEEFull;
    uint8_t comb_dont_touch_retime = 0;
    uint8_t reg_dont_touch_retime = 0;
    uint8_t comb_dont_touch_duplicate = 0;
    uint8_t reg_dont_touch_duplicate = 0;
    uint32_t modification_count = 0;
    uint32_t visit_count = 0;
    int32_t x = -1;
    int32_t y = -1;
    int32_t sub_loc = -1;
    int32_t tsu = -1;
    int32_t tco = -1;
};

struct MORV_PLX_EDGE_RECORD
{
    uint32_t source_id = 0;
    uint32_t destination_id = 0;
    int32_t slack = 0;
    int32_t delay = 2147483647;
    double slack_ratio = 0.0;
    uint32_t output_port_type = 0;
    uint32_t input_port_type = 0;
    uint8_t inverted = 0;
    uint8_t port_predicate = 0;
    uint8_t source_registered = 0;
    uint8_t input_registered = 0;
};

// How long the link waits: connection attempts and the pause after each
// failed one, and the longest single wait for the tool's next bytes.
struct MORV_PLX_TIMING
{
    int connect_tries = 10;
    int retry_sleep_ms = 1000;
    int idle_wait_ms = 1000;
};

// A name of at most 31 characters as is; a longer one as "..." and its
// last 28 characters.
std::string morv_plx_short_name(const std::string& name);
// The record bodies exactly as they go on the wire.
void morv_plx_encode_node(const MORV_PLX_NODE_RECORD& record, uint8_t (&out)[MORV_PLX_NODE_RECORD_SIZE]);
void morv_plx_encode_edge(const MORV_PLX_EDGE_RECORD& record, uint8_t (&out)[MORV_PLX_EDGE_RECORD_SIZE]);

class MORV_PLUMRIX_INTERFACE
{
public:
    MORV_PLUMRIX_INTERFACE();
    ~MORV_PLUMRIX_INTERFACE();
    MORV_PLUMRIX_INTERFACE(const MORV_PLUMRIX_INTERFACE&) = delete;
    MORV_PLUMRIX_INTERFACE& operator=(const MORV_PLUMRIX_INTERFACE&) = delete;

    static MORV_PLUMRIX_INTERFACE* get_instance() { return s_instance; }

    void connect();
    void disconnect();
    bool is_connected() const { return m_stream.is_open(); }
    bool is_file_mode() const { return m_file_mode; }
    const std::string& get_endpoint_name() const { return m_endpoint; }

    void send_text(const char* format, ...) MORV_PRINTF_FORMAT(2, 3);
    void send_register_command(uint32_t id, const std::string& cmd_name, const std::string& cmd_desc);
    void send_unregister_command(uint32_t id);
    void send_netlist_start(const std::string& name);
    void send_table_start(uint32_t count, uint32_t table_id);
    void send_table_entry(uint32_t index, const std::string& type_string, uint32_t table_id);
    void send_long_text(const std::string& text);
    void send_record_sizes();
    void send_node(const MORV_PLX_NODE_RECORD& record);
    void send_edge(const MORV_PLX_EDGE_RECORD& record);
    // A packet without a body (netlist end, closing, busy, waiting).
    void send_code(MORV_PLX_PACKET code);

    // Blocks until the tool sends a command. False, with the connection
    // closed, when the stream failed or ended before a whole command came.
    bool read_command(uint32_t* id, std::string* argument);

    // Takes over an open stream (tests hand in one end of a socket pair).
    void adopt_socket(int fd) { m_stream.adopt_socket(fd); }

    static void set_timing(const MORV_PLX_TIMING& timing) { s_timing = timing; }
    static const MORV_PLX_TIMING& get_timing() { return s_timing; }

private:
    void send_packet(uint32_t code, const uint8_t* body, size_t size);
    void send_u32_packet(uint32_t code, uint32_t value);

    IPC_STREAM m_stream;
    std::string m_endpoint;
    bool m_file_mode;

    static MORV_PLUMRIX_INTERFACE* s_instance;
    static MORV_PLX_TIMING s_timing;
};
