// Random sequences of the retiming edits on generated netlists of every
// family, each proved equivalent to the untouched netlist: inversions
// pushed into fanouts (a LUT's complement or a pair of inversions), LUT
// copies wired by copy_iterm_connection, and register copies wired by
// connect_register_input that replace their original. The generated
// netlists tie LUT and control inputs to a physical constant through an
// inversion bit, so both helpers meet every tie they must keep.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"
#include "host_env.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "retiming_test_leaf.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_build.h"

namespace retiming_edit_sequence_test {

namespace {

using namespace morv_host;

const int k_families[] = {CDB_FAMILY_ZEPLA, CDB_FAMILY_BRK, CDB_FAMILY_MRL, CDB_FAMILY_UVO};

// 100 netlists per family in Release; the sanitizer build keeps a few.
// MORV_RETIMING_EDIT_NETLISTS overrides both.
int netlist_count()
{
    if (const char* n = std::getenv("MORV_RETIMING_EDIT_NETLISTS")) return std::max(1, std::atoi(n));
    return k_small_designs_only ? 6 : 100;
}

SEQ_GEN_OPTIONS options_for(int family, uint64_t seed)
{
    SEQ_GEN_OPTIONS o;
    o.m_family = family;
    o.m_cells = 10 + static_cast<int>(seed % 7);
    o.m_registers = 4 + static_cast<int>(seed % 5);
    o.m_dsps = seed % 4 == 1;
    return o;
}

// The generator ties through GND; half the ties change to the other
// physical constant with the other inversion bit (the same logical value),
// so that VCC with the inversion bit set is met too. The same seed flips the
// same ties in both netlists of a pair.
void flip_ties(CDB_ATOM_NETLIST& netlist, uint64_t seed)
{
    std::mt19937_64 rng(seed * 7919);
    for (CDB_ATOM_NODE* node : netlist) {
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_ITERM* t = *it;
            if (!(t->is_gnd() || t->is_vcc()) || rng() % 2 == 0) continue;
            t->is_gnd() ? t->set_vcc() : t->set_gnd();
            t->set_invert(!t->is_inverted());
        }
    }
}

std::unique_ptr<CDB_ATOM_NETLIST> generate(int family, uint64_t seed)
{
    std::unique_ptr<CDB_ATOM_NETLIST> netlist = seq_generate(options_for(family, seed), seed);
    flip_ties(*netlist, seed);
    return netlist;
}

// The netlist under a compile of its own, edited through a test leaf.
class EDIT_RUN
{
public:
    EDIT_RUN(int family, uint64_t seed) : m_rng(seed), m_family(family)
    {
        msg_set_quiet(true);
        m_design = std::make_unique<HOST_DESIGN>(family, generate(family, seed));
        m_env = std::make_unique<HOST_ENV>(*m_design);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
        m_rtm = std::make_unique<TEST_RETIMING_LEAF>(m_api, nullptr);
        m_util = m_api->get_fsyn_net_util();
    }

    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }

    // Runs `count` random edits; the names of the edits made.
    std::string run(int count, bool keep_register_names)
    {
        std::string made;
        for (int i = 0; i < count; ++i) {
            switch (m_rng() % 3) {
            case 0: made += invert_some() ? "i" : ""; break;
            case 1: made += copy_some_lut() ? "c" : ""; break;
            default: made += copy_some_register(keep_register_names) ? "r" : ""; break;
            }
        }
        return made;
    }

private:
    template <typename T>
    T pick(const std::vector<T>& from)
    {
        return from[m_rng() % from.size()];
    }

