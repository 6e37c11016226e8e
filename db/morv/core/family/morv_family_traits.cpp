#include "morv/core/family/morv_family_traits.h"

#include "cdb/cdb_types.h"
#include "dev/dev_device.h"

#include "morv/core/family/morv_default_lists.h"
#include "morv/core/family/morv_expert_family.h"
#include "morv/core/morv_api.h"
#include "morv/debug/morv_manual.h"
#include "morv/debug/morv_util.h"
#include "morv/dup/morv_pipe_async.h"
#include "morv/rammap/morv_ram_map.h"
#include "morv/dup/morv_rep_family.h"
#include "morv/dup/morv_pipeline.h"
#include "morv/dup/morv_reg_unpack.h"
#include "morv/dup/morv_resplit.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_net_util_family.h"
#include "morv/netlist/morv_netlist_sweeper_family.h"
#include "morv/resyn/morv_bdd_syn_family.h"
#include "morv/resyn/morv_resyn_family.h"
#include "morv/resyn/morv_rwr_family.h"
#include "morv/retiming/morv_retiming_family.h"
#include "morv/retiming/morv_retiming_mrl.h"
#include "morv/rtm/morv_rtm.h"

namespace {

// ---------------------------------------------------------------- factories

template <typename NET_UTIL>
MORV_OWNER<MORV_NET_UTIL> make_net_util(CDB_ATOM_NETLIST* netlist, MORV_API* api)
{
    return MORV_MAKE_OWNER(NET_UTIL, netlist, api);
}

template <typename LOG>
MORV_OWNER<MORV_LOG> make_log(MORV_API* api)
{
    return MORV_MAKE_OWNER(LOG, api);
}

template <typename LOG>
MORV_OWNER<MORV_LOG> copy_log(const MORV_LOG& log, MORV_API* api)
{
    return MORV_MAKE_OWNER(LOG, static_cast<const LOG&>(log), api);
}

template <typename SWEEPER>
MORV_OWNER<MORV_NETLIST_SWEEPER> make_sweeper(MORV_API* api)
{
    return MORV_MAKE_OWNER(SWEEPER, api);
}

template <int FAMILY>
MORV_OWNER<MORV_EXPERT_INTERFACE> make_driver(MORV_ENV* env)
{
    return MORV_MAKE_OWNER(MORV_EXPERT_FAMILY<FAMILY>, env);
}

// ---------------------------------------------------------------- flow drivers

// The class each family builds for an algorithm id, in id order.
// clang-format off
const char* const BRK_ALGORITHMS[ALGORITHM_END] = {
    "MORV_RETIMING_BRK", "MORV_REMUX", "MORV_RWR_BRK", nullptr, "MORV_REP_BRK", "MORV_TEST", "MORV_REG_UNPACK",
    "MORV_BDD_SYN_BRK", "MORV_RAM_MAP", "MORV_PIPE_ASYNC", "MORV_RESPLIT", "", "", "MORV_RESYN_BRK",
    "MORV_SAVE_RESTORE", "MORV_UTIL", "MORV_MANUAL", nullptr};
const char* const MRL_ALGORITHMS[ALGORITHM_END] = {
    "MORV_RETIMING_MRL", "MORV_REMUX", "MORV_RWR_MRL", nullptr, "MORV_REP_MRL", "MORV_TEST", "MORV_REG_UNPACK",
    "MORV_BDD_SYN_MRL", "!", "MORV_PIPE_ASYNC", "MORV_RESPLIT", "MORV_LIR", "MORV_INV_PUSH", "MORV_RESYN_MRL",
    "MORV_SAVE_RESTORE", "MORV_UTIL", "MORV_MANUAL", nullptr};
const char* const TEV_ALGORITHMS[ALGORITHM_END] = {
    "MORV_RETIMING_TEV", nullptr, "MORV_RWR_TEV", nullptr, "MORV_REP_TEV", "MORV_TEST", "-",
    "MORV_BDD_SYN_TEV", "MORV_RAM_MAP", "MORV_PIPE_ASYNC", "MORV_RESPLIT", "", "", "MORV_RESYN_TEV",
    "MORV_SAVE_RESTORE", "MORV_UTIL", "MORV_MANUAL", nullptr};
const char* const UVO_ALGORITHMS[ALGORITHM_END] = {
    "MORV_RETIMING_UVO", nullptr, "MORV_RWR_UVO", nullptr, "MORV_REP_UVO", "MORV_TEST", "MORV_REG_UNPACK",
    "MORV_BDD_SYN_UVO", "MORV_RAM_MAP", "MORV_PIPE_ASYNC", "MORV_RESPLIT", "", "", "MORV_RESYN_UVO",
    "MORV_SAVE_RESTORE", "MORV_UTIL", "MORV_MANUAL", nullptr};
const char* const OBRAN_ALGORITHMS[ALGORITHM_END] = {
    "MORV_RETIMING_OBRAN", "MORV_REMUX", "MORV_RWR_OBRAN", nullptr, "MORV_REP_OBRAN", "MORV_TEST", "MORV_REG_UNPACK",
    "MORV_BDD_SYN_OBRAN", "MORV_RAM_MAP", "MORV_PIPE_ASYNC", "MORV_RESPLIT", "", "", "MORV_RESYN_OBRAN",
    "MORV_SAVE_RESTORE", "MORV_UTIL", "MORV_MANUAL", "MORV_PIPELINE"};
const char* const RZK_ALGORITHMS[ALGORITHM_END] = {
    "MORV_RETIMING_RZK", "MORV_REMUX", "MORV_RWR_RZK", nullptr, "MORV_REP_RZK", "MORV_TEST", "MORV_REG_UNPACK",
    "MORV_BDD_SYN_RZK", "MORV_RAM_MAP", "MORV_PIPE_ASYNC", "MORV_RESPLIT", "", "", "MORV_RESYN_RZK",
    "MORV_SAVE_RESTORE", "MORV_UTIL", "MORV_MANUAL", nullptr};
const char* const KESTLIN_ALGORITHMS[ALGORITHM_END] = {
    "MORV_RETIMING_KESTLIN", "MORV_REMUX", "MORV_RWR_KESTLIN", nullptr, "MORV_REP_KESTLIN", "MORV_TEST",
    "MORV_REG_UNPACK", "MORV_BDD_SYN_KESTLIN", "MORV_RAM_MAP", "MORV_PIPE_ASYNC", "MORV_RESPLIT", "", "",
    "MORV_RESYN_KESTLIN", "MORV_SAVE_RESTORE", "MORV_UTIL", "MORV_MANUAL", nullptr};
const char* const ZEPLA_ALGORITHMS[ALGORITHM_END] = {
    "MORV_RETIMING_ZEPLA", nullptr, "MORV_RWR_ZEPLA", nullptr, "MORV_REP_ZEPLA", "MORV_TEST", "-",
    "MORV_BDD_SYN_ZEPLA", "MORV_RAM_MAP", "MORV_PIPE_ASYNC", "MORV_RESPLIT", "", "", "MORV_RESYN_ZEPLA",
    "MORV_SAVE_RESTORE", "MORV_UTIL", "MORV_MANUAL", nullptr};

// The devices of the one migration there is: a log recorded on "Fermlock II"
// and replayed on "Talvane II", or the other way round.
constexpr const char* TALVANE = "Talvane II";
constexpr const char* FERMLOCK = "Fermlock II";

//                                class name            algorithms          user options (RAM_MAP, RESPLIT fit, REG_UNPACK switch, LIR+INV_PUSH, SAVE_RESTORE)  xICP   nevra  new RTM replay                   unreachable text          target    source    default lists        own mode
const MORV_FAMILY_DRIVER_TRAITS BRK_DRIVER     = {"MORV_EXPERT_BRK",     BRK_ALGORITHMS,     {true,  true,  true,  false, true},  true,  true,  true,  MORV_REPLAY_SHARED,      nullptr,                  TALVANE,  FERMLOCK, &MORV_BRK_LISTS,     false};
const MORV_FAMILY_DRIVER_TRAITS MRL_DRIVER     = {"MORV_EXPERT_MRL",     MRL_ALGORITHMS,     {false, false, true,  true,  false}, true,  false, false, MORV_REPLAY_OWN,         nullptr,                  FERMLOCK, TALVANE,  &MORV_MRL_LISTS,     true};
const MORV_FAMILY_DRIVER_TRAITS TEV_DRIVER     = {"MORV_EXPERT_TEV",     TEV_ALGORITHMS,     {true,  true,  true,  false, true},  true,  true,  false, MORV_REPLAY_NONE,        nullptr,                  nullptr,  nullptr,  &MORV_TEV_LISTS,     false};
const MORV_FAMILY_DRIVER_TRAITS UVO_DRIVER     = {"MORV_EXPERT_UVO",     UVO_ALGORITHMS,     {false, false, false, false, false}, false, false, false, MORV_REPLAY_NONE,        nullptr,                  nullptr,  nullptr,  &MORV_UVO_LISTS,     false};
const MORV_FAMILY_DRIVER_TRAITS OBRAN_DRIVER   = {"MORV_EXPERT_OBRAN",   OBRAN_ALGORITHMS,   {true,  true,  true,  false, false}, true,  true,  false, MORV_REPLAY_UNREACHABLE, "We shouldn't be here.",  TALVANE,  FERMLOCK, &MORV_OBRAN_LISTS,   false};
const MORV_FAMILY_DRIVER_TRAITS RZK_DRIVER     = {"MORV_EXPERT_RZK",     RZK_ALGORITHMS,     {true,  true,  true,  false, false}, true,  true,  false, MORV_REPLAY_UNREACHABLE, "We shouldn't get here.", TALVANE,  FERMLOCK, &MORV_RZK_LISTS,     false};
const MORV_FAMILY_DRIVER_TRAITS KESTLIN_DRIVER = {"MORV_EXPERT_KESTLIN", KESTLIN_ALGORITHMS, {true,  true,  true,  false, false}, true,  true,  false, MORV_REPLAY_UNREACHABLE, "We shouldn't get here.", TALVANE,  FERMLOCK, &MORV_KESTLIN_LISTS, false};
const MORV_FAMILY_DRIVER_TRAITS ZEPLA_DRIVER   = {"MORV_EXPERT_ZEPLA",   ZEPLA_ALGORITHMS,   {true,  true,  true,  false, true},  true,  true,  false, MORV_REPLAY_NONE,        nullptr,                  nullptr,  nullptr,  &MORV_ZEPLA_LISTS,   false};
// clang-format on

// ---------------------------------------------------------------- families

constexpr int NO_TYPE = CDB_MAXIMUM_WYSIWYG_TYPE_ENUM;
constexpr int NO_FAMILY = DEV_FAMILY_INVALID;

#define NO_CLASSES nullptr, nullptr, nullptr, nullptr, nullptr, nullptr

constexpr MORV_LAB_LUT_COUNT LUT_NONE = MORV_LAB_LUTS_UNKNOWN;
constexpr MORV_LAB_LUT_COUNT LUT_COMB = MORV_LAB_LUTS_COMB_CELLS;
constexpr MORV_LAB_LUT_COUNT LUT_ALL = MORV_LAB_LUTS_EVERY_ATOM;

// The retiming lower bound's registers and delay shaping (power, k, DSP
// spread, DSP offset).
constexpr MORV_LB_REGISTER_KIND LB_NONE = MORV_LB_REGISTER_NONE;
constexpr MORV_LB_REGISTER_KIND LB_LCELL_FF = MORV_LB_REGISTER_LCELL_FF;
constexpr MORV_LB_REGISTER_KIND LB_FF = MORV_LB_REGISTER_FF;
constexpr MORV_LB_REGISTER_KIND LB_CELL = MORV_LB_REGISTER_LOGIC_CELL;
constexpr MORV_LB_SHAPE LB_SHAPE = {1.0, 0.0, 2.0, 1.0};
constexpr MORV_LB_SHAPE LB_SHAPE_BRK = {10.0, 0.25, 3.2, 1.2};
constexpr MORV_LB_SHAPE LB_SHAPE_UVO = {10.0, 0.25, 2.0, 1.0};

// Timing: slack-ratio skew, guardband in the LATE flow and before it, the
// SYN_EARLY clock source, ALM internal delays, migration keeps the placer
// seed out, the exported timing tables' family, the retiming lower bound's
// registers and shaping, RAM-based shift registers, the largest slack-ratio
// gain resynthesis may expect of one output (0: none).
// clang-format off
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_BRK      = {0.1,   500,  2500,  -1,  false, false, 3, LB_LCELL_FF, LB_SHAPE_BRK, false, 0.0 };
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_ZEPLA    = {0.125, 500,  2500,  224, false, false, 8, LB_FF,       LB_SHAPE,     false, 0.0 };
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_ZEPLA_II = {0.125, 500,  2500,  224, false, false, 11, LB_FF,       LB_SHAPE,     false, 0.0 };
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_TEV      = {0.125, 500,  2500,  -1,  false, false, 7, LB_LCELL_FF, LB_SHAPE,     false, 0.0 };
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_MRL      = {0.125, 1500, 2500,  -1,  false, false, 9, LB_NONE,     LB_SHAPE,     false, 0.0 };
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_KESTLIN  = {0.1,   500,  2500,  152, true,  false, 10, LB_FF,       LB_SHAPE,     false, 0.05};
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_RZK      = {0.1,   500,  2500,  152, true,  true,  5, LB_FF,       LB_SHAPE,     false, 0.05};
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_OBRAN    = {0.1,   500,  2500,  194, true,  true,  4, LB_FF,       LB_SHAPE,     true,  0.05};
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_UVO      = {0.125, 1500, 5000,  -1,  false, false, 2, LB_CELL,     LB_SHAPE_UVO, false, 0.0 };
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_43       = {0.125, 5000, 10000, -1,  false, false, 6, LB_NONE,     LB_SHAPE,     false, 0.0 };
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_44       = {0.125, 5000, 10000, -1,  false, false, 1, LB_NONE,     LB_SHAPE,     false, 0.0 };
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_MIGRATES = {0.125, 5000, 10000, -1,  false, true,  0, LB_NONE,     LB_SHAPE,     false, 0.0 };  // 25, 26
constexpr MORV_FAMILY_TIMING_TRAITS TIMING_OTHER    = {0.125, 5000, 10000, -1,  false, false, 0, LB_NONE,     LB_SHAPE,     false, 0.0 };
// clang-format on

// Columns: cells (LE type, FF type, LUT size, reversed mask bits, one cell for
// LUT and FF, free LUTs, QFBK cells); placement (LAB capacity, LAB LUT count,
// region elements per LAB, placement regions, occupied-location grid, FL
// cells, MAC multiplier at its MAC output); flows (early at
// synthesis, fitting flows, LATE, DRC, back-annotation, routing estimate, cell
// library, migration stops the fitter flows); change log (migration partner);
// classes (driver, net utility, change log, its copy, sweeper, driver traits); timing.
// clang-format off
const MORV_FAMILY_TRAITS FAMILIES[] = {
    {DEV_FAMILY_BRENNOCK, "BRK",
     0,   1,   6, true,  false, true,  false,  32, LUT_COMB, 16, true,  false, false, false,  false, true,  true,  true,  true,  true,  false, false, DEV_FAMILY_MORLIN,
     make_driver<DEV_FAMILY_BRENNOCK>, make_net_util<MORV_NET_UTIL_BRK>, make_log<MORV_LOG_BRK>, copy_log<MORV_LOG_BRK>, make_sweeper<MORV_NETLIST_SWEEPER_BRK>, &BRK_DRIVER, TIMING_BRK},
    {DEV_FAMILY_ZEPLA, "ZEPLA",
     2,   3,   4, false, false, true,  false,  32, LUT_COMB, 16, true,  false, false, false,  true,  true,  true,  true,  true,  true,  false, false, NO_FAMILY,
     make_driver<DEV_FAMILY_ZEPLA>, make_net_util<MORV_NET_UTIL_ZEPLA>, nullptr, nullptr, make_sweeper<MORV_NETLIST_SWEEPER_ZEPLA>, &ZEPLA_DRIVER, TIMING_ZEPLA},
    {DEV_FAMILY_ZEPLA_II, "ZEPLA",
     2,   3,   4, false, false, true,  false,  32, LUT_COMB, 16, true,  false, false, false,  true,  true,  true,  true,  true,  true,  false, false, NO_FAMILY,
     make_driver<DEV_FAMILY_ZEPLA>, make_net_util<MORV_NET_UTIL_ZEPLA>, nullptr, nullptr, make_sweeper<MORV_NETLIST_SWEEPER_ZEPLA>, &ZEPLA_DRIVER, TIMING_ZEPLA_II},
    {DEV_FAMILY_TEV, "TEV",
     257, 258, 4, false, false, true,  false,  32, LUT_COMB, 16, true,  false, false, false,  false, true,  true,  true,  true,  true,  false, false, NO_FAMILY,
     make_driver<DEV_FAMILY_TEV>, make_net_util<MORV_NET_UTIL_TEV>, nullptr, nullptr, make_sweeper<MORV_NETLIST_SWEEPER_TEV>, &TEV_DRIVER, TIMING_TEV},
    {DEV_FAMILY_MORLIN, "MRL",
     270, 272, 6, false, false, false, false,  1, LUT_COMB, 1,  false, false, true,  true ,   false, false, true,  true,  false, false, true,  false, DEV_FAMILY_BRENNOCK,
     make_driver<DEV_FAMILY_MORLIN>, make_net_util<MORV_NET_UTIL_MRL>, make_log<MORV_LOG_MRL>, copy_log<MORV_LOG_MRL>, make_sweeper<MORV_NETLIST_SWEEPER_MRL>, &MRL_DRIVER, TIMING_MRL},
    {DEV_FAMILY_UNDRIVEN_25, "",
     NO_TYPE, NO_TYPE, 0, false, false, false, false, -1, LUT_NONE, 0,  false, false, false, true ,  true,  false, false, true,  true,  true,  false, true,  NO_FAMILY,
     NO_CLASSES, TIMING_MIGRATES},
    {DEV_FAMILY_UNDRIVEN_26, "",
     NO_TYPE, NO_TYPE, 0, false, false, false, false, -1, LUT_NONE, 0,  false, false, false, false,  true,  false, false, true,  true,  true,  false, true,  NO_FAMILY,
     NO_CLASSES, TIMING_MIGRATES},
    {DEV_FAMILY_KESTLIN, "KESTLIN",
     145, 126, 6, true,  false, true,  false,  40, LUT_COMB, 20, true,  true,  false, false,  true,  true,  true,  true,  true,  true,  false, false, NO_FAMILY,
     make_driver<DEV_FAMILY_KESTLIN>, make_net_util<MORV_NET_UTIL_KESTLIN>, nullptr, nullptr, make_sweeper<MORV_NETLIST_SWEEPER_KESTLIN>, &KESTLIN_DRIVER, TIMING_KESTLIN},
    {DEV_FAMILY_RZK, "RZK",
     145, 146, 6, true,  false, true,  false,  40, LUT_COMB, 20, true,  true,  false, false,  true,  true,  true,  true,  true,  true,  false, true,  NO_FAMILY,
     make_driver<DEV_FAMILY_RZK>, make_net_util<MORV_NET_UTIL_RZK>, nullptr, nullptr, make_sweeper<MORV_NETLIST_SWEEPER_RZK>, &RZK_DRIVER, TIMING_RZK},
    {DEV_FAMILY_OBRAN, "OBRAN",
     186, 187, 6, true,  false, true,  false,  40, LUT_COMB, 20, true,  true,  false, false,  true,  true,  true,  true,  true,  true,  false, true,  NO_FAMILY,
     make_driver<DEV_FAMILY_OBRAN>, make_net_util<MORV_NET_UTIL_OBRAN>, nullptr, nullptr, make_sweeper<MORV_NETLIST_SWEEPER_OBRAN>, &OBRAN_DRIVER, TIMING_OBRAN},
    {DEV_FAMILY_UNDRIVEN_43, "",
     NO_TYPE, NO_TYPE, 0, false, false, false, false, -1, LUT_NONE, 0,  false, false, false, false,  false, false, false, false, true,  true,  false, false, NO_FAMILY,
     NO_CLASSES, TIMING_43},
    {DEV_FAMILY_UNDRIVEN_44, "",
     NO_TYPE, NO_TYPE, 0, false, false, false, false, -1, LUT_NONE, 0,  false, false, false, false,  false, false, false, false, true,  true,  false, false, NO_FAMILY,
     NO_CLASSES, TIMING_44},
    {DEV_FAMILY_UVO, "UVO",
     10,  10,  4, false, true,  true,  true,   10, LUT_ALL, 10, true,  false, false, false,  false, false, false, false, true,  true,  false, false, NO_FAMILY,
     make_driver<DEV_FAMILY_UVO>, make_net_util<MORV_NET_UTIL_UVO>, nullptr, nullptr, make_sweeper<MORV_NETLIST_SWEEPER_UVO>, &UVO_DRIVER, TIMING_UVO},
};

// A code the component knows nothing about: no classes; the rules give the
// answer most families share.
const MORV_FAMILY_TRAITS UNKNOWN_FAMILY = {
    DEV_FAMILY_INVALID, "",
    NO_TYPE, NO_TYPE, 0, false, false, false, false, -1, LUT_NONE, 0,  false, false, false, false,  false, false, false, true,  true,  true,  false, false, NO_FAMILY,
    NO_CLASSES, TIMING_OTHER};
// clang-format on

#undef NO_CLASSES

}  // namespace

