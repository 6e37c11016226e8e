// BDD package figures: building the function of every output of three
// bundled netlists (mem_ctrl_size_2024, alu4, des), and a fixed sifting
// sequence of adjacent-level swaps over the built functions, each counted
// in the package's own size measure after every swap, as the resynthesis
// callers do. When BuDDy (Debian libbdd-dev) was found at configure time
// the same work runs on it in the same program ("/buddy" beside "/morv").

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "bdd/bdd_jbdd.h"

#ifdef MORV_HAVE_BUDDY
#include <bdd.h>
#endif

namespace {

// ------------------------------------------------------------------ BLIF covers

struct GATE
{
    std::vector<int> fanin;          // signal ids
    std::vector<std::string> cubes;  // input parts of the cover lines
    bool onset = true;               // the cover lists the ones (else the zeros)
};

struct NETWORK
{
    int inputs = 0;            // signals 0 .. inputs - 1 are the primary inputs (and latch outputs)
    std::vector<int> outputs;  // primary outputs and latch inputs
    std::vector<int> driver;   // per signal: gate index, -1 for an input
    std::vector<GATE> gates;
    std::vector<int> var_of_input;  // the variable of each input
};

// Inputs take variable numbers in the order a depth-first walk from the
// outputs meets them (fanins in cover order): related inputs end up close,
// which the declared order of mem_ctrl does not give (its functions blow up
// in that order).
void order_inputs(NETWORK& net)
{
    net.var_of_input.assign(size_t(net.inputs), -1);
    std::vector<char> seen(net.driver.size(), 0);
    int next = 0;
    std::vector<int> stack;
    for (auto o = net.outputs.rbegin(); o != net.outputs.rend(); ++o) stack.push_back(*o);
    while (!stack.empty()) {
        int s = stack.back();
        stack.pop_back();
        if (seen[size_t(s)]) continue;
        seen[size_t(s)] = 1;
        if (net.driver[size_t(s)] < 0) {
            net.var_of_input[size_t(s)] = next++;
            continue;
        }
        const std::vector<int>& fanin = net.gates[size_t(net.driver[size_t(s)])].fanin;
        for (auto f = fanin.rbegin(); f != fanin.rend(); ++f) stack.push_back(*f);
    }
    for (int& v : net.var_of_input)
        if (v < 0) v = next++;
}

std::vector<std::vector<std::string>> blif_lines(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<std::vector<std::string>> lines;
    std::string line, pending;
    while (std::getline(in, line)) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        if (!line.empty() && line.back() == '\\') {
            pending += line.substr(0, line.size() - 1) + " ";
            continue;
        }
        std::istringstream words(pending + line);
        pending.clear();
        std::vector<std::string> tokens;
        for (std::string w; words >> w;) tokens.push_back(w);
        if (!tokens.empty()) lines.push_back(tokens);
    }
    return lines;
}

NETWORK read_blif(const std::string& path)
{
    NETWORK net;
    std::unordered_map<std::string, int> ids;
    auto id = [&](const std::string& name) {
        auto [it, added] = ids.emplace(name, int(net.driver.size()));
        if (added) net.driver.push_back(-1);
        return it->second;
    };
    auto lines = blif_lines(path);
    std::vector<std::string> outputs;
    for (const auto& t : lines) {  // inputs and latch outputs first: they are the variables
        if (t[0] == ".inputs")
            for (size_t i = 1; i < t.size(); ++i) id(t[i]);
        if (t[0] == ".latch") id(t[2]);
    }
    net.inputs = int(net.driver.size());
    GATE* open = nullptr;
    for (const auto& t : lines) {
        if (t[0] == ".outputs") outputs.insert(outputs.end(), t.begin() + 1, t.end());
        if (t[0] == ".latch") outputs.push_back(t[1]);
        if (t[0] == ".names") {
            net.gates.emplace_back();
            open = &net.gates.back();
            for (size_t i = 1; i + 1 < t.size(); ++i) open->fanin.push_back(id(t[i]));
            net.driver[size_t(id(t.back()))] = int(net.gates.size()) - 1;
        } else if (t[0][0] == '.') {
            open = nullptr;
        } else if (open) {
            open->cubes.push_back(t.size() > 1 ? t[0] : std::string());
            open->onset = t.back() == "1";
        }
    }
    for (const std::string& o : outputs) net.outputs.push_back(id(o));
    order_inputs(net);
    return net;
}

// ------------------------------------------------------------------ the two packages

