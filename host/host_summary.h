#pragma once
// The per-flow-point summary table morv-fit prints at the end of a compile.

#include <cstdint>
#include <string>
#include <vector>

namespace morv_host {

struct SUMMARY_ROW
{
    std::string step;       // flow point or fitter step as the table shows it
    std::string flow;       // the flow point or step alone (an algorithm's: the one it ran in)
    std::string algorithm;  // the algorithm's short name; empty for a flow point or step
    bool ran = true;        // false: a flow point the compile did not run
    int atoms = 0;
    int luts = 0;
    int registers = 0;
    bool has_timing = false;  // false: no constrained path (slack, FOM, Fmax printed as "-")
    int64_t worst_slack_ps = 0;
    int64_t period_ps = 0;  // the period the worst slack is measured against; 0: the compile's
    int64_t figure_of_merit = 0;
    double seconds = 0;
    long analyses = 0;  // timing analyses the step ran (the row's own report aside)
};

// Fmax in MHz of a clock period with this worst slack; 0 when the path
// takes no time (nothing constrains it).
double estimated_fmax_mhz(int64_t period_ps, int64_t worst_slack_ps);

std::string format_summary_table(const std::vector<SUMMARY_ROW>& rows, int64_t period_ps);

// The same rows as comma-separated values with a header line, one line per
// row; a value the table shows as "-" is empty.
std::string format_summary_csv(const std::vector<SUMMARY_ROW>& rows, int64_t period_ps);

}  // namespace morv_host
