// Debug checkpoints and the optimisation signature of the facade.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "msg/msg.h"

#include "log_capture.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_api_debug_test {

namespace {

bool file_exists(const std::string& path)
{
    return static_cast<bool>(std::ifstream(path));
}

// A host whose placement-and-timing calls succeed, so that flows run.
class FLOW_ENV : public MORV_TEST_ENV
{
public:
    using MORV_TEST_ENV::MORV_TEST_ENV;
    MORV_ICP_RESULT run_icp(bool, bool, double, bool, bool, bool, bool) override
    {
        MORV_ICP_RESULT result;
        result.m_status = 1;
        return result;
    }
    int get_resource_count(int) override { return 1000; }
};

int live_states(MORV_TEST_ENV& env)
{
    int live = 0;
    for (int i = 0; i < env.m_snapshots.get_number_of_snapshots(); ++i)
        if (env.m_snapshots.get_snapshot_at_position(i)->m_id != -1) ++live;
    return live;
}

// ---------------------------------------------------------------- signature

std::string decoded_or_reject(const std::string& signature)
{
    std::string decoded = "untouched";
    if (!MORV_API::decode_optimization_signature(signature, &decoded)) {
        EXPECT_EQ(decoded, "") << signature;
        return "<rejected>";
    }
    return decoded;
}

TEST(MorvSignature, KnownTextsEncodeToTheirDigits)
{
    // 'A' is 0x41: running sum 0x5A + 0x41 = 0x9B, checksum 0x0041.
    EXPECT_EQ(MORV_API::encode_optimization_signature("A"), "MSIG9B0041");
    EXPECT_EQ(MORV_API::encode_optimization_signature(""), "MSIG0000");
    // Repeated characters do not repeat their digits: the sum runs on.
    EXPECT_EQ(MORV_API::encode_optimization_signature("AA"), "MSIG9BDC0082");
    EXPECT_EQ(MORV_API::encode_optimization_signature("TEST()|TEST()"), "MSIGAEF3469AC2EB67BB0053A7CFF8039E");
    EXPECT_TRUE(MORV_API::is_optimization_signature("MSIG"));
    EXPECT_FALSE(MORV_API::is_optimization_signature("MSI"));
    EXPECT_FALSE(MORV_API::is_optimization_signature("TEST()|TEST()"));
    EXPECT_FALSE(MORV_API::is_optimization_signature("msig9B0041"));
}

TEST(MorvSignature, EveryByteValueSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    std::string twice = all + all;  // the running sum wraps more than once
    for (const std::string& text : {all, twice, std::string(1, '\0'), std::string("TEST(NP=2:NI=3)|TEST()")}) {
        const std::string signature = MORV_API::encode_optimization_signature(text);
        EXPECT_EQ(signature.size(), 4 + 2 * text.size() + 4);
        EXPECT_EQ(decoded_or_reject(signature), text);
    }
}

TEST(MorvSignature, MalformedSignaturesAreRejectedWithNothingDecoded)
{
    EXPECT_EQ(decoded_or_reject("MSIG9B0041"), "A");
    EXPECT_EQ(decoded_or_reject("MSIG"), "<rejected>");         // marker only
    EXPECT_EQ(decoded_or_reject("MSIG004"), "<rejected>");      // not even a checksum
    EXPECT_EQ(decoded_or_reject("MSIG0000"), "<rejected>");     // a checksum and nothing to decode
    EXPECT_EQ(decoded_or_reject("MSIG9B00041"), "<rejected>");  // odd number of digits
    EXPECT_EQ(decoded_or_reject("MSIG9b0041"), "<rejected>");   // lower case
    EXPECT_EQ(decoded_or_reject("MSIG9B004a"), "<rejected>");   // lower case in the checksum
    EXPECT_EQ(decoded_or_reject("MSIG9G0041"), "<rejected>");   // not a hexadecimal digit
    EXPECT_EQ(decoded_or_reject("MSIG9B 041"), "<rejected>");
    EXPECT_EQ(decoded_or_reject("MSIG9B0042"), "<rejected>");  // bad checksum
    EXPECT_EQ(decoded_or_reject("MSIGAEF3469AC2EB67BB0053A7CFF8039F"), "<rejected>");
    EXPECT_EQ(decoded_or_reject("TEST()"), "<rejected>");  // no marker
    // Checksums that a decoder reading 'a' as a digit, or skipping one bad
    // digit of a pair, would find right.
    EXPECT_EQ(decoded_or_reject("MSIG6a0030"), "<rejected>");
    EXPECT_EQ(decoded_or_reject("MSIG6G0005"), "<rejected>");
    std::string with_nul = "MSIG9B0041";
    with_nul[5] = '\0';
    EXPECT_EQ(decoded_or_reject(with_nul), "<rejected>");
}

class MorvSignatureFlowTest : public MORV_CLEAN_STATE_TEST
{};

TEST_F(MorvSignatureFlowTest, ASignatureRunsWhatItsTextRunsAndABadOneRunsNothing)
{
    const std::string plain = "TEST(NP=2:NI=3)|TEST()";
    for (const std::string& test_string : {plain, MORV_API::encode_optimization_signature(plain)}) {
        MORV_TEST_HOST host(6);
        host.build_chain(3);
        host.ap.get_options().set_string(MORV_SETTING_TEST_STRING, test_string);
        FLOW_ENV env(&host.cmp);
        MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
        EXPECT_TRUE(expert->will_fsyn_run(FIT_EARLY_FSYN_FLOW)) << test_string;
        EXPECT_TRUE(expert->will_fsyn_run(LATE_FSYN_FLOW)) << test_string;
        const int before = MORV_ALGORITHM_BASE::get_run_counter();
        EXPECT_TRUE(expert->do_physical_synthesis(FIT_EARLY_FSYN_FLOW));
        EXPECT_EQ(MORV_ALGORITHM_BASE::get_run_counter(), before + 1) << test_string;
    }
    EXPECT_EQ(count_posted("EMORV_FSYN_INVALID_OPTIMIZATION_SIGNATURE_CIRCUIT_MATCH"), 0);

    for (const char* bad : {"MSIGAEF3469AC2EB67BB0053A7CFF8039F", "MSIG0000", "MSIGaef3"}) {
        msg_clear_posted_messages();
        MORV_TEST_HOST host(6);
        host.ap.get_options().set_string(MORV_SETTING_TEST_STRING, bad);
        MORV_TEST_ENV env(&host.cmp);
        MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
        for (int flow = SYN_EARLY_FSYN_FLOW; flow <= LATE_FSYN_FLOW; ++flow)
            EXPECT_FALSE(expert->will_fsyn_run(static_cast<e_fsyn_flow>(flow))) << bad;
        EXPECT_EQ(count_posted("EMORV_FSYN_INVALID_OPTIMIZATION_SIGNATURE_CIRCUIT_MATCH"), 1) << bad;
    }
}

TEST_F(MorvSignatureFlowTest, TheDecoderSwitchPrintsTheSignatureAndThePartsOfADecodedOne)
{
    const std::string plain = "TEST(NP=1)|TEST()";
    const std::string signature = MORV_API::encode_optimization_signature(plain);
    cfg_set_value("fsyn_debug_msg", "on");
    auto lines_of = [](const std::string& test_string) {
        MORV_LOG_CAPTURE log(2);
        MORV_TEST_HOST host(6);
        host.ap.get_options().set_string(MORV_SETTING_TEST_STRING, test_string);
        MORV_TEST_ENV env(&host.cmp);
        env.get_fsyn_expert();
        return log.lines();
    };
    auto has = [](const std::vector<std::string>& lines, const std::string& line) {
        for (const std::string& l : lines)
            if (l == line) return true;
        return false;
    };
    // A decoded signature keeps its parts to itself...
    std::vector<std::string> lines = lines_of(signature);
    EXPECT_TRUE(has(lines, "FSYN Optimization Signature = " + signature));
    EXPECT_FALSE(has(lines, "FSYN LATE  = TEST()"));
    // ... unless the decoder switch is on, which also prints a plain string's signature.
    cfg_set_value("fsyn_magic_decoder_ring", "on");
    lines = lines_of(signature);
    EXPECT_TRUE(has(lines, "FSYN LATE  = TEST()"));
    lines = lines_of(plain);
    EXPECT_TRUE(has(lines, "FSYN Optimization Signature = " + signature));
    EXPECT_TRUE(has(lines, "FSYN EARLY = TEST(NP=1)"));
}

// ---------------------------------------------------------------- checkpoints

class MorvCheckpointTest : public MORV_CLEAN_STATE_TEST
{
protected:
    void TearDown() override
    {
        for (const char* file : {"top.checkpoint_pre_stop", "top.checkpoint_stop"}) std::remove(file);
        MORV_CLEAN_STATE_TEST::TearDown();
    }
    static MORV_API* api_of(MORV_TEST_ENV& env)
    {
        return dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert())->get_fsyn_api();
    }
    // Checkpoints on with the netlist dumps, stopping at count.
    static void enable(int count, bool stop_late)
    {
        cfg_set_value("fsyn_enable_debug_checkpoints", "on");
        cfg_set_value("fsyn_enable_netlist_dump", "on");
        cfg_set_value("fsyn_debug_checkpoint_stop_count", std::to_string(count).c_str());
        if (stop_late) cfg_set_value("fsyn_debug_checkpoint_stop_late", "on");
    }
};

