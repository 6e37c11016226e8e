// RAM contents of hand-built clusters: the S-box cluster taken straight
// from the design's LUTs and output registers, and small clusters for the
// edge cases of the encoding (input-fed registers, states that are also
// outputs, power-up by aload, absent or unconnected synchronous controls,
// inverting and constant inputs). Every column is checked against the
// host's own evaluation of the cluster (ram_encode_check.h).

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cut/cut_mif_reader.h"
#include "io/blif_reader.h"

#include "morv/netlist/morv_cluster.h"
#include "morv/rammap/morv_ram_cluster_legalizer.h"
#include "morv/rammap/morv_ram_cluster_manager.h"
#include "morv/rammap/morv_ram_encode.h"
#include "morv_test_util.h"
#include "ram_encode_check.h"
#include "rammap_run.h"

namespace ram_encoding_test {

namespace {

const int k_families[] = {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA, CDB_FAMILY_OBRAN};

std::string name_of(const CDB_ATOM_OTERM* o)
{
    return o->get_my_node()->get_instance_name()->get_short_hpath();
}

std::vector<std::string> names_of(const std::vector<CDB_ATOM_OTERM*>& oterms)
{
    std::vector<std::string> names;
    for (const CDB_ATOM_OTERM* o : oterms) names.push_back(name_of(o));
    return names;
}

// The cluster of the named nodes in a manager of its own, working on the
// type of the first register among them; distances up to date.
class MANAGED_CLUSTER
{
public:
    MANAGED_CLUSTER(RAMMAP_RUN& run, const std::vector<std::string>& members) : m_manager(0.0)
    {
        for (const std::string& m : members)
            if (run.util()->is_ff(run.node(m))) {
                m_manager.m_register_type = MORV_REGISTER_TYPE(run.node(m));
                break;
            }
        m_manager.m_max_bits = 16384;
        m_manager.get_ram_legalizer()->pre_cache(m_manager.m_register_type, &run.netlist());
        m_cluster = m_manager.create_cluster(run.node(members.front()));
        for (size_t i = 1; i < members.size(); ++i) m_cluster->add_node(run.node(members[i]));
        m_cluster->update_distances();
    }
    ~MANAGED_CLUSTER() { m_manager.delete_cluster(m_cluster); }
    MANAGED_CLUSTER(const MANAGED_CLUSTER&) = delete;
    MANAGED_CLUSTER& operator=(const MANAGED_CLUSTER&) = delete;

