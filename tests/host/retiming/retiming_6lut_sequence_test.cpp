// Random sequences of pushes and demuxes made of the 6-LUT hooks alone, on
// generated BRK netlists with inverted LUT and register inputs, constant
// ties through inversion bits, enables, synchronous clears and loads,
// shared-arithmetic chains and extended-mode cells; each result proved
// equivalent to the untouched netlist from the all-zero state.

#include <cstdlib>
#include <random>

#include "retiming_6lut_bench.h"
#include "seq_gen.h"
#include "test_build.h"

namespace retiming_6lut_sequence_test {

namespace {

int netlist_count()
{
    if (const char* n = std::getenv("MORV_RETIMING_6LUT_NETLISTS")) return std::max(1, std::atoi(n));
    return k_small_designs_only ? 4 : 60;
}

SEQ_GEN_OPTIONS options_for(uint64_t seed)
{
    SEQ_GEN_OPTIONS o;
    o.m_family = CDB_FAMILY_BRK;
    o.m_cells = 10 + static_cast<int>(seed % 7);
    o.m_registers = 5 + static_cast<int>(seed % 5);
    return o;
}

bool is_plain_cell(MORV_NET_UTIL* util, CDB_ATOM_NODE* node)
{
    if (!node->is_lcell_comb() || util->is_lcell_part_of_a_carry_chain(node)) return false;
    CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT);
    CDB_ATOM_OTERM* sum = node->get_output_term_by_type(DB_SUM_OUT);
    return comb != nullptr && comb->has_fanout() && (sum == nullptr || !sum->has_fanout());
}

bool same_record(const RETIME_REG& a, const RETIME_REG& b)
{
    for (int c = 0; c < RETIME_NUM_CONTROLS; ++c)
        if (!(a.signals[c] == b.signals[c])) return false;
    return a.clear_low == b.clear_low;
}

class SEQUENCE
{
public:
    SEQUENCE(uint64_t seed, bool sload_push) : m_rng(seed), m_run(seq_generate(options_for(seed), seed))
    {
        m_run.rtm().set_sload_push(sload_push);
        m_util = m_run.api()->get_fsyn_net_util();
    }
    RTM6_RUN& run() { return m_run; }

    // A backward push across a plain cell whose one fanout is a register.
    bool backward()
    {
        std::vector<CDB_ATOM_NODE*> cells;
        for (CDB_ATOM_NODE* node : m_run.netlist()) {
            if (!is_plain_cell(m_util, node)) continue;
            CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT);
            RETIME_REG reg;
            if (comb->get_number_of_fanout() == 1 &&
                m_run.rtm().backward_push_get_reg(comb->get_first_fanout(), reg, true) != nullptr)
                cells.push_back(node);
        }
        if (cells.empty()) return false;
        CDB_ATOM_NODE* cell = cells[m_rng() % cells.size()];
        m_run.rtm().set_backwards(true);
        return m_run.push_backward(cell->get_output_term_by_type(DB_COMB_OUT)->get_first_fanout(), cell);
    }

    // A forward push across a plain cell fed by registers of one record.
    bool forward()
    {
        m_run.rtm().set_backwards(false);
        std::vector<CDB_ATOM_NODE*> cells;
        for (CDB_ATOM_NODE* node : m_run.netlist())
            if (is_plain_cell(m_util, node) && fed_by_equal_registers(node)) cells.push_back(node);
        if (cells.empty()) return false;
        return m_run.push_forward(cells[m_rng() % cells.size()]);
    }

    bool demux()
    {
        std::vector<CDB_ATOM_NODE*> regs;
        for (CDB_ATOM_NODE* node : m_run.netlist()) {
            if (!m_util->is_ff(node)) continue;
            if (m_util->is_connected(node, DB_CLOCK_ENABLE) || m_util->is_connected(node, DB_SYNCH_CLEAR) ||
                m_util->is_connected(node, DB_SYNCH_DATA))
                regs.push_back(node);
        }
        if (regs.empty()) return false;
        return m_run.rtm().create_control_mux(regs[m_rng() % regs.size()]);
    }

private:
    bool fed_by_equal_registers(CDB_ATOM_NODE* node)
    {
        bool any = false;
        RETIME_REG first;
        for (int port = DB_DATA_A; port <= DB_DATA_G; ++port) {
            CDB_ATOM_ITERM* t = node->get_input_term_by_type(port);
            if (t == nullptr || !t->is_driven()) continue;
            CDB_ATOM_NODE* src = t->get_source()->get_my_node();
            if (!m_util->is_ff(src) || !t->get_source()->is_used_as(DB_REG_OUT)) return false;
            if (!m_run.rtm().is_forward_push_candidate(t)) return false;
            const RETIME_REG reg = m_run.rtm().describe_register(src);
            if (any && !same_record(reg, first)) return false;
            first = reg;
            any = true;
        }
        return any;
    }

    std::mt19937_64 m_rng;
    RTM6_RUN m_run;
    MORV_NET_UTIL* m_util = nullptr;
};

}  // namespace

TEST(Retiming6LutHookSequences, EveryResultIsProvedEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    int backward = 0, forward = 0, demuxed = 0;
    for (int k = 0; k < netlist_count(); ++k) {
        const uint64_t seed = 4100 + static_cast<uint64_t>(k);
        SEQUENCE s(seed, k % 2 == 1);
        std::mt19937_64 pick(seed);
        std::string made;
        for (int step = 0; step < 6; ++step) {
            switch (pick() % 3) {
            case 0: made += s.backward() ? (++backward, "b") : ""; break;
            case 1: made += s.forward() ? (++forward, "f") : ""; break;
            default: made += s.demux() ? (++demuxed, "d") : ""; break;
            }
        }
        std::unique_ptr<CDB_ATOM_NETLIST> before = seq_generate(options_for(seed), seed);
        const SEQ_VERDICT v = seq_check(*before, s.run().netlist(), rtm6_name("rtm6_seq_", seed), true, 200);
        ASSERT_TRUE(v.equivalent()) << "seed " << seed << " steps " << made << ": " << v.describe();
    }
    std::printf("RTM-6LUT hooks: netlists %d, backward %d, forward %d, demuxed %d\n", netlist_count(), backward,
                forward, demuxed);
    EXPECT_GT(backward, 0);
    EXPECT_GT(forward, 0);
    EXPECT_GT(demuxed, 0);
}

}  // namespace retiming_6lut_sequence_test
