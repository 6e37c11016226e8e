// Clusters that growth finds on the S-box designs, encoded and replaced by
// RAM slices: the slices, their files and the LUTs behind them, and the
// netlist proved unchanged in function (ABC from the all-zero state and a
// cycle simulation), the slices reading their memory-initialisation files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cut/cut_block_util.h"
#include "io/blif_reader.h"

#include "morv/rammap/morv_ram_build.h"
#include "morv/rammap/morv_ram_cluster_cost.h"
#include "morv/rammap/morv_ram_encode.h"
#include "ram_cluster_run.h"
#include "rammap_run.h"
#include "scripted_slack.h"
#include "seq_harness.h"

namespace ram_build_test {

namespace {

std::unique_ptr<CDB_ATOM_NETLIST> read_sbox(int family)
{
    const std::string design = cdb_family_lut_size(family) == 6 ? "sbox_rom_k6" : "sbox_rom_k4";
    return BLIF_READER(family).read_file(std::string(MORV_SOURCE_DIR) + "/designs/" + design + ".blif");
}

// Runs in a folder of its own whose "db" is a folder (files can be
// written) or a plain file (every write fails).
class SCRATCH_DIR
{
public:
    SCRATCH_DIR(const std::string& name, bool writable) : m_old(std::filesystem::current_path())
    {
        const std::filesystem::path dir = m_old / name;
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
        if (writable) std::filesystem::create_directory("db");
        else std::ofstream("db") << "not a folder\n";
    }
    ~SCRATCH_DIR() { std::filesystem::current_path(m_old); }
    SCRATCH_DIR(const SCRATCH_DIR&) = delete;
    SCRATCH_DIR& operator=(const SCRATCH_DIR&) = delete;

private:
    std::filesystem::path m_old;
};

// One RAM built: its name, slices and what the encoding said.
struct BUILT_RAM
{
    std::string name;
    std::vector<CDB_ATOM_NODE*> slices;
    int data_bits = 0;
    int power_up_ones = 0;
};

// The mapping's search, cut down: seeds of every register type in order,
// each grown cluster of RAM size encoded and built, up to `limit` RAMs.
class SBOX_BUILD
{
public:
    explicit SBOX_BUILD(RAMMAP_RUN& run) : m_run(run), m_slack(run.api()->get_fsyn_timing())
    {
        m_slack.set_default(1000, 1.0);
        m_run.util()->prepare_cluster_carry_chains();
    }

    std::vector<BUILT_RAM> build(int limit, bool expect_built = true)
    {
        MORV_RAM_MAP_UTIL* util = m_run.util();
        std::set<MORV_REGISTER_TYPE> types;
        for (CDB_ATOM_NODE* node : m_run.netlist())
            if (util->is_ff(node)) types.insert(MORV_REGISTER_TYPE(node));
        std::vector<BUILT_RAM> built;
        for (const MORV_REGISTER_TYPE& type : types) {
            if (type.m_aload.m_oterm || !type.m_aload.m_inverted) continue;
            m_manager.m_register_type = type;
            m_manager.m_max_bits = 4096;
            const std::vector<CDB_ATOM_NODE*> nodes(m_run.netlist().begin(), m_run.netlist().end());
            for (CDB_ATOM_NODE* seed : nodes) {
                if (static_cast<int>(built.size()) >= limit) return built;
                m_manager.get_ram_legalizer()->pre_cache(type, &m_run.netlist());
                if (!m_manager.can_pack(seed) || !is_seed(seed, type)) continue;
                const int result = try_build(seed, built);
                if (result < 0) continue;
                EXPECT_EQ(result == 1, expect_built);
                if (!expect_built) return built;
            }
        }
        return built;
    }

    MORV_RAM_MAP_AREA_CLUSTER_MANAGER& manager() { return m_manager; }

private:
    bool is_seed(CDB_ATOM_NODE* node, const MORV_REGISTER_TYPE& type)
    {
        if (m_run.util()->is_ff(node)) {
            const CDB_ATOM_ITERM* aload = node->get_input_term_by_type(DB_ASYNCH_LOAD);
            return MORV_REGISTER_TYPE(node) == type && !(aload && aload->is_connected());
        }
        MORV_CLUSTER_RAM_LEGALIZER* legalizer = m_manager.get_ram_legalizer();
        for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot)
            if ((*ot)->has_fanout() && MORV_CLUSTER::is_data_oterm(node, *ot) &&
                !legalizer->is_input_legalizable(*ot) && !legalizer->is_output_legalizable(*ot))
                return false;
        return true;
    }