struct MORV_PKG
{
    using F = BDD_JBDD;
    std::unique_ptr<BDD_JBDD_MGR> mgr;
    MORV_PKG(int nodes, int cache) : mgr(std::make_unique<BDD_JBDD_MGR>(nodes, cache, 1000, false, false)) {}
    F var(int i) { return mgr->ithvar(i); }
    F one() { return mgr->true_bdd(); }
    F zero() { return mgr->false_bdd(); }
    int var_at(int level) { return mgr->variable_at(level); }
    void swap(int level) { mgr->swap_adjacent_variables(mgr->variable_at(level), mgr->variable_at(level + 1)); }
    void begin() { mgr->begin_reorder(); }
    void end() { mgr->end_reorder(); }
    static long size(const F& f) { return f.size(); }
};

#ifdef MORV_HAVE_BUDDY
// BuDDy keeps one manager per process: each object starts and ends it.
struct BUDDY_PKG
{
    using F = bdd;
    BUDDY_PKG(int nodes, int cache)
    {
        bdd_init(nodes, cache);
        bdd_gbc_hook(nullptr);
        bdd_setmaxincrease(1 << 30);  // double like ours instead of small steps
        bdd_setcacheratio(2);         // and let the caches follow the table like ours
    }
    ~BUDDY_PKG() { bdd_done(); }
    void vars(int n) { bdd_setvarnum(n); }
    F var(int i) { return bdd_ithvar(i); }
    F one() { return bddtrue; }
    F zero() { return bddfalse; }
    int var_at(int level) { return bdd_level2var(level); }
    void swap(int level) { bdd_swapvar(bdd_level2var(level), bdd_level2var(level + 1)); }
    void begin() {}
    void end() {}
    static long size(const F& f) { return bdd_nodecount(f); }
};
#endif

constexpr int START_NODES = 1 << 18;
constexpr int START_CACHE = 1 << 17;

template <typename PKG>
typename PKG::F gate_function(PKG& pkg, const GATE& g, const std::vector<typename PKG::F>& value)
{
    typename PKG::F sum = pkg.zero();
    for (const std::string& cube : g.cubes) {
        typename PKG::F term = pkg.one();
        for (size_t i = 0; i < cube.size(); ++i) {
            if (cube[i] == '1') term = term & value[size_t(g.fanin[i])];
            if (cube[i] == '0') term = term & !value[size_t(g.fanin[i])];
        }
        sum = sum | term;
    }
    return g.onset ? sum : !sum;
}

// Every signal's function in one topological sweep (depth first from the
// outputs, so only the cones of the outputs are built).
template <typename PKG>
std::vector<typename PKG::F> build_outputs(PKG& pkg, const NETWORK& net)
{
    std::vector<typename PKG::F> value(net.driver.size());
    std::vector<char> done(net.driver.size(), 0);
    for (int i = 0; i < net.inputs; ++i) value[size_t(i)] = pkg.var(net.var_of_input[size_t(i)]), done[size_t(i)] = 1;
    std::vector<std::pair<int, bool>> stack;
    for (int o : net.outputs) stack.push_back({o, false});
    while (!stack.empty()) {
        auto [s, expanded] = stack.back();
        stack.pop_back();
        if (done[size_t(s)]) continue;
        const GATE& g = net.gates[size_t(net.driver[size_t(s)])];
        if (!expanded) {
            stack.push_back({s, true});
            for (int f : g.fanin)
                if (!done[size_t(f)]) stack.push_back({f, false});
            continue;
        }
        value[size_t(s)] = gate_function(pkg, g, value);
        done[size_t(s)] = 1;
    }
    std::vector<typename PKG::F> outs;
    for (int o : net.outputs) outs.push_back(value[size_t(o)]);
    return outs;
}

struct CIRCUIT
{
    const char* name;
    const char* file;
    int probes;  // variables sifted, spread evenly over the order
    int window;  // levels each moves up and down
};

// BuDDy's swap costs a pass over its whole node table, so the large
// circuit sifts fewer variables.
const CIRCUIT CIRCUITS[] = {
    {"mem_ctrl", "misc_k6/mem_ctrl_size_2024.blif", 2, 1},
    {"alu4", "mcnc_k4/alu4.blif", 16, 12},
    {"des", "mcnc_k4/des.blif", 16, 12},
};

struct SIFT_LEG
{
    int start, top, bottom;
};

std::vector<SIFT_LEG> sift_plan(const CIRCUIT& c, int levels)
{
    std::vector<SIFT_LEG> plan;
    int probes = std::min(levels, c.probes);
    for (int p = 0; p < probes; ++p) {
        int start = levels * (2 * p + 1) / (2 * probes);  // centred in equal parts
        plan.push_back({start, std::max(0, start - c.window), std::min(levels - 1, start + c.window)});
    }
    return plan;
}

