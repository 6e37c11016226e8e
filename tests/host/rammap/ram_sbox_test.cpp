// One S-box of the S-box design replaced by hand by eight RAM slices loaded
// from a memory-initialisation file, built with the family's RAM utility
// the way a mapped cluster is: clear and power-up emulated by a register
// and wrapper LUTs where the family counts outputs in the gain (BRK), the
// RAM's own clear and an inverted column behind an inverter otherwise.
// Written by the BLIF writer and proved by ABC from the all-zero state.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cut/cut_block_util.h"
#include "cut/cut_mif_reader.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"

#include "morv/core/morv_env.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "rammap_run.h"
#include "seq_harness.h"

namespace ram_sbox_test {

namespace {

std::unique_ptr<CDB_ATOM_NETLIST> read_sbox(int family)
{
    const std::string design = cdb_family_lut_size(family) == 6 ? "sbox_rom_k6" : "sbox_rom_k4";
    return BLIF_READER(family).read_file(std::string(MORV_SOURCE_DIR) + "/designs/" + design + ".blif");
}

CDB_ATOM_NODE* find(CDB_ATOM_NETLIST& netlist, const std::string& name)
{
    for (CDB_ATOM_NODE* n : netlist)
        if (n->get_instance_name()->get_short_hpath() == name) return n;
    throw std::runtime_error("no node " + name);
}

// The AES S-box, from the inverse in GF(2^8) and the affine map; S-box 0
// of the design reads its address unchanged.
std::vector<uint64_t> aes_sbox()
{
    auto mul = [](unsigned a, unsigned b) {
        unsigned p = 0;
        for (; b != 0; b >>= 1) {
            if (b & 1u) p ^= a;
            a = (a & 0x80u) ? ((a << 1) ^ 0x11Bu) : (a << 1);
        }
        return p;
    };
    std::vector<uint64_t> table;
    for (unsigned x = 0; x < 256; ++x) {
        unsigned inv = 0;
        for (unsigned y = 1; y < 256 && x != 0; ++y)
            if (mul(x, y) == 1) inv = y;
        unsigned s = inv;
        for (unsigned shift = 1; shift < 5; ++shift) s ^= ((inv << shift) | (inv >> (8 - shift))) & 0xFFu;
        table.push_back(s ^ 0x63u);
    }
    return table;
}

void write_mif(const std::string& path, const std::vector<uint64_t>& words)
{
    std::ofstream out(path);
    out << "-- [PROTO] RAM Mapping Generated Memory Initialization File\nWIDTH=8;\nDEPTH=" << words.size()
        << ";\n\nADDRESS_RADIX=UNS;\nDATA_RADIX=UNS;\n\nCONTENT BEGIN\n";
    for (size_t a = 0; a < words.size(); ++a) out << "    " << a << "  :  " << words[a] << ";\n";
    out << "END;\n";
}

// Bit p of S-box 0 powers up at 1: its register holds the complement and
// its output reads it inverted.
void power_up_at_one(CDB_ATOM_NETLIST& netlist, int p)
{
    CDB_ATOM_NODE* lut = find(netlist, "s0_f" + std::to_string(p));
    lut->set_lutmask(~lut->get_lutmask());
    CDB_ATOM_NODE* pin = find(netlist, "o0_" + std::to_string(p) + BLIF_OUTPUT_PIN_SUFFIX);
    pin->get_input_term_by_type(DB_DATAIN)->set_invert();
}

class SBOX_MAPPER
{
public:
    explicit SBOX_MAPPER(RAMMAP_RUN& run) : m_run(run), m_util(run.util()), m_api(run.api())
    {
        m_cdb = m_api->get_fsyn_cdb_interface();
        m_net = m_api->get_fsyn_net_util();
    }

