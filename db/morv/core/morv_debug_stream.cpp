#include "morv/core/morv_debug_stream.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "mem_alloc_sys.h"
#include "morv/core/morv_assert.h"
#include "morv_log_sink_sys.h"
#include "msg/msg.h"

namespace {

const char* const s_MODULE = "MORV";

// One shared line buffer for the whole process, and one for the copy that
// goes to the host channel; everything runs on the host's thread.
char s_line_buffer[MORV_DEBUG_STREAM::s_LINE_LIMIT + 1];
char s_channel_buffer[MORV_DEBUG_STREAM::s_LINE_LIMIT + 1];

}  // namespace

int morv_format_line(char* buffer, const char* format, va_list args)
{
    const int limit = MORV_DEBUG_STREAM::s_LINE_LIMIT;
    buffer[0] = '\0';
    int length = std::vsnprintf(buffer, limit + 1, format, args);
    if (length < 0 || length >= limit) {
        // The formatter wrote at most limit characters; a failed format may
        // have left a partial text, which is kept as far as it went.
        buffer[limit] = '\0';
        length = static_cast<int>(std::strlen(buffer));
    }
    return length;
}

char* morv_reduce_percent_pairs(const char* text, char* out)
{
    char* dst = out;
    for (const char* src = text; *src; ++src) {
        *dst++ = *src;
        if (src[0] == '%' && src[1] == '%') ++src;
    }
    *dst = '\0';
    return out;
}

MORV_DEBUG_STREAM::MORV_DEBUG_STREAM()
{
    set_file_name(s_DEFAULT_FILE_NAME);
    // The containers in h/ print their statistics through the logger.
    morv_log_sink() = &MORV_DEBUG_STREAM::vprint;
}

MORV_DEBUG_STREAM::~MORV_DEBUG_STREAM()
{
    // Late static destructors of other modules may still log: leave the
    // logger switched off rather than pointing at released storage.
    m_enabled = false;
    m_fstream = false;
    m_vdebug = false;
    close_file();
    morv_mem_free(m_file_name);
    m_file_name = nullptr;
}

void MORV_DEBUG_STREAM::set_file_name(const char* file_name)
{
    if (!file_name) file_name = s_DEFAULT_FILE_NAME;
    std::size_t length = std::strlen(file_name);
    char* copy = static_cast<char*>(morv_mem_alloc(length + 1));
    std::memcpy(copy, file_name, length + 1);
    morv_mem_free(m_file_name);
    m_file_name = copy;
}

void MORV_DEBUG_STREAM::close_file()
{
    if (!m_file_stream) return;
    if (m_file_stream->is_open()) m_file_stream->close();
    MORV_DELETE(m_file_stream);
    m_file_stream = nullptr;
}

bool MORV_DEBUG_STREAM::is_file_open() const
{
    return m_file_stream && m_file_stream->is_open();
}

void MORV_DEBUG_STREAM::reset(const char* file_name)
{
    close_file();
    set_file_name(file_name);
    m_threshold = 1;
    m_vdebug = false;
    m_fstream = false;
    m_enabled = false;
}

void MORV_DEBUG_STREAM::print(int level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprint(level, format, args);
    va_end(args);
}

void MORV_DEBUG_STREAM::vprint(int level, const char* format, va_list args)
{
    MORV_DEBUG_STREAM& stream = s_stream;
    // The level test comes first: a verbose line below the threshold costs
    // one comparison and no formatting.
    if (!stream.m_enabled || level > stream.m_threshold) return;
    morv_format_line(s_line_buffer, format, args);
    stream.write_line(level);
}

void MORV_DEBUG_STREAM::write_line(int level)
{
    if (m_fstream) {
        if (!m_file_stream) {
            try {
                m_file_stream = MORV_NEW(std::ofstream);
            } catch (const std::bad_alloc&) {
                m_file_stream = nullptr;
            }
            MORV_ASSERT(m_file_stream);
            // Appending keeps the lines of earlier runs of the process and of
            // earlier processes. A failed open is not fatal: the stream stays
            // in its failed state and later lines go nowhere, which the user
            // who asked for the file hears once.
            m_file_stream->open(m_file_name, std::ios::out | std::ios::app);
            if (!m_file_stream->is_open()) warn_file_not_writable(m_file_name);
        }
        if (m_file_stream->is_open()) {
            *m_file_stream << s_line_buffer << '\n';
            m_file_stream->flush();
        }
    }
    if (m_vdebug && level <= 1) {
        // The host channel historically took the line as a format with no
        // arguments, so "%%" pairs arrive as one '%'; a lone '%' is kept.
        msg_local_vdebug(s_MODULE, morv_reduce_percent_pairs(s_line_buffer, s_channel_buffer));
    }
}

void MORV_DEBUG_STREAM::warn_file_not_writable(const char* file_name)
{
    MSG_W warning;
    warning.fill_args("Cannot write the debug file %1!s!; its lines are not saved/WMORV_FSYN_DEBUG_FILE_NOT_WRITABLE",
                      file_name);
    warning.post();
}

void MORV_DEBUG_STREAM::configure_from_switches()
{
    MORV_DEBUG_STREAM& stream = s_stream;
    bool full = cfg_is_on("fsyn_debug_msg_full", false);
    bool detail = cfg_is_on("fsyn_debug_msg", false);
    int level = full ? 100 : (detail ? 2 : 1);
    bool fstream = (full || detail) ? true : tst_is_regtest_mode();
    morv_debug("Initializing MORV DEBUG with level %d, vdebug %d, fstream %d", level, 1, fstream ? 1 : 0);
    stream.m_threshold = level;
    stream.m_vdebug = true;
    stream.m_fstream = fstream;
    stream.m_enabled = true;
}

std::string morv_sprintf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

void morv_debug(const char* format, ...)
{
    char buffer[MORV_DEBUG_STREAM::s_LINE_LIMIT + 1];
    va_list args;
    va_start(args, format);
    morv_format_line(buffer, format, args);
    va_end(args);
    msg_local_vdebug(s_MODULE, buffer);
}
