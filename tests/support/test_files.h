// Files and child programs as the command-line tests see them: whole files
// read and written as bytes, and a shell command's standard output and exit
// status.
#pragma once

#include <string>

std::string slurp(const std::string& path);
void write_file(const std::string& path, const std::string& text);
// How many times `what` stands in `text`, not overlapping.
int count_of(const std::string& text, const std::string& what);

class CDB_ATOM_NETLIST;

// A netlist in the native text form.
std::string native_text(const CDB_ATOM_NETLIST& netlist);
// The native text with its atom ids numbered from 1 in file order: ids
// come from the process's counter, the design's contents do not.
std::string canonical_ids(const std::string& text);

struct COMMAND_RUN
{
    int status = -1;  // the exit status; -1 when the command could not start or was killed
    std::string out;
};

// Runs `command` through the shell; what it writes to standard output is kept.
COMMAND_RUN run_command(const std::string& command);

namespace testing {
class AssertionResult;
}

// Whether the bundled sample design at `path` holds `text`, its generator's
// output; with MORV_WRITE_DESIGNS set in the environment it is rewritten
// first, which is how a changed generator refreshes its sample.
testing::AssertionResult sample_design_is_current(const std::string& path, const std::string& text);