    MORV_CLUSTER* get() const { return m_cluster; }
    MORV_CLUSTER* operator->() const { return m_cluster; }
    MORV_CLUSTER& operator*() const { return *m_cluster; }

private:
    MORV_RAM_MAP_AREA_CLUSTER_MANAGER m_manager;
    MORV_CLUSTER* m_cluster = nullptr;
};

// The position of the named oterm in a list, -1 when absent.
int position(const std::vector<CDB_ATOM_OTERM*>& oterms, const std::string& name)
{
    for (size_t i = 0; i < oterms.size(); ++i)
        if (name_of(oterms[i]) == name) return static_cast<int>(i);
    return -1;
}

std::unique_ptr<CDB_ATOM_NETLIST> read_sbox(int family)
{
    const std::string design = cdb_family_lut_size(family) == 6 ? "sbox_rom_k6" : "sbox_rom_k4";
    return BLIF_READER(family).read_file(std::string(MORV_SOURCE_DIR) + "/designs/" + design + ".blif");
}

unsigned aes_sbox(unsigned x)
{
    auto mul = [](unsigned a, unsigned b) {
        unsigned p = 0;
        for (; b != 0; b >>= 1) {
            if (b & 1u) p ^= a;
            a = (a & 0x80u) ? ((a << 1) ^ 0x11Bu) : (a << 1);
        }
        return p;
    };
    unsigned inv = 0;
    for (unsigned y = 1; y < 256 && x != 0; ++y)
        if (mul(x, y) == 1) inv = y;
    unsigned s = inv;
    for (unsigned shift = 1; shift < 5; ++shift) s ^= ((inv << shift) | (inv >> (8 - shift))) & 0xFFu;
    return s ^ 0x63u;
}

// Two registered bits of state counting up while "e" is high, both read
// outside; "x" is a register fed straight from input "b", and "xa" = x AND
// q0 leaves for the register "y" outside the cluster. The edit runs on the
// finished netlist.
RAMMAP_BUILD counter_design(const std::function<void(FIXTURE_NETLIST&)>& edit)
{
    return [=](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* e = f.input("e");
        CDB_ATOM_OTERM* b = f.input("b");
        CDB_ATOM_OTERM* q0 = f.reg("q0", e, clk);  // data inputs rewired below
        CDB_ATOM_OTERM* q1 = f.reg("q1", e, clk);
        CDB_ATOM_OTERM* t0 = f.lut("t0", {q0, e}, 0x6);       // q0 ^ e
        CDB_ATOM_OTERM* t1 = f.lut("t1", {q1, q0, e}, 0x78);  // q1 ^ (q0 & e)
        for (auto [reg, lut] : {std::pair{q0, t0}, std::pair{q1, t1}}) {
            CDB_ATOM_ITERM* d = reg->get_my_node()->get_input_term_by_type(DB_DATAIN);
            d->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
            lut->insert_fanout(d);
        }
        CDB_ATOM_OTERM* x = f.reg("x", b, clk);
        CDB_ATOM_OTERM* y = f.reg("y", f.lut("xa", {x, q0}, 0x8), clk);
        f.output("o0", q0);
        f.output("o1", q1);
        f.output("oy", y);
        edit(f);
    };
}

const std::vector<std::string> k_counter_members = {"t0", "t1", "q0", "q1", "x", "xa"};

CDB_ATOM_NODE* fixture_node(FIXTURE_NETLIST& f, const std::string& name)
{
    for (CDB_ATOM_NODE* n : f.netlist())
        if (n->get_instance_name()->get_short_hpath() == name) return n;
    throw std::runtime_error("no node " + name);
}

CDB_ATOM_ITERM* fixture_term(FIXTURE_NETLIST& f, const std::string& node, int port)
{
    CDB_ATOM_NODE* n = fixture_node(f, node);
    CDB_ATOM_ITERM* t = n->get_input_term_by_type(port);
    return t != nullptr ? t : n->add_input_term(port);
}

}  // namespace

// The S-box cluster (its address registers and LUTs) reads the eight
// design inputs and holds the S-box table, its outputs powering up at the
// S-box of 0: no state, both state modes give eight inputs and the tie
// relaxes the mode.
TEST(RamEncoding, SboxClusterHoldsTheSboxTable)
{
    for (int family : k_families) {
        SCOPED_TRACE(cdb_get_family_info(family)->name);
        RAMMAP_RUN run(family, read_sbox(family));
        std::vector<std::string> members;
        for (CDB_ATOM_NODE* n : run.netlist()) {
            const std::string name = n->get_instance_name()->get_short_hpath();
            if (!n->is_pin() && (name.rfind("s0_", 0) == 0)) members.push_back(name);
        }
        MANAGED_CLUSTER cluster(run, members);
        MORV_CLUSTER_RAM_STATE_ENCODING enc(run.util());
        enc.encode(cluster.get());
        EXPECT_FALSE(cluster->get_boundary_mode());
        ASSERT_EQ(enc.get_inputs().size(), 8u);
        ASSERT_EQ(enc.get_outputs().size(), 8u);
        EXPECT_TRUE(enc.get_states().empty());
        EXPECT_EQ(check_encoding(enc), "");
        // Address bit k is input i<n>: bit n of the S-box's input.
        std::vector<int> input_bit;
        for (CDB_ATOM_OTERM* o : enc.get_address_oterms()) input_bit.push_back(name_of(o)[1] - '0');
        for (int j = 0; j < 8; ++j) {
            const int k = position(enc.get_data_oterms(), "s0_f" + std::to_string(j));
            ASSERT_GE(k, 0);
            EXPECT_EQ(enc.get_power_up_values()[static_cast<size_t>(k)], ((0x63u >> j) & 1u) != 0);
            for (unsigned a = 0; a < 256; ++a) {
                unsigned x = 0;
                for (int b = 0; b < 8; ++b) x |= ((a >> b) & 1u) << input_bit[static_cast<size_t>(b)];
                ASSERT_EQ(enc.get_contents()[static_cast<size_t>(k)][a], ((aes_sbox(x) >> j) & 1u) != 0)
                    << "bit " << j << " address " << a;
            }
        }
        enc.reset();
        EXPECT_TRUE(enc.get_contents().empty() && enc.get_inputs().empty() && enc.get_power_up_values().empty());
    }
}

namespace {

struct ENCODED
{
    RAMMAP_RUN& run;
    MORV_CLUSTER& cluster;
    MORV_CLUSTER_RAM_STATE_ENCODING& enc;

