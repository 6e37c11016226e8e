#pragma once
// Process-wide configuration service: developer switches and settings read
// by name. The store lives in a function-local static so that static
// initialisers of other libraries may already read it.

#include <stdexcept>
#include <string>

// Thrown by cfg_load_file for an unreadable file or a malformed line; the
// text names the file and, for a bad line, its line number.
class CFG_ERROR : public std::runtime_error
{
public:
    explicit CFG_ERROR(const std::string& text) : std::runtime_error(text) {}
};

// "on", "1" and "true" (any case) are on; any other present value is off;
// an absent key reads default_value.
bool cfg_is_on(const char* name, bool default_value = false);

// A present value that is not a whole decimal number (optional sign, blanks
// around it allowed) or does not fit an int reads default_value.
int cfg_get_int_value(const char* name, int default_value = 0);

// nullptr when absent. The pointer stays valid until the key is set again,
// unset or the store is cleared.
const char* cfg_get_value(const char* name);

void cfg_set_value(const char* name, const char* value);
void cfg_unset(const char* name);
void cfg_clear_all();

// Reads "key=value" lines; blank lines and lines whose first non-blank
// character is '#' are ignored; blanks around key and value are trimmed.
// A line without '=' or with an empty key throws CFG_ERROR
// "<path>:<line>: ..."; a file that cannot be opened throws CFG_ERROR too.
// Lines before a bad line stay applied.
void cfg_load_file(const char* path);