    // -1 for no cluster of RAM size, else whether the RAM was built.
    int try_build(CDB_ATOM_NODE* seed, std::vector<BUILT_RAM>& built)
    {
        MORV_CLUSTER* cluster = m_manager.get_ram_flow()->grow_cluster(seed);
        int result = -1;
        if (cluster && m_manager.get_ram_legalizer()->is_legal(cluster)) {
            const GROWN_CLUSTER grown = describe(cluster);
            if (grown.gain > 0 && grown.inputs >= 1 && grown.inputs < 20 && grown.bits <= m_manager.m_max_bits)
                result = build_cluster(cluster, built) ? 1 : 0;
        }
        m_manager.delete_cluster(cluster);
        return result;
    }

    bool build_cluster(MORV_CLUSTER* cluster, std::vector<BUILT_RAM>& built)
    {
        MORV_CLUSTER_RAM_STATE_ENCODING enc(m_run.util());
        enc.encode(cluster);
        const std::set<CDB_ATOM_NODE*> before(m_run.netlist().begin(), m_run.netlist().end());
        BUILT_RAM ram;
        ram.data_bits = static_cast<int>(enc.get_data_oterms().size());
        for (bool one : enc.get_power_up_values()) ram.power_up_ones += one;
        if (!m_manager.create_simple_ram(cluster, ram.name)) return false;
        for (CDB_ATOM_NODE* node : m_run.netlist())
            if (!before.count(node) && node->is_ram()) ram.slices.push_back(node);
        m_manager.get_ram_legalizer()->invalidate(cluster);
        built.push_back(ram);
        return true;
    }

    RAMMAP_RUN& m_run;
    SCRIPTED_SLACK_SOURCE m_slack;
    MORV_RAM_MAP_AREA_CLUSTER_MANAGER m_manager{0.0};
};

const int k_families[] = {CDB_FAMILY_BRK, CDB_FAMILY_OBRAN, CDB_FAMILY_ZEPLA};

void expect_slices(const BUILT_RAM& ram)
{
    ASSERT_GT(ram.data_bits, 0) << ram.name;
    ASSERT_EQ(static_cast<int>(ram.slices.size()), ram.data_bits) << ram.name;
    std::set<int> bits;
    std::set<std::string> files, logical;
    for (CDB_ATOM_NODE* slice : ram.slices) {
        const auto* r = static_cast<const CDB_ATOM_RAM*>(slice);
        bits.insert(CUT_RAM_UTIL::get_first_bit_number(slice, 0));
        files.insert(r->get_reconfig_info().m_mif_file_name);
        logical.insert(CUT_RAM_UTIL::get_logical_name_str(slice));
        EXPECT_EQ(CUT_RAM_UTIL::get_logical_width(slice, 0), ram.data_bits);
        // The S-box registers have no enable: the port stays tied to VCC.
        EXPECT_FALSE(CUT_RAM_UTIL::ram_mode_is(slice, 0, 63));
        EXPECT_FALSE(CUT_RAM_UTIL::ram_mode_is(slice, 0, 67));
        const CDB_ATOM_ITERM* enable = slice->get_input_term_by_type(DB_RAM_CLK0_ENA);
        ASSERT_NE(enable, nullptr);
        EXPECT_TRUE(enable->is_vcc() && enable->get_source() == nullptr);
        CDB_RAM_SLICE_INFO info;
        ASSERT_TRUE(r->get_slice_info(slice->get_output_term_by_type(DB_RAM_PORTA_DATAOUT), info));
        EXPECT_EQ(info.m_slice_index, CUT_RAM_UTIL::get_first_bit_number(slice, 0));
    }
    EXPECT_EQ(static_cast<int>(bits.size()), ram.data_bits);
    EXPECT_EQ(*bits.begin(), 0);
    EXPECT_EQ(*bits.rbegin(), ram.data_bits - 1);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(*files.begin()));
    EXPECT_EQ(logical.size(), 1u);  // one logical RAM, one block
}

}  // namespace

