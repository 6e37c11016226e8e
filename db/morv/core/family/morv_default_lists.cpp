// The default algorithm lists of every family, run by run.

#include "morv/core/family/morv_default_lists.h"

#include "morv/core/morv_expert.h"

namespace {

template <int N>
constexpr MORV_RUN_LIST list_of(const MORV_LIST_RUN (&runs)[N])
{
    return MORV_RUN_LIST{runs, N};
}

constexpr MORV_RUN_LIST NO_LIST = {nullptr, 0};

constexpr unsigned ALWAYS = MORV_LIST_RUN_ALWAYS;
// The "(x)" mark: left out while the xICP flag is set.
constexpr unsigned X = MORV_LIST_RUN_WITHOUT_XICP;
constexpr unsigned XICP = MORV_LIST_RUN_WITH_XICP;

// Parameter strings that recur.
constexpr const char* R10 = "SKEW_RTM=1:NP=1:NI=10:HCI=10:NO_LB=1:HC_CUT=4:MAX_AGE=4";
constexpr const char* R15 = "SKEW_RTM=1:NP=1:NI=15:HCI=15:NO_LB=1:HC_CUT=8:MAX_AGE=4";
constexpr const char* R10F = "NO_LB=1:NI=10:SKEW_RTM=1:HCI=10:NP=1:SRT=0.125:HC_CUT=4:MAX_AGE=4";
constexpr const char* SF = "ASR=0.12:NI=4:HCI=4:AB=4:DSR=0.015";
constexpr const char* R10P5 = "SKEW_RTM=1:NP=1:NI=10:HCI=10:NO_LB=1:REG_PACK=1:HC_CUT=4:MAX_AGE=4:EFFORT=0.5";
constexpr const char* R15P5 = "SKEW_RTM=1:NP=1:NI=15:HCI=15:NO_LB=1:REG_PACK=1:HC_CUT=8:MAX_AGE=4:EFFORT=0.5";
constexpr const char* R5 = "SKEW_RTM=1:NP=1:NI=5:HCI=5:NO_LB=1";
constexpr const char* R5P = "SKEW_RTM=1:NP=1:NI=5:HCI=5:NO_LB=1:REG_PACK=1";
constexpr const char* R5F = "NO_LB=1:NI=5:SKEW_RTM=1:HCI=5:NP=1:SRT=0.125";
constexpr const char* S20 = "ASR=0.20:NI=3:HCI=2:AB=4:DSR=0.03";
constexpr const char* R10S = "NO_LB=1:NI=10:SKEW_RTM=1:HCI=10:NP=1:SRT=0.125";
constexpr const char* RESYN_EXTRA = "MV=12:ML=10000";

// ---------------------------------------------------------------- shared

constexpr MORV_LIST_RUN CLUSTER_RETRY[] = {
    {RESPLIT_ALGORITHM, "NI=2:NP=2:AGG=1:FOM=-50000", ALWAYS},
    {RAM_MAP_ALGORITHM, "NI=1:FOM=-50000", ALWAYS},
    {RESPLIT_ALGORITHM, "NI=2:NP=2:AGG=1:FOM=-50000", ALWAYS},
};

constexpr MORV_LIST_RUN PIPE_ASYNC_FIRST[] = {{PIPE_ASYNC_ALGORITHM, "", ALWAYS}};

constexpr MORV_LIST_RUN LATE_EXTRA_A[] = {
    {PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},           {RTM_ALGORITHM, R15P5, ALWAYS},
    {RESYN_ALGORITHM, "MV=12:ML=10000:EFFORT=0.5", ALWAYS}, {REP_ALGORITHM, "NP=1:NI=4:EFFORT=0.4", ALWAYS},
    {RESPLIT_ALGORITHM, "NI=2:NP=2:EFFORT=0.5", ALWAYS},
};
constexpr MORV_LIST_RUN LATE_NORMAL_A[] = {
    {PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},
    {RTM_ALGORITHM, R10P5, ALWAYS},
    {RESYN_ALGORITHM, "EFFORT=0.5", ALWAYS},
    {REP_ALGORITHM, "NP=1:NI=1:EFFORT=0.5", ALWAYS},
    {RESPLIT_ALGORITHM, "NI=2:NP=2:EFFORT=0.2", ALWAYS},
};
constexpr MORV_LIST_RUN PIPE_ASYNC_04[] = {{PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS}};
constexpr MORV_LIST_RUN PIPE_ASYNC_01[] = {{PIPE_ASYNC_ALGORITHM, "EFFORT=0.1", ALWAYS}};

// Early lists of the 6-input families but OBRAN.
constexpr MORV_LIST_RUN EARLY_FAST_6[] = {{RTM_ALGORITHM, R10F, ALWAYS}, {RESYN_ALGORITHM, SF, ALWAYS}};
constexpr MORV_LIST_RUN EARLY_NORMAL_6[] = {{RTM_ALGORITHM, R10, ALWAYS}, {RESYN_ALGORITHM, "", ALWAYS}};
constexpr MORV_LIST_RUN EARLY_EXTRA[] = {
    {RTM_ALGORITHM, R15, ALWAYS}, {RESYN_ALGORITHM, RESYN_EXTRA, ALWAYS}, {RTM_ALGORITHM, R15, ALWAYS}};

// The circuit-characteristic list of RZK and OBRAN.
constexpr MORV_LIST_RUN CHARACTERISTIC_X[] = {
    {PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},   {RTM_ALGORITHM, R10P5, X},
    {RESYN_ALGORITHM, "EFFORT=0.5", ALWAYS},        {REP_ALGORITHM, "NP=1:NI=1:EFFORT=0.5", ALWAYS},
    {RESPLIT_ALGORITHM, "NI=2:NP=2:EFFORT=0.2", X},
};
// The NORMAL LATE list of RZK and OBRAN.
constexpr MORV_LIST_RUN LATE_NORMAL_X[] = {
    {PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},
    {RTM_ALGORITHM, R10P5, ALWAYS},
    {RESYN_ALGORITHM, "EFFORT=0.5", X},
    {REP_ALGORITHM, "NP=1:NI=1:EFFORT=0.5", ALWAYS},
    {RESPLIT_ALGORITHM, "NI=2:NP=2:EFFORT=0.2", X},
};

// ---------------------------------------------------------------- BRK

constexpr MORV_LIST_RUN BRK_EARLY_FAST[] = {
    {PIPE_ASYNC_ALGORITHM, "", ALWAYS}, {RTM_ALGORITHM, R10F, ALWAYS}, {RESYN_ALGORITHM, SF, ALWAYS}};
constexpr MORV_LIST_RUN BRK_EARLY_NORMAL[] = {
    {PIPE_ASYNC_ALGORITHM, "", ALWAYS}, {RTM_ALGORITHM, R10, ALWAYS}, {RESYN_ALGORITHM, "", ALWAYS}};
constexpr MORV_LIST_RUN BRK_EARLY_EXTRA[] = {{PIPE_ASYNC_ALGORITHM, "", ALWAYS},
                                             {RTM_ALGORITHM, R15, ALWAYS},
                                             {RESYN_ALGORITHM, RESYN_EXTRA, ALWAYS},
                                             {RTM_ALGORITHM, R15, ALWAYS}};

// ---------------------------------------------------------------- TEV

constexpr MORV_LIST_RUN TEV_EARLY_FAST[] = {
    {PIPE_ASYNC_ALGORITHM, "", ALWAYS}, {RTM_ALGORITHM, R5F, ALWAYS}, {RESYN_ALGORITHM, S20, ALWAYS}};
constexpr MORV_LIST_RUN TEV_EARLY_NORMAL[] = {
    {PIPE_ASYNC_ALGORITHM, "", ALWAYS}, {RTM_ALGORITHM, R5, ALWAYS}, {RESYN_ALGORITHM, "", ALWAYS}};
constexpr MORV_LIST_RUN TEV_EARLY_EXTRA[] = {{PIPE_ASYNC_ALGORITHM, "", ALWAYS},
                                             {RTM_ALGORITHM, R10S, ALWAYS},
                                             {RESYN_ALGORITHM, RESYN_EXTRA, ALWAYS},
                                             {RTM_ALGORITHM, R10S, ALWAYS}};
// Also ZEPLA's circuit-characteristic and NORMAL LATE lists.
constexpr MORV_LIST_RUN TEV_CHARACTERISTIC[] = {{PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},
                                                {RTM_ALGORITHM, R5P, ALWAYS},
                                                {RESYN_ALGORITHM, "", ALWAYS},
                                                {REP_ALGORITHM, "NP=1:NI=1", ALWAYS}};
constexpr MORV_LIST_RUN TEV_LATE_NORMAL[] = {
    {PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},
    {RTM_ALGORITHM, R5P, ALWAYS},
    {RESYN_ALGORITHM, "", ALWAYS},
    {REP_ALGORITHM, "NP=1:NI=1", ALWAYS},
    {RESPLIT_ALGORITHM, "NI=2:NP=2:EFFORT=0.2", ALWAYS},
};
constexpr MORV_LIST_RUN TEV_LATE_EXTRA[] = {
    {PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},
    {RTM_ALGORITHM, "SKEW_RTM=1:NP=1:NI=10:HCI=10:NO_LB=1:REG_PACK=1", ALWAYS},
    {RESYN_ALGORITHM, "MV=12:ML=10000:EFFORT=0.5", ALWAYS},
    {REP_ALGORITHM, "NP=1:NI=4:EFFORT=0.4", ALWAYS},
    {RESPLIT_ALGORITHM, "NI=2:NP=2:EFFORT=0.5", ALWAYS},
};

// ---------------------------------------------------------------- ZEPLA

constexpr MORV_LIST_RUN ZEPLA_EARLY_FAST[] = {{RTM_ALGORITHM, R5F, ALWAYS}, {RESYN_ALGORITHM, S20, ALWAYS}};
constexpr MORV_LIST_RUN ZEPLA_EARLY_NORMAL[] = {{RTM_ALGORITHM, R5, ALWAYS}, {RESYN_ALGORITHM, "", ALWAYS}};
constexpr MORV_LIST_RUN ZEPLA_LATE_EXTRA[] = {
    {PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},
    {RTM_ALGORITHM, R15P5, ALWAYS},
    {RESYN_ALGORITHM, "MV=12:ML=10000:EFFORT=0.5", ALWAYS},
    {REP_ALGORITHM, "NP=1:NI=4:EFFORT=0.4", ALWAYS},
};

// ---------------------------------------------------------------- RZK and OBRAN

constexpr MORV_LIST_RUN RZK_EARLY_NORMAL[] = {{RTM_ALGORITHM, R10, ALWAYS},
                                              {RESYN_ALGORITHM, "", ALWAYS},
                                              {RTM_ALGORITHM, R10, XICP},
                                              {RESYN_ALGORITHM, "", XICP}};

// The FAST string carries SRT twice; the parameter map decides which counts.
constexpr MORV_LIST_RUN OBRAN_EARLY_FAST[] = {
    {RTM_ALGORITHM, "NO_LB=1:NI=10:SKEW_RTM=1:HCI=10:NP=1:SRT=0.125:HC_CUT=4:MAX_AGE=4:SRT=0.200", ALWAYS},
    {RESYN_ALGORITHM, SF, ALWAYS}};
constexpr MORV_LIST_RUN OBRAN_EARLY_NORMAL[] = {
    {RTM_ALGORITHM, "SKEW_RTM=1:NP=1:NI=10:HCI=10:NO_LB=1:HC_CUT=4:MAX_AGE=4:SRT=0.200", ALWAYS},
    {RESYN_ALGORITHM, "", ALWAYS},
    {RTM_ALGORITHM, R10, XICP},
    {RESYN_ALGORITHM, "", XICP}};
constexpr MORV_LIST_RUN OBRAN_LATE_CUTOFF[] = {
    {PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},
    {RESPLIT_ALGORITHM, "NI=2:NP=2:EFFORT=0.2", MORV_LIST_RUN_WITHOUT_XICP | MORV_LIST_RUN_RESPLIT_ALLOWED},
    {RESPLIT_ALGORITHM, "NI=2:NP=1:EFFORT=0.2", MORV_LIST_RUN_WITH_XICP | MORV_LIST_RUN_RESPLIT_ALLOWED},
};
constexpr MORV_LIST_RUN OBRAN_LATE_FAST[] = {{PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},
                                             {REP_ALGORITHM, "NP=1:NI=1:EFFORT=0.5", ALWAYS},
                                             {RESPLIT_ALGORITHM, "NI=2:NP=2:EFFORT=0.2", X}};

// ---------------------------------------------------------------- UVO

constexpr MORV_LIST_RUN UVO_FIT_EARLY[] = {
    {RTM_ALGORITHM, "NP=2:SRT=0.15:NI=8:HCI=4", ALWAYS},
    {RTM_ALGORITHM, "NP=2:SRT=0.075:NI=15:HCI=2", ALWAYS},
    {RESYN_ALGORITHM, "", ALWAYS},
    {RTM_ALGORITHM, "NP=3:SRT=0.125:NI=9:HCI=2", ALWAYS},
    {RTM_ALGORITHM, "NP=3:SRT=0.05:NI=8:HCI=2", ALWAYS},
    {RESYN_ALGORITHM, "", ALWAYS},
};
constexpr MORV_LIST_RUN UVO_CHARACTERISTIC[] = {
    {PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},
    {RTM_ALGORITHM, "", ALWAYS},
    {RWR_ALGORITHM, "", ALWAYS},
    {REP_ALGORITHM, "NI=3:EFFORT=0.175", ALWAYS},
    {REG_UNPACK_ALGORITHM, "", ALWAYS},
    {RWR_ALGORITHM, "NI=2:EFFORT=1.5", ALWAYS},
    {RESPLIT_ALGORITHM, "NP=2:NI=1:EFFORT=0.2", ALWAYS},
};
constexpr MORV_LIST_RUN UVO_LATE_FAST[] = {{PIPE_ASYNC_ALGORITHM, "EFFORT=0.1", ALWAYS},
                                           {REP_ALGORITHM, "EFFORT=0.125:NI=1", ALWAYS},
                                           {RESPLIT_ALGORITHM, "EFFORT=0.2:NI=1:NP=2", ALWAYS}};
constexpr MORV_LIST_RUN UVO_LATE_NORMAL[] = {{PIPE_ASYNC_ALGORITHM, "EFFORT=0.4", ALWAYS},
                                             {BDD_SYN_ALGORITHM, "I=1:SRB=0.15:SRE=0.06:AAB=1.34:AAE=1.67", ALWAYS},
                                             {REP_ALGORITHM, "NI=2:EFFORT=0.4", ALWAYS},
                                             {REG_UNPACK_ALGORITHM, "", ALWAYS}};
constexpr MORV_LIST_RUN UVO_LATE_EXTRA[] = {
    {PIPE_ASYNC_ALGORITHM, "EFFORT=0.6", ALWAYS},
    {RTM_ALGORITHM, "EFFORT=0.75", ALWAYS},
    {RWR_ALGORITHM, "NI=2:EFFORT=0.1725:ICP_AT_END=0", ALWAYS},
    {REP_ALGORITHM, "NI=4:EFFORT=0.25", ALWAYS},
    {REG_UNPACK_ALGORITHM, "EFFORT=0.75", ALWAYS},
    {RTM_ALGORITHM, "ALG=GREEDY:NI=4:EFFORT=0.75", ALWAYS},
    {RWR_ALGORITHM, "NI=2:EFFORT=0.1725:ICP_AT_END=0", ALWAYS},
    {REP_ALGORITHM, "NI=2:EFFORT=0.25", ALWAYS},
    {REG_UNPACK_ALGORITHM, "EFFORT=0.1", ALWAYS},
    {RTM_ALGORITHM, "ALG=GREEDY:NI=4:EFFORT=0.1", ALWAYS},
    {RWR_ALGORITHM, "NI=2:EFFORT=0.1725:ICP_AT_END=0", ALWAYS},
    {RESPLIT_ALGORITHM, "NI=2:NP=2:EFFORT=0.2", ALWAYS},
};

// ---------------------------------------------------------------- MRL

constexpr MORV_LIST_RUN MRL_FIT_EARLY[] = {
    {PIPE_ASYNC_ALGORITHM, "", ALWAYS},   {RTM_ALGORITHM, "", ALWAYS},
    {RESYN_ALGORITHM, "", ALWAYS},        {RTM_ALGORITHM, "HCI=2", ALWAYS},
    {LIR_ALGORITHM, "NP=1:NI=1", ALWAYS}, {INV_PUSH_ALGORITHM, "NP=5:SRT=0.20", ALWAYS},
};

constexpr MORV_EFFORT_LISTS NO_EFFORT_LISTS = {NO_LIST, NO_LIST, NO_LIST, true};

constexpr MORV_EFFORT_LISTS by_effort(MORV_RUN_LIST fast, MORV_RUN_LIST normal, MORV_RUN_LIST extra)
{
    return MORV_EFFORT_LISTS{fast, normal, extra, false};
}

constexpr MORV_EFFORT_LISTS any_effort(MORV_RUN_LIST list)
{
    return MORV_EFFORT_LISTS{list, list, list, true};
}

}  // namespace

