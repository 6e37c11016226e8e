// Mux folding into register controls: patterns on direct and mirrored
// masks, every failure reason, polarity of folded controls (checked by the
// register's next state over every input combination), busy controls, the
// report, and one registry per facade.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_types.h"
#include "cfg/cfg.h"

#include "morv/resyn/morv_remux.h"
#include "log_capture.h"
#include "../netlist/net_util_fixture.h"

namespace morv_remux_test {

namespace {

// A mux function of its inputs, each input named by its role.
struct MUX_FUNCTION
{
    std::function<bool(const std::map<char, bool>&)> f;  // by role letter: d q e c l s
    std::string roles;                                   // role of input A, B, ...
};

class MorvRemuxTest : public MORV_CLEAN_STATE_TEST
{
protected:
    void make(int family = CDB_FAMILY_MRL)
    {
        net = std::make_unique<NET_UTIL_NETLIST>(family);
        remux = std::make_unique<MORV_REMUX>(net->api(), &params);
    }
    void TearDown() override
    {
        remux.reset();
        net.reset();
        MORV_CLEAN_STATE_TEST::TearDown();
    }

    // A register fed by a mux of the roles; 'q' reads the register back.
    CDB_ATOM_NODE* build(const MUX_FUNCTION& fn)
    {
        reg = net->atom(CDB_KIND_REGISTER, numbered("reg", count));
        mux = net->atom(CDB_KIND_LCELL_COMB, numbered("mux", count++));
        CDB_ATOM_OTERM* q = reg->add_output_term(DB_REG_OUT);
        net->drive(reg, DB_CLOCK);
        sources.clear();
        uint64_t mask = 0;
        for (size_t k = 0; k < fn.roles.size(); ++k) {
            CDB_ATOM_ITERM* t = mux->add_input_term(DB_DATA_A + static_cast<int>(k));
            CDB_ATOM_OTERM* s = fn.roles[k] == 'q' ? q : net->new_source();
            s->insert_fanout(t);
            sources[fn.roles[k]] = s;
        }
        for (int row = 0; row < 64; ++row) {
            std::map<char, bool> v;
            for (size_t k = 0; k < fn.roles.size(); ++k) v[fn.roles[k]] = (row >> k) & 1;
            if (!fn.f(v)) continue;
            mask |= uint64_t(1) << mask_bit(row);
        }
        mux->set_lutmask(CDB_LUTMASK(6, mask));
        mux->add_output_term(DB_COMB_OUT)->insert_fanout(reg->add_input_term(DB_DATAIN));
        net->api()->get_demuxed_nodes()->insert(static_cast<int>(mux->get_id()));
        return mux;
    }

    // The mask bit of a 6-input row in the family's bit order.
    int mask_bit(int row) const { return cdb_get_family_info(net->family())->reversed_bit_order ? 63 - row : row; }

