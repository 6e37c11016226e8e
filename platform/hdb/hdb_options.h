#pragma once
// Project, chip and per-instance options addressed by numeric id. Values are
// kept as text and read through the typed getters below, each of which
// answers std::nullopt when the option is absent (or its text is not of the
// asked type), so an absent option is never confused with 0, false or "".

#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

class HDB_ACTION_PT_INSTANCE;
class HDB_INSTANCE_NAME;

// Thrown by HDB_OPTION_SET::load_file; the text names the file and line.
class HDB_OPTION_ERROR : public std::runtime_error
{
public:
    explicit HDB_OPTION_ERROR(const std::string& text) : std::runtime_error(text) {}
};

class HDB_OPTION_SET
{
public:
    void set_bool(int id, bool value);  // stored as "on" / "off"
    void set_int(int id, int value);
    void set_enum(int id, int value) { set_int(id, value); }
    void set_string(int id, const std::string& value);
    void unset(int id);
    void clear();
    bool has(int id) const;
    std::size_t size() const { return m_values.size(); }

    // Raw text; nullptr when absent.
    const std::string* find_text(int id) const;

    // "id=value" lines: id a non-negative decimal number, value the rest of
    // the line (blanks around both trimmed; an empty value is a present
    // empty string). Blank lines and '#' comments are ignored. A malformed
    // line or an unreadable file throws HDB_OPTION_ERROR "<path>:<line>: ...";
    // lines before it stay applied.
    void load_file(const char* path);

private:
    std::unordered_map<int, std::string> m_values;
};

// Typed readers. Each has three forms: on an option set; on the action
// point (project level); on the action point for one instance. A null
// argument reads as absent.
class HDB_BOOL_OPTION
{
public:
    // "on", "true", "1" -> true; "off", "false", "0" -> false (any case);
    // other texts read as absent.
    static std::optional<bool> get_bool_option(const HDB_OPTION_SET* options, int id);
    static std::optional<bool> get_bool_option(const HDB_ACTION_PT_INSTANCE* ap, int id);
    static std::optional<bool> get_bool_option(const HDB_ACTION_PT_INSTANCE* ap, const HDB_INSTANCE_NAME* inst, int id);
};

class HDB_INT_OPTION
{
public:
    // A whole decimal number fitting an int; other texts read as absent.
    static std::optional<int> get_int_option(const HDB_OPTION_SET* options, int id);
    static std::optional<int> get_int_option(const HDB_ACTION_PT_INSTANCE* ap, int id);
    static std::optional<int> get_int_option(const HDB_ACTION_PT_INSTANCE* ap, const HDB_INSTANCE_NAME* inst, int id);
};

class HDB_ENUM_OPTION
{
public:
    // Enumerators are their numbers (e.g. effort 81, 65, 152).
    static std::optional<int> get_enum_option(const HDB_OPTION_SET* options, int id);
    static std::optional<int> get_enum_option(const HDB_ACTION_PT_INSTANCE* ap, int id);
    static std::optional<int> get_enum_option(const HDB_ACTION_PT_INSTANCE* ap, const HDB_INSTANCE_NAME* inst, int id);
};

class HDB_STRING_OPTION
{
public:
    static std::optional<std::string> get_string_option(const HDB_OPTION_SET* options, int id);
    static std::optional<std::string> get_string_option(const HDB_ACTION_PT_INSTANCE* ap, int id);
    static std::optional<std::string> get_string_option(const HDB_ACTION_PT_INSTANCE* ap, const HDB_INSTANCE_NAME* inst,
                                                        int id);
};
