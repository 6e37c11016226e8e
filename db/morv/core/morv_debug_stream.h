#pragma once
// The component's leveled logger. Every progress and debug line goes
// through MORV_DEBUG_STREAM::print(level, format, ...): level 0 always
// prints while the logger is on, 1 is progress, 2 detail, 100 trace. A line
// prints when its level is at most the threshold; it goes, without any
// prefix, to the debug file when file output is on, and lines of level 1 and
// below also go to the host's debug channel when that is on.

#include <cstdarg>
#include <iosfwd>
#include <string>

#if defined(__GNUC__)
#define MORV_PRINTF_FORMAT(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define MORV_PRINTF_FORMAT(fmt_index, first_arg)
#endif

class MORV_DEBUG_STREAM
{
public:
    // Longest line, in characters; longer lines are cut to this length.
    static constexpr int s_LINE_LIMIT = 4096;
    static constexpr const char* s_DEFAULT_FILE_NAME = "fsyn_debug_dump.txt";

    MORV_DEBUG_STREAM();
    ~MORV_DEBUG_STREAM();
    MORV_DEBUG_STREAM(const MORV_DEBUG_STREAM&) = delete;
    MORV_DEBUG_STREAM& operator=(const MORV_DEBUG_STREAM&) = delete;

    static void print(int level, const char* format, ...) MORV_PRINTF_FORMAT(2, 3);
    static void vprint(int level, const char* format, va_list args) MORV_PRINTF_FORMAT(2, 0);

    // The process-wide logger (created when the library loads).
    static MORV_DEBUG_STREAM& get_stream() { return s_stream; }

    // Set-up done when a flow driver is constructed: threshold 100 with
    // "fsyn_debug_msg_full", 2 with "fsyn_debug_msg", else 1; host channel
    // on; file output with either switch or in regression-test mode; logger
    // on. Announces the choice on the host channel.
    static void configure_from_switches();

    void set_threshold(int threshold) { m_threshold = threshold; }
    void set_vdebug(bool on) { m_vdebug = on; }
    void set_fstream(bool on) { m_fstream = on; }
    void set_enabled(bool on) { m_enabled = on; }
    int get_threshold() const { return m_threshold; }
    bool is_vdebug_on() const { return m_vdebug; }
    bool is_fstream_on() const { return m_fstream; }
    bool is_enabled() const { return m_enabled; }
    const char* get_file_name() const { return m_file_name; }
    bool is_file_open() const;

    // Back to the state at load, writing to file_name from now on; an open
    // debug file is closed first. Used between independent runs in tests.
    void reset(const char* file_name = s_DEFAULT_FILE_NAME);

private:
    void write_line(int level);
    static void warn_file_not_writable(const char* file_name);
    void close_file();
    void set_file_name(const char* file_name);

    static MORV_DEBUG_STREAM s_stream;  // defined with the other process-wide objects

    std::ofstream* m_file_stream = nullptr;  // owned; opened on the first line written
    char* m_file_name = nullptr;             // owned
    int m_threshold = 1;
    bool m_vdebug = false;
    bool m_fstream = false;
    bool m_enabled = false;
};

// Formats straight to the host's debug channel under the tag "MORV".
void morv_debug(const char* format, ...) MORV_PRINTF_FORMAT(1, 2);

// Formats into buffer (capacity MORV_DEBUG_STREAM::s_LINE_LIMIT + 1) and
// returns the length kept: a text of s_LINE_LIMIT characters or more, or one
// the formatter rejects, is cut at s_LINE_LIMIT characters.
int morv_format_line(char* buffer, const char* format, va_list args) MORV_PRINTF_FORMAT(2, 0);

// printf-style formatting into a string of any length; the format is
// checked against its arguments at every call.
std::string morv_sprintf(const char* format, ...) MORV_PRINTF_FORMAT(1, 2);

// Copies text to out with every "%%" pair reduced to one '%'; any other
// character, a lone '%' included, is copied unchanged. out must hold
// strlen(text) + 1 characters. Returns out.
char* morv_reduce_percent_pairs(const char* text, char* out);