// Outside the early flows a stop-late checkpoint is in its stopping flow.
TEST_F(MorvCheckpointTest, TheStopPointDumpsSavesAndStops)
{
    enable(3, true);
    MORV_TEST_HOST host(6);
    host.build_chain(3);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    EXPECT_EQ(internal_error_of([&] { api->get_debug_checkpoint_save_id(); }), "fsyn_debug_stopped()");

    EXPECT_FALSE(api->debug_checkpoint("a.cpp", 1));
    EXPECT_FALSE(file_exists("top.checkpoint_pre_stop"));
    EXPECT_FALSE(api->debug_checkpoint("a.cpp", 2));
    EXPECT_TRUE(file_exists("top.checkpoint_pre_stop"));
    EXPECT_FALSE(file_exists("top.checkpoint_stop"));
    EXPECT_FALSE(api->fsyn_debug_stopped());
    EXPECT_EQ(live_states(env), 0);

    EXPECT_TRUE(api->debug_checkpoint("a.cpp", 3));
    EXPECT_TRUE(file_exists("top.checkpoint_stop"));
    EXPECT_TRUE(api->fsyn_debug_stopped());
    EXPECT_EQ(live_states(env), 1);
    const int id = api->get_debug_checkpoint_save_id();
    EXPECT_EQ(env.m_snapshots.get_snapshot_at_position(id)->m_id, id);

    // Past the stop nothing more is saved, and the stop holds.
    EXPECT_FALSE(api->debug_checkpoint("a.cpp", 4));
    EXPECT_EQ(api->get_debug_checkpoint_count(), 4);
    EXPECT_TRUE(api->fsyn_debug_stopped());
    EXPECT_EQ(live_states(env), 1);
}