const MORV_FAMILY_TRAITS& morv_family_traits(int base_family)
{
    for (const MORV_FAMILY_TRAITS& traits : FAMILIES)
        if (traits.m_base_family == base_family) return traits;
    return UNKNOWN_FAMILY;
}

bool morv_is_known_family(int base_family)
{
    return &morv_family_traits(base_family) != &UNKNOWN_FAMILY;
}

const MORV_FAMILY_TRAITS* morv_family_traits_table(int* count)
{
    *count = static_cast<int>(sizeof(FAMILIES) / sizeof(FAMILIES[0]));
    return FAMILIES;
}

std::string morv_family_algorithm_refusal(const MORV_FAMILY_TRAITS& traits, int algorithm_id,
                                          const std::map<std::string, std::string>& parameters)
{
    const std::string family = traits.m_name[0] != '\0' ? traits.m_name : std::to_string(traits.m_base_family);
    if (algorithm_id < 0 || algorithm_id >= ALGORITHM_END)
        return "Invalid Algorithm entered: algorithm id " + std::to_string(algorithm_id) + " on the " + family +
               " family";
    const std::string name = MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[algorithm_id];
    const char* class_name =
        traits.m_driver != nullptr ? traits.m_driver->m_algorithm_class_names[algorithm_id] : nullptr;
    if (class_name == nullptr) return "Invalid Algorithm entered: the " + family + " family has no algorithm " + name;
    // The table keeps an entry the family's own lists pass over without a
    // run ("" and "-"); named by the user, it would run nothing in silence.
    if (class_name[0] == '\0' || std::string(class_name) == "-")
        return "Invalid Algorithm entered: the " + family + " family does not build algorithm " + name;
    if (std::string(class_name) == "!")
        return "Unsupported family: the " + family + " family does not support algorithm " + name;
    // The latch-legaliser test edits structured-ASIC latches, which only
    // families with those cells have.
    const auto latch_test = parameters.find("REG_TEST_LATCH_LEG");
    if (algorithm_id == UTIL_ALGORITHM && latch_test != parameters.end() && !latch_test->second.empty() &&
        !traits.m_fl_cells)
        return "the latch-legaliser test REG_TEST_LATCH_LEG of algorithm " + name + " needs structured-ASIC cells, " +
               "which the " + family + " family does not have";
    return std::string();
}

