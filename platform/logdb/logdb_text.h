#pragma once
// The text form of a change-log record, one line per record: kind number,
// entry id, then the fields in record order separated by one blank; strings
// in double quotes with backslash escapes, lists in [ ] with blanks between
// items, booleans 0 or 1, LUT masks as 0x hex. Logs of older versions are
// written by hand in this form.

#include <string>
#include <string_view>

#include "logdb/logdb_fsyn_log_entry.h"

std::string logdb_record_to_text(const LOGDB_FSYN_LOG_ENTRY& record);
// Null, with the reason in `error`, for a line that is no record.
LOGDB_FSYN_LOG_ENTRY_OWNER logdb_record_from_text(std::string_view line, std::string& error);