    const MORV_RAM_COLUMN& column(const std::string& data) const
    {
        const int k = position(enc.get_data_oterms(), data);
        if (k < 0) throw std::runtime_error("no data bit " + data);
        return enc.get_contents()[static_cast<size_t>(k)];
    }
    bool power_up(const std::string& data) const
    {
        return enc.get_power_up_values()[static_cast<size_t>(position(enc.get_data_oterms(), data))];
    }
    int address(const std::string& name) const { return position(enc.get_address_oterms(), name); }
    int bits() const { return static_cast<int>(enc.get_address_oterms().size()); }
};

struct EDGE_CASE
{
    const char* what;
    std::function<void(FIXTURE_NETLIST&)> edit;
    std::function<void(const ENCODED&)> expect;
};

void no_edit(FIXTURE_NETLIST&) {}

// The counter cluster as designed, for the cases that compare with it.
std::vector<MORV_RAM_COLUMN> plain_columns(int family, std::vector<std::string>* data,
                                           std::vector<std::string>* address)
{
    RAMMAP_RUN run(family, counter_design(no_edit));
    MANAGED_CLUSTER cluster(run, k_counter_members);
    MORV_CLUSTER_RAM_STATE_ENCODING enc(run.util());
    enc.encode(cluster.get());
    *data = names_of(enc.get_data_oterms());
    *address = names_of(enc.get_address_oterms());
    return enc.get_contents();
}

}  // namespace

// The encoding's edge cases on the counter cluster, each column also checked
// against the host's evaluation of the cluster.
TEST(RamEncoding, EdgeCasesOfTheCounterCluster)
{
    const EDGE_CASE cases[] = {
        {"state that is also an output appears once; a register fed by input b reads it", no_edit,
         [](const ENCODED& e) {
             const std::vector<std::string> data = names_of(e.enc.get_data_oterms());
             EXPECT_EQ(data, (std::vector<std::string>{"q0", "q1", "xa"}));
             EXPECT_EQ(names_of(e.enc.get_states()), (std::vector<std::string>{"q0", "q1"}));
             EXPECT_GE(e.address("q0"), static_cast<int>(e.enc.get_inputs().size()));
             ASSERT_GE(e.address("b"), 0);
             BDD_JBDD_MGR* mgr = e.run.util()->get_bdd_manager();
             CDB_ATOM_OTERM* x = e.run.node("x")->get_output_term_by_type(DB_REG_OUT);
             EXPECT_TRUE(e.enc.get_oterm_bdd(&e.cluster, x, 0) == mgr->ithvar(e.address("b")));
             const MORV_RAM_COLUMN& xa = e.column("xa");  // b & (q0 ^ e)
             for (size_t a = 0; a < xa.size(); ++a)
                 ASSERT_EQ(xa[a], ((a >> e.address("b")) & ((a >> e.address("q0")) ^ (a >> e.address("e"))) & 1u) != 0);
             EXPECT_FALSE(e.power_up("q1"));
         }},
        {"aload with a source powers up at 1",
         [](FIXTURE_NETLIST& f) {
             fixture_node(f, "b")
                 ->get_output_term_by_type(DB_DATA_OUT)
                 ->insert_fanout(fixture_term(f, "q1", DB_ASYNCH_LOAD));
         },
         [](const ENCODED& e) {
             EXPECT_TRUE(e.power_up("q1"));
             EXPECT_FALSE(e.power_up("q0"));
         }},
        {"aload without a source powers up at 0",
         [](FIXTURE_NETLIST& f) { fixture_term(f, "q1", DB_ASYNCH_LOAD)->set_vcc(); },
         [](const ENCODED& e) { EXPECT_FALSE(e.power_up("q1")); }},
        {"unconnected SCLR and SLOAD read 0",
         [](FIXTURE_NETLIST& f) {
             fixture_term(f, "q1", DB_SYNCH_CLEAR);
             fixture_term(f, "q1", DB_SYNCH_LOAD);
         },
         [](const ENCODED& e) {
             std::vector<std::string> data, address;
             const std::vector<MORV_RAM_COLUMN> plain = plain_columns(e.run.netlist().get_family(), &data, &address);
             EXPECT_EQ(e.enc.get_contents(), plain);
         }},
        {"SCLR tied to VCC clears, SLOAD tied to VCC loads SDATA",
         [](FIXTURE_NETLIST& f) {
             fixture_term(f, "q1", DB_SYNCH_CLEAR)->set_vcc();
             fixture_term(f, "q0", DB_SYNCH_LOAD)->set_vcc();
             fixture_term(f, "q0", DB_SYNCH_DATA)->set_gnd();
             fixture_term(f, "q0", DB_SYNCH_DATA)->set_invert();
         },
         [](const ENCODED& e) {
             EXPECT_EQ(e.column("q1"), MORV_RAM_COLUMN(size_t{1} << e.bits(), false));
             EXPECT_EQ(e.column("q0"), MORV_RAM_COLUMN(size_t{1} << e.bits(), true));
         }},
        {"an unconnected D gives zeros",
         [](FIXTURE_NETLIST& f) {
             fixture_term(f, "x", DB_DATAIN)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
         },
         [](const ENCODED& e) {
             EXPECT_EQ(e.address("b"), -1);
             EXPECT_EQ(e.column("xa"), MORV_RAM_COLUMN(size_t{1} << e.bits(), false));
         }},
        {"an inverting input flips the columns that depend on it",
         [](FIXTURE_NETLIST& f) { fixture_term(f, "t0", DB_DATA_B)->set_invert(); },
         [](const ENCODED& e) {
             std::vector<std::string> data, address;
             const std::vector<MORV_RAM_COLUMN> plain = plain_columns(e.run.netlist().get_family(), &data, &address);
             ASSERT_EQ(names_of(e.enc.get_data_oterms()), data);
             ASSERT_EQ(names_of(e.enc.get_address_oterms()), address);
             const size_t flip = size_t{1} << e.address("e");
             for (size_t k = 0; k < data.size(); ++k) {
                 const bool depends = data[k] != "q1";  // q0 and xa read t0
                 for (size_t a = 0; a < plain[k].size(); ++a)
                     ASSERT_EQ(e.enc.get_contents()[k][a], depends ? plain[k][a ^ flip] : plain[k][a])
                         << data[k] << " at " << a;
             }
         }},
        {"a VCC tie read through an inversion is 0, a GND tie read so is 1",
         [](FIXTURE_NETLIST& f) {
             CDB_ATOM_ITERM* c = fixture_term(f, "xa", DB_DATA_C);  // xa = x & q0 & c
             c->set_vcc();
             c->set_invert();
             fixture_node(f, "xa")->set_lutmask(blif_family_lutmask(f.family(), 3, 0x80));
             CDB_ATOM_ITERM* d = fixture_term(f, "t0", DB_DATA_C);  // t0 = q0 ^ e ^ !d
             d->set_gnd();
             d->set_invert();
             fixture_node(f, "t0")->set_lutmask(blif_family_lutmask(f.family(), 3, 0x96));
         },
         [](const ENCODED& e) {
             EXPECT_EQ(e.column("xa"), MORV_RAM_COLUMN(size_t{1} << e.bits(), false));
             const MORV_RAM_COLUMN& q0 = e.column("q0");
             for (size_t a = 0; a < q0.size(); ++a)
                 ASSERT_EQ(q0[a], !(((a >> e.address("q0")) ^ (a >> e.address("e"))) & 1u)) << a;
         }},
    };
    for (int family : k_families)
        for (const EDGE_CASE& c : cases) {
            SCOPED_TRACE(std::string(cdb_get_family_info(family)->name) + ": " + c.what);
            RAMMAP_RUN run(family, counter_design(c.edit));
            MANAGED_CLUSTER cluster(run, k_counter_members);
            MORV_CLUSTER_RAM_STATE_ENCODING enc(run.util());
            enc.encode(cluster.get());
            EXPECT_EQ(check_encoding(enc), "");
            c.expect(ENCODED{run, *cluster, enc});
        }
}

// The state mode: the relaxed one when the cluster allows it and it yields
// no more address bits, so a tie relaxes; the strict one otherwise. The
// address bits are what the chosen mode's input iterator yields.
TEST(RamEncoding, StateModeTakesTheFewerInputsAndATieRelaxes)
{
    for (int family : k_families) {
        SCOPED_TRACE(cdb_get_family_info(family)->name);
        RAMMAP_RUN run(family, counter_design(no_edit));
        MANAGED_CLUSTER cluster(run, k_counter_members);
        auto count = [&](bool mode) {
            cluster->set_boundary_mode(mode);
            int n = 0;
            for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it) ++n;
            return n;
        };
        const int strict = count(true), relaxed = count(false);
        MORV_CLUSTER_RAM_STATE_ENCODING enc(run.util());
        enc.encode(cluster.get());
        const bool expected = !cluster->is_state_candidate_free() || strict < relaxed;
        EXPECT_EQ(cluster->get_boundary_mode(), expected) << strict << " / " << relaxed;
        EXPECT_EQ(static_cast<int>(enc.get_address_oterms().size()), expected ? strict : relaxed);
        enc.encode(cluster.get());  // a second encoding gives the same result
        EXPECT_EQ(check_encoding(enc), "");
    }
}

