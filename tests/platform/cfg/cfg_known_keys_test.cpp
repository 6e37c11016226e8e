// The registry of keys the configuration service is asked for: every key a
// reader in the tree asks for by name is in it, with the kind that reader
// takes, and values are checked by that kind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cfg/cfg_known_keys.h"

namespace cfg_known_keys_test {

namespace {

std::string slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct KEY_READ
{
    std::string reader;  // "is_on", "get_int_value" or "get_value"
    std::string key;
};

// The calls in `text` that ask the configuration service for a key written
// out as a string.
std::vector<KEY_READ> key_reads(const std::string& text)
{
    std::vector<KEY_READ> reads;
    for (const char* reader : {"is_on", "get_int_value", "get_value"}) {
        const std::string call = std::string("cfg_") + reader + "(";
        for (size_t at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
            size_t quote = text.find_first_not_of(" \t\n", at + call.size());
            if (quote == std::string::npos || text[quote] != '"') continue;
            const size_t end = text.find('"', quote + 1);
            if (end != std::string::npos) reads.push_back({reader, text.substr(quote + 1, end - quote - 1)});
        }
    }
    return reads;
}

// A reader added anywhere without registering its key fails here, naming
// the file; so does one that reads a registered key as another kind.
TEST(CfgKnownKeys, EveryKeyReadByNameIsRegisteredWithItsReadersKind)
{
    int reads = 0;
    for (const char* layer : {"platform", "db", "host", "tools"}) {
        const std::filesystem::path root = std::filesystem::path(MORV_SOURCE_DIR) / layer;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
            for (const KEY_READ& read : key_reads(slurp(entry.path()))) {
                ++reads;
                SCOPED_TRACE(entry.path().string() + ": cfg_" + read.reader + "(\"" + read.key + "\")");
                const CFG_KNOWN_KEY* known = cfg_find_known_key(read.key);
                ASSERT_NE(known, nullptr) << "not registered in cfg/cfg_known_keys.cpp";
                if (read.reader == "is_on") {
                    EXPECT_EQ(known->kind, CFG_KEY_KIND::SWITCH);
                } else if (read.reader == "get_int_value") {
                    EXPECT_EQ(known->kind, CFG_KEY_KIND::INT);
                }
            }
        }
    }
    EXPECT_GT(reads, 50);
    std::set<std::string> names;
    for (const CFG_KNOWN_KEY& k : cfg_known_keys()) EXPECT_TRUE(names.insert(k.name).second) << k.name << " twice";
}

TEST(CfgKnownKeys, NamesMatchExactlyOrByTheirFamilysPrefix)
{
    for (const char* key : {"fsyn_use_drc", "ssyn_fsyn", "FSYN_PRINT_ATOM_MOD_STATS_VERBOSE", "tdc_clock_period_ps",
                            "tdc_clock_period_ps.clk_a", "tst_regtest_mode"})
        EXPECT_NE(cfg_find_known_key(key), nullptr) << key;
    EXPECT_EQ(cfg_find_known_key("tdc_clock_period_ps.clk_a")->kind, CFG_KEY_KIND::INT);
    // A family's prefix alone names no clock.
    for (const char* key : {"fsyn_no_such_switch", "tdc_clock_period_ps.", "tdc_clock_period_psx", "FSYN_USE_DRC",
                            "fsyn_use_drc ", "fsyn_", "", "tdc_clock_period"})
        EXPECT_EQ(cfg_find_known_key(key), nullptr) << "'" << key << "'";
}

TEST(CfgKnownKeys, ValuesAreCheckedByTheirKeysKind)
{
    struct CASE
    {
        const char* key;
        std::string value;
        std::string fault;  // "" when the value is taken
    };
    const CASE cases[] = {
        {"fsyn_use_drc", "on", ""},
        {"fsyn_use_drc", " OFF ", ""},
        {"fsyn_use_drc", "True", ""},
        {"fsyn_use_drc", "0", ""},
        {"fsyn_use_drc", "yes", "takes on or off (or true/false, 1/0), found 'yes'"},
        {"fsyn_use_drc", "", "takes on or off (or true/false, 1/0), found ''"},
        {"fsyn_use_drc", "2", "takes on or off (or true/false, 1/0), found '2'"},
        {"tdc_clock_period_ps", "4000", ""},
        {"tdc_clock_period_ps", "1", ""},
        {"tdc_clock_period_ps", "1000000000", ""},
        {"tdc_clock_period_ps", "0", "takes a whole number from 1 to 1000000000, found '0'"},
        {"tdc_clock_period_ps", "-5", "takes a whole number from 1 to 1000000000, found '-5'"},
        {"tdc_clock_period_ps", "5000x", "takes a whole number from 1 to 1000000000, found '5000x'"},
        {"tdc_clock_period_ps", "1000000001", "takes a whole number from 1 to 1000000000, found '1000000001'"},
        {"tdc_clock_period_ps.clk", "99999999999", "takes a whole number from 1 to 1000000000, found '99999999999'"},
        {"tdc_input_delay_ps", "-20", ""},
        {"tdc_input_delay_ps", "2.5", "takes a whole number, found '2.5'"},
        {"fsyn_debug_checkpoint_stop_count", "", "takes a whole number, found ''"},
        {"fsyn_overuse_ratio", "0.9", ""},
        {"fsyn_overuse_ratio", " 1e-3 ", ""},
        {"fsyn_overuse_ratio", "-2", ""},
        {"fsyn_overuse_ratio", "abc", "takes a number, found 'abc'"},
        {"fsyn_overuse_ratio", "0.9x", "takes a number, found '0.9x'"},
        {"fsyn_overuse_ratio", "nan", "takes a number, found 'nan'"},
        {"fsyn_overuse_ratio", "inf", "takes a number, found 'inf'"},
        {"fsyn_overuse_ratio", "1e999", "takes a number, found '1e999'"},
        {"fsyn_overuse_ratio", "", "takes a number, found ''"},
        {"fsyn_tune_work_string_fast", "RTM(NP=1);LIR()", ""},
        {"fsyn_tune_work_string_fast", "", ""},
        // A socket path must fit the system's address field.
        {"fsyn_plumrix_endpoint", std::string(107, 'p'), ""},
        {"fsyn_plumrix_endpoint", std::string(108, 'p'),
         "takes a text of at most 107 characters, found '" + std::string(40, 'p') + "'"},
    };
    for (const CASE& c : cases) {
        const CFG_KNOWN_KEY* known = cfg_find_known_key(c.key);
        ASSERT_NE(known, nullptr) << c.key;
        EXPECT_EQ(cfg_check_value(*known, c.value), c.fault) << c.key << "=" << c.value;
    }
}

}  // namespace

}  // namespace cfg_known_keys_test
