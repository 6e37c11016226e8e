#ifndef MORV_EXPERT_TEV_H
#define MORV_EXPERT_TEV_H

#include "morv/core/family/morv_expert_family.h"

// Flow driver of the TEV family. All state lives in MORV_EXPERT.
class MORV_EXPERT_TEV : public MORV_EXPERT
{
    MORV_EXPERT_FAMILY_MEMBERS(MORV_EXPERT_TEV)
};

#endif
