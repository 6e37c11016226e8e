// Atom-netlist figures: fanout insert/remove, native write and read of a
// netlist the size of stereovision0 (11k 6-input LUTs, 12k registers), and
// heap bytes per atom.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

namespace {

struct SYNTH
{
    std::unique_ptr<HDB_NAME_MGR> names;
    std::unique_ptr<CDB_ATOM_NETLIST> netlist;
};

// LUTs read six random earlier signals; registers read one LUT and share a clock.
SYNTH make_netlist(int luts, int regs, int pins)
{
    SYNTH s;
    s.names = std::make_unique<HDB_NAME_MGR>("top");
    s.netlist = std::make_unique<CDB_ATOM_NETLIST>(CDB_FAMILY_BRK);
    s.netlist->set_name_mgr(s.names.get());
    std::mt19937 rng(1);
    std::vector<CDB_ATOM_OTERM*> signals;
    auto name = [&](const char* prefix, int i) {
        return s.names->find_or_create_path(std::string(prefix) + std::to_string(i), HDB_INAME_FLAG_FROM_NETLIST);
    };
    int host = 0;
    for (int i = 0; i < pins; ++i) {
        HDB_INSTANCE_NAME* n = name("pi", i);
        CDB_ATOM_NODE* p = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_IO, n);
        s.netlist->add_node(p);
        signals.push_back(p->add_output_term(DB_DATA_OUT, n));
        signals.back()->set_host_index(host++);
    }
    CDB_ATOM_OTERM* clock = signals[0];
    auto add_register = [&](int i, CDB_ATOM_OTERM* d) {
        HDB_INSTANCE_NAME* rn = name("r", i);
        CDB_ATOM_NODE* r = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_REGISTER, rn);
        s.netlist->add_node(r);
        d->insert_fanout(r->add_input_term(DB_DATAIN));
        clock->insert_fanout(r->add_input_term(DB_CLOCK));
        signals.push_back(r->add_output_term(DB_REG_OUT, rn));
    };
    for (int i = 0; i < luts; ++i) {
        HDB_INSTANCE_NAME* n = name("n", i);
        CDB_ATOM_NODE* l = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, n);
        s.netlist->add_node(l);
        for (int k = 0; k < 6; ++k) signals[rng() % signals.size()]->insert_fanout(l->add_input_term(DB_DATA_A + k));
        l->set_lutmask(CDB_LUTMASK(6, (uint64_t(rng()) << 32) | rng()));
        signals.push_back(l->add_output_term(DB_COMB_OUT, n));
        signals.back()->set_host_index(host++);
        if (i < regs) {
            add_register(i, signals.back());
            signals.back()->set_host_index(host++);
        }
    }
    for (int i = luts; i < regs; ++i) add_register(i, signals[rng() % signals.size()]);
    return s;
}

constexpr int LUTS = 11000, REGS = 12000, PINS = 200;

// 1M operations: each moves a random sink to a random driver (a removal
// from one fanout list and an insertion into another).
void BM_FanoutInsertRemove(benchmark::State& state)
{
    SYNTH s = make_netlist(LUTS, REGS, PINS);
    std::vector<CDB_ATOM_OTERM*> drivers;
    std::vector<CDB_ATOM_ITERM*> sinks;
    for (CDB_ATOM_NODE* n : *s.netlist) {
        for (auto it = n->begin_oterm(); it != n->end_oterm(); ++it) drivers.push_back(*it);
        for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it) sinks.push_back(*it);
    }
    std::mt19937 rng(2);
    for (auto _ : state) {
        for (int i = 0; i < 1000000; ++i) {
            CDB_ATOM_ITERM* t = sinks[rng() % sinks.size()];
            if (CDB_ATOM_OTERM* src = t->get_source()) src->remove_fanout(t);
            drivers[rng() % drivers.size()]->insert_fanout(t);
        }
    }
    state.counters["ops"] = 2e6;
}
BENCHMARK(BM_FanoutInsertRemove)->Unit(benchmark::kMillisecond);

void BM_NativeWrite(benchmark::State& state)
{
    SYNTH s = make_netlist(LUTS, REGS, PINS);
    size_t bytes = 0;
    for (auto _ : state) {
        std::ostringstream os;
        cdb_write_native_netlist(*s.netlist, os);
        bytes = os.str().size();
    }
    state.counters["atoms"] = static_cast<double>(s.netlist->get_node_count());
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_NativeWrite)->Unit(benchmark::kMillisecond);

void BM_NativeRead(benchmark::State& state)
{
    SYNTH s = make_netlist(LUTS, REGS, PINS);
    std::ostringstream os;
    cdb_write_native_netlist(*s.netlist, os);
    const std::string text = os.str();
    for (auto _ : state) {
        HDB_NAME_MGR names("top");
        std::istringstream in(text);
        std::string error;
        std::unique_ptr<CDB_ATOM_NETLIST> n(cdb_read_native_netlist(in, "bench", &names, &error));
        if (!n) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(n.get());
    }
}
BENCHMARK(BM_NativeRead)->Unit(benchmark::kMillisecond);

// Heap bytes per atom (nodes, terms, masks, names), measured once.
void BM_BytesPerAtom(benchmark::State& state)
{
    double per_atom = 0;
    for (auto _ : state) {
        size_t before = mallinfo2().uordblks;
        SYNTH s = make_netlist(LUTS, REGS, PINS);
        size_t after = mallinfo2().uordblks;
        per_atom = double(after - before) / double(s.netlist->get_node_count());
    }
    state.counters["bytes_per_atom"] = per_atom;
}
BENCHMARK(BM_BytesPerAtom)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