    // The value a term reads when the sources hold the given values.
    bool reads(CDB_ATOM_ITERM* t, const std::map<CDB_ATOM_OTERM*, bool>& values, bool q)
    {
        CDB_ATOM_OTERM* s = t->get_source();
        bool v = false;
        if (s == mux->get_output_term_by_type(DB_COMB_OUT)) v = lut(values, q);
        else v = s == reg->get_output_term_by_type(DB_REG_OUT) ? q : values.at(s);
        return v != t->reads_complemented();
    }
    bool lut(const std::map<CDB_ATOM_OTERM*, bool>& values, bool q)
    {
        int row = 0;
        for (int k = 0; k < 6; ++k) {
            CDB_ATOM_ITERM* t = mux->get_input_term_by_type(DB_DATA_A + k);
            if (t != nullptr && t->get_source() != nullptr && reads(t, values, q)) row |= 1 << k;
        }
        const uint64_t m = mux->get_lutmask().get_value();
        return (m >> mask_bit(row)) & 1;
    }
    // Next state of the register by the register rule; a control without a
    // source keeps the rule's default.
    bool next(const std::map<CDB_ATOM_OTERM*, bool>& values, bool q)
    {
        CDB_REGISTER_INPUTS in;
        auto read = [&](int port, unsigned& to) {
            CDB_ATOM_ITERM* t = reg->get_input_term_by_type(port);
            if (t != nullptr && t->get_source() != nullptr) to = reads(t, values, q);
        };
        read(DB_DATAIN, in.d);
        read(DB_CLOCK_ENABLE, in.ena);
        read(DB_SYNCH_CLEAR, in.sclr);
        read(DB_SYNCH_LOAD, in.sload);
        read(DB_SYNCH_DATA, in.sdata);
        return cdb_register_next_state(in, q) != 0;
    }
    // Next state for every combination of the sources (and the register).
    std::vector<bool> behaviour()
    {
        std::vector<CDB_ATOM_OTERM*> srcs;
        for (auto& [role, s] : sources)
            if (role != 'q') srcs.push_back(s);
        std::vector<bool> out;
        for (int v = 0; v < (2 << srcs.size()); ++v) {
            std::map<CDB_ATOM_OTERM*, bool> values;
            for (size_t i = 0; i < srcs.size(); ++i) values[srcs[i]] = (v >> i) & 1;
            out.push_back(next(values, (v >> srcs.size()) & 1));
        }
        return out;
    }
    // Folds the one registered mux and checks that the register behaves as before.
    std::string fold_and_check()
    {
        const std::vector<bool> before = behaviour();
        MORV_REMUX_PATTERN pm;
        if (!remux->analyse_mux(mux, &pm)) return "refused";
        if (!remux->are_control_inputs_free(reg, pm)) return "busy";
        remux->fold(mux, reg, pm);
        EXPECT_EQ(behaviour(), before) << pm.text();
        EXPECT_FALSE(mux->get_output_term_by_type(DB_COMB_OUT)->has_fanout()) << "left for the sweep";
        return pm.text();
    }
    int failures(int reason) { return remux->get_stats().m_fail_counts.at(reason); }

