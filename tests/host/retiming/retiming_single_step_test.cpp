// The single-step operations of retiming on generated netlists of every
// family: each step is answered and logged as the manual-operations driver
// expects, refuses atoms of the wrong kind without touching the netlist,
// and leaves an edited netlist that ABC proves equivalent to the original.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "dsp_gen.h"
#include "log_capture.h"
#include "morv/retiming/morv_retiming_family.h"
#include "morv/retiming/morv_retiming_mrl.h"
#include "retiming_seq_run.h"
#include "scripted_slack.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_files.h"

namespace retiming_single_step_test {

namespace {

template <typename FAMILY>
class STEP_LEAF : public FAMILY
{
public:
    STEP_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params) : FAMILY(api, params) {}
    struct COUNTS
    {
        int inverters = 0;
    };
    const COUNTS& counts() const { return m_counts; }
    // Every slack test passes: a step is judged only by its effect.
    void permissive(bool mac)
    {
        this->m_slack_ratio_threshold = -1.0;
        this->m_skew_mode = true;
        this->m_mac_retiming_enabled = mac;
    }
    // What the demux pass does with the registers a step left unread.
    void sweep()
    {
        this->forget_register_origins();
        std::vector<CDB_ATOM_NODE*> registers(this->m_registers_to_check.begin(), this->m_registers_to_check.end());
        this->m_registers_to_check.clear();
        for (CDB_ATOM_NODE* node : registers) {
            CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
            if (regout != nullptr && !regout->has_fanout()) this->delete_node(node);
        }
    }

private:
    COUNTS m_counts;
};

enum STEP
{
    BACKWARD,
    FORWARD,
    DEMUX,
    SPLIT
};

const char* const k_step_names[] = {"backward", "forward", "demux", "split"};

using MAKE = std::function<std::unique_ptr<CDB_ATOM_NETLIST>()>;

template <typename FAMILY>
struct STEP_CASE
{
    STEP_CASE(int family, const MAKE& make, bool mac)
        : reference(make()), run(family, make(), "", nullptr), slacks(run.api()->get_fsyn_timing())
    {
        slacks.set_default(10000, 1.0);
        place_every_node(run.api(), run.netlist());
        run.leaf().permissive(mac);
    }
    bool step(STEP s, uint32_t id)
    {
        STEP_LEAF<FAMILY>& leaf = run.leaf();
        switch (s) {
        case BACKWARD: return leaf.single_backward_push(id);
        case FORWARD: return leaf.single_forward_push(id);
        case DEMUX: return leaf.single_demux(id);
        case SPLIT: return leaf.single_split(id);
        }
        return false;
    }
    // The first atom of the netlist a step succeeds on; -1 when none.
    int first_success(STEP s)
    {
        std::vector<uint32_t> ids;
        for (CDB_ATOM_NODE* node : run.netlist()) ids.push_back(node->get_id());
        for (uint32_t id : ids)
            if (step(s, id)) return static_cast<int>(id);
        return -1;
    }
    void expect_equivalent(const std::string& tag)
    {
        run.leaf().sweep();
        const SEQ_VERDICT v = seq_check(*reference, run.netlist(), tag, true, 200);
        EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
    }

    std::unique_ptr<CDB_ATOM_NETLIST> reference;
    RETIMING_SEQ_RUN<STEP_LEAF<FAMILY>> run;
    SCRIPTED_SLACK_SOURCE slacks;
};

bool has_line(const std::vector<std::string>& lines, const std::string& text)
{
    for (const std::string& line : lines)
        if (line == text) return true;
    return false;
}

std::string first_line(STEP s, int id)
{
    static const char* const k_texts[] = {
        "Attempting a single backward push on atom ", "Attempting a single forward push on atom ",
        "Attempting a single demux on atom ", "Attempting a single split node on atom "};
    return std::string(k_texts[s]) + std::to_string(id) + ".";
}

int operations_of(const std::vector<std::string>& lines)
{
    const std::string suffix = " operations performed.";
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->size() > suffix.size() && it->compare(it->size() - suffix.size(), suffix.size(), suffix) == 0)
            return std::stoi(*it);
    return -1;
}

// A forward push needs the registers in front of a cell to be alike: its
// netlists give every register the same plain controls.
SEQ_GEN_OPTIONS options_of(int family, bool alike = false)
{
    SEQ_GEN_OPTIONS o;
    o.m_family = family;
    if (alike) {
        o.m_register_controls = 0;
        o.m_clears = false;
        o.m_inputs = 2;
        o.m_chains = false;
        o.m_inversions = false;
    }
    o.m_cells = 6;
    o.m_registers = 10;
    return o;
}