    // The slices read the file; a bit that powers up at 1 is written
    // inverted there unless the family emulates the power-up value.
    void map(std::vector<uint64_t> words, const std::string& mif_name, int powered_up_one)
    {
        const std::vector<CDB_ATOM_NODE*> replaced = sbox0_logic();
        CDB_ATOM_NODE* rep = m_run.node("o0_0");
        const bool emulate = m_util->counts_outputs_in_gain();
        if (powered_up_one >= 0 && !emulate)
            for (uint64_t& w : words) w ^= uint64_t{1} << powered_up_one;
        write_mif(mif_name, words);
        const CUT_MIF_CONTENTS mif = cut_read_mif_file(mif_name, 8, 256);
        CDB_ATOM_OTERM* aclr = emulate ? m_util->create_aclr_register(rep) : nullptr;
        for (int j = 0; j < mif.width; ++j) {
            const bool one = j == powered_up_one;
            CDB_ATOM_NODE* ram = slice(rep, j, mif, mif_name, emulate);
            CDB_ATOM_OTERM* out = m_run.node("o0_" + std::to_string(j))->get_output_term_by_type(DB_REG_OUT);
            move_fanouts(out, ram->get_output_term_by_type(DB_RAM_PORTA_DATAOUT), aclr, one);
        }
        for (CDB_ATOM_NODE* n : replaced) m_run.netlist().delete_node(n);
    }

private:
    CDB_ATOM_NODE* slice(CDB_ATOM_NODE* rep, int j, const CUT_MIF_CONTENTS& mif, const std::string& mif_name,
                         bool emulate)
    {
        HDB_INSTANCE_NAME* name =
            m_run.netlist().get_name_mgr()->find_or_create_path("sbox0_ram|slice" + std::to_string(j), 0);
        CDB_ATOM_NODE* ram = m_util->create_ram_atom(name, mif_name, CDB_RAM_FLAG_SET{1, 2, 8, 11, 12, 48});
        m_api->node_added(ram, rep, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE, true, nullptr);
        CUT_RAM_UTIL::set_logical_depth(ram, 0, mif.depth);
        CUT_RAM_UTIL::set_logical_width(ram, 0, mif.width);
        CUT_RAM_UTIL::set_address_width(ram, 0, 8);
        CUT_RAM_UTIL::set_first_address(ram, 0, 0);
        CUT_RAM_UTIL::set_last_address(ram, 0, mif.depth - 1);
        CUT_RAM_UTIL::set_first_bit_number(ram, 0, j);
        CUT_RAM_UTIL::set_data_width(ram, 0, 1);
        m_net->insert_fanout(rep->get_input_term_by_type(DB_CLOCK)->get_source(), term(ram, DB_RAM_CLK0));
        m_cdb->set_iterm_vcc(term(ram, DB_RAM_CLK0_ENA));
        CDB_ATOM_ITERM* clear = term(ram, DB_RAM_CLR0);
        if (!emulate) {
            // No register clear: the RAM sees an inverted VCC.
            m_cdb->set_iterm_vcc(clear);
            clear->set_invert();
        }
        for (int k = 0; k < 8; ++k) {
            CDB_ATOM_OTERM* bit = m_run.node("s0_a" + std::to_string(k))->get_output_term_by_type(DB_REG_OUT);
            bit->insert_fanout(ram->add_input_term(DB_RAM_PORTA_ADDRESS, k));
        }
        static_cast<CDB_ATOM_RAM*>(ram)->set_reconfig_info({mif_name, 1});
        ram->add_output_term(DB_RAM_PORTA_DATAOUT, name);
        return ram;
    }

    CDB_ATOM_ITERM* term(CDB_ATOM_NODE* node, int port)
    {
        CDB_ATOM_ITERM* t = nullptr;
        m_cdb->create_input_term(nullptr, t, node, port, 0);
        return t;
    }

    void move_fanouts(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to, CDB_ATOM_OTERM* aclr, bool one)
    {
        std::vector<CDB_ATOM_ITERM*> sinks;
        for (auto it = from->begin_iterm_fanout(); it != from->end_iterm_fanout(); ++it) sinks.push_back(*it);
        CDB_ATOM_OTERM* driver = to;
        bool pending = true;
        for (CDB_ATOM_ITERM* sink : sinks) {
            m_net->disconnect_iterm(sink, CDB_NET_ITERM::UNCONNECTED);
            m_net->insert_fanout(driver, sink);
            if (!pending || (aclr == nullptr && !one)) continue;
            CDB_ATOM_ITERM* w = sink;
            if (aclr == nullptr) w = m_util->insert_inverter_lut(sink);
            else m_util->create_aclr_wrapper(w, aclr, one);
            driver = sink->get_source();
            pending = false;
        }
    }

    // The S-box's LUTs and output registers, which the slices replace.
    std::vector<CDB_ATOM_NODE*> sbox0_logic()
    {
        std::vector<CDB_ATOM_NODE*> dead;
        for (CDB_ATOM_NODE* n : m_run.netlist()) {
            const std::string name = n->get_instance_name()->get_short_hpath();
            if (name.rfind("s0_b", 0) == 0 || name.rfind("s0_f", 0) == 0 || name.rfind("o0_", 0) == 0)
                if (!n->is_pin()) dead.push_back(n);
        }
        return dead;
    }

    RAMMAP_RUN& m_run;
    MORV_RAM_MAP_UTIL* m_util;
    MORV_API* m_api;
    MORV_CDB_INTERFACE* m_cdb = nullptr;
    MORV_NET_UTIL* m_net = nullptr;
};

}  // namespace

TEST(RamMapUtilSbox, SboxReplacedByRamSlicesIsEquivalent)
{
    EXPECT_EQ(aes_sbox()[0x53], 0xEDu);
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_OBRAN, CDB_FAMILY_ZEPLA})
        for (int powered_up_one : {-1, 3}) {
            const std::string tag =
                std::string("sbox_") + cdb_get_family_info(family)->name + (powered_up_one >= 0 ? "_one" : "");
            SCOPED_TRACE(tag);
            RAMMAP_RUN run(family, read_sbox(family));
            SBOX_MAPPER(run).map(aes_sbox(), tag + ".mif", powered_up_one);
            const bool emulated = run.util()->counts_outputs_in_gain();
            EXPECT_EQ(run.count_nodes_with_suffix("_REGGED"), emulated ? 9 : 0);  // the register and 8 wrappers
            EXPECT_EQ(run.count_nodes_with_suffix("_ORER"), emulated ? 8 : 0);
            EXPECT_EQ(run.count_nodes_with_suffix("_RTM0"), !emulated && powered_up_one >= 0 ? 1 : 0);
            std::unique_ptr<CDB_ATOM_NETLIST> reference = read_sbox(family);
            if (powered_up_one >= 0) power_up_at_one(*reference, powered_up_one);
            const SEQ_VERDICT v = seq_check(*reference, run.netlist(), tag, true, 300);
            EXPECT_TRUE(v.equivalent()) << v.describe();
        }
}

}  // namespace ram_sbox_test
