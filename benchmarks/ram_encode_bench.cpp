// The RAM contents of one cluster beside the exhaustive evaluation of the
// same cluster by the host's cell and register rules (the check of the
// tests), in one process: what encoding costs against simulating every
// address of the RAM it fills.

#include <benchmark/benchmark.h>

#include <memory>
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
#include "ram_encode_check.h"
#include "retiming_seq_run.h"

namespace {

// The S-box design on a brennock device: its first S-box's LUTs and output
// registers form the cluster (eight address and eight data bits).
struct SETUP
{
    SETUP()
    {
        msg_set_quiet(true);
        const int family = CDB_FAMILY_BRK;
        design = std::make_unique<morv_host::HOST_DESIGN>(
            family, BLIF_READER(family).read_file(std::string(MORV_SOURCE_DIR) + "/designs/sbox_rom_k4.blif"));
        env = std::make_unique<morv_host::HOST_ENV>(*design);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
        place_every_node(api, *design->netlist());
        util = MORV_RAM_MAP_UTIL::create_for_family(api);
        cluster = std::make_unique<MORV_CLUSTER>();
        for (CDB_ATOM_NODE* n : *design->netlist()) {
            const std::string name = n->get_instance_name()->get_short_hpath();
            if (!n->is_pin() && (name.rfind("s0_b", 0) == 0 || name.rfind("s0_f", 0) == 0 || name.rfind("o0_", 0) == 0))
                cluster->add_node(n);
        }
        cluster->update_distances();
    }
    ~SETUP() { util.reset(); }

    std::unique_ptr<morv_host::HOST_DESIGN> design;
    std::unique_ptr<morv_host::HOST_ENV> env;
    MORV_API* api = nullptr;
    MORV_OWNER<MORV_RAM_MAP_UTIL> util;
    std::unique_ptr<MORV_CLUSTER> cluster;
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
    for (auto _ : state) enc.encode(s.cluster.get());
    state.counters["address_bits"] = static_cast<double>(enc.get_address_oterms().size());
    state.counters["data_bits"] = static_cast<double>(enc.get_data_oterms().size());
}
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond);

void BM_ExhaustiveEvaluation(benchmark::State& state)
{
    SETUP& s = setup();
    MORV_CLUSTER_RAM_STATE_ENCODING enc(s.util.get());
    enc.encode(s.cluster.get());
    for (auto _ : state) {
        const std::string difference = check_encoding(enc);
        if (!difference.empty()) state.SkipWithError(difference.c_str());
    }
}
BENCHMARK(BM_ExhaustiveEvaluation)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