TEST(RamBuild, SboxClustersReplacedByEquivalentRams)
{
    SCRATCH_DIR dir("ram_build_sbox", true);
    for (int family : k_families) {
        const std::string tag = std::string("ram_build_") + cdb_get_family_info(family)->name;
        SCOPED_TRACE(tag);
        RAMMAP_RUN run(family, read_sbox(family));
        SBOX_BUILD search(run);
        const std::vector<BUILT_RAM> rams = search.build(3);
        ASSERT_GE(rams.size(), 2u);
        int data_bits = 0, ones = 0;
        for (const BUILT_RAM& ram : rams) {
            expect_slices(ram);
            data_bits += ram.data_bits;
            ones += ram.power_up_ones;
        }
        EXPECT_FALSE(search.manager().m_mapped_nodes.empty());
        const bool emulated = run.util()->counts_outputs_in_gain();
        // Emulation: one clear register for the one register type, one
        // wrapper per data output; otherwise one inverter per bit at 1.
        EXPECT_EQ(run.count_nodes_with_suffix("_ORER"), emulated ? data_bits : 0);
        EXPECT_EQ(search.manager().m_aclr_register_oterms.size(), emulated ? 1u : 0u);
        EXPECT_GT(ones, 0);
        EXPECT_EQ(run.count_nodes_with_suffix("_RTM0"), emulated ? 0 : ones);
        const SEQ_VERDICT v = seq_check(*read_sbox(family), run.netlist(), tag, true, 300);
        EXPECT_TRUE(v.equivalent()) << v.describe();
    }
}

TEST(RamBuild, FailedFileWriteLeavesTheNetlistAsItWas)
{
    SCRATCH_DIR dir("ram_build_nowrite", false);
    RAMMAP_RUN run(CDB_FAMILY_OBRAN, read_sbox(CDB_FAMILY_OBRAN));
    const size_t nodes = run.netlist().get_node_count();
    SBOX_BUILD search(run);
    EXPECT_TRUE(search.build(1, false).empty());
    EXPECT_EQ(run.netlist().get_node_count(), nodes);
    EXPECT_EQ(run.count_nodes_with_suffix("_RAM"), 0);
    EXPECT_TRUE(search.manager().m_mapped_nodes.empty());
    EXPECT_NE(search.manager().m_mif_file_name.find(".rmp.mif"), std::string::npos);
}

namespace {

// Two bits of state counting up while "e" is high, both read outside; "x"
// registers input "b" and "xa" = x AND q0 leaves for register "y". Every
// register may have an enable "en" and a clear "clr".
RAMMAP_BUILD counter_design(bool enable, bool clear)
{
    return [=](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* e = f.input("e");
        CDB_ATOM_OTERM* en = enable ? f.input("en") : nullptr;
        CDB_ATOM_OTERM* clr = clear ? f.input("clr") : nullptr;
        CDB_ATOM_OTERM* q0 = f.reg("q0", e, clk, en, clr);  // data inputs rewired below
        CDB_ATOM_OTERM* q1 = f.reg("q1", e, clk, en, clr);
        CDB_ATOM_OTERM* t0 = f.lut("t0", {q0, e}, 0x6);       // q0 ^ e
        CDB_ATOM_OTERM* t1 = f.lut("t1", {q1, q0, e}, 0x78);  // q1 ^ (q0 & e)
        for (auto [reg, lut] : {std::pair{q0, t0}, std::pair{q1, t1}}) {
            CDB_ATOM_ITERM* d = reg->get_my_node()->get_input_term_by_type(DB_DATAIN);
            d->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
            lut->insert_fanout(d);
        }
        CDB_ATOM_OTERM* x = f.reg("x", f.input("b"), clk, en, clr);
        f.output("o0", q0);
        f.output("o1", q1);
        f.output("oy", f.reg("y", f.lut("xa", {x, q0}, 0x8), clk, en, clr));
    };
}

}  // namespace

