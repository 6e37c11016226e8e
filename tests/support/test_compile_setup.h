// What tests and benchmarks that drive the component directly need around a
// host compile: a clock a little faster than the design, and one flow running.
#pragma once

#include <algorithm>

#include "host_env.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_expert.h"

// Reaches the flow flags and the estimator switch of any flow driver.
class DRIVER_FLAGS : public MORV_EXPERT
{
public:
    static void run_only(MORV_EXPERT* expert, int flow)
    {
        bool(&running)[NUM_FSYN_FLOWS] = expert->*(&DRIVER_FLAGS::m_fsyn_flow_is_running);
        for (int f = 0; f < NUM_FSYN_FLOWS; ++f) running[f] = f == flow;
    }
    static void set_estimator(MORV_EXPERT* expert, bool on) { expert->*(&DRIVER_FLAGS::m_enable_nevra) = on; }
};

// Sets the clock of `env` and the analyser's default to 90 % of the design's
// critical path (10 ns when nothing is constrained), so that every design has
// something to gain; answers the period.
inline int set_clock_below_critical_path(morv_host::HOST_ENV& env)
{
    const int path = env.measure_unoptimised_critical_path_ps();
    const int period = path > 0 ? std::max(100, path * 9 / 10) : 10000;
    env.set_clock_period_ps(period);
    tdc_get_accessories()->set_default_clock_period_ps(period);
    return period;
}
