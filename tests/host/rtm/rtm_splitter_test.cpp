// The fanout splitter: which fanouts form clusters, when a node is left
// alone, and a split netlist proved equivalent to the original by ABC.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"

#include "abc_equiv.h"
#include "morv/rtm/morv_rtm_splitter.h"
#include "rtm_test_run.h"
#include "seq_harness.h"

namespace rtm_splitter_test {

namespace {

// What a fanout of the split cell "sx" is.
struct FANOUT
{
    enum KIND
    {
        DATA,                // a register's data input
        SYNCH_DATA,          // a register's synchronous data, its load from "i3"
        SYNCH_DATA_LOADING,  // the same, its load tied on through the inversion bit
        LUT,                 // a LUT input
    } m_kind = DATA;
    int m_enable_input = 0;  // the register's enable: input pin i<k>; -1 none
};

class NETLIST_BUILDER
{
public:
    explicit NETLIST_BUILDER(CDB_ATOM_NETLIST& netlist) : m_netlist(netlist) {}

    CDB_ATOM_OTERM* pin(const std::string& name)
    {
        return seq_find(m_netlist, name)->get_output_term_by_type(DB_DATA_OUT);
    }
    CDB_ATOM_NODE* add(int kind, const std::string& n)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(CDB_FAMILY_BRK, kind, m_netlist.get_name_mgr()->create_unique_name(n, 0));
        m_netlist.add_node(node);
        return node;
    }
    void observe(CDB_ATOM_OTERM* out, const std::string& n)
    {
        CDB_ATOM_NODE* o = cdb_create_output_pin(
            CDB_FAMILY_BRK, m_netlist.get_name_mgr()->create_unique_name(n + BLIF_OUTPUT_PIN_SUFFIX, 0));
        m_netlist.add_node(o);
        out->insert_fanout(o->get_input_term_by_type(DB_DATAIN));
    }
    // The cell "sx" = i0 XOR i1 and its fanouts, each observed on an output.
    void build(const std::vector<FANOUT>& fanouts)
    {
        CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, "sx");
        pin("i0")->insert_fanout(cell->add_input_term(DB_DATA_A));
        pin("i1")->insert_fanout(cell->add_input_term(DB_DATA_B));
        cell->set_lutmask(blif_family_lutmask(CDB_FAMILY_BRK, 2, 0x6));
        CDB_ATOM_OTERM* out = cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
        for (size_t k = 0; k < fanouts.size(); ++k) add_fanout(out, fanouts[k], rtm_name("s", k));
    }

private:
    void add_fanout(CDB_ATOM_OTERM* out, const FANOUT& f, const std::string& n)
    {
        if (f.m_kind == FANOUT::LUT) {
            CDB_ATOM_NODE* lut = add(CDB_KIND_LCELL_COMB, n);
            out->insert_fanout(lut->add_input_term(DB_DATA_A));
            lut->set_lutmask(blif_family_lutmask(CDB_FAMILY_BRK, 1, 0x1));
            CDB_ATOM_OTERM* q = lut->add_output_term(DB_COMB_OUT, lut->get_instance_name());
            observe(q, n + "_o");
            return;
        }
        CDB_ATOM_NODE* reg = add(CDB_KIND_REGISTER, n);
        pin("clk")->insert_fanout(reg->add_input_term(DB_CLOCK));
        if (f.m_enable_input >= 0)
            pin(rtm_name("i", f.m_enable_input))->insert_fanout(reg->add_input_term(DB_CLOCK_ENABLE));
        if (f.m_kind == FANOUT::DATA) {
            out->insert_fanout(reg->add_input_term(DB_DATAIN));
        } else {
            pin("i2")->insert_fanout(reg->add_input_term(DB_DATAIN));
            out->insert_fanout(reg->add_input_term(DB_SYNCH_DATA));
            CDB_ATOM_ITERM* load = reg->add_input_term(DB_SYNCH_LOAD);
            if (f.m_kind == FANOUT::SYNCH_DATA) {
                pin("i3")->insert_fanout(load);
            } else {
                load->set_gnd();
                load->set_invert();
            }
        }
        observe(reg->add_output_term(DB_REG_OUT, reg->get_instance_name()), n + "_o");
    }

