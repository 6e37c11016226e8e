#ifndef MORV_EXPERT_RZK_H
#define MORV_EXPERT_RZK_H

#include "morv/core/family/morv_expert_family.h"

// Flow driver of the RZK family. All state lives in MORV_EXPERT.
class MORV_EXPERT_RZK : public MORV_EXPERT
{
    MORV_EXPERT_FAMILY_MEMBERS(MORV_EXPERT_RZK)

public:
    // Each family answers a replay log its own way; the families that do not
    // override these keep MORV_EXPERT's internal error.
    bool run_fsyn_replay_log_flow() override;
    bool check_if_log_file_exists() override;
};

#endif