TEST_F(MorvCheckpointTest, CheckpointsOutsideTheStoppingFlowOnlyCount)
{
    enable(2, false);  // stops in the early flow; no flow runs here
    MORV_TEST_HOST host(6);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(api->debug_checkpoint("b.cpp", i));
    EXPECT_EQ(api->get_debug_checkpoint_count(), 3);
    EXPECT_FALSE(api->fsyn_debug_stopped());
    EXPECT_FALSE(file_exists("top.checkpoint_pre_stop"));
    EXPECT_FALSE(file_exists("top.checkpoint_stop"));
    EXPECT_EQ(live_states(env), 0);
}

TEST_F(MorvCheckpointTest, SwitchedOffCheckpointsDoNothing)
{
    MORV_TEST_HOST host(6);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    EXPECT_FALSE(api->debug_checkpoint("c.cpp", 1));
    EXPECT_EQ(api->get_debug_checkpoint_count(), 0);
    EXPECT_FALSE(api->fsyn_debug_stopped());
    EXPECT_EQ(internal_error_of([&] { api->get_debug_checkpoint_save_id(); }), "m_enable_debug_checkpoints");
}

TEST_F(MorvCheckpointTest, MrlCountsOnlyAllowedCheckpointsAndDumpsWithoutSaving)
{
    enable(2, true);
    MORV_TEST_HOST host(24);
    host.build_chain(2);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    EXPECT_FALSE(api->debug_checkpoint("d.cpp", 1));
    EXPECT_EQ(api->get_debug_checkpoint_count(), 0);
    EXPECT_FALSE(api->debug_checkpoint("d.cpp", 2, true));
    EXPECT_TRUE(file_exists("top.checkpoint_pre_stop"));
    EXPECT_TRUE(api->debug_checkpoint("d.cpp", 3, true));
    EXPECT_TRUE(file_exists("top.checkpoint_stop"));
    EXPECT_TRUE(api->fsyn_debug_stopped());
    EXPECT_EQ(env.m_snapshots.get_number_of_snapshots(), 0);
    EXPECT_EQ(api->get_debug_checkpoint_save_id(), -1);  // stop without a netlist to restore
}

