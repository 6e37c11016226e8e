#include "host_summary.h"

#include <cstdio>

namespace morv_host {

double estimated_fmax_mhz(int64_t period_ps, int64_t worst_slack_ps)
{
    int64_t path = period_ps - worst_slack_ps;
    if (path <= 0) return 0.0;
    return 1e6 / static_cast<double>(path);
}

std::string format_summary_table(const std::vector<SUMMARY_ROW>& rows, int64_t period_ps)
{
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line, "%-22s %8s %8s %9s %12s %12s %10s %9s %9s\n", "step", "atoms", "LUTs", "registers",
                  "slack (ps)", "FOM", "Fmax (MHz)", "time (s)", "analyses");
    out += line;
    out += std::string(107, '-') + "\n";
    for (const SUMMARY_ROW& r : rows) {
        char slack[32] = "-", fom[32] = "-", fmax[32] = "-";
        if (r.has_timing) {
            std::snprintf(slack, sizeof slack, "%lld", static_cast<long long>(r.worst_slack_ps));
            std::snprintf(fom, sizeof fom, "%lld", static_cast<long long>(r.figure_of_merit));
            double f = estimated_fmax_mhz(r.period_ps > 0 ? r.period_ps : period_ps, r.worst_slack_ps);
            if (f > 0) std::snprintf(fmax, sizeof fmax, "%.1f", f);
        }
        std::snprintf(line, sizeof line, "%-22s %8d %8d %9d %12s %12s %10s %9.2f %9ld\n", r.step.c_str(), r.atoms,
                      r.luts, r.registers, slack, fom, fmax, r.seconds, r.analyses);
        out += line;
    }
    return out;
}

std::string format_summary_csv(const std::vector<SUMMARY_ROW>& rows, int64_t period_ps)
{
    std::string out = "flow_point,algorithm,ran,atoms,luts,registers,worst_slack_ps,figure_of_merit,fmax_mhz,"
                      "cpu_seconds,timing_analyses\n";
    char line[512];
    for (const SUMMARY_ROW& r : rows) {
        char slack[32] = "", fom[32] = "", fmax[32] = "";
        if (r.has_timing) {
            std::snprintf(slack, sizeof slack, "%lld", static_cast<long long>(r.worst_slack_ps));
            std::snprintf(fom, sizeof fom, "%lld", static_cast<long long>(r.figure_of_merit));
            const double f = estimated_fmax_mhz(r.period_ps > 0 ? r.period_ps : period_ps, r.worst_slack_ps);
            if (f > 0) std::snprintf(fmax, sizeof fmax, "%.1f", f);
        }
        // Flow, step and algorithm names hold no comma or quote.
        std::snprintf(line, sizeof line, "%s,%s,%d,%d,%d,%d,%s,%s,%s,%.3f,%ld\n",
                      (r.flow.empty() ? r.step : r.flow).c_str(), r.algorithm.c_str(), r.ran ? 1 : 0, r.atoms, r.luts,
                      r.registers, slack, fom, fmax, r.seconds, r.analyses);
        out += line;
    }
    return out;
}

}  // namespace morv_host