// The fixed sifting sequence: each planned variable moves up to the top of
// its window, down to the bottom and back to its place, one adjacent swap at
// a time, with the size of one function read after every swap (the
// smallest output that is no constant or literal: a cone's size is what the
// callers read, and a large function would turn this into a size benchmark).
template <typename PKG>
const typename PKG::F& size_probe(const std::vector<typename PKG::F>& outs)
{
    const typename PKG::F* probe = &outs.front();
    for (const auto& f : outs)
        if (PKG::size(f) > 1 && (PKG::size(*probe) <= 1 || PKG::size(f) < PKG::size(*probe))) probe = &f;
    return *probe;
}

template <typename PKG>
long sift(PKG& pkg, const std::vector<SIFT_LEG>& plan, const typename PKG::F& probe)
{
    long sum = 0;
    for (size_t p = 0; p < plan.size(); ++p) {
        pkg.begin();
        int at = plan[p].start;
        auto step = [&](int to) {
            pkg.swap(std::min(at, to));
            at = to;
            sum += PKG::size(probe);
        };
        while (at > plan[p].top) step(at - 1);
        while (at < plan[p].bottom) step(at + 1);
        while (at > plan[p].start) step(at - 1);
        pkg.end();
    }
    return sum;
}

const NETWORK& network(const CIRCUIT& c)
{
    static std::unordered_map<std::string, NETWORK> nets;
    auto it = nets.find(c.name);
    if (it == nets.end()) it = nets.emplace(c.name, read_blif(std::string(MORV_BENCH_DIR) + "/" + c.file)).first;
    return it->second;
}

template <typename PKG>
void prepare_vars(PKG& pkg, const NETWORK& net)
{
    if constexpr (requires { pkg.vars(0); }) pkg.vars(net.inputs);
}

template <typename PKG>
void bm_build(benchmark::State& state, const CIRCUIT& c)
{
    const NETWORK& net = network(c);
    long nodes = 0;
    for (auto _ : state) {
        PKG pkg(START_NODES, START_CACHE);
        prepare_vars(pkg, net);
        std::vector<typename PKG::F> outs = build_outputs(pkg, net);
        nodes = 0;
        for (const auto& f : outs) nodes += PKG::size(f);
        outs.clear();
    }
    state.counters["sum_of_sizes"] = double(nodes);
    state.counters["outputs"] = double(net.outputs.size());
}

template <typename PKG>
void bm_sift(benchmark::State& state, const CIRCUIT& c)
{
    const NETWORK& net = network(c);
    const std::vector<SIFT_LEG> plan = sift_plan(c, net.inputs);
    long swaps = 0, checksum = 0;
    {
        // Every leg ends where it started, so the sequence can run again on
        // the same functions.
        PKG pkg(START_NODES, START_CACHE);
        prepare_vars(pkg, net);
        std::vector<typename PKG::F> outs = build_outputs(pkg, net);
        const typename PKG::F& probe = size_probe<PKG>(outs);
        for (auto _ : state) checksum = sift(pkg, plan, probe);
        outs.clear();
    }
    for (const SIFT_LEG& leg : plan) swaps += 2 * (leg.bottom - leg.top);
    state.counters["swaps"] = double(swaps);
    state.counters["size_checksum"] = double(checksum);
}

int register_all()
{
    for (const CIRCUIT& c : CIRCUITS) {
        std::string n = c.name;
        benchmark::RegisterBenchmark(("build/" + n + "/morv").c_str(), bm_build<MORV_PKG>, c)
            ->Unit(benchmark::kMillisecond);
#ifdef MORV_HAVE_BUDDY
        benchmark::RegisterBenchmark(("build/" + n + "/buddy").c_str(), bm_build<BUDDY_PKG>, c)
            ->Unit(benchmark::kMillisecond);
#endif
        benchmark::RegisterBenchmark(("sift/" + n + "/morv").c_str(), bm_sift<MORV_PKG>, c)
            ->Unit(benchmark::kMillisecond);
#ifdef MORV_HAVE_BUDDY
        benchmark::RegisterBenchmark(("sift/" + n + "/buddy").c_str(), bm_sift<BUDDY_PKG>, c)
            ->Unit(benchmark::kMillisecond);
#endif
    }
    return 0;
}

[[maybe_unused]] const int registered = register_all();

}  // namespace

BENCHMARK_MAIN();