TEST_F(MorvCheckpointTest, StopCountZeroStopsAtOnceWithoutASavedNetlist)
{
    enable(0, true);
    MORV_TEST_HOST host(6);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    EXPECT_TRUE(api->fsyn_debug_stopped());
    EXPECT_EQ(api->get_debug_checkpoint_save_id(), -1);
    EXPECT_FALSE(api->debug_checkpoint("e.cpp", 1));
    EXPECT_EQ(live_states(env), 0);
}

// The third checkpoint of the early flow (before the second pass's first
// iteration) is the stop: the flow dumps, saves, restores the saved netlist
// at the end of the pass and runs no later pass; LATE does not run at all.
TEST_F(MorvCheckpointTest, AnEarlyFlowStopsAtItsCheckpointAndLeavesNoState)
{
    enable(3, false);
    MORV_TEST_HOST host(6);
    host.build_chain(3);
    host.ap.get_options().set_string(MORV_SETTING_TEST_STRING, "TEST(NP=4)|TEST()");
    FLOW_ENV env(&host.cmp);
    MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
    EXPECT_FALSE(expert->will_fsyn_run(LATE_FSYN_FLOW));
    MORV_LOG_CAPTURE log(100);
    EXPECT_TRUE(expert->do_physical_synthesis(FIT_EARLY_FSYN_FLOW));
    EXPECT_TRUE(file_exists("top.checkpoint_pre_stop"));
    EXPECT_TRUE(file_exists("top.checkpoint_stop"));
    MORV_API* api = api_of(env);
    // Two checkpoints in each of passes 0 and 1, one in the sweep after the
    // stop, then the pass loop ends.
    EXPECT_EQ(api->get_debug_checkpoint_count(), 5);
    EXPECT_EQ(live_states(env), 0);
    int restores_from_checkpoint = 0, passes = 0;
    for (const std::string& line : log.lines()) {
        restores_from_checkpoint += line == "DEBUG: Restoring netlist from checkpoint!";
        passes += line.rfind("Pass ", 0) == 0 && line.find("is terminated") != std::string::npos;
    }
    EXPECT_EQ(restores_from_checkpoint, 1);
    EXPECT_EQ(passes, 2);
}

}  // namespace

}  // namespace morv_api_debug_test