bool morv_family_checkpoints_opt_in(const MORV_FAMILY_TRAITS& traits)
{
    // The one family whose legalised netlist a saved state cannot bring back.
    return traits.m_base_family == DEV_FAMILY_MORLIN;
}

bool morv_family_legalizes_entering_netlist(const MORV_FAMILY_TRAITS& traits)
{
    return traits.m_base_family == DEV_FAMILY_MORLIN;
}

bool morv_family_has_bdd_lower_bound(const MORV_FAMILY_TRAITS& traits)
{
    return traits.m_base_family != DEV_FAMILY_MORLIN;
}

// ---------------------------------------------------------------- local rewiring

int morv_rwr_ale_signal_limit(int base_family)
{
    // The families whose ALE pairs two LUTs over eight input signals.
    switch (base_family) {
    case DEV_FAMILY_BRENNOCK:
    case DEV_FAMILY_OBRAN:
    case DEV_FAMILY_RZK:
    case DEV_FAMILY_KESTLIN: return 8;
    default: return 0;
    }
}

bool morv_rwr_keeps_chain_inputs(int family)
{
    return family == DEV_FAMILY_UNDRIVEN_43 || family == DEV_FAMILY_UNDRIVEN_44;
}

// ---------------------------------------------------------------- register unpacking

