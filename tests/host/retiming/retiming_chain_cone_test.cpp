// The critical set of a forward iteration takes each carry chain with a
// critical cell together with the cone of LUTs that feeds the chain; the
// cone belongs to the chain, so it is collected once per chain however
// many of the chain's cells are critical.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "msg/msg.h"

#include "fixture_netlist.h"
#include "morv/retiming/morv_retiming_family.h"
#include "retiming_seq_run.h"
#include "scripted_slack.h"
#include "seq_gen.h"

namespace {

class CONE_LEAF : public MORV_RETIMING_BRK
{
public:
    CONE_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RETIMING_BRK(api, params) {}
    void prepare(bool backwards)
    {
        m_retime_backwards = backwards;
        m_slack_ratio_threshold = 0.5;
        topological_sort();
    }
};

std::string bit_name(const char* prefix, int adder, int bit)
{
    std::string name(prefix);
    name += std::to_string(adder);
    name += '_';
    name += std::to_string(bit);
    return name;
}

// Two adders of `width` bits, each operand bit a LUT of two inputs, each
// sum bit registered; the carry out is left unread.
std::unique_ptr<CDB_ATOM_NETLIST> two_adders(int width)
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    for (int k = 0; k < 2; ++k) {
        std::vector<CDB_ATOM_OTERM*> a, b;
        for (int i = 0; i < width; ++i) {
            a.push_back(f.lut(bit_name("a", k, i), {f.input(bit_name("x", k, i)), f.input(bit_name("y", k, i))}, 0x6));
            b.push_back(f.lut(bit_name("b", k, i), {f.input(bit_name("z", k, i)), f.input(bit_name("w", k, i))}, 0x8));
        }
        const std::vector<CDB_ATOM_OTERM*> sum = f.adder(bit_name("s", k, 0), a, b);
        for (int bit = 0; bit < width; ++bit) {
            const size_t i = static_cast<size_t>(bit);
            f.output(bit_name("o", k, bit), f.reg(bit_name("r", k, bit), sum[i], clk));
        }
    }
    return f.release();
}

struct CONE_RUN
{
    explicit CONE_RUN(int width) : run(CDB_FAMILY_BRK, two_adders(width)), slacks(run.api()->get_fsyn_timing())
    {
        // Only the chains' inputs are critical: the operand LUTs join the
        // set through the cones alone.
        slacks.set_default(10000, 1.0);
        for (CDB_ATOM_NODE* node : run.netlist())
            if (node->get_input_term_by_type(DB_CARRY_IN) != nullptr)
                for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) slacks.set(*it, 0, 0.0);
    }
    RETIMING_SEQ_RUN<CONE_LEAF> run;
    SCRIPTED_SLACK_SOURCE slacks;
};

TEST(RetimingChainCone, EachChainConeIsCollectedOnceWhateverItsLength)
{
    for (int width : {4, 32}) {
        SCOPED_TRACE(width);
        CONE_RUN c(width);
        c.run.leaf().prepare(false);
        RETIME_HASH_SET<CDB_ATOM_NODE*> set;
        c.run.leaf().build_critical_set(set);
        EXPECT_EQ(c.run.leaf().get_chain_cones_collected(), 2);
        // Both chains and all their operand LUTs, nothing else.
        EXPECT_EQ(set.size(), static_cast<size_t>(6 * width));
        for (int k = 0; k < 2; ++k) {
            for (int i = 0; i < width; ++i) {
                for (const char* prefix : {"a", "b"}) {
                    CDB_ATOM_NODE* lut = seq_find(c.run.netlist(), bit_name(prefix, k, i));
                    ASSERT_NE(lut, nullptr);
                    EXPECT_TRUE(set.contains(lut)) << bit_name(prefix, k, i);
                }
            }
        }
    }
}

TEST(RetimingChainCone, BackwardIterationTakesTheChainsWithoutCones)
{
    CONE_RUN c(8);
    c.run.leaf().prepare(true);
    RETIME_HASH_SET<CDB_ATOM_NODE*> set;
    c.run.leaf().build_critical_set(set);
    EXPECT_EQ(c.run.leaf().get_chain_cones_collected(), 0);
    EXPECT_EQ(set.size(), 16u);
}

}  // namespace
