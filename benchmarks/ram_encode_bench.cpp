// The RAM contents of the largest cluster found on s38417 beside the
// evaluation of the same cluster by the host's cell and register rules (the
// check of the tests: every address up to 12 address bits, 4096 above), in
// one process.

#include <benchmark/benchmark.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cluster.h"
#include "morv/rammap/morv_ram_encode.h"
#include "morv/rammap/morv_ram_map_util.h"
#include "../host/rammap/ram_cluster_run.h"
#include "ram_encode_check.h"
#include "scripted_slack.h"
#include "retiming_seq_run.h"

namespace {

// s38417 on a brennock device: the cluster with the most RAM bits among
// those cluster growth finds legal from every seed, rebuilt in a manager of
// its own.
struct SETUP
{
    SETUP()
    {
        msg_set_quiet(true);
        const int family = CDB_FAMILY_BRK;
        design = std::make_unique<morv_host::HOST_DESIGN>(
            family, BLIF_READER(family).read_file(std::string(MORV_BENCH_DIR) + "/mcnc_k4/s38417.blif"));
        env = std::make_unique<morv_host::HOST_ENV>(*design);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
        place_every_node(api, *design->netlist());
        util = MORV_RAM_MAP_UTIL::create_for_family(api);
        SCRIPTED_SLACK_SOURCE slack(api->get_fsyn_timing());
        slack.set_default(1000, 1.0);
        std::set<CDB_ATOM_NODE*> largest;
        long long largest_bits = -1;
        MORV_REGISTER_TYPE type;
        grow_every_seed(*design->netlist(), 0.0, [&](MORV_RAM_MAP_AREA_CLUSTER_MANAGER& m, MORV_CLUSTER* c) {
            const GROWN_CLUSTER grown = describe(c);
            if (grown.inputs < 1 || grown.inputs >= 20 || grown.bits > m.m_max_bits || grown.bits <= largest_bits)
                return;
            largest_bits = grown.bits;
            largest = grown.nodes;
            type = m.m_register_type;
        });
        manager = std::make_unique<MORV_RAM_MAP_AREA_CLUSTER_MANAGER>(0.0);
        manager->m_register_type = type;
        manager->m_max_bits = 16384;
        manager->get_ram_legalizer()->pre_cache(type, design->netlist());
        for (CDB_ATOM_NODE* n : largest) {
            if (!cluster) cluster = manager->create_cluster(n);
            else cluster->add_node(n);
        }
        cluster->update_distances();
    }
    ~SETUP()
    {
        manager->delete_cluster(cluster);
        manager.reset();
        util.reset();
    }

    std::unique_ptr<morv_host::HOST_DESIGN> design;
    std::unique_ptr<morv_host::HOST_ENV> env;
    MORV_API* api = nullptr;
    MORV_OWNER<MORV_RAM_MAP_UTIL> util;
    std::unique_ptr<MORV_RAM_MAP_AREA_CLUSTER_MANAGER> manager;
    MORV_CLUSTER* cluster = nullptr;
};

SETUP& setup()
{
    static SETUP s;
    return s;
}

void BM_Encode(benchmark::State& state)
{
    SETUP& s = setup();
    MORV_CLUSTER_RAM_STATE_ENCODING enc(s.util.get());
    for (auto _ : state) enc.encode(s.cluster);
    state.counters["address_bits"] = static_cast<double>(enc.get_address_oterms().size());
    state.counters["data_bits"] = static_cast<double>(enc.get_data_oterms().size());
}
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond);

void BM_ExhaustiveEvaluation(benchmark::State& state)
{
    SETUP& s = setup();
    MORV_CLUSTER_RAM_STATE_ENCODING enc(s.util.get());
    enc.encode(s.cluster);
    for (auto _ : state) {
        const std::string difference = check_encoding(enc);
        if (!difference.empty()) state.SkipWithError(difference.c_str());
    }
}
BENCHMARK(BM_ExhaustiveEvaluation)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