MORV_REG_UNPACK_FORM morv_reg_unpack_form(int base_family)
{
    switch (base_family) {
    case DEV_FAMILY_BRENNOCK:
    case DEV_FAMILY_KESTLIN:
    case DEV_FAMILY_RZK:
    case DEV_FAMILY_OBRAN: return MORV_REG_UNPACK_REPLACE_REGISTER;
    case DEV_FAMILY_UVO: return MORV_REG_UNPACK_SPLIT_CELL;
    case DEV_FAMILY_MORLIN: return MORV_REG_UNPACK_NOTHING;
    default: return MORV_REG_UNPACK_UNSUPPORTED;
    }
}

// ---------------------------------------------------------------- classic retiming

MORV_MAC_RETIMING morv_rtm_mac_retiming(int base_family)
{
    switch (base_family) {
    case DEV_FAMILY_BRENNOCK:
    case DEV_FAMILY_ZEPLA:
    case DEV_FAMILY_TEV:
    case DEV_FAMILY_MORLIN:
    case DEV_FAMILY_ZEPLA_II:
    case DEV_FAMILY_UVO: return MORV_MAC_RETIMING_BOTH;
    case DEV_FAMILY_KESTLIN:
    case DEV_FAMILY_RZK:
    case DEV_FAMILY_OBRAN: return MORV_MAC_RETIMING_BACKWARD;
    default: return MORV_MAC_RETIMING_NONE;
    }
}

