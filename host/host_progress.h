#pragma once
// Follows the component's algorithm runs through a compile. Each run of a
// flow point gives a row of the summary table: atoms, LUTs and registers
// when it ends, its CPU time and the timing analyses it ran. On a terminal
// each flow point and algorithm also gets one progress line, rewritten in
// place with the pass and iteration as they go, so that a long compile shows
// what it is doing.
//
// The component says nothing to the host between its own calls but its
// debug notes, so the tracker watches the host's message service: the notes
// that open and close a run ("Starting FSYN <name>", "Exitting FSYN <name>")
// bound its row, and each note between is a moment to look at its pass and
// iteration.

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "host_summary.h"
#include "msg/msg.h"

class MORV_ALGORITHM_BASE;
class MORV_EXPERT;
class MORV_EXPERT_INTERFACE;

namespace morv_host {

class HOST_RUN_TRACKER : public MSG_OBSERVER
{
public:
    // `measure` fills a row's atoms, LUTs and registers and gives the timing
    // analyses run so far, `analyses` gives that count alone; `terminal`
    // receives the progress lines (null: none), `iterations` one line per
    // iteration with the analyses and time it took (null: none).
    HOST_RUN_TRACKER(std::function<long(SUMMARY_ROW&)> measure, std::function<long()> analyses, std::FILE* terminal,
                     std::ostream* iterations);
    ~HOST_RUN_TRACKER() override;
    HOST_RUN_TRACKER(const HOST_RUN_TRACKER&) = delete;
    HOST_RUN_TRACKER& operator=(const HOST_RUN_TRACKER&) = delete;

    void begin_flow(const std::string& label, MORV_EXPERT_INTERFACE* expert);
    // The rows of the algorithm runs since begin_flow, in the order they ran.
    std::vector<SUMMARY_ROW> end_flow();

    void before_print() override;
    void debug_line(const char* module, const char* text) override;

private:
    void start_run();
    void finish_run();
    void follow_iteration(const char* text, const MORV_ALGORITHM_BASE& algorithm);
    void show();
    void draw(const std::string& text, bool final_line);

    std::function<long(SUMMARY_ROW&)> m_measure;
    std::function<long()> m_analyses;
    std::FILE* m_terminal;
    std::ostream* m_iteration_log;
    MORV_EXPERT* m_expert = nullptr;
    std::string m_flow;
    std::vector<SUMMARY_ROW> m_rows;
    // The run being followed.
    bool m_in_run = false;
    std::string m_name;
    double m_start_cpu = 0;
    long m_start_analyses = 0;
    // The iteration being followed.
    double m_iteration_start_cpu = 0;
    long m_iteration_start_analyses = 0;
    int m_pass = -1, m_passes = 0, m_iteration = -1, m_iterations = 0;
    // The progress line is on the screen, not yet ended.
    bool m_line_shown = false;
};

}  // namespace morv_host