    // A cell whose only used output is its comb-out: its function is its mask.
    bool is_plain_lut(CDB_ATOM_NODE* node) const
    {
        if (!node->is_lcell_comb() && !node->is_lcell()) return false;
        if (!m_util->is_lut(node) || m_util->is_register_present(node)) return false;
        if (m_util->is_lcell_part_of_a_carry_chain(node) || node->is_in_extended_mode()) return false;
        CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT);
        if (comb == nullptr || !comb->has_fanout()) return false;
        for (auto out = node->begin_oterm(); out != node->end_oterm(); ++out)
            if (*out != comb && (*out)->has_fanout()) return false;
        return true;
    }

    // Clocks stay as they are: a gated clock is not what the edits are about.
    static bool can_invert(const CDB_ATOM_ITERM* sink)
    {
        return !sink->is_used_as(DB_CLOCK) && !sink->get_my_node()->is_ram();
    }

    static std::vector<CDB_ATOM_ITERM*> fanouts(CDB_ATOM_OTERM* out)
    {
        std::vector<CDB_ATOM_ITERM*> sinks;
        for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it) sinks.push_back(*it);
        return sinks;
    }

    // A LUT's output inverted into all its fanouts with its mask
    // complemented, or some fanouts of any output inverted twice.
    bool invert_some()
    {
        std::vector<CDB_ATOM_OTERM*> luts, others;
        for (CDB_ATOM_NODE* node : netlist()) {
            for (auto out = node->begin_oterm(); out != node->end_oterm(); ++out) {
                if (!(*out)->has_fanout()) continue;
                bool ok = true;
                for (CDB_ATOM_ITERM* sink : fanouts(*out)) ok = ok && can_invert(sink);
                if (!ok) continue;
                (is_plain_lut(node) && (*out)->is_used_as(DB_COMB_OUT) ? luts : others).push_back(*out);
            }
        }
        if (!luts.empty() && (others.empty() || m_rng() % 2 == 0)) {
            CDB_ATOM_OTERM* out = pick(luts);
            CDB_ATOM_NODE* node = out->get_my_node();
            m_api->get_fsyn_cdb_interface()->set_lutmask(node, ~node->get_lutmask(), 0);
            m_rtm->invert_fanouts(out, fanouts(out));
            return true;
        }
        if (others.empty()) return false;
        CDB_ATOM_OTERM* out = pick(others);
        std::vector<CDB_ATOM_ITERM*> some;
        for (CDB_ATOM_ITERM* sink : fanouts(out))
            if (m_rng() % 2 == 0 || some.empty()) some.push_back(sink);
        m_rtm->invert_fanouts(out, some);
        // Back again: each term from where it now reads.
        std::vector<CDB_ATOM_ITERM*> direct, through_cell;
        for (CDB_ATOM_ITERM* sink : some) (sink->get_source() == out ? direct : through_cell).push_back(sink);
        if (!direct.empty()) m_rtm->invert_fanouts(out, direct);
        if (!through_cell.empty()) m_rtm->invert_fanouts(through_cell.front()->get_source(), through_cell);
        return true;
    }

    // A copy of a LUT takes over some of its fanouts.
    bool copy_some_lut()
    {
        std::vector<CDB_ATOM_NODE*> luts;
        for (CDB_ATOM_NODE* node : netlist())
            if (is_plain_lut(node)) luts.push_back(node);
        if (luts.empty()) return false;
        CDB_ATOM_NODE* lut = pick(luts);
        CDB_ATOM_NODE* copy = m_util->create_lcell_comb(lut);
        MORV_CDB_INTERFACE* cdb = m_api->get_fsyn_cdb_interface();
        CDB_ATOM_OTERM* out = nullptr;
        cdb->create_oterm(nullptr, out, copy, DB_COMB_OUT, copy->get_instance_name());
        cdb->set_lutmask(copy, lut->get_lutmask(), 0);
        m_api->node_added(copy, lut, 4, DB_MAX_OUTPUT_PORT_TYPE, true);
        for (auto it = lut->begin_iterm(); it != lut->end_iterm(); ++it) {
            CDB_ATOM_ITERM* to = nullptr;
            cdb->create_input_term(nullptr, to, copy, (*it)->get_any_usage_as(), (*it)->get_port_index());
            m_rtm->copy_iterm_connection(*it, to);
        }
        for (CDB_ATOM_ITERM* sink : fanouts(lut->get_output_term_by_type(DB_COMB_OUT)))
            if (m_rng() % 2 == 0) m_rtm->move_iterm(sink, out);
        return true;
    }

    // A copy of a register: controls by connect_register_input, every other
    // input by copy_iterm_connection; it takes all fanouts and the original
    // goes. With keep_name the copy's output carries the original's name.
    bool copy_some_register(bool keep_name)
    {
        // UVO registers live in logic cells, which the LUT copies cover.
        if (m_family == CDB_FAMILY_UVO) return false;
        std::vector<CDB_ATOM_NODE*> registers;
        for (CDB_ATOM_NODE* node : netlist())
            if (m_util->is_ff(node) && node->get_output_term_by_type(DB_REG_OUT) != nullptr) registers.push_back(node);
        if (registers.empty()) return false;
        CDB_ATOM_NODE* reg = pick(registers);
        CDB_ATOM_NODE* copy = m_util->create_register(reg);
        MORV_CDB_INTERFACE* cdb = m_api->get_fsyn_cdb_interface();
        CDB_ATOM_OTERM* old_out = reg->get_output_term_by_type(DB_REG_OUT);
        CDB_ATOM_OTERM* out = nullptr;
        cdb->create_oterm(nullptr, out, copy, DB_REG_OUT,
                          keep_name ? old_out->get_instance_name() : copy->get_instance_name());
        m_api->node_added(copy, reg, 4, DB_MAX_OUTPUT_PORT_TYPE, true);
        const RETIME_REG description = m_rtm->describe_register(reg);
        for (int control = 0; control < RETIME_NUM_CONTROLS; ++control)
            m_rtm->connect_register_input(copy, description.signals[control], k_retime_control_ports[control], 0);
        for (auto it = reg->begin_iterm(); it != reg->end_iterm(); ++it) {
            const int port = (*it)->get_any_usage_as();
            if (copy->get_input_term_by_type(port, (*it)->get_port_index()) != nullptr) continue;
            CDB_ATOM_ITERM* to = nullptr;
            cdb->create_input_term(nullptr, to, copy, port, (*it)->get_port_index());
            m_rtm->copy_iterm_connection(*it, to);
        }
        m_util->adopt_fanouts(out, old_out);
        m_api->delete_node(reg);
        return true;
    }

    std::mt19937_64 m_rng;
    int m_family;
    std::unique_ptr<HOST_DESIGN> m_design;
    std::unique_ptr<HOST_ENV> m_env;
    MORV_API* m_api = nullptr;
    std::unique_ptr<TEST_RETIMING_LEAF> m_rtm;
    MORV_NET_UTIL* m_util = nullptr;
};

