#ifndef MORV_EXPERT_BRK_H
#define MORV_EXPERT_BRK_H

#include "morv/core/family/morv_expert_family.h"

// Flow driver of the BRK family. All state lives in MORV_EXPERT.
class MORV_EXPERT_BRK : public MORV_EXPERT
{
    MORV_EXPERT_FAMILY_MEMBERS(MORV_EXPERT_BRK)

public:
    // Each family answers a replay log its own way; the families that do not
    // override these keep MORV_EXPERT's internal error.
    bool run_fsyn_replay_log_flow() override;
    bool check_if_log_file_exists() override;
};

#endif
