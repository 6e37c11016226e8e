#ifndef MORV_EXPERT_ZEPLA_H
#define MORV_EXPERT_ZEPLA_H

#include "morv/core/family/morv_expert_family.h"

// Flow driver of the ZEPLA family. All state lives in MORV_EXPERT.
class MORV_EXPERT_ZEPLA : public MORV_EXPERT
{
    MORV_EXPERT_FAMILY_MEMBERS(MORV_EXPERT_ZEPLA)
};

#endif
