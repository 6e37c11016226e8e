#pragma once
// The stand-in compiler's compile: read the design, construct the
// environment and flow driver, run the fit in the host's order (early flow
// points, clustering, POST_CLUSTERING, placement, LATE, post-route, delay
// back-annotation) and report a summary per step.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "host_options.h"
#include "host_summary.h"

namespace morv_host {

class HOST_ENV;

const char* fit_version();

struct HOST_COMPILE_RESULT
{
    std::vector<SUMMARY_ROW> rows;
    int64_t clock_period_ps = 0;
    int64_t unoptimised_path_ps = 0;  // critical path of the netlist as read, 0 when none
    // The flow points up to LATE at which the component says physical
    // synthesis ran, in flow order; empty when it ran at none.
    std::vector<std::string> physical_synthesis_flows;
};

// Runs the fit of an environment whose design is loaded. `log` receives
// progress lines when verbosity allows; `read_seconds` is the time the
// design took to read (the table's input row). Throws HOST_INPUT_ERROR when
// the design cannot be placed.
HOST_COMPILE_RESULT run_compile(HOST_ENV& env, const FIT_OPTIONS& options, std::ostream& log, double read_seconds = 0);

// The whole program: input errors print "morv-fit: error: ..." and give 1,
// internal errors "morv-fit: internal error: ..." and give 2. The hook runs
// once the environment exists (tests inject faults through it).
int run_fit(const FIT_OPTIONS& options, std::ostream& out, std::ostream& err,
            const std::function<void(HOST_ENV&)>& hook = {});
int fit_main(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
             const std::function<void(HOST_ENV&)>& hook = {});

}  // namespace morv_host
