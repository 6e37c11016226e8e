#include "morv/debug/morv_plumrix_interface.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_msgs.h"

MORV_PLUMRIX_INTERFACE* MORV_PLUMRIX_INTERFACE::s_instance = nullptr;
MORV_PLX_TIMING MORV_PLUMRIX_INTERFACE::s_timing;

namespace {

void put_u32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void put_i32(uint8_t* at, int32_t value)
{
    put_u32(at, static_cast<uint32_t>(value));
}

void put_u64(uint8_t* at, uint64_t value)
{
    for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void put_f64(uint8_t* at, double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    put_u64(at, bits);
}

uint32_t get_u32(const uint8_t* at)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
    return value;
}

// Copies at most size-1 characters and a NUL into a zeroed field.
void put_name(uint8_t* at, const std::string& text, size_t size)
{
    std::memset(at, 0, size);
    std::memcpy(at, text.data(), std::min(text.size(), size - 1));
}

void sleep_ms(int ms)
{
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string endpoint_path(bool file_mode)
{
    if (file_mode) return MORV_PLX_SESSION_FILE;
    const char* chosen = cfg_get_value("fsyn_plumrix_endpoint");
    if (chosen != nullptr && chosen[0] != '\0') return chosen;
    std::string path = ipc_runtime_folder();
    path += '/';
    path += MORV_PLX_SOCKET_NAME;
    return path;
}

// What stands at the endpoint when no tool can ever listen there: a file
// or folder in its place, or a file where a folder of its path should be.
// A missing endpoint is a tool not started yet, worth waiting for.
const char* endpoint_never_answers(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (ec == std::errc::not_a_directory) return "below a file";
    if (ec || !std::filesystem::exists(status)) return nullptr;
    if (std::filesystem::is_socket(status)) return nullptr;
    return std::filesystem::is_directory(status) ? "a folder" : "a file";
}

}  // namespace

std::string morv_plx_short_name(const std::string& name)
{
    if (name.size() <= static_cast<size_t>(MORV_PLX_MAX_TYPE_STRING)) return name;
    std::string shortened("...");
    shortened += name.substr(name.size() - (MORV_PLX_MAX_TYPE_STRING - 3));
    return shortened;
}

void morv_plx_encode_node(const MORV_PLX_NODE_RECORD& r, uint8_t (&out)[MORV_PLX_NODE_RECORD_SIZE])
{
    std::memset(out, 0, sizeof(out));
    put_name(out, morv_plx_short_name(r.name), MORV_PLX_NAME_FIELD);
    put_u32(out + 32, r.atom_id);
    put_u32(out + 36, r.cell_type);
    put_i32(out + 40, r.category);
    put_i32(out + 44, r.input_slack);
    put_f64(out + 48, r.input_slack_ratio);
    put_i32(out + 56, r.fanout_slack);
    put_f64(out + 64, r.fanout_slack_ratio);
    put_u64(out + 72, r.lut_mask);
    out[80] = r.comb_dont_touch_retime;
    out[81] = r.reg_dont_touch_retime;
    out[82] = r.comb_dont_touch_duplicate;
    out[83] = r.reg_dont_touch_duplicate;
    put_u32(out + 84, r.modification_count);
    put_u32(out + 88, r.visit_count);
    put_i32(out + 92, r.x);
    put_i32(out + 96, r.y);
    put_i32(out + 100, r.sub_loc);
    put_i32(out + 104, r.tsu);
    put_i32(out + 108, r.tco);
}

void morv_plx_encode_edge(const MORV_PLX_EDGE_RECORD& r, uint8_t (&out)[MORV_PLX_EDGE_RECORD_SIZE])
{
    std::memset(out, 0, sizeof(out));
    put_u32(out, r.source_id);
    put_u32(out + 4, r.destination_id);
    put_i32(out + 8, r.slack);
    put_i32(out + 12, r.delay);
    put_f64(out + 16, r.slack_ratio);
    put_u32(out + 24, r.output_port_type);
    put_u32(out + 28, r.input_port_type);
    out[32] = r.inverted;
    out[33] = r.port_predicate;
    out[34] = r.source_registered;
    out[35] = r.input_registered;
}

MORV_PLUMRIX_INTERFACE::MORV_PLUMRIX_INTERFACE() : m_file_mode(cfg_is_on("fsyn_redirect_plx_to_file", false))
{
    MORV_ASSERT_TEXT(s_instance == nullptr, "fsyn_plx_interface == NULL");
    s_instance = this;
    m_endpoint = endpoint_path(m_file_mode);
}

MORV_PLUMRIX_INTERFACE::~MORV_PLUMRIX_INTERFACE()
{
    m_stream.close();
    if (s_instance == this) s_instance = nullptr;
}

void MORV_PLUMRIX_INTERFACE::connect()
{
    std::string error;
    if (m_file_mode) {
        if (!m_stream.create_file(m_endpoint, &error)) {
            MORV_DEBUG_STREAM::print(1, "PLUMRIX: WARNING - Could not create session file.");
            MORV_DEBUG_STREAM::print(1, "PLUMRIX: %s: %s", m_endpoint.c_str(), error.c_str());
            return;
        }
        MORV_DEBUG_STREAM::print(1, "PLUMRIX: Connected to session file.");
        send_code(MORV_PLX_BUSY);
        return;
    }
    MORV_ASSERT_TEXT(!m_stream.is_open(), "m_hPipe == NULL");
    if (const char* what = endpoint_never_answers(m_endpoint)) {
        MSG_W* msg = new MSG_W();
        msg->fill_args("The interactive tool's endpoint %1!s! is %2!s!, where no tool can listen; the compile runs on "
                       "without the tool/WMORV_FSYN_PLUMRIX_ENDPOINT_NOT_A_SOCKET",
                       m_endpoint, what);
        morv_send_msg(msg);
        return;
    }
    for (int attempt = 1; attempt <= s_timing.connect_tries; ++attempt) {
        if (m_stream.connect_socket(m_endpoint, &error)) {
            MORV_DEBUG_STREAM::print(1, "PLUMRIX: Connected to server pipe.");
            send_text("Connected to named pipe.");
            send_code(MORV_PLX_BUSY);
            return;
        }
        MORV_DEBUG_STREAM::print(1, "PLUMRIX: WARNING - Could not find Plumrix pipe on try %d.", attempt);
        sleep_ms(s_timing.retry_sleep_ms);
    }
    MORV_DEBUG_STREAM::print(1, "PLUMRIX: %s: %s", m_endpoint.c_str(), error.c_str());
}

void MORV_PLUMRIX_INTERFACE::disconnect()
{
    if (!m_stream.is_open()) return;
    send_code(MORV_PLX_WAITING);
    send_text("Closing connection to named pipe.");
    MORV_DEBUG_STREAM::print(1, "PLUMRIX: Terminating connection to Plumrix pipe.");
    m_stream.close();
}

void MORV_PLUMRIX_INTERFACE::send_packet(uint32_t code, const uint8_t* body, size_t size)
{
    if (!m_stream.is_open()) return;
    std::vector<uint8_t> packet(4 + size);
    put_u32(packet.data(), code);
    if (size > 0) std::memcpy(packet.data() + 4, body, size);
    // A tool that stopped listening is found by the next read.
    (void)m_stream.write_all(packet.data(), packet.size());
}

void MORV_PLUMRIX_INTERFACE::send_u32_packet(uint32_t code, uint32_t value)
{
    uint8_t body[4];
    put_u32(body, value);
    send_packet(code, body, sizeof(body));
}

void MORV_PLUMRIX_INTERFACE::send_code(MORV_PLX_PACKET code)
{
    send_packet(code, nullptr, 0);
}

void MORV_PLUMRIX_INTERFACE::send_text(const char* format, ...)
{
    char text[MORV_PLX_TEXT_FIELD + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    uint8_t body[MORV_PLX_TEXT_FIELD] = {};
    // A text of the full field length goes without its NUL.
    std::memcpy(body, text, std::strlen(text));
    send_packet(MORV_PLX_TEXT, body, sizeof(body));
}

void MORV_PLUMRIX_INTERFACE::send_register_command(uint32_t id, const std::string& cmd_name,
                                                   const std::string& cmd_desc)
{
    MORV_ASSERT_TEXT(cmd_name.size() <= MORV_PLX_MAX_CMD_STRING, "strlen(cmd_name) <= MORV_PLX_MAX_CMD_STRING");
    MORV_ASSERT_TEXT(cmd_desc.size() <= MORV_PLX_MAX_DESC_LENGTH, "strlen(cmd_desc) <= MORV_PLX_MAX_DESC_LENGTH");
    uint8_t body[MORV_PLX_NAME_FIELD + MORV_PLX_TEXT_FIELD + 4];
    put_name(body, cmd_name, MORV_PLX_NAME_FIELD);
    put_name(body + MORV_PLX_NAME_FIELD, cmd_desc, MORV_PLX_TEXT_FIELD);
    put_u32(body + MORV_PLX_NAME_FIELD + MORV_PLX_TEXT_FIELD, id);
    send_packet(MORV_PLX_REGISTER_COMMAND, body, sizeof(body));
}

void MORV_PLUMRIX_INTERFACE::send_unregister_command(uint32_t id)
{
    send_u32_packet(MORV_PLX_UNREGISTER_COMMAND, id);
}

void MORV_PLUMRIX_INTERFACE::send_netlist_start(const std::string& name)
{
    MORV_ASSERT_TEXT(name.size() <= MORV_PLX_MAX_NETLIST_NAME, "strlen(name) <= MORV_PLX_MAX_NETLIST_NAME");
    uint8_t body[MORV_PLX_NAME_FIELD];
    put_name(body, name, sizeof(body));
    send_packet(MORV_PLX_NETLIST_START, body, sizeof(body));
}

void MORV_PLUMRIX_INTERFACE::send_table_start(uint32_t count, uint32_t table_id)
{
    uint8_t body[8];
    put_u32(body, count);
    put_u32(body + 4, table_id);
    send_packet(MORV_PLX_TABLE_START, body, sizeof(body));
}

void MORV_PLUMRIX_INTERFACE::send_table_entry(uint32_t index, const std::string& type_string, uint32_t table_id)
{
    MORV_ASSERT_TEXT(type_string.size() <= MORV_PLX_MAX_TYPE_STRING, "strlen(type_string) <= MORV_PLX_MAX_TYPE_STRING");
    uint8_t body[4 + MORV_PLX_NAME_FIELD + 4];
    put_u32(body, index);
    put_name(body + 4, type_string, MORV_PLX_NAME_FIELD);
    put_u32(body + 4 + MORV_PLX_NAME_FIELD, table_id);
    send_packet(MORV_PLX_TABLE_ENTRY, body, sizeof(body));
}

void MORV_PLUMRIX_INTERFACE::send_long_text(const std::string& text)
{
    constexpr size_t chunk_text = MORV_PLX_NAME_FIELD - 1;
    const size_t chunks = std::max<size_t>(1, (text.size() + chunk_text - 1) / chunk_text);
    std::vector<uint8_t> body(4 + chunks * MORV_PLX_NAME_FIELD, 0);
    put_u32(body.data(), static_cast<uint32_t>(text.size()));
    for (size_t c = 0; c < chunks; ++c) {
        const size_t first = c * chunk_text;
        const size_t length = first < text.size() ? std::min(chunk_text, text.size() - first) : 0;
        if (length > 0) std::memcpy(body.data() + 4 + c * MORV_PLX_NAME_FIELD, text.data() + first, length);
    }
    send_packet(MORV_PLX_LONG_TEXT, body.data(), body.size());
}

void MORV_PLUMRIX_INTERFACE::send_record_sizes()
{
    send_u32_packet(MORV_PLX_SIZE, MORV_PLX_SIZE_ANNOUNCEMENT);
    send_u32_packet(MORV_PLX_NODE_SIZE, MORV_PLX_NODE_RECORD_SIZE);
    send_u32_packet(MORV_PLX_EDGE_SIZE, MORV_PLX_EDGE_RECORD_SIZE);
}

void MORV_PLUMRIX_INTERFACE::send_node(const MORV_PLX_NODE_RECORD& record)
{
    uint8_t body[MORV_PLX_NODE_RECORD_SIZE];
    morv_plx_encode_node(record, body);
    send_packet(MORV_PLX_NODE, body, sizeof(body));
}

void MORV_PLUMRIX_INTERFACE::send_edge(const MORV_PLX_EDGE_RECORD& record)
{
    uint8_t body[MORV_PLX_EDGE_RECORD_SIZE];
    morv_plx_encode_edge(record, body);
    send_packet(MORV_PLX_EDGE, body, sizeof(body));
}

bool MORV_PLUMRIX_INTERFACE::read_command(uint32_t* id, std::string* argument)
{
    for (;;) {
        const long waiting = m_stream.wait_for_bytes(s_timing.idle_wait_ms);
        if (waiting < 0) break;
        if (waiting == 0) continue;
        // Header and body are read whole: a packet split across writes must
        // not be taken for a shorter one, or every later packet is misread.
        uint8_t header[4];
        if (!m_stream.read_exact(header, sizeof(header))) break;
        if (get_u32(header) != MORV_PLX_COMMAND) {
            MORV_DEBUG_STREAM::print(1, "PLUMRIX: WARNING - Received unknown packet header.\n");
            continue;
        }
        uint8_t body[MORV_PLX_COMMAND_BODY_SIZE];
        if (!m_stream.read_exact(body, sizeof(body))) break;
        *id = get_u32(body);
        const char* text = reinterpret_cast<const char*>(body + 4);
        argument->assign(text, strnlen(text, MORV_PLX_MAX_CMD_STRING));
        return true;
    }
    disconnect();
    return false;
}