    MORV_PARAMETER_MAP params;
    std::unique_ptr<NET_UTIL_NETLIST> net;
    std::unique_ptr<MORV_REMUX> remux;
    CDB_ATOM_NODE* reg = nullptr;
    CDB_ATOM_NODE* mux = nullptr;
    std::map<char, CDB_ATOM_OTERM*> sources;
    int count = 0;
};

using V = std::map<char, bool>;
const MUX_FUNCTION ENABLE = {[](const V& v) { return v.at('e') ? v.at('d') : v.at('q'); }, "dqe"};
const MUX_FUNCTION LOW_ENABLE_LOAD = {
    [](const V& v) { return !v.at('e') ? (v.at('l') ? v.at('s') : v.at('d')) : v.at('q'); }, "dqels"};
const MUX_FUNCTION PURE_LOAD = {[](const V& v) { return v.at('l') ? v.at('s') : v.at('d'); }, "lsd"};
const MUX_FUNCTION LOW_CLEAR = {[](const V& v) { return v.at('c') && v.at('d'); }, "cd"};
const MUX_FUNCTION ALL = {[](const V& v) {
                              if (!v.at('e')) return v.at('q');
                              if (v.at('c')) return false;
                              return v.at('l') ? v.at('s') : v.at('d');
                          },
                          "qecdls"};

}  // namespace

TEST_F(MorvRemuxTest, PatternsFoldOnDirectAndMirroredMasksAndKeepTheRegistersBehaviour)
{
    for (int family : {CDB_FAMILY_MRL, CDB_FAMILY_BRK, CDB_FAMILY_OBRAN}) {
        make(family);
        EXPECT_EQ(remux->is_mirroring(), family != CDB_FAMILY_MRL);
        build(ENABLE);
        EXPECT_EQ(fold_and_check(), "E.-.-") << family;
        build(LOW_ENABLE_LOAD);
        EXPECT_EQ(fold_and_check(), "E'.-.L") << family;
        build(PURE_LOAD);
        EXPECT_EQ(fold_and_check(), "-.-.L") << family;
        build(LOW_CLEAR);
        EXPECT_EQ(fold_and_check(), "-.C'.-") << family;
        build(ALL);
        EXPECT_EQ(fold_and_check(), "E.C.L") << family;
        remux.reset();
    }
}

TEST_F(MorvRemuxTest, InvertedControlInputsFoldWithTheirPolarityAndAnInvertedDataInputIsRefused)
{
    make();
    // The enable arrives inverted at the mux: the register must read it inverted too.
    build(ENABLE);
    mux->get_input_term_by_type(DB_DATA_C)->set_invert();
    EXPECT_EQ(fold_and_check(), "E.-.-");
    EXPECT_TRUE(reg->get_input_term_by_type(DB_CLOCK_ENABLE)->is_inverted());
    // An inverted active-low enable reads active high.
    build(LOW_ENABLE_LOAD);
    mux->get_input_term_by_type(DB_DATA_C)->set_invert();
    EXPECT_EQ(fold_and_check(), "E'.-.L");
    EXPECT_FALSE(reg->get_input_term_by_type(DB_CLOCK_ENABLE)->is_inverted());
    build(ALL);
    for (int k = 1; k < 6; ++k) mux->get_input_term_by_type(DB_DATA_A + k)->set_invert();
    EXPECT_NE(fold_and_check(), "refused");
    // Where the register reads its data inverted, "hold" would toggle.
    build(ENABLE);
    reg->get_input_term_by_type(DB_DATAIN)->set_invert();
    EXPECT_EQ(fold_and_check(), "refused");
    build(ENABLE);
    mux->get_input_term_by_type(DB_DATA_B)->set_invert();
    EXPECT_EQ(fold_and_check(), "refused");
    EXPECT_EQ(failures(MORV_REMUX_LUTMASK_CHECK), 2);
}

TEST_F(MorvRemuxTest, EveryFailureReasonAndBusyControls)
{
    make();
    cfg_set_value("fsyn_remux_dont_check_criticality", "on");
    build(ENABLE);  // enable taken
    net->drive(reg, DB_CLOCK_ENABLE);
    build(LOW_ENABLE_LOAD);  // sdata taken
    net->drive(reg, DB_SYNCH_DATA);
    build(PURE_LOAD);  // load taken
    net->drive(reg, DB_SYNCH_LOAD);
    build(ENABLE);  // two fanouts
    net->load(mux, DB_COMB_OUT);
    CDB_ATOM_NODE* bare = net->atom(CDB_KIND_LCELL_COMB, "bare");  // no comb-out
    net->api()->get_demuxed_nodes()->insert(static_cast<int>(bare->get_id()));
    build(ENABLE);  // drives a control port, not the data input
    CDB_ATOM_ITERM* control = reg->get_input_term_by_type(DB_DATAIN);
    control->set_usage_as(DB_SYNCH_CLEAR);
    control->clear_usage_as(DB_DATAIN);
    build(ENABLE);  // drives the data input of a pin
    CDB_ATOM_ITERM* din = reg->get_input_term_by_type(DB_DATAIN);
    din->get_source()->remove_fanout(din);
    net->load(mux, DB_COMB_OUT);
    build({[](const V& v) { return v.at('a') != v.at('b'); }, "ab"});  // no mux at all
    // A mux reading another register than the one it drives finds no
    // feedback: its enable reads as a load of the other register's output.
    build(ENABLE);
    CDB_ATOM_NODE* other = net->atom(CDB_KIND_REGISTER, "other");
    CDB_ATOM_ITERM* fb = mux->get_input_term_by_type(DB_DATA_B);
    fb->get_source()->remove_fanout(fb);
    other->add_output_term(DB_REG_OUT)->insert_fanout(fb);
    EXPECT_EQ(remux->do_iter(), 1);
    EXPECT_EQ(reg->get_input_term_by_type(DB_SYNCH_LOAD)->get_source(), sources['e']);
    const std::map<int, int> expected = {{0, 3}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 0}};
    EXPECT_EQ(remux->get_stats().m_fail_counts, expected);
    EXPECT_EQ(remux->get_stats().m_failures, 8);
}

