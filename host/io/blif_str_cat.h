// Message building for the BLIF reader and writer. Appending into one
// string avoids the `"literal" + std::string(...)` form, whose inlined
// insert-at-front GCC 12 misreports as an overlapping copy (-Wrestrict).
#pragma once

#include <string>

template <typename... PARTS>
std::string str_cat(const PARTS&... parts)
{
    std::string s;
    (s.append(parts), ...);
    return s;
}