    CDB_ATOM_NETLIST& m_netlist;
};

SEQ_GEN_OPTIONS base_options()
{
    SEQ_GEN_OPTIONS o;
    o.m_family = CDB_FAMILY_BRK;
    o.m_registers = 1;
    o.m_cells = 2;
    o.m_chains = false;
    return o;
}

std::unique_ptr<CDB_ATOM_NETLIST> netlist_with(const std::vector<FANOUT>& fanouts)
{
    std::unique_ptr<CDB_ATOM_NETLIST> netlist = seq_generate(base_options(), 4);
    NETLIST_BUILDER(*netlist).build(fanouts);
    return netlist;
}

class RtmSplitter : public ::testing::Test
{
protected:
    void make(const std::vector<FANOUT>& fanouts)
    {
        m_run = std::make_unique<RTM_RUN>(netlist_with(fanouts));
        m_splitter = std::make_unique<MORV_RTM_SPLITTER>(m_run->api());
        m_splitter->m_register_secondary_signals = m_run->rtm().get_register_secondary_signals();
        m_splitter->m_register_asynchronous_signals = m_run->rtm().get_register_asynchronous_signals();
        m_cell = m_run->find("sx");
    }
    int split() { return m_splitter->run({static_cast<int>(m_cell->get_id())}); }
    // The term is the cell's combout or a copy's: the same function of the same inputs.
    bool is_sx(const CDB_ATOM_OTERM* out)
    {
        const CDB_ATOM_NODE* node = out->get_my_node();
        auto input = [&](int port) {
            CDB_ATOM_ITERM* t = node->get_input_term_by_type(port);
            return t == nullptr ? nullptr : t->get_source();
        };
        return node->is_lcell_comb() && out->is_used_as(DB_COMB_OUT) && node->get_lutmask() == m_cell->get_lutmask() &&
               input(DB_DATA_A) == source("i0") && input(DB_DATA_B) == source("i1");
    }
    CDB_ATOM_OTERM* source(const std::string& pin) { return NETLIST_BUILDER(m_run->netlist()).pin(pin); }
    // The driver of register s<k>'s input of `port`.
    CDB_ATOM_OTERM* driver(int k, int port = DB_DATAIN)
    {
        return m_run->find(rtm_name("s", k))->get_input_term_by_type(port)->get_source();
    }

    std::unique_ptr<RTM_RUN> m_run;
    std::unique_ptr<MORV_RTM_SPLITTER> m_splitter;
    CDB_ATOM_NODE* m_cell = nullptr;
};

TEST_F(RtmSplitter, ThreeControlClassesGetThreeCopies)
{
    const std::vector<FANOUT> fanouts = {{FANOUT::DATA, 0}, {FANOUT::DATA, 1}, {FANOUT::DATA, 2}};
    make(fanouts);
    EXPECT_EQ(split(), 2);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(is_sx(driver(k))) << k;
    EXPECT_EQ(driver(0), m_cell->get_output_term_by_type(DB_COMB_OUT));
    EXPECT_NE(driver(0), driver(1));
    EXPECT_NE(driver(1), driver(2));
    EXPECT_NE(driver(0), driver(2));
    for (int k = 0; k < 3; ++k) EXPECT_EQ(driver(k)->get_number_of_fanout(), 1) << k;

    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    std::unique_ptr<CDB_ATOM_NETLIST> before = netlist_with(fanouts);
    blif_write_netlist_file(*before, "split_before.blif");
    blif_write_netlist_file(m_run->netlist(), "split_after.blif");
    const ABC_RESULT dsec = abc_check_equivalence("split_before.blif", "split_after.blif", true);
    EXPECT_TRUE(dsec.is_equivalent()) << dsec.m_command << "\n" << dsec.m_output;
    const SEQ_VERDICT verdict = seq_check(*before, m_run->netlist(), "split_three", true);
    EXPECT_TRUE(verdict.equivalent()) << verdict.describe();
}