// The state bits come back into every slice's address from the slice's
// real output: the clear wrapper where the family emulates the clear. The
// register's enable and clear reach every slice.
TEST(RamBuild, StateBitsFedBackFromTheRealOutput)
{
    SCRATCH_DIR dir("ram_build_counter", true);
    for (int family : k_families)
        for (bool controls : {false, true}) {
            std::string tag = std::string("ram_build_counter_") + cdb_get_family_info(family)->name;
            if (controls) tag.append("_ena_clr");
            SCOPED_TRACE(tag);
            RAMMAP_RUN run(family, counter_design(controls, controls));
            MORV_RAM_MAP_AREA_CLUSTER_MANAGER manager(0.0);
            manager.m_register_type = MORV_REGISTER_TYPE(run.node("q0"));
            manager.m_max_bits = 16384;
            manager.get_ram_legalizer()->pre_cache(manager.m_register_type, &run.netlist());
            MORV_CLUSTER* cluster = manager.create_cluster(run.node("t0"));
            for (const char* m : {"t1", "q0", "q1", "x", "xa"}) cluster->add_node(run.node(m));
            cluster->update_distances();
            MORV_CLUSTER_RAM_STATE_ENCODING enc(run.util());
            enc.encode(cluster);
            ASSERT_FALSE(enc.get_states().empty());
            std::string name;
            ASSERT_TRUE(manager.create_simple_ram(cluster, name));
            manager.delete_cluster(cluster);
            const bool emulated = run.util()->counts_outputs_in_gain();
            int fed_back = 0;
            for (CDB_ATOM_NODE* node : run.netlist()) {
                if (!node->is_ram()) continue;
                EXPECT_EQ(CUT_RAM_UTIL::ram_mode_is(node, 0, CDB_RAM_FLAG_SET{63, 67}), controls);
                EXPECT_EQ(CUT_RAM_UTIL::ram_mode_is(node, 0, CDB_RAM_FLAG_SET{20, 21}), controls && !emulated);
                const CDB_ATOM_OTERM* enable = node->get_input_term_by_type(DB_RAM_CLK0_ENA)->get_source();
                EXPECT_EQ(enable != nullptr, controls);
                for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
                    if ((*it)->get_any_usage_as() != DB_RAM_PORTA_ADDRESS) continue;
                    const CDB_ATOM_NODE* source = (*it)->get_source()->get_my_node();
                    if (source->is_pin()) continue;  // a true input
                    const std::string leaf(source->get_instance_name()->get_leaf());
                    EXPECT_EQ(emulated, leaf.find("_ORER") != std::string::npos) << leaf;
                    ++fed_back;
                }
            }
            EXPECT_GE(fed_back, 2);
            RAMMAP_RUN reference(family, counter_design(controls, controls));
            const SEQ_VERDICT v = seq_check(reference.netlist(), run.netlist(), tag, true, 500);
            EXPECT_TRUE(v.equivalent()) << v.describe();
        }
}

namespace {

// Two carry chains across one register stage, every register cleared by
// "clr": lo_1 adds a1, b1 and lo_0's carry into register q; hi_0 and hi_1
// add the registers q and r, and hi_1 carries into hi_2, which adds c and d.
// The cluster {lo_1, q, r, hi_0, hi_1} then reads a carry output (lo_0's)
// and drives a carry input (hi_2's), whose cell sits at an even position.
void chains_across_the_registers(FIXTURE_NETLIST& f)
{
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* clr = f.input("clr");
    const std::vector<CDB_ATOM_OTERM*> lo =
        carry_chain(f, "lo", {f.input("a0"), f.input("a1")}, {f.input("b0"), f.input("b1")});
    f.output("s0", lo[0]);
    CDB_ATOM_OTERM* q = f.reg("q", lo[1], clk, nullptr, clr);
    CDB_ATOM_OTERM* r = f.reg("r", f.input("y"), clk, nullptr, clr);
    const std::vector<CDB_ATOM_OTERM*> hi = carry_chain(f, "hi", {q, r, f.input("c")}, {r, q, f.input("d")});
    for (size_t i = 1; i < hi.size(); ++i) f.output(indexed("t", i), hi[i]);
}

}  // namespace

