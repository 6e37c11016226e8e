#include "cdb/cdb_types.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
// Atom types per kind: comb, register, hsadder, uvo lcell, io, ram, mac mult, mac out, clkbuf.
constexpr int N = CDB_ATOM_TYPE_NONE;
const CDB_FAMILY_INFO s_families[] = {
    {CDB_FAMILY_BRK, "BRK", 6, true, true, {0, 1, N, N, 251, 249, 247, 248, CDB_ATOM_BRK_CLKBUF_ENUM}},
    {CDB_FAMILY_ZEPLA, "ZEPLA", 4, false, false, {2, 3, N, N, 228, 227, 225, 226, 231}},
    {CDB_FAMILY_TEV, "TEV", 4, false, true, {257, 258, N, N, 264, 263, 261, 262, 267}},
    {CDB_FAMILY_MRL,
     "MRL",
     6,
     false,
     true,
     {270, 272, 271, N, CDB_ATOM_MORLIN_IO_ENUM, 285, 283, 284, CDB_ATOM_MORLIN_CLKBUF_ENUM}},
    {CDB_FAMILY_KESTLIN, "KESTLIN", 6, true, false, {145, 126, N, N, 179, 178, 176, 177, 182}},
    {CDB_FAMILY_ZEPLA_B, "ZEPLA_B", 4, false, false, {2, 3, N, N, 228, 227, 225, 226, 231}},
    {CDB_FAMILY_RZK, "RZK", 6, true, false, {145, 146, N, N, 179, 178, 176, 177, 182}},
    {CDB_FAMILY_OBRAN, "OBRAN", 6, true, false, {186, 187, N, N, 203, 202, 200, 201, 206}},
    {CDB_FAMILY_UVO, "UVO", 4, false, false, {10, 10, N, 10, 16, CDB_ATOM_UVO_EC_ENUM, 13, 14, 19}},
};
}  // namespace

const CDB_FAMILY_INFO* cdb_get_family_info(int family)
{
    for (const CDB_FAMILY_INFO& f : s_families)
        if (f.family == family) return &f;
    return nullptr;
}

int cdb_family_from_name(const char* name)
{
    if (name == nullptr || *name == 0) return CDB_FAMILY_NONE;
    if (std::isdigit(static_cast<unsigned char>(*name))) {
        char* end = nullptr;
        long v = std::strtol(name, &end, 10);
        if (*end == 0 && cdb_get_family_info(static_cast<int>(v))) return static_cast<int>(v);
        return CDB_FAMILY_NONE;
    }
    std::string upper;
    for (const char* p = name; *p; ++p) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    for (const CDB_FAMILY_INFO& f : s_families)
        if (upper == f.name) return f.family;
    return CDB_FAMILY_NONE;
}

int cdb_kind_of_atom_type(int family, int atom_type)
{
    const CDB_FAMILY_INFO* f = cdb_get_family_info(family);
    if (f == nullptr || atom_type == CDB_ATOM_TYPE_NONE) return -1;
    if (family == CDB_FAMILY_UVO && atom_type == f->atom_type[CDB_KIND_UVO_LCELL]) return CDB_KIND_UVO_LCELL;
    for (int k = 0; k < CDB_KIND_COUNT; ++k)
        if (f->atom_type[k] == atom_type) return k;
    return -1;
}

int cdb_family_lut_size(int family)
{
    const CDB_FAMILY_INFO* f = cdb_get_family_info(family);
    return f ? f->lut_size : 0;
}

const char* cdb_input_port_name(int port)
{
    switch (port) {
    case DB_ASYNCH_DATA: return "asdata";
    case DB_ASYNCH_LOAD: return "aload";
    case DB_CARRY_IN: return "cin";
    case DB_CLEAR: return "clr";
    case DB_CLOCK: return "clk";
    case DB_CLOCK_ENABLE: return "ena";
    case DB_DATA_A: return "dataa";
    case DB_DATA_B: return "datab";
    case DB_DATA_C: return "datac";
    case DB_DATA_D: return "datad";
    case DB_DATA_E: return "datae";
    case DB_DATA_F: return "dataf";
    case DB_DATA_G: return "datag";
    case DB_DATAIN: return "d";
    case DB_SYNCH_CLEAR: return "sclr";
    case DB_SYNCH_DATA: return "sdata";
    case DB_SYNCH_LOAD: return "sload";
    case DB_CLKBUF_IN: return "inclk";
    case DB_CHAIN_IN_0: return "chainin0";
    case DB_CHAIN_IN_1: return "chainin1";
    case DB_REG_CONTROL: return "regctl";
    case DB_REG_CASCADE_IN: return "regcascin";
    case DB_SHARE_IN: return "sharein";
    default: return "in";
    }
}

const char* cdb_output_port_name(int port)
{
    switch (port) {
    case DB_CARRY_OUT: return "cout";
    case DB_DATA_OUT: return "dataout";
    case DB_SUM_OUT: return "sumout";
    case DB_COMB_OUT: return "combout";
    case DB_REG_OUT: return "q";
    case DB_CLKBUF_OUT: return "outclk";
    case DB_CHAIN_OUT_0: return "chainout0";
    case DB_CHAIN_OUT_1: return "chainout1";
    case DB_SHARE_OUT: return "shareout";
    case DB_HSADDER_SUM_0: return "sumout0";
    case DB_HSADDER_SUM_1: return "sumout1";
    case DB_PAD_OUT: return "padout";
    default: return "out";
    }
}

unsigned cdb_register_next_state(const CDB_REGISTER_INPUTS& in, unsigned q)
{
    if (!in.ena) return q & 1u;
    if (in.sclr) return 0;
    return (in.sload ? in.sdata : in.d) & 1u;
}

bool cdb_register_async_value(const CDB_REGISTER_INPUTS& in, unsigned* out_value)
{
    if (cdb_clear_acts(CDB_KIND_REGISTER, DB_CLEAR, in.clr)) {
        if (out_value) *out_value = 0;
        return true;
    }
    if (in.aload) {
        if (out_value) *out_value = in.adata & 1u;
        return true;
    }
    return false;
}

unsigned cdb_register_next_value(const CDB_REGISTER_INPUTS& in, unsigned q)
{
    unsigned forced = 0;
    if (cdb_register_async_value(in, &forced)) return forced;
    return cdb_register_next_state(in, q);
}
