#pragma once

// The delay file a compile writes at its end ("fsyn_delays.txt") and the
// next compile's early timing model reads back. One record per connection,
// "%d ( %d %d ) -> %d ( %d %d ) = %d": driver atom id, its port type and
// index, sink atom id, its port type and index, interconnect delay in ps.
//
// The file comes from an earlier run and may be stale, cut short or not a
// delay file at all, so the reader trusts nothing: tokens are bounded,
// every number is checked in full, and the first fault ends the reading
// with the line it is on.

#include <cstdint>
#include <functional>
#include <istream>
#include <string>

struct MORV_DELAY_RECORD
{
    int32_t m_source_id = 0;
    int32_t m_source_port = 0;
    int32_t m_source_index = 0;
    int32_t m_dest_id = 0;
    int32_t m_dest_port = 0;
    int32_t m_dest_index = 0;
    int32_t m_delay = 0;
    int m_line = 0;  // 1-based line of the delay
};

struct MORV_DELAY_FILE_FAULT
{
    int m_line = 0;        // 1-based line of the offending token
    std::string m_reason;  // what is wrong there
};

// Longest token of the format; a longer one is no part of it.
constexpr int MORV_DELAY_FILE_MAX_TOKEN = 199;

// Reads every record of in, in order, handing each to on_record. False,
// with the fault, at the first token that breaks the format: a token that
// is too long, punctuation out of place, a number that is not a whole
// decimal 32-bit number, a negative id, port field or delay, a port type
// beyond the host's port numbers, or a record cut short by the end of the
// file. Records before the fault have been handed on already; callers that
// must not act on a faulty file collect them first.
bool morv_read_delay_records(std::istream& in, const std::function<void(const MORV_DELAY_RECORD&)>& on_record,
                             MORV_DELAY_FILE_FAULT* fault);