TEST_F(RtmSplitter, EqualControlsShareTheCellAndOthersShareACopy)
{
    // Clusters 1, 2, 1, 0: the LUT and the two registers of cluster 1 stay.
    make({{FANOUT::DATA, 0}, {FANOUT::DATA, 1}, {FANOUT::DATA, 0}, {FANOUT::LUT, -1}});
    EXPECT_EQ(split(), 2);
    EXPECT_EQ(driver(0), driver(2));
    EXPECT_NE(driver(0), driver(1));
    EXPECT_TRUE(is_sx(driver(1)));
    make({{FANOUT::DATA, 3}, {FANOUT::DATA, 3}, {FANOUT::DATA, 3}});
    EXPECT_EQ(split(), 0);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(driver(k), m_cell->get_output_term_by_type(DB_COMB_OUT)) << k;
}

TEST_F(RtmSplitter, NodesLeftAlone)
{
    make({{FANOUT::DATA, 0}, {FANOUT::DATA, 1}, {FANOUT::DATA, 2}, {FANOUT::DATA, 3}, {FANOUT::DATA, -1}});
    EXPECT_EQ(split(), 0);  // five fanout terms
    for (int k = 0; k < 5; ++k) EXPECT_EQ(driver(k), m_cell->get_output_term_by_type(DB_COMB_OUT)) << k;
    make({{FANOUT::DATA, 0}, {FANOUT::DATA, 1}});
    m_run->find("s1")->get_input_term_by_type(DB_DATAIN)->set_global(1);
    EXPECT_EQ(split(), 0);  // a fanout on a global network
    make({{FANOUT::DATA, 0}, {FANOUT::DATA, 1}});
    CDB_ATOM_ASSIGNMENTS keep = m_cell->get_assignments();
    keep.dont_touch = true;
    m_cell->set_assignments(keep);
    EXPECT_FALSE(m_splitter->is_splittable(m_cell));
    EXPECT_EQ(split(), 0);
    EXPECT_FALSE(m_splitter->is_splittable(m_run->find("s0")));
    EXPECT_EQ(m_splitter->run({99999}), 0);
}

// A cell over the limit is refused before its registers are sorted: with
// thousands of registers under as many controls the sorting alone would
// compare each register with every other.
TEST_F(RtmSplitter, CellOverTheLimitIsRefusedBeforeItsRegistersAreSorted)
{
    make({{FANOUT::DATA, 0}, {FANOUT::DATA, 1}, {FANOUT::DATA, 2}, {FANOUT::DATA, 3}, {FANOUT::DATA, 0}});
    EXPECT_EQ(split(), 0);
    EXPECT_EQ(m_splitter->get_registers_sorted(), 0);
    // Four clusters (the LUT fanout is cluster 0): the cell and three copies.
    make({{FANOUT::DATA, 0}, {FANOUT::DATA, 1}, {FANOUT::DATA, 2}, {FANOUT::LUT, -1}});
    EXPECT_EQ(split(), 3);
    EXPECT_EQ(m_splitter->get_registers_sorted(), 3);
}

// A synchronous-data fanout is a register fanout only while the load is on
// for ever; otherwise it joins the plain LUT fanout in cluster 0.
TEST_F(RtmSplitter, SynchronousDataCountsOnlyWhileLoading)
{
    make({{FANOUT::LUT, -1}, {FANOUT::SYNCH_DATA, -1}});
    EXPECT_EQ(split(), 0);
    make({{FANOUT::LUT, -1}, {FANOUT::SYNCH_DATA_LOADING, -1}});
    EXPECT_EQ(split(), 1);
    EXPECT_NE(driver(1, DB_SYNCH_DATA), m_cell->get_output_term_by_type(DB_COMB_OUT));
}

}  // namespace

}  // namespace rtm_splitter_test