class RetimingEditSequences : public ::testing::TestWithParam<int>
{};

}  // namespace

TEST_P(RetimingEditSequences, EveryEditedNetlistIsProvedEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const int family = GetParam();
    const std::string name = cdb_get_family_info(family)->name;
    int kept_names = 0, edits = 0, inversions = 0, lut_copies = 0, register_copies = 0;
    for (int k = 0; k < netlist_count(); ++k) {
        const uint64_t seed = 1000 + static_cast<uint64_t>(k);
        std::unique_ptr<CDB_ATOM_NETLIST> before = generate(family, seed);
        EDIT_RUN run(family, seed);
        const bool keep_names = k % 2 == 0;
        const std::string made = run.run(6, keep_names);
        edits += static_cast<int>(made.size());
        inversions += static_cast<int>(std::count(made.begin(), made.end(), 'i'));
        lut_copies += static_cast<int>(std::count(made.begin(), made.end(), 'c'));
        register_copies += static_cast<int>(std::count(made.begin(), made.end(), 'r'));
        const SEQ_VERDICT v = seq_check(*before, run.netlist(), name + "_" + std::to_string(seed), true, 200, seed);
        kept_names += v.m_same_registers ? 1 : 0;
        ASSERT_TRUE(v.equivalent()) << name << " seed " << seed << " edits " << made << ": " << v.describe();
    }
    std::printf("%s: %d netlists, %d proved by cec (same registers), %d by dsec; %d inversions, %d LUT copies, "
                "%d register copies\n",
                name.c_str(), netlist_count(), kept_names, netlist_count() - kept_names, inversions, lut_copies,
                register_copies);
    EXPECT_GT(edits, netlist_count() * 3);
    // Half of the runs keep every register name: ABC pairs them by name then.
    EXPECT_GE(kept_names, netlist_count() / 2);
}

INSTANTIATE_TEST_SUITE_P(Families, RetimingEditSequences, ::testing::ValuesIn(k_families),
                         [](const ::testing::TestParamInfo<int>& family) {
                             return std::string(cdb_get_family_info(family.param)->name);
                         });

}  // namespace retiming_edit_sequence_test