MORV_MAC_SLICE_SHAPE morv_rtm_mac_slice_shape(int base_family)
{
    switch (base_family) {
    case DEV_FAMILY_BRENNOCK:
    case DEV_FAMILY_MORLIN:
    case DEV_FAMILY_UVO: return MORV_MAC_SLICE_ATOM;
    case DEV_FAMILY_ZEPLA:
    case DEV_FAMILY_ZEPLA_II:
    case DEV_FAMILY_TEV: return MORV_MAC_SLICE_ONE_MULT;
    case DEV_FAMILY_KESTLIN:
    case DEV_FAMILY_RZK:
    case DEV_FAMILY_OBRAN: return MORV_MAC_SLICE_ALL_MULTS;
    default: return MORV_MAC_SLICE_NONE;
    }
}

bool morv_rtm_demuxes_sload(int base_family)
{
    switch (base_family) {
    case DEV_FAMILY_BRENNOCK:
    case DEV_FAMILY_KESTLIN:
    case DEV_FAMILY_RZK:
    case DEV_FAMILY_OBRAN: return true;
    default: return false;
    }
}

bool morv_rtm_has_lower_bound(int base_family)
{
    return base_family != DEV_FAMILY_MORLIN;
}

bool morv_rtm_ignores_arith_vcc_d(int base_family)
{
    return base_family == DEV_FAMILY_TEV || base_family == DEV_FAMILY_ZEPLA || base_family == DEV_FAMILY_ZEPLA_II;
}

