#pragma once
// The keys the configuration service is asked for: every developer switch
// of the component and every key a stand-in service reads, each with the kind
// of value its reader takes. The readers fall back to their defaults without
// a word when a key is absent or its value does not read, so a misspelt key
// or a value of the wrong kind from the user would silently change nothing;
// the host checks the user's keys and values against this registry instead.
// Whoever makes a service or an algorithm read a new key registers it here.

#include <climits>
#include <span>
#include <string>
#include <string_view>

enum class CFG_KEY_KIND
{
    SWITCH,  // on or off (cfg_is_on)
    INT,     // a whole number in [min_value, max_value] (cfg_get_int_value)
    NUMBER,  // a decimal number, read with atof (cfg_get_value)
    TEXT,    // any text (cfg_get_value)
};

struct CFG_KNOWN_KEY
{
    // A name ending in '.' stands for a family of keys: the prefix followed
    // by a name of the user's (a clock's, say).
    const char* name;
    CFG_KEY_KIND kind;
    long min_value = INT_MIN;
    long max_value = INT_MAX;
};

// The entry of `key`; nullptr when nothing reads it.
const CFG_KNOWN_KEY* cfg_find_known_key(std::string_view key);

// Empty when `value` reads as the key's kind; otherwise what the key takes
// and what was found, e.g. "takes on or off, found 'yes'".
std::string cfg_check_value(const CFG_KNOWN_KEY& key, std::string_view value);

// Every registered key.
std::span<const CFG_KNOWN_KEY> cfg_known_keys();
