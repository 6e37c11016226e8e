#ifndef MORV_EXPERT_UVO_H
#define MORV_EXPERT_UVO_H

#include "morv/core/family/morv_expert_family.h"

// Flow driver of the UVO family. All state lives in MORV_EXPERT.
class MORV_EXPERT_UVO : public MORV_EXPERT
{
    MORV_EXPERT_FAMILY_MEMBERS(MORV_EXPERT_UVO)
};

#endif