bool morv_rtm_ignores_hsadder_constants(int base_family)
{
    return base_family == DEV_FAMILY_MORLIN;
}

bool morv_pipe_async_supported(int base_family)
{
    switch (base_family) {
    case DEV_FAMILY_BRENNOCK:
    case DEV_FAMILY_ZEPLA:
    case DEV_FAMILY_TEV:
    case DEV_FAMILY_MORLIN:
    case DEV_FAMILY_KESTLIN:
    case DEV_FAMILY_ZEPLA_II:
    case DEV_FAMILY_RZK:
    case DEV_FAMILY_OBRAN:
    case DEV_FAMILY_UVO: return true;
    default: return false;
    }
}

std::vector<int> morv_pipe_async_searched_ports(int base_family)
{
    if (!morv_pipe_async_supported(base_family)) return {};
    // UVO registers also take the asynchronous net on their asynchronous load.
    if (base_family == DEV_FAMILY_UVO) return {DB_CLEAR, DB_ASYNCH_LOAD};
    return {DB_CLEAR};
}

int morv_pipe_async_reg_data_in_port(int base_family)
{
    if (!morv_pipe_async_supported(base_family)) return -1;
    return base_family == DEV_FAMILY_UVO ? DB_DATA_A : DB_DATAIN;
}