const MORV_RUN_LIST MORV_CLUSTER_RETRY_LIST = list_of(CLUSTER_RETRY);

// clang-format off
// Fields: SYN_EARLY, density prologue, cluster retry, LIR first, FIT_EARLY
// head; early lists; effort adaptation with its thresholds, circuit-
// characteristic list; LATE lists; LAB overuse cut-off with its list, LEs
// per LAB and free fraction; early stability check with its threshold.
const MORV_DEFAULT_LISTS MORV_BRK_LISTS = {false, true, true, false, NO_LIST,
    by_effort(list_of(BRK_EARLY_FAST), list_of(BRK_EARLY_NORMAL), list_of(BRK_EARLY_EXTRA)),
    true, 0.0, 1.0, list_of(LATE_NORMAL_A),
    by_effort(list_of(PIPE_ASYNC_04), list_of(LATE_NORMAL_A), list_of(LATE_EXTRA_A)),
    false, NO_LIST, 0, 0.0, false, 0.0};
const MORV_DEFAULT_LISTS MORV_TEV_LISTS = {false, true, true, false, NO_LIST,
    by_effort(list_of(TEV_EARLY_FAST), list_of(TEV_EARLY_NORMAL), list_of(TEV_EARLY_EXTRA)),
    true, 0.0, 1.0, list_of(TEV_CHARACTERISTIC),
    by_effort(list_of(PIPE_ASYNC_01), list_of(TEV_LATE_NORMAL), list_of(TEV_LATE_EXTRA)),
    false, NO_LIST, 0, 0.0, false, 0.0};