// Each step on its own copy of a netlist, over seeds until some atom
// accepts it; expected: whether one does.
template <typename FAMILY>
void run_steps(int family, const bool (&expected)[4])
{
    for (STEP s : {BACKWARD, FORWARD, DEMUX, SPLIT}) {
        const std::string tag = std::string("single_") + std::to_string(family) + "_" + k_step_names[s];
        SCOPED_TRACE(tag);
        bool found = false;
        for (uint64_t seed = 1; seed <= 12 && !found; ++seed) {
            const MAKE make = [family, seed, s] { return seq_generate(options_of(family, s == FORWARD), seed); };
            STEP_CASE<FAMILY> c(family, make, false);
            MORV_LOG_CAPTURE log(1);
            const int id = c.first_success(s);
            if (id < 0) continue;
            found = true;
            const std::vector<std::string> lines = log.lines();
            EXPECT_TRUE(has_line(lines, first_line(s, id)));
            EXPECT_GE(operations_of(lines), 1);
            c.expect_equivalent(tag);
        }
        EXPECT_EQ(found, expected[s]);
    }
}

}  // namespace

TEST(RetimingSingleStep, EveryStepOnEveryFamilyIsProvedEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    run_steps<MORV_RETIMING_ZEPLA>(CDB_FAMILY_ZEPLA, {true, true, true, true});
    run_steps<MORV_RETIMING_BRK>(CDB_FAMILY_BRK, {true, true, true, true});
    run_steps<MORV_RETIMING_MRL>(CDB_FAMILY_MRL, {true, true, true, true});
    // A UVO cell is neither an LCELL comb nor a register atom: every step
    // refuses it.
    run_steps<MORV_RETIMING_UVO>(CDB_FAMILY_UVO, {false, false, false, false});
}

TEST(RetimingSingleStep, UnknownAtomsAndWrongKindsChangeNothing)
{
    const MAKE make = [] { return seq_generate(options_of(CDB_FAMILY_BRK), 5); };
    STEP_CASE<MORV_RETIMING_BRK> c(CDB_FAMILY_BRK, make, false);
    CDB_ATOM_NODE* reg = seq_find(c.run.netlist(), "r0");
    CDB_ATOM_NODE* cell = nullptr;
    for (CDB_ATOM_NODE* node : c.run.netlist())
        if (cell == nullptr && node->is_lcell_comb()) cell = node;
    ASSERT_NE(reg, nullptr);
    ASSERT_NE(cell, nullptr);
    const std::string before = native_text(c.run.netlist());
    MORV_LOG_CAPTURE log(1);
    for (STEP s : {BACKWARD, FORWARD, DEMUX, SPLIT}) EXPECT_FALSE(c.step(s, 999999u));
    EXPECT_FALSE(c.step(BACKWARD, reg->get_id()));
    EXPECT_FALSE(c.step(FORWARD, reg->get_id()));
    EXPECT_FALSE(c.step(SPLIT, reg->get_id()));
    EXPECT_FALSE(c.step(DEMUX, cell->get_id()));
    const std::vector<std::string> lines = log.lines();
    int not_found = 0;
    for (const std::string& line : lines) not_found += line == "Atom not found." ? 1 : 0;
    EXPECT_EQ(not_found, 4);
    EXPECT_TRUE(has_line(lines, "Unable to retime - atom must be an lcell comb or a mac."));
    EXPECT_TRUE(has_line(lines, "Unable to split - atom must be an lcell comb or a mac."));
    EXPECT_TRUE(has_line(lines, "Unable to demux - atom must be a register."));
    EXPECT_EQ(native_text(c.run.netlist()), before);
}

TEST(RetimingSingleStep, DspStepsNeedMacRetiming)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    DSP_GEN_OPTIONS o;
    o.m_packed_output = true;
    o.m_mult_outputs = true;
    o.m_fanout_registers = false;
    const MAKE make = [o] { return dsp_generate(o); };
    {
        STEP_CASE<MORV_RETIMING_BRK> off(o.m_family, make, false);
        MORV_LOG_CAPTURE log(1);
        EXPECT_FALSE(off.step(FORWARD, seq_find(off.run.netlist(), "d_o")->get_id()));
        EXPECT_TRUE(has_line(log.lines(), "Unable to retime - atom must be an lcell comb or a mac."));
    }
    STEP_CASE<MORV_RETIMING_BRK> on(o.m_family, make, true);
    MORV_LOG_CAPTURE log(1);
    // The output block's register is unpacked, then the multipliers'
    // output registers are pushed forward through it.
    EXPECT_TRUE(on.step(FORWARD, seq_find(on.run.netlist(), "d_o")->get_id()));
    EXPECT_EQ(operations_of(log.lines()), 2);
    on.expect_equivalent("single_dsp_forward");
}

}  // namespace retiming_single_step_test
