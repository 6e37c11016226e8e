// Minimal BRK netlists for the 6-LUT retiming hooks and the pushes made of
// them (retiming_lut_bench.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/blif_reader.h"
#include "retiming_6lut_test_leaf.h"
#include "retiming_lut_bench.h"

// A prefix and a number ("c3"), built without the operator+ of a literal
// and a temporary, which GCC 12 misreads at -O3 (-Wrestrict).
inline std::string rtm6_name(const char* prefix, long long k)
{
    std::string s(prefix);
    s += std::to_string(k);
    return s;
}

class RTM6_NET : public RTM_LUT_NET
{
public:
    explicit RTM6_NET(int family = CDB_FAMILY_BRK) : RTM_LUT_NET(family) {}
    // A LUT of the canonical truth table (first input = row bit 0); a null
    // driver leaves the input to the caller.
    CDB_ATOM_NODE* lut(const std::string& n, const std::vector<CDB_ATOM_OTERM*>& ins, uint64_t truth)
    {
        return lut_cell(n, ins, blif_family_lutmask(family(), static_cast<int>(ins.size()), truth));
    }
};

using RTM6_RUN = RTM_LUT_RUN<TEST_RETIMING_6LUT_LEAF, CDB_FAMILY_BRK, DB_DATA_G>;

inline int count_registers(const CDB_ATOM_NETLIST& netlist)
{
    int n = 0;
    for (CDB_ATOM_NODE* node : netlist)
        if (node->is_register()) ++n;
    return n;
}
