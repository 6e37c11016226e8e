#include "host_progress.h"

#include <cstdio>
#include <cstring>

#include "gen/gen.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_expert.h"

namespace morv_host {

namespace {

// The component's notes that open and close an algorithm run.
constexpr const char* k_tracker_run_start_note = "Starting FSYN ";
constexpr const char* k_tracker_run_end_note = "Exitting FSYN ";
// The driver's notes that open and close one iteration of a run.
constexpr const char* k_tracker_iteration_start_note = ") running Pass ";
constexpr const char* k_tracker_iteration_end_note = "Algorithm ";

}  // namespace

HOST_RUN_TRACKER::HOST_RUN_TRACKER(std::function<long(SUMMARY_ROW&)> measure, std::function<long()> analyses,
                                   std::FILE* terminal, std::ostream* iterations)
    : m_measure(std::move(measure)), m_analyses(std::move(analyses)), m_terminal(terminal), m_iteration_log(iterations)
{
    msg_set_observer(this);
}

HOST_RUN_TRACKER::~HOST_RUN_TRACKER()
{
    msg_set_observer(nullptr);
    before_print();
}

void HOST_RUN_TRACKER::begin_flow(const std::string& label, MORV_EXPERT_INTERFACE* expert)
{
    m_flow = label;
    m_expert = dynamic_cast<MORV_EXPERT*>(expert);
    m_rows.clear();
    m_in_run = false;
}

std::vector<SUMMARY_ROW> HOST_RUN_TRACKER::end_flow()
{
    if (m_in_run) finish_run();
    m_expert = nullptr;
    std::vector<SUMMARY_ROW> rows;
    rows.swap(m_rows);
    return rows;
}

void HOST_RUN_TRACKER::before_print()
{
    // The line goes and is drawn again at the next note, below what was
    // printed: each run keeps one line on the screen.
    if (!m_line_shown) return;
    std::fputs("\r\033[K", m_terminal);
    std::fflush(m_terminal);
    m_line_shown = false;
}

void HOST_RUN_TRACKER::debug_line(const char* /*module*/, const char* text)
{
    if (m_expert == nullptr) return;
    MORV_ALGORITHM_BASE* algorithm = m_expert->get_current_algorithm();
    if (algorithm == nullptr) return;
    if (std::strncmp(text, k_tracker_run_start_note, std::strlen(k_tracker_run_start_note)) == 0) {
        if (m_in_run) finish_run();
        m_name = algorithm->get_short_name();
        start_run();
        // Its passes and iterations are not set up yet: the name alone.
        if (m_terminal != nullptr) show();
        return;
    } else if (!m_in_run) {
        return;
    } else if (std::strncmp(text, k_tracker_run_end_note, std::strlen(k_tracker_run_end_note)) == 0) {
        finish_run();
        return;
    }
    if (m_iteration_log != nullptr) follow_iteration(text, *algorithm);
    if (m_terminal == nullptr) return;
    const int pass = algorithm->get_curr_pass(), iteration = algorithm->get_curr_iter();
    const int passes = algorithm->get_num_passes(), iterations = algorithm->get_num_iters();
    if (pass == m_pass && iteration == m_iteration && passes == m_passes && iterations == m_iterations && m_line_shown)
        return;
    m_pass = pass;
    m_iteration = iteration;
    m_passes = passes;
    m_iterations = iterations;
    show();
}

// An iteration's analyses are the driver's refresh after it and whatever its
// algorithm asked for: a count that grows with the design shows where a long
// run spends its time.
void HOST_RUN_TRACKER::follow_iteration(const char* text, const MORV_ALGORITHM_BASE& algorithm)
{
    if (std::strstr(text, k_tracker_iteration_start_note) != nullptr) {
        m_iteration_start_cpu = gen_get_sec_cpu();
        m_iteration_start_analyses = m_analyses();
        return;
    }
    if (std::strncmp(text, k_tracker_iteration_end_note, std::strlen(k_tracker_iteration_end_note)) != 0 ||
        std::strstr(text, " end of pass ") == nullptr)
        return;
    const long analyses = m_analyses() - m_iteration_start_analyses;
    char line[160];
    std::snprintf(line, sizeof line, "morv-fit: %s %s pass %d, iteration %d: %ld timing %s, %.2f s\n", m_flow.c_str(),
                  m_name.c_str(), algorithm.get_curr_pass() + 1, algorithm.get_curr_iter() + 1, analyses,
                  analyses == 1 ? "analysis" : "analyses", gen_get_sec_cpu() - m_iteration_start_cpu);
    before_print();
    *m_iteration_log << line << std::flush;
}

void HOST_RUN_TRACKER::start_run()
{
    m_in_run = true;
    m_start_cpu = gen_get_sec_cpu();
    SUMMARY_ROW unused;
    m_start_analyses = m_measure(unused);
    m_pass = m_iteration = -1;
    m_passes = m_iterations = 0;
}

void HOST_RUN_TRACKER::finish_run()
{
    m_in_run = false;
    SUMMARY_ROW row;
    row.step = "  " + m_name;
    row.flow = m_flow;
    row.algorithm = m_name;
    row.analyses = m_measure(row) - m_start_analyses;
    row.seconds = gen_get_sec_cpu() - m_start_cpu;
    m_rows.push_back(row);
    if (m_terminal == nullptr) return;
    char tail[64];
    std::snprintf(tail, sizeof tail, "  done in %.2f s", row.seconds);
    show();
    draw(tail, true);
}

void HOST_RUN_TRACKER::show()
{
    if (m_terminal == nullptr) return;
    std::string text = "morv-fit: " + m_flow + "  " + m_name;
    if (m_passes > 0 && m_pass >= 0) {
        // What the user counts from 1; a run that stopped early shows where.
        const int pass = m_pass < m_passes ? m_pass + 1 : m_passes;
        text += "  pass " + std::to_string(pass) + " of " + std::to_string(m_passes);
        if (m_iterations > 0 && m_iteration >= 0) {
            const int iteration = m_iteration < m_iterations ? m_iteration + 1 : m_iterations;
            text += ", iteration " + std::to_string(iteration) + " of " + std::to_string(m_iterations);
        }
    }
    draw(text, false);
}

void HOST_RUN_TRACKER::draw(const std::string& text, bool final_line)
{
    if (final_line) {
        // Appended to the line just drawn, which then stays.
        std::fputs(text.c_str(), m_terminal);
        std::fputc('\n', m_terminal);
        m_line_shown = false;
    } else {
        std::fputs("\r\033[K", m_terminal);
        std::fputs(text.c_str(), m_terminal);
        m_line_shown = true;
    }
    std::fflush(m_terminal);
}

}  // namespace morv_host