TEST_F(MorvRemuxTest, ARunFoldsTheRegisteredMuxesReportsAndTaints)
{
    make();
    cfg_set_value("fsyn_remux_dont_check_criticality", "on");
    {
        MORV_LOG_CAPTURE log(2);
        EXPECT_EQ(remux->do_iter(), 0) << "nothing registered";
        const std::vector<std::string> lines = log.lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "   Attempts: 0 "), lines.end());
        EXPECT_NE(std::find(lines.begin(), lines.end(), "      Success: 0 ( 0.00% ) "), lines.end());
        EXPECT_NE(std::find(lines.begin(), lines.end(), "         critical mux: 0 ( 0.00% ) "), lines.end());
        EXPECT_EQ(std::find(lines.begin(), lines.end(), "WARNING: Full taint in FSYN."), lines.end())
            << "nothing folded, the timing netlist stays";
    }
    build(ALL);
    build(PURE_LOAD);
    CDB_ATOM_NODE* unregistered = mux;
    net->api()->get_demuxed_nodes()->erase(static_cast<int>(unregistered->get_id()));
    net->api()->reset_taint();
    MORV_LOG_CAPTURE log(2);
    EXPECT_EQ(remux->do_iter(), 1);
    EXPECT_TRUE(unregistered->get_output_term_by_type(DB_COMB_OUT)->has_fanout()) << "not registered, not folded";
    EXPECT_NE(net->api()->get_taint() & MORV_TAINT_REGISTER_OR_OTHER, 0u);
    const std::vector<std::string> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "WARNING: Full taint in FSYN."), lines.end())
        << "register controls changed: the timing netlist is rebuilt in full";
    EXPECT_NE(std::find(lines.begin(), lines.end(), "   Attempts: 1 "), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "      Success: 1 ( 100.00% ) "), lines.end());
}

TEST_F(MorvRemuxTest, RegistryPerFacade)
{
    make();
    NET_UTIL_NETLIST* first = net.get();
    MORV_REMUX::add_demuxed_node(first->api(), 7);
    EXPECT_EQ(internal_error_of([&] { MORV_REMUX::add_demuxed_node(first->api(), 7); }),
              "m_demuxed_nodes->find(node_id) == m_demuxed_nodes->end()");
    {
        NET_UTIL_NETLIST second(CDB_FAMILY_MRL);
        EXPECT_TRUE(second.api()->get_demuxed_nodes()->empty()) << "its own, empty registry";
        MORV_REMUX::add_demuxed_node(second.api(), 9);
        EXPECT_EQ(*first->api()->get_demuxed_nodes(), (std::set<int>{7}));
    }
    EXPECT_EQ(*first->api()->get_demuxed_nodes(), (std::set<int>{7})) << "outlives the other facade";
    CDB_ATOM_NODE* node = first->atom(CDB_KIND_LCELL_COMB, "x");
    EXPECT_FALSE(MORV_REMUX::is_demuxed_node(first->api(), node));
    EXPECT_EQ(internal_error_of([&] { MORV_REMUX::is_demuxed_node(first->api(), nullptr); }), "node");
    MORV_REMUX::clear_demuxed_nodes(first->api());
    EXPECT_TRUE(first->api()->get_demuxed_nodes()->empty());
}

