// RAM contents of every cluster that cluster growth finds legal: each one
// encoded and checked against the host's evaluation of its cells and
// registers (ram_encode_check.h), and the S-box clusters against the S-box
// table. The S-box designs run always; the bundled benchmark designs
// (frisc, tseng, s38417) run when MORV_RAMMAP_ENCODING_BENCH is set.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "io/blif_reader.h"

#include "morv/rammap/morv_ram_encode.h"
#include "ram_cluster_run.h"
#include "ram_encode_check.h"
#include "rammap_run.h"
#include "scripted_slack.h"

namespace ram_encoding_growth_test {

namespace {

const int k_families[] = {CDB_FAMILY_BRK, CDB_FAMILY_OBRAN, CDB_FAMILY_ZEPLA};

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

std::string name_of(const CDB_ATOM_OTERM* o)
{
    return o->get_my_node()->get_instance_name()->get_short_hpath();
}

// What the encodings of one design came to.
struct ENCODED_DESIGN
{
    int clusters = 0;
    int sbox_bits = 0;  // S-box data bits compared with the table
    size_t largest_bits = 0;
    size_t largest_address = 0, largest_data = 0;
};

// S-box s reads its input xored with this.
const unsigned k_sbox_key[] = {0x00, 0x1B, 0x5A, 0xC3};

// A data bit "s<s>_f<j>" over eight address bits, each an input or an
// address register of the S-box, holds bit j of the S-box of its address;
// answers how many such bits were compared.
int check_sbox_columns(const MORV_CLUSTER_RAM_STATE_ENCODING& enc)
{
    std::vector<int> input_bit;
    for (const CDB_ATOM_OTERM* o : enc.get_address_oterms()) {
        const std::string name = name_of(o);  // "i<k>", or the address register "s<s>_a<k>"
        if (name.size() == 2 && name[0] == 'i') input_bit.push_back(name[1] - '0');
        else if (name.size() == 5 && name[0] == 's' && name.substr(2, 2) == "_a") input_bit.push_back(name[4] - '0');
        else return 0;
    }
    if (input_bit.size() != 8) return 0;
    int compared = 0;
    for (size_t k = 0; k < enc.get_data_oterms().size(); ++k) {
        const std::string name = name_of(enc.get_data_oterms()[k]);
        if (name.size() != 5 || name[0] != 's' || name.substr(2, 2) != "_f") continue;
        const unsigned key = k_sbox_key[name[1] - '0'];
        const int j = name[4] - '0';
        for (unsigned a = 0; a < 256; ++a) {
            unsigned x = 0;
            for (size_t b = 0; b < 8; ++b) x |= ((a >> b) & 1u) << input_bit[b];
            if (enc.get_contents()[k][a] != (((aes_sbox(x ^ key) >> j) & 1u) != 0)) {
                ADD_FAILURE() << name << " at address " << a;
                return compared;
            }
        }
        ++compared;
    }
    return compared;
}

// Every legal cluster of RAM size that growth finds, encoded and checked.
ENCODED_DESIGN encode_grown(RAMMAP_RUN& run)
{
    SCRIPTED_SLACK_SOURCE slack(run.api()->get_fsyn_timing());
    slack.set_default(1000, 1.0);
    ENCODED_DESIGN result;
    grow_every_seed(run.netlist(), 0.0, [&](MORV_RAM_MAP_AREA_CLUSTER_MANAGER& manager, MORV_CLUSTER* cluster) {
        const GROWN_CLUSTER grown = describe(cluster);
        if (grown.inputs < 1 || grown.inputs >= 20 || grown.bits > manager.m_max_bits) return;
        MORV_CLUSTER_RAM_STATE_ENCODING enc(run.util());
        enc.encode(cluster);
        ++result.clusters;
        const std::string verdict = check_encoding(enc);
        EXPECT_EQ(verdict, "") << "cluster of " << grown.nodes.size() << " nodes";
        result.sbox_bits += check_sbox_columns(enc);
        const size_t bits = enc.get_data_oterms().size() << enc.get_address_oterms().size();
        if (bits > result.largest_bits) {
            result.largest_bits = bits;
            result.largest_address = enc.get_address_oterms().size();
            result.largest_data = enc.get_data_oterms().size();
        }
    });
    return result;
}

void report(const std::string& design, int family, const ENCODED_DESIGN& e, double seconds)
{
    std::cout << design << " (" << cdb_get_family_info(family)->name << "): " << e.clusters
              << " clusters encoded, largest " << e.largest_address << " address x " << e.largest_data << " data bits, "
              << seconds << " s\n";
}

}  // namespace

// The S-box designs: every grown cluster's columns agree with the host's
// evaluation, and the four S-boxes' 32 data bits with the S-box table.
// The 4-input family's thousand clusters take a minute in the sanitizer
// build: it runs with the benchmark designs.
TEST(RamEncodingGrowth, SboxDesignsEveryGrownCluster)
{
    const bool all = std::getenv("MORV_RAMMAP_ENCODING_BENCH") != nullptr;
    for (int family : k_families) {
        if (family == CDB_FAMILY_ZEPLA && !all) continue;
        SCOPED_TRACE(cdb_get_family_info(family)->name);
        const std::string design = cdb_family_lut_size(family) == 6 ? "sbox_rom_k6" : "sbox_rom_k4";
        RAMMAP_RUN run(family,
                       BLIF_READER(family).read_file(std::string(MORV_SOURCE_DIR) + "/designs/" + design + ".blif"));
        const ENCODED_DESIGN e = encode_grown(run);
        EXPECT_GE(e.clusters, 4);
        EXPECT_GE(e.sbox_bits, 32);
        report(design, family, e, 0);
    }
}

// frisc, tseng and s38417 on each family: minutes in the sanitizer build,
// so run on request.
TEST(RamEncodingGrowth, BenchmarkDesignsEveryGrownCluster)
{
    if (!std::getenv("MORV_RAMMAP_ENCODING_BENCH")) GTEST_SKIP() << "MORV_RAMMAP_ENCODING_BENCH not set";
    for (const char* design : {"frisc", "tseng", "s38417"})
        for (int family : k_families) {
            SCOPED_TRACE(std::string(design) + " " + cdb_get_family_info(family)->name);
            RAMMAP_RUN run(family,
                           BLIF_READER(family).read_file(std::string(MORV_BENCH_DIR) + "/mcnc_k4/" + design + ".blif"));
            const auto start = std::chrono::steady_clock::now();
            const ENCODED_DESIGN e = encode_grown(run);
            report(design, family, e, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
}

}  // namespace ram_encoding_growth_test