const MORV_DEFAULT_LISTS MORV_ZEPLA_LISTS = {true, true, true, false, list_of(PIPE_ASYNC_FIRST),
    by_effort(list_of(ZEPLA_EARLY_FAST), list_of(ZEPLA_EARLY_NORMAL), list_of(EARLY_EXTRA)),
    true, 0.0, 1.0, list_of(TEV_CHARACTERISTIC),
    by_effort(list_of(PIPE_ASYNC_01), list_of(TEV_CHARACTERISTIC), list_of(ZEPLA_LATE_EXTRA)),
    false, NO_LIST, 0, 0.0, false, 0.0};
const MORV_DEFAULT_LISTS MORV_KESTLIN_LISTS = {true, true, true, false, list_of(PIPE_ASYNC_FIRST),
    by_effort(list_of(EARLY_FAST_6), list_of(EARLY_NORMAL_6), list_of(EARLY_EXTRA)),
    true, 0.0, 1.0, list_of(LATE_NORMAL_A),
    by_effort(list_of(PIPE_ASYNC_04), list_of(LATE_NORMAL_A), list_of(LATE_EXTRA_A)),
    false, NO_LIST, 0, 0.0, false, 0.0};
const MORV_DEFAULT_LISTS MORV_RZK_LISTS = {true, true, true, false, list_of(PIPE_ASYNC_FIRST),
    by_effort(list_of(EARLY_FAST_6), list_of(RZK_EARLY_NORMAL), list_of(EARLY_EXTRA)),
    true, 0.0, 1.0, list_of(CHARACTERISTIC_X),
    by_effort(list_of(PIPE_ASYNC_04), list_of(LATE_NORMAL_X), list_of(LATE_EXTRA_A)),
    false, NO_LIST, 0, 0.0, false, 0.0};
