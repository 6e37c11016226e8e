#pragma once
// Host message service: user messages (info, warning, error) built from a
// "text/ID" string with numbered placeholders, the internal-error reporter
// and the local debug channel.

#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

class MSG_REPORT;  // report a message is filed under; null is the default report

enum class MSG_KIND
{
    INFO,
    WARNING,
    ERROR
};

// One argument of a message: a number or a text. Either kind may fill
// either placeholder form (%N!s! or %N!d!).
class MSG_ARG
{
public:
    MSG_ARG(const char* text) : m_text(text ? text : "") {}
    MSG_ARG(const std::string& text) : m_text(text) {}
    MSG_ARG(std::string_view text) : m_text(text) {}
    template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
    MSG_ARG(T number) : m_text(std::to_string(number))
    {}
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

// Expands "%N!s!" and "%N!d!" (N from 1) in text with args; a placeholder
// without an argument expands to nothing; anything else is copied as is.
std::string msg_expand_placeholders(std::string_view text, const std::vector<MSG_ARG>& args);

// A word the user wrote, short enough to read in a message: a longer one
// keeps its first `limit` bytes (never half a UTF-8 character) and says
// how long it was, so that a message never echoes a whole file.
std::string msg_cut_word(std::string_view word, size_t limit = 64);

class MSG_BASE
{
public:
    explicit MSG_BASE(MSG_KIND kind, MSG_REPORT* report = nullptr);
    virtual ~MSG_BASE();

    // Message objects live on the tracking allocator under the tag "MSG"
    // (see mem/mem.h); plain new/delete and mem_new_wrapper both work.
    static void* operator new(std::size_t bytes);
    static void operator delete(void* p);

    // text_and_id: the text, '/', and the id (the id follows the last '/').
    template <typename... ARGS>
    void fill_args(const char* text_and_id, const ARGS&... args)
    {
        fill_args_list(text_and_id, std::vector<MSG_ARG>{MSG_ARG(args)...});
    }
    void fill_args_list(const char* text_and_id, const std::vector<MSG_ARG>& args);

    void set_severity_level(int level) { m_severity_level = level; }
    // Printed even in quiet mode: for what a user must see whatever they
    // asked to hide (a design read with a guess made for it).
    void set_always_shown(bool shown) { m_always_shown = shown; }
    bool is_always_shown() const { return m_always_shown; }
    int get_severity_level() const { return m_severity_level; }

    MSG_KIND get_kind() const { return m_kind; }
    const std::string& get_id() const { return m_id; }
    const std::string& get_text() const { return m_text; }  // expanded text
    MSG_REPORT* get_report() const { return m_report; }

    // Sub-messages detail this one: they are posted with it, each indented
    // one step under its parent, and deleted with it. The parent takes
    // ownership of sub (null is ignored).
    void attach_sub_msg(MSG_BASE* sub);
    const std::vector<MSG_BASE*>& get_sub_msgs() const { return m_sub_msgs; }

protected:
    // Records and prints this message at the given depth, then its
    // sub-messages one step deeper. The detail of a warning or an error is
    // part of it: printed with it, on its stream, in quiet mode too.
    void post_at_depth(int depth, bool detail_of_problem = false);

    MSG_KIND m_kind;
    MSG_REPORT* m_report;
    int m_severity_level = 0;
    bool m_always_shown = false;
    std::string m_id;
    std::string m_text;
    std::vector<MSG_BASE*> m_sub_msgs;
};

class MSG_POST : public MSG_BASE
{
public:
    using MSG_BASE::MSG_BASE;
    // Prints "Info (ID): text" on stdout unless quiet (or always shown),
    // "Warning (ID): text" / "Error (ID): text" on stderr always, and records
    // the message, then its sub-messages indented under it (those of a
    // warning or an error on stderr always). report null = default.
    virtual void post(MSG_REPORT* report = nullptr);
};

class MSG_I : public MSG_POST
{
public:
    explicit MSG_I(MSG_REPORT* report = nullptr) : MSG_POST(MSG_KIND::INFO, report) {}
};
class MSG_W : public MSG_POST
{
public:
    explicit MSG_W(MSG_REPORT* report = nullptr) : MSG_POST(MSG_KIND::WARNING, report) {}
};
class MSG_E : public MSG_POST
{
public:
    explicit MSG_E(MSG_REPORT* report = nullptr) : MSG_POST(MSG_KIND::ERROR, report) {}
};

// A posted message as recorded for tests.
struct MSG_POSTED_MESSAGE
{
    MSG_KIND kind;
    std::string id;
    std::string text;
    int severity_level;
    int depth = 0;  // 0 for a posted message, 1 for its sub-messages, ...
};

const std::vector<MSG_POSTED_MESSAGE>& msg_posted_messages();
void msg_clear_posted_messages();
// Errors posted since the process started; clearing the record keeps it.
long msg_posted_error_count();
// Quiet: information is recorded but not printed (tests, "-q"); warnings and
// errors are always printed.
void msg_set_quiet(bool quiet);
bool msg_is_quiet();
const char* msg_kind_name(MSG_KIND kind);  // "Info", "Warning", "Error"

// ---------------------------------------------------------------- internal errors

class MSG_INTERNAL_ERROR_EXCEPTION : public std::exception
{
public:
    MSG_INTERNAL_ERROR_EXCEPTION(std::string condition, std::string module, std::string file, int line);
    const char* what() const noexcept override { return m_what.c_str(); }
    const std::string& get_condition() const { return m_condition; }
    const std::string& get_module() const { return m_module; }
    const std::string& get_file() const { return m_file; }
    int get_line() const { return m_line; }

private:
    std::string m_condition;
    std::string m_module;
    std::string m_file;
    int m_line;
    std::string m_what;  // "Internal Error: condition, module, file, line"
};

class MSG_INTERNAL_ERROR
{
public:
    // Never returns: throws MSG_INTERNAL_ERROR_EXCEPTION. Null texts become "".
    [[noreturn]] static void report(const char* condition, const char* module, const char* file, int line);
};

#define MSG_ASSERT(cond, module)                                                                                       \
    do {                                                                                                               \
        if (!(cond)) MSG_INTERNAL_ERROR::report(#cond, (module), __FILE__, __LINE__);                                  \
    } while (0)

// ---------------------------------------------------------------- debug channel

// The host's local debug channel. text is data, never a format. Every line
// is captured (while capture is on, the default) and printed to stderr as
// "module: text" only while printing is on (off by default).
void msg_local_vdebug(const char* module, const char* text);

struct MSG_VDEBUG_LINE
{
    std::string module;
    std::string text;
};
const std::vector<MSG_VDEBUG_LINE>& msg_vdebug_lines();
void msg_clear_vdebug_lines();
void msg_set_vdebug_printing(bool on);
void msg_set_vdebug_capture(bool on);

// ---------------------------------------------------------------- observer

// One observer at a time watches the service: a status line the caller keeps
// on the terminal is ended before any message or debug line is printed, and
// every debug line is shown to it (the component's progress notes arrive
// there).
class MSG_OBSERVER
{
public:
    virtual ~MSG_OBSERVER() = default;
    virtual void before_print() = 0;
    virtual void debug_line(const char* module, const char* text) = 0;
};
// Null removes the observer.
void msg_set_observer(MSG_OBSERVER* observer);
