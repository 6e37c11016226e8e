#ifndef MORV_NET_UTIL_H
#define MORV_NET_UTIL_H

// The per-family layer of netlist queries and small netlist edits. One
// object per run, chosen by the base family code and owned by the facade.
// The family queries are added with the netlist-model logic; this layer
// holds the fields every family shares and the shared name helpers.

#include <string>

class MORV_API;
class MORV_TIMING;
class MORV_CDB_INTERFACE;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;

class MORV_NET_UTIL
{
public:
    MORV_NET_UTIL(MORV_API* api, CDB_ATOM_NETLIST* atom_netlist, int max_lut_inputs);
    virtual ~MORV_NET_UTIL();
    MORV_NET_UTIL(const MORV_NET_UTIL&) = delete;
    MORV_NET_UTIL& operator=(const MORV_NET_UTIL&) = delete;

    int get_max_lut_inputs() const { return m_max_lut_inputs; }
    MORV_API* get_api() const { return m_api; }

    // Hierarchy path to the root of the instance name ("" for an unnamed atom).
    static std::string get_hpath_name(CDB_ATOM_NODE* node);
    static std::string get_hpath_name(CDB_ATOM_OTERM* oterm);

protected:
    MORV_API* m_api;
    MORV_TIMING* m_timing;
    MORV_CDB_INTERFACE* m_cdb_interface;
    CDB_ATOM_NETLIST* m_atom_netlist;
    int m_max_lut_inputs;
};

class MORV_NET_UTIL_4LUT : public MORV_NET_UTIL
{
public:
    MORV_NET_UTIL_4LUT(MORV_API* api, CDB_ATOM_NETLIST* atom_netlist) : MORV_NET_UTIL(api, atom_netlist, 4) {}
};

class MORV_NET_UTIL_6LUT : public MORV_NET_UTIL
{
public:
    MORV_NET_UTIL_6LUT(MORV_API* api, CDB_ATOM_NETLIST* atom_netlist) : MORV_NET_UTIL(api, atom_netlist, 6) {}
};

#define MORV_NET_UTIL_FAMILY(NAME, BRANCH)                                                       \
    class NAME : public BRANCH                                                                   \
    {                                                                                            \
    public:                                                                                      \
        NAME(MORV_API* api, CDB_ATOM_NETLIST* atom_netlist) : BRANCH(api, atom_netlist) {}       \
    };

MORV_NET_UTIL_FAMILY(MORV_NET_UTIL_TEV, MORV_NET_UTIL_4LUT)
MORV_NET_UTIL_FAMILY(MORV_NET_UTIL_ZEPLA, MORV_NET_UTIL_4LUT)
MORV_NET_UTIL_FAMILY(MORV_NET_UTIL_BRK, MORV_NET_UTIL_6LUT)
MORV_NET_UTIL_FAMILY(MORV_NET_UTIL_MRL, MORV_NET_UTIL_6LUT)
MORV_NET_UTIL_FAMILY(MORV_NET_UTIL_OBRAN, MORV_NET_UTIL_6LUT)
MORV_NET_UTIL_FAMILY(MORV_NET_UTIL_RZK, MORV_NET_UTIL_6LUT)
MORV_NET_UTIL_FAMILY(MORV_NET_UTIL_KESTLIN, MORV_NET_UTIL_6LUT)

#undef MORV_NET_UTIL_FAMILY

// UVO derives from the base directly.
class MORV_NET_UTIL_UVO : public MORV_NET_UTIL
{
public:
    MORV_NET_UTIL_UVO(MORV_API* api, CDB_ATOM_NETLIST* atom_netlist) : MORV_NET_UTIL(api, atom_netlist, 4) {}
};

#endif