// A carry output among the address bits reaches the RAM through its carry
// input's cell made a wire; a data bit that drives a carry input does so
// through carry wire LUTs (two before an even cell of a 6-input chain, one
// in a 4-input family, which keeps no parity), and only the 6-input count
// of such an output doubles. The clear reaches the RAM or, where the
// family emulates it, the clear register in front of every output.
TEST(RamBuild, CarryChainsAcrossTheClusterEdge)
{
    SCRATCH_DIR dir("ram_build_chains", true);
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_ZEPLA, CDB_FAMILY_BRK, CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK}) {
        const std::string tag = std::string("ram_build_chains_") + cdb_get_family_info(family)->name;
        SCOPED_TRACE(tag);
        RAMMAP_RUN run(family, chains_across_the_registers);
        const bool six = cdb_family_lut_size(family) == 6;
        const bool emulated = run.util()->counts_outputs_in_gain();
        run.util()->prepare_cluster_carry_chains();
        MORV_RAM_MAP_AREA_CLUSTER_MANAGER manager(0.0);
        manager.m_register_type = MORV_REGISTER_TYPE(run.node("q"));
        manager.m_max_bits = 16384;
        manager.get_ram_legalizer()->pre_cache(manager.m_register_type, &run.netlist());
        MORV_CLUSTER* cluster = manager.create_cluster(run.node("lo_1"));
        for (const char* m : {"q", "r", "hi_0", "hi_1"}) cluster->add_node(run.node(m));
        cluster->update_distances();
        EXPECT_TRUE(manager.get_ram_legalizer()->is_legal(cluster));
        MORV_CLUSTER_COST_BY_SIZE cost;
        const auto token = cost.compute_size(cluster);
        EXPECT_EQ(token->m_carryin_nodes, 1);
        EXPECT_EQ(token->m_carryout_nodes, six ? 2 : 1);
        MORV_CLUSTER_RAM_STATE_ENCODING enc(run.util());
        enc.encode(cluster);
        std::string name;
        ASSERT_TRUE(manager.create_simple_ram(cluster, name));
        manager.delete_cluster(cluster);

        EXPECT_EQ(run.count_nodes_with_suffix("_carryout"), six ? 2 : 1);
        EXPECT_EQ(run.count_nodes_with_suffix("_carryout_2"), six ? 1 : 0);
        const CDB_ATOM_OTERM* carry = run.node("hi_2")->get_input_term_by_type(DB_CARRY_IN)->get_source();
        ASSERT_NE(carry, nullptr);
        EXPECT_NE(std::string(carry->get_my_node()->get_instance_name()->get_leaf()).find("_carryout"),
                  std::string::npos);
        const CDB_ATOM_OTERM* wire = run.node("lo_1")->get_output_term_by_type(six ? DB_SUM_OUT : DB_COMB_OUT);
        int rams = 0, address_wires = 0;
        for (CDB_ATOM_NODE* node : run.netlist()) {
            if (!node->is_ram()) continue;
            ++rams;
            for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
                address_wires += (*it)->get_any_usage_as() == DB_RAM_PORTA_ADDRESS && (*it)->get_source() == wire;
            const CDB_ATOM_ITERM* clear = node->get_input_term_by_type(DB_RAM_CLR0);
            ASSERT_NE(clear, nullptr);
            EXPECT_EQ(clear->get_source() == run.node("clr")->get_output_term_by_type(DB_DATA_OUT), !emulated);
            EXPECT_EQ(CUT_RAM_UTIL::ram_mode_is(node, 0, CDB_RAM_FLAG_SET{20, 21}), !emulated);
        }
        EXPECT_EQ(rams, 2);
        EXPECT_EQ(address_wires, rams);
        // New cells are the family's own; the clear register reads the
        // registers' clear (its wrappers are named after it).
        int clear_registers = 0;
        for (CDB_ATOM_NODE* node : run.netlist()) {
            const std::string leaf(node->get_instance_name()->get_leaf());
            if (leaf.find("_carryout") != std::string::npos || leaf.find("_ORER") != std::string::npos) {
                EXPECT_EQ(node->get_atom_type(), run.node("lo_0")->get_atom_type()) << leaf;
            }
            if (!node->is_register() || leaf.find("_REGGED") == std::string::npos) continue;
            ++clear_registers;
            EXPECT_EQ(node->get_atom_type(), run.node("q")->get_atom_type());
            const CDB_ATOM_ITERM* clear = node->get_input_term_by_type(DB_CLEAR);
            ASSERT_NE(clear, nullptr);
            EXPECT_EQ(clear->get_source(), run.node("clr")->get_output_term_by_type(DB_DATA_OUT));
        }
        EXPECT_EQ(clear_registers, emulated ? 1 : 0);
        EXPECT_EQ(run.count_nodes_with_suffix("_ORER"), emulated ? rams : 0);
        RAMMAP_RUN reference(family, chains_across_the_registers);
        const SEQ_VERDICT v = seq_check(reference.netlist(), run.netlist(), tag, true, 300);
        EXPECT_TRUE(v.equivalent()) << v.describe();
    }
}

}  // namespace ram_build_test