// Depths other than -1, 0 and 1 are refused, and so is a true input asked
// for its power-up value.
TEST(RamEncoding, RefusesDepthsBeyondOneRegisterStage)
{
    RAMMAP_RUN run(CDB_FAMILY_BRK, counter_design(no_edit));
    MANAGED_CLUSTER cluster(run, k_counter_members);
    MORV_CLUSTER_RAM_STATE_ENCODING enc(run.util());
    enc.encode(cluster.get());
    CDB_ATOM_OTERM* y = run.node("q1")->get_output_term_by_type(DB_REG_OUT);
    CDB_ATOM_OTERM* e = run.node("e")->get_output_term_by_type(DB_DATA_OUT);
    EXPECT_EQ(internal_error_of([&] { enc.get_oterm_bdd(cluster.get(), y, 2); }),
              "depth == 0 || depth == 1 || depth == -1");
    EXPECT_EQ(internal_error_of([&] { enc.get_oterm_bdd(cluster.get(), e, -1); }), "node_info.is_included()");
    EXPECT_EQ(internal_error_of([&] { enc.get_register_bdd(cluster.get(), e, 1); }),
              "oterm->get_any_usage_as() == ::DB_REG_OUT");
}

// One address bit and 100 data bits: the words of the file are 100 bits
// wide and come back from the stand-in reader as the same columns. No BDD
// dump is written while the debug switch is off.
TEST(RamEncoding, HundredBitWideClusterWrittenAndReadBack)
{
    constexpr int k_width = 100;
    RAMMAP_RUN run(CDB_FAMILY_ZEPLA, [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* a = f.reg("a", f.input("i"), clk);
        for (int k = 0; k < k_width; ++k) {
            const uint64_t truth = static_cast<uint64_t>(k % 4);  // 0, NOT a, a, 1
            f.output(indexed("o", k), f.reg(indexed("r", k), f.lut(indexed("l", k), {a}, truth), clk));
        }
    });
    std::vector<std::string> members = {"a"};
    for (int k = 0; k < k_width; ++k) members.push_back(indexed("l", k));
    MANAGED_CLUSTER cluster(run, members);
    MORV_CLUSTER_RAM_STATE_ENCODING enc(run.util());
    enc.encode(cluster.get());
    ASSERT_EQ(names_of(enc.get_address_oterms()), (std::vector<std::string>{"i"}));
    ASSERT_EQ(enc.get_data_oterms().size(), static_cast<size_t>(k_width));
    EXPECT_EQ(check_encoding(enc), "");
    for (int k = 0; k < k_width; ++k) {
        const MORV_RAM_COLUMN& column =
            enc.get_contents()[static_cast<size_t>(position(enc.get_data_oterms(), indexed("l", k)))];
        EXPECT_EQ(column, (MORV_RAM_COLUMN{(k % 4 & 1) != 0, (k % 4 & 2) != 0})) << k;
    }
    ASSERT_TRUE(morv_write_mif_file("wide_cluster.mif", k_width, 2, enc.get_contents()));
    const CUT_MIF_CONTENTS c = cut_read_mif_file("wide_cluster.mif", k_width, 2);
    for (int k = 0; k < k_width; ++k) EXPECT_EQ(c.column(k), enc.get_contents()[static_cast<size_t>(k)]) << k;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        EXPECT_NE(entry.path().filename().string().rfind("bdds.", 0), 0u) << entry.path();
}

}  // namespace ram_encoding_test
