#pragma once

// Small helpers for text users write and read: the blanks round a word,
// a share shown as a percentage.

#include <string>

inline bool morv_is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// The text without the blanks round it.
inline std::string morv_trim_blanks(const std::string& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && morv_is_blank(text[first])) ++first;
    while (last > first && morv_is_blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// part as a percentage of whole; 0 for an empty whole.
inline double morv_percent(int part, int whole)
{
    return whole == 0 ? 0.0 : static_cast<double>(part) * 100.0 / static_cast<double>(whole);
}
