// What tests and benchmarks that drive the component directly need around a
// host compile: a clock a little faster than the design, and one flow running.
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
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

// A BRK compile of a BLIF design that the host has placed, clocked below its
// critical path, with only the LATE flow running: where the benchmarks that
// time one step after placement start.
struct PLACED_LATE_COMPILE
{
    explicit PLACED_LATE_COMPILE(const std::string& path)
    {
        msg_set_quiet(true);
        BLIF_READER reader(CDB_FAMILY_BRK);
        design = std::make_unique<morv_host::HOST_DESIGN>(CDB_FAMILY_BRK, reader.read_file(path));
        env = std::make_unique<morv_host::HOST_ENV>(*design);
        set_clock_below_critical_path(*env);
        env->place_unplaced_atoms();
        env->set_placed(true);
        MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert->get_fsyn_api();
        DRIVER_FLAGS::run_only(expert, LATE_FSYN_FLOW);
    }

    std::unique_ptr<morv_host::HOST_DESIGN> design;
    std::unique_ptr<morv_host::HOST_ENV> env;
    MORV_API* api = nullptr;
};
