#pragma once

// The default algorithm lists of each family: what a compile with the user's
// physical-synthesis settings on runs at each flow point and effort. Each run
// is kept only while its algorithm is enabled (MORV_EXPERT::insert_algorithm);
// some runs also depend on the experimental ICP (the xICP flag). The family
// rules around the lists (effort adaptation, the LAB overuse cut-off, the
// early timing model's stability) are parameters here and steps of
// MORV_EXPERT (morv_expert_lists.cpp).

// When a run of a list is kept; the conditions of one run all hold.
enum MORV_LIST_RUN_CONDITION : unsigned
{
    MORV_LIST_RUN_ALWAYS = 0,
    MORV_LIST_RUN_WITHOUT_XICP = 1,     // left out while the xICP flag is set
    MORV_LIST_RUN_WITH_XICP = 2,        // only while the xICP flag is set
    MORV_LIST_RUN_RESPLIT_ALLOWED = 4,  // left out under fsyn_tune_dont_repslit
};

struct MORV_LIST_RUN
{
    int m_algorithm;
    const char* m_parameters;
    unsigned m_conditions;
};

struct MORV_RUN_LIST
{
    const MORV_LIST_RUN* m_runs;
    int m_count;
};

// The lists of one flow point by effort: FAST, NORMAL (also for effort 0),
// EXTRA; one list for every effort when m_any_effort.
struct MORV_EFFORT_LISTS
{
    MORV_RUN_LIST m_fast;
    MORV_RUN_LIST m_normal;
    MORV_RUN_LIST m_extra;
    bool m_any_effort;
};

struct MORV_DEFAULT_LISTS
{
    // SYN_EARLY takes the early list when the early flow runs there; a family
    // without it raises "This flow is not supported." at SYN_EARLY.
    bool m_syn_early;
    // With fsyn_for_density the cluster-retry list heads FIT_EARLY.
    bool m_density_prologue;
    // The shared cluster-retry list; without it "We shouldn't be here.".
    bool m_cluster_retry;
    // FIT_EARLY runs LIR on its own first and tells the host before the rest.
    bool m_lir_first;
    // FIT_EARLY: this list, then the early list unless it ran at SYN_EARLY.
    MORV_RUN_LIST m_fit_early_head;
    MORV_EFFORT_LISTS m_early;
    // LATE: the effort may be lowered, or the circuit-characteristic list
    // replace the LATE list, by how far timing moved since the early flow.
    bool m_adapts_effort;
    double m_low_threshold;
    double m_high_threshold;
    MORV_RUN_LIST m_late_characteristic;
    MORV_EFFORT_LISTS m_late;
    // LATE: nearly every LAB used cuts the list down to the cut-off list:
    // fewer LABs free than the fraction of the device's LEs / LEs per LAB.
    bool m_lab_overuse_cutoff;
    MORV_RUN_LIST m_late_cutoff;
    int m_les_per_lab;
    double m_overuse_free_lab_fraction;
    // The early flow is skipped while the early timing model moves more than
    // the threshold over repeated analyses (never with DSP blocks).
    bool m_checks_early_stability;
    double m_early_stability_threshold;
};

// The shared cluster-retry list.
extern const MORV_RUN_LIST MORV_CLUSTER_RETRY_LIST;

extern const MORV_DEFAULT_LISTS MORV_BRK_LISTS;
extern const MORV_DEFAULT_LISTS MORV_TEV_LISTS;
extern const MORV_DEFAULT_LISTS MORV_ZEPLA_LISTS;
extern const MORV_DEFAULT_LISTS MORV_KESTLIN_LISTS;
extern const MORV_DEFAULT_LISTS MORV_RZK_LISTS;
extern const MORV_DEFAULT_LISTS MORV_OBRAN_LISTS;
extern const MORV_DEFAULT_LISTS MORV_UVO_LISTS;
extern const MORV_DEFAULT_LISTS MORV_MRL_LISTS;
