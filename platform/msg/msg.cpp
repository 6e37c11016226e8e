#include "msg/msg.h"

#include <cstdio>
#include <iostream>

#include "mem/mem.h"

namespace {

struct MSG_STATE
{
    std::vector<MSG_POSTED_MESSAGE> posted;
    std::vector<MSG_VDEBUG_LINE> vdebug;
    long errors = 0;
    bool quiet = false;
    bool vdebug_printing = false;
    bool vdebug_capture = true;
    MSG_OBSERVER* observer = nullptr;
};

// Never destroyed: static destructors of other modules may still report.
MSG_STATE& msg_state()
{
    static MSG_STATE* s_state = new MSG_STATE;
    return *s_state;
}

MEM_TAG_RECORD* msg_tag()
{
    static MEM_TAG_RECORD* s_record = mem_get_tag_record("MSG");
    return s_record;
}

}  // namespace

std::string msg_cut_word(std::string_view word, size_t limit)
{
    if (word.size() <= limit) return std::string(word);
    size_t keep = limit;
    // Continuation bytes of UTF-8 are 10xxxxxx: stop before the character they finish.
    while (keep > 0 && (static_cast<unsigned char>(word[keep]) & 0xC0) == 0x80) --keep;
    return std::string(word.substr(0, keep)) + "... (cut; " + std::to_string(word.size()) + " bytes in all)";
}

std::string msg_expand_placeholders(std::string_view text, const std::vector<MSG_ARG>& args)
{
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '%') {
            // %N!s! or %N!d!, N one or more digits.
            std::size_t j = i + 1;
            std::size_t number = 0;
            bool overflow = false;
            while (j < text.size() && text[j] >= '0' && text[j] <= '9') {
                if (number > 100000) overflow = true;
                number = number * 10 + static_cast<std::size_t>(text[j] - '0');
                ++j;
            }
            if (j > i + 1 && j + 2 < text.size() && text[j] == '!' && (text[j + 1] == 's' || text[j + 1] == 'd') &&
                text[j + 2] == '!') {
                if (!overflow && number >= 1 && number <= args.size()) out += args[number - 1].text();
                i = j + 3;
                continue;
            }
        }
        out += text[i];
        ++i;
    }
    return out;
}

MSG_BASE::MSG_BASE(MSG_KIND kind, MSG_REPORT* report) : m_kind(kind), m_report(report) {}

MSG_BASE::~MSG_BASE()
{
    for (MSG_BASE* sub : m_sub_msgs) delete sub;
}

void MSG_BASE::attach_sub_msg(MSG_BASE* sub)
{
    if (sub != nullptr && sub != this) m_sub_msgs.push_back(sub);
}

void* MSG_BASE::operator new(std::size_t bytes)
{
    return mem_alloc(bytes, msg_tag());
}

void MSG_BASE::operator delete(void* p)
{
    mem_free(p);
}

void MSG_BASE::fill_args_list(const char* text_and_id, const std::vector<MSG_ARG>& args)
{
    std::string_view whole = text_and_id ? text_and_id : "";
    std::size_t slash = whole.rfind('/');
    std::string_view text = whole;
    if (slash != std::string_view::npos) {
        m_id = std::string(whole.substr(slash + 1));
        text = whole.substr(0, slash);
    } else {
        m_id.clear();
    }
    m_text = msg_expand_placeholders(text, args);
}

const char* msg_kind_name(MSG_KIND kind)
{
    switch (kind) {
    case MSG_KIND::INFO: return "Info";
    case MSG_KIND::WARNING: return "Warning";
    case MSG_KIND::ERROR: return "Error";
    }
    return "Info";
}

void MSG_POST::post(MSG_REPORT* /*report*/)
{
    post_at_depth(0);
}

void MSG_BASE::post_at_depth(int depth, bool detail_of_problem)
{
    MSG_STATE& s = msg_state();
    s.posted.push_back(MSG_POSTED_MESSAGE{m_kind, m_id, m_text, m_severity_level, depth});
    if (m_kind == MSG_KIND::ERROR) ++s.errors;
    // Quiet hides information only: a warning or an error always reaches the
    // user, on the error stream so that it survives a redirected table.
    const bool problem = m_kind != MSG_KIND::INFO || detail_of_problem;
    if (!s.quiet || m_always_shown || problem) {
        std::ostream& to = problem ? std::cerr : std::cout;
        if (s.observer != nullptr) s.observer->before_print();
        to << std::string(static_cast<size_t>(depth) * 4, ' ') << msg_kind_name(m_kind) << " (" << m_id
           << "): " << m_text << '\n';
        to.flush();
    }
    for (MSG_BASE* sub : m_sub_msgs) sub->post_at_depth(depth + 1, problem);
}

long msg_posted_error_count()
{
    return msg_state().errors;
}

const std::vector<MSG_POSTED_MESSAGE>& msg_posted_messages()
{
    return msg_state().posted;
}
void msg_clear_posted_messages()
{
    msg_state().posted.clear();
}
void msg_set_quiet(bool quiet)
{
    msg_state().quiet = quiet;
}
bool msg_is_quiet()
{
    return msg_state().quiet;
}

MSG_INTERNAL_ERROR_EXCEPTION::MSG_INTERNAL_ERROR_EXCEPTION(std::string condition, std::string module, std::string file,
                                                           int line)
    : m_condition(std::move(condition)), m_module(std::move(module)), m_file(std::move(file)), m_line(line)
{
    m_what = "Internal Error: " + m_condition + ", " + m_module + ", " + m_file + ", " + std::to_string(m_line);
}

void MSG_INTERNAL_ERROR::report(const char* condition, const char* module, const char* file, int line)
{
    throw MSG_INTERNAL_ERROR_EXCEPTION(condition ? condition : "", module ? module : "", file ? file : "", line);
}

void msg_local_vdebug(const char* module, const char* text)
{
    MSG_STATE& s = msg_state();
    const char* m = module ? module : "";
    const char* t = text ? text : "";
    if (s.vdebug_capture) s.vdebug.push_back(MSG_VDEBUG_LINE{m, t});
    if (s.vdebug_printing) {
        if (s.observer != nullptr) s.observer->before_print();
        std::fprintf(stderr, "%s: %s\n", m, t);
    }
    if (s.observer != nullptr) s.observer->debug_line(m, t);
}

void msg_set_observer(MSG_OBSERVER* observer)
{
    msg_state().observer = observer;
}

const std::vector<MSG_VDEBUG_LINE>& msg_vdebug_lines()
{
    return msg_state().vdebug;
}
void msg_clear_vdebug_lines()
{
    msg_state().vdebug.clear();
}
void msg_set_vdebug_printing(bool on)
{
    msg_state().vdebug_printing = on;
}
void msg_set_vdebug_capture(bool on)
{
    msg_state().vdebug_capture = on;
}
