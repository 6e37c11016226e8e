// A forward critical set takes each carry chain with a critical cell and
// the cone of LUTs that feeds it; the cone is the chain's, so it is
// collected once per chain however many of its cells are critical.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fixture_netlist.h"
#include "morv/retiming/morv_retiming_family.h"
#include "retiming_seq_run.h"
#include "scripted_slack.h"
#include "seq_gen.h"

namespace retiming_chain_cone_test {

namespace {

class CONE_LEAF : public MORV_RETIMING_BRK
{
public:
    using MORV_RETIMING_BRK::MORV_RETIMING_BRK;
    void prepare_forward()
    {
        m_retime_backwards = false;
        m_slack_ratio_threshold = 0.5;
        topological_sort();
    }
};

std::string bit_name(char prefix, int adder, int bit)
{
    std::string name(1, prefix);
    name += std::to_string(adder);
    name += '_';
    name += std::to_string(bit);
    return name;
}

// Two adders of `width` bits; operand bit i is the LUT a<k>_<i> or
// b<k>_<i> of two inputs, sum bit i is registered, the carry out unread.
std::unique_ptr<CDB_ATOM_NETLIST> two_adders(int width)
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    for (int k = 0; k < 2; ++k) {
        std::vector<CDB_ATOM_OTERM*> operands[2];
        for (int i = 0; i < width; ++i)
            for (int side = 0; side < 2; ++side)
                operands[side].push_back(
                    f.lut(bit_name(side == 0 ? 'a' : 'b', k, i),
                          {f.input(bit_name('x', k, 2 * i + side)), f.input(bit_name('y', k, 2 * i + side))}, 0x6));
        const std::vector<CDB_ATOM_OTERM*> sum = f.adder(bit_name('s', k, 0), operands[0], operands[1]);
        for (int i = 0; i < width; ++i)
            f.output(bit_name('o', k, i), f.reg(bit_name('r', k, i), sum[static_cast<size_t>(i)], clk));
    }
    return f.release();
}

TEST(RetimingChainCone, EachChainConeIsCollectedOnceWhateverItsLength)
{
    for (int width : {4, 32}) {
        SCOPED_TRACE(width);
        RETIMING_SEQ_RUN<CONE_LEAF> run(CDB_FAMILY_BRK, two_adders(width));
        // Only the chain cells' inputs are critical: the operand LUTs can
        // join the set through the cones alone.
        SCRIPTED_SLACK_SOURCE slacks(run.api()->get_fsyn_timing());
        slacks.set_default(10000, 1.0);
        for (CDB_ATOM_NODE* node : run.netlist())
            if (node->get_input_term_by_type(DB_CARRY_IN) != nullptr)
                for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) slacks.set(*it, 0, 0.0);
        run.leaf().prepare_forward();
        RETIME_HASH_SET<CDB_ATOM_NODE*> set;
        run.leaf().build_critical_set(set);
        EXPECT_EQ(run.leaf().get_chain_cones_collected(), 2);
        // The 2 x width chain cells and the 4 x width operand LUTs.
        EXPECT_EQ(set.size(), static_cast<size_t>(6 * width));
        for (int k = 0; k < 2; ++k)
            for (int i = 0; i < width; ++i)
                for (char side : {'a', 'b'}) EXPECT_TRUE(set.contains(seq_find(run.netlist(), bit_name(side, k, i))));
    }
}

}  // namespace

}  // namespace retiming_chain_cone_test