// Retiming's demux of a register, built by hand for every combination of
// enable, synchronous clear and synchronous data of its mask table (masks in
// the reversed bit order, bit 63 - i for input row i): the mux computes the
// register's next state, and REMUX gives the register its controls back.
TEST_F(MorvRemuxTest, EveryDemuxOfTheControlMuxTableFoldsBackToTheOriginalRegister)
{
    struct ROW
    {
        bool clear, enable, sdata;
        uint64_t mask;
        const char* pattern;
    };
    const ROW rows[] = {
        {true, true, true, 0x3530353030303f30ull, "E.C.L"},  {true, true, false, 0x3530353035303530ull, "E.C.-"},
        {true, false, true, 0x550055000000ff00ull, "-.C.L"}, {true, false, false, 0x5500550055005500ull, "-.C.-"},
        {false, true, true, 0x3535353530303f3full, "E.-.L"}, {false, true, false, 0x3535353535353535ull, "E.-.-"},
        {false, false, true, 0x555555550000ffffull, "-.-.L"}};
    for (int family : {CDB_FAMILY_MRL, CDB_FAMILY_BRK}) {
        make(family);
        for (const ROW& row : rows) {
            const std::string label = std::string(row.pattern) + " family " + std::to_string(family);
            reg = net->atom(CDB_KIND_REGISTER, numbered("reg", count));
            mux = net->atom(CDB_KIND_LCELL_COMB, numbered("mux", count++));
            CDB_ATOM_OTERM* q = reg->add_output_term(DB_REG_OUT);
            net->drive(reg, DB_CLOCK);
            // The register as it was: each control on its own source.
            sources.clear();
            std::map<int, CDB_ATOM_OTERM*> original = {{DB_DATAIN, net->new_source()}};
            if (row.enable) original[DB_CLOCK_ENABLE] = net->new_source();
            if (row.clear) original[DB_SYNCH_CLEAR] = net->new_source();
            if (row.sdata) original[DB_SYNCH_DATA] = net->new_source();
            if (row.sdata) original[DB_SYNCH_LOAD] = net->new_source();
            for (const auto& [port, source] : original) source->insert_fanout(reg->add_input_term(port));
            // The demux: data on A, hold on B, enable on C, clear on D, synchronous data on E and load on F.
            const std::map<int, std::pair<char, int>> mux_inputs = {
                {DB_DATA_A, {'d', DB_DATAIN}},       {DB_DATA_B, {'q', DB_REG_OUT}},
                {DB_DATA_C, {'e', DB_CLOCK_ENABLE}}, {DB_DATA_D, {'c', DB_SYNCH_CLEAR}},
                {DB_DATA_E, {'s', DB_SYNCH_DATA}},   {DB_DATA_F, {'l', DB_SYNCH_LOAD}}};
            for (const auto& [input, role] : mux_inputs) {
                const bool present = role.second == DB_REG_OUT ? row.enable : original.count(role.second) != 0;
                if (!present) continue;
                CDB_ATOM_OTERM* s = role.second == DB_REG_OUT ? q : original.at(role.second);
                if (role.second != DB_REG_OUT) sources[role.first] = s;
                s->insert_fanout(mux->add_input_term(input));
            }
            sources['q'] = q;
            const std::vector<bool> before = behaviour();
            for (const auto& [port, source] : original)
                reg->get_input_term_by_type(port)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
            uint64_t mask = 0;
            for (int bit = 0; bit < 64; ++bit)
                if ((row.mask >> (63 - bit)) & 1u) mask |= uint64_t(1) << (family == CDB_FAMILY_MRL ? bit : 63 - bit);
            mux->set_lutmask(CDB_LUTMASK(6, mask));
            mux->add_output_term(DB_COMB_OUT)->insert_fanout(reg->get_input_term_by_type(DB_DATAIN));
            MORV_REMUX::add_demuxed_node(net->api(), static_cast<int>(mux->get_id()));
            EXPECT_EQ(behaviour(), before) << label << ": the table's mux is the register's next state";
            EXPECT_EQ(fold_and_check(), row.pattern) << label;
            for (const auto& [port, source] : original)
                EXPECT_EQ(reg->get_input_term_by_type(port)->get_source(), source) << label << " port " << port;
            for (int port : {DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_DATA, DB_SYNCH_LOAD}) {
                CDB_ATOM_ITERM* t = reg->get_input_term_by_type(port);
                if (original.count(port) == 0) {
                    EXPECT_TRUE(t == nullptr || t->get_source() == nullptr) << label;
                }
                if (t != nullptr) {
                    EXPECT_FALSE(t->is_inverted()) << label << " port " << port;
                }
            }
        }
        remux.reset();
    }
}

TEST_F(MorvRemuxTest, DefaultsAndNames)
{
    make();
    int np = -1, icp = -1, restore = -1, ni = -1, hci = -1;
    double fom = -1.0;
    remux->set_default_algorithm_parameters(np, icp, fom, restore);
    EXPECT_EQ(np, 1);
    EXPECT_EQ(icp, 0);
    EXPECT_EQ(fom, 0.0);
    EXPECT_EQ(restore, 1);
    remux->set_default_pass_parameters(0, ni, hci);
    EXPECT_EQ(ni, 1);
    EXPECT_EQ(hci, 1);
    np = 2;
    fom = 0.5;
    ni = 3;
    hci = -1;
    remux->set_default_algorithm_parameters(np, icp, fom, restore);
    remux->set_default_pass_parameters(0, ni, hci);
    EXPECT_EQ(np, 2);
    EXPECT_EQ(fom, 0.5);
    EXPECT_EQ(hci, 3);
    EXPECT_EQ(remux->get_short_name(), "REMUX");
    EXPECT_EQ(remux->get_description(), "remux algorithm");
}

}  // namespace morv_remux_test