bool morv_pipe_async_has_dsp_destinations(int base_family)
{
    return base_family != DEV_FAMILY_UVO;
}

bool morv_pipe_async_respects_locked_regions(int base_family)
{
    return base_family != DEV_FAMILY_MORLIN;
}

bool morv_pipe_async_uses_cliques(int base_family)
{
    return base_family == DEV_FAMILY_MORLIN;
}

bool morv_pipe_async_uses_lcell_register(int base_family)
{
    return base_family == DEV_FAMILY_UVO;
}

bool morv_pipe_async_reach_from_routing_delay(int family_code)
{
    return family_code == DEV_FAMILY_MORLIN;
}

namespace {

template <typename ALGORITHM>
MORV_OWNER<MORV_ALGORITHM_BASE> make_algorithm(MORV_API* api, const std::map<std::string, std::string>* params)
{
    return MORV_MAKE_OWNER(ALGORITHM, api, params);
}

// Duplication also takes the driver's register-duplication setting.
template <typename ALGORITHM>
MORV_OWNER<MORV_ALGORITHM_BASE> make_rep(MORV_API* api, const std::map<std::string, std::string>* params)
{
    const MORV_EXPERT* expert = api->get_fsyn_expert();
    const bool registers = expert != nullptr && expert->allows_register_duplication();
    return MORV_MAKE_OWNER(ALGORITHM, api, params, registers);
}

struct MORV_ALGORITHM_CLASS
{
    const char* m_name;
    MORV_OWNER<MORV_ALGORITHM_BASE> (*m_make)(MORV_API* api, const std::map<std::string, std::string>* params);
};

// One row per family class of an algorithm.
const MORV_ALGORITHM_CLASS ALGORITHM_CLASSES[] = {
    {"MORV_RETIMING_BRK", make_algorithm<MORV_RETIMING_BRK>},
    {"MORV_RTM", make_algorithm<MORV_RTM>},
    {"MORV_RETIMING_ZEPLA", make_algorithm<MORV_RETIMING_ZEPLA>},
    {"MORV_RETIMING_TEV", make_algorithm<MORV_RETIMING_TEV>},
    {"MORV_RETIMING_KESTLIN", make_algorithm<MORV_RETIMING_KESTLIN>},
    {"MORV_RETIMING_RZK", make_algorithm<MORV_RETIMING_RZK>},
    {"MORV_RETIMING_OBRAN", make_algorithm<MORV_RETIMING_OBRAN>},
    {"MORV_RETIMING_MRL", make_algorithm<MORV_RETIMING_MRL>},
    {"MORV_RETIMING_UVO", make_algorithm<MORV_RETIMING_UVO>},
    {"MORV_RWR_BRK", make_algorithm<MORV_RWR_BRK>},
    {"MORV_RWR_ZEPLA", make_algorithm<MORV_RWR_ZEPLA>},
    {"MORV_RWR_MRL", make_algorithm<MORV_RWR_MRL>},
    {"MORV_RWR_TEV", make_algorithm<MORV_RWR_TEV>},
    {"MORV_RWR_KESTLIN", make_algorithm<MORV_RWR_KESTLIN>},
    {"MORV_RWR_RZK", make_algorithm<MORV_RWR_RZK>},
    {"MORV_RWR_OBRAN", make_algorithm<MORV_RWR_OBRAN>},
    {"MORV_RWR_UVO", make_algorithm<MORV_RWR_UVO>},
    {"MORV_BDD_SYN_BRK", make_algorithm<MORV_BDD_SYN_BRK>},
    {"MORV_BDD_SYN_ZEPLA", make_algorithm<MORV_BDD_SYN_ZEPLA>},
    {"MORV_BDD_SYN_MRL", make_algorithm<MORV_BDD_SYN_MRL>},
    {"MORV_BDD_SYN_TEV", make_algorithm<MORV_BDD_SYN_TEV>},
    {"MORV_BDD_SYN_KESTLIN", make_algorithm<MORV_BDD_SYN_KESTLIN>},
    {"MORV_BDD_SYN_RZK", make_algorithm<MORV_BDD_SYN_RZK>},
    {"MORV_BDD_SYN_OBRAN", make_algorithm<MORV_BDD_SYN_OBRAN>},
    {"MORV_BDD_SYN_UVO", make_algorithm<MORV_BDD_SYN_UVO>},
    {"MORV_RESYN_BRK", make_algorithm<MORV_RESYN_BRK>},
    {"MORV_RESYN_ZEPLA", make_algorithm<MORV_RESYN_ZEPLA>},
    {"MORV_RESYN_MRL", make_algorithm<MORV_RESYN_MRL>},
    {"MORV_RESYN_TEV", make_algorithm<MORV_RESYN_TEV>},
    {"MORV_RESYN_KESTLIN", make_algorithm<MORV_RESYN_KESTLIN>},
    {"MORV_RESYN_RZK", make_algorithm<MORV_RESYN_RZK>},
    {"MORV_RESYN_OBRAN", make_algorithm<MORV_RESYN_OBRAN>},
    {"MORV_RESYN_UVO", make_algorithm<MORV_RESYN_UVO>},
    {"MORV_REP_BRK", make_rep<MORV_REP_BRK>},
    {"MORV_REP_ZEPLA", make_rep<MORV_REP_ZEPLA>},
    {"MORV_REP_MRL", make_rep<MORV_REP_MRL>},
    {"MORV_REP_TEV", make_rep<MORV_REP_TEV>},
    {"MORV_REP_KESTLIN", make_rep<MORV_REP_KESTLIN>},
    {"MORV_REP_RZK", make_rep<MORV_REP_RZK>},
    {"MORV_REP_OBRAN", make_rep<MORV_REP_OBRAN>},
    {"MORV_REP_UVO", make_rep<MORV_REP_UVO>},
    {"MORV_PIPELINE", make_algorithm<MORV_PIPELINE>},
    {"MORV_RAM_MAP", make_algorithm<MORV_RAM_MAP>},
    {"MORV_PIPE_ASYNC", make_algorithm<MORV_PIPE_ASYNC>},
    {"MORV_RESPLIT", make_algorithm<MORV_RESPLIT>},
    {"MORV_REG_UNPACK", make_algorithm<MORV_REG_UNPACK>},
    {"MORV_MANUAL", make_algorithm<MORV_MANUAL>},
    {"MORV_UTIL", make_algorithm<MORV_UTIL>},
};

}  // namespace

bool morv_make_family_algorithm(const std::string& class_name, MORV_API* api,
                                const std::map<std::string, std::string>* params, MORV_OWNER<MORV_ALGORITHM_BASE>* out)
{
    for (const MORV_ALGORITHM_CLASS& row : ALGORITHM_CLASSES) {
        if (class_name != row.m_name) continue;
        *out = row.m_make(api, params);
        return true;
    }
    return false;
}
