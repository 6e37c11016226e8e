// Minimal ZEPLA netlists for the 4-LUT retiming hooks and the pushes made of
// them (retiming_lut_bench.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_lutmask.h"
#include "retiming_4lut_test_leaf.h"
#include "retiming_lut_bench.h"

class RTM4_NET : public RTM_LUT_NET
{
public:
    explicit RTM4_NET(int family = CDB_FAMILY_ZEPLA) : RTM_LUT_NET(family) {}
    // A LUT of the given 16-bit mask over the inputs given (first = A); a
    // null driver leaves the input to the caller.
    CDB_ATOM_NODE* lut(const std::string& n, const std::vector<CDB_ATOM_OTERM*>& ins, uint64_t mask)
    {
        return lut_cell(n, ins, CDB_LUTMASK(4, mask));
    }
};

using RTM4_RUN = RTM_LUT_RUN<TEST_RETIMING_4LUT_LEAF, CDB_FAMILY_ZEPLA, DB_DATA_D>;