const MORV_DEFAULT_LISTS MORV_OBRAN_LISTS = {true, true, true, false, list_of(PIPE_ASYNC_FIRST),
    by_effort(list_of(OBRAN_EARLY_FAST), list_of(OBRAN_EARLY_NORMAL), list_of(EARLY_EXTRA)),
    true, 0.12, 1.0, list_of(CHARACTERISTIC_X),
    by_effort(list_of(OBRAN_LATE_FAST), list_of(LATE_NORMAL_X), list_of(LATE_EXTRA_A)),
    true, list_of(OBRAN_LATE_CUTOFF), 20, 0.16, false, 0.0};
const MORV_DEFAULT_LISTS MORV_UVO_LISTS = {false, false, false, false, list_of(UVO_FIT_EARLY),
    NO_EFFORT_LISTS,
    true, 0.15, 0.7, list_of(UVO_CHARACTERISTIC),
    by_effort(list_of(UVO_LATE_FAST), list_of(UVO_LATE_NORMAL), list_of(UVO_LATE_EXTRA)),
    false, NO_LIST, 0, 0.0, true, 0.038};
const MORV_DEFAULT_LISTS MORV_MRL_LISTS = {false, false, false, true, list_of(MRL_FIT_EARLY),
    NO_EFFORT_LISTS,
    false, 0.0, 0.0, list_of(PIPE_ASYNC_04),
    any_effort(list_of(PIPE_ASYNC_04)),
    false, NO_LIST, 0, 0.0, false, 0.0};
// clang-format on
