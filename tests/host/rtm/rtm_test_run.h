// A generated netlist under a compile of its own with the skew-driven
// engine made for it, as the engine's records, demuxer and splitter expect.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/rtm/morv_rtm.h"
#include "seq_gen.h"

// "prefix<k>", built by appending: GCC 12 misreads the operator+ of a
// literal and a temporary at -O3 (-Wrestrict).
inline std::string rtm_name(const char* prefix, long long k)
{
    std::string name(prefix);
    name += std::to_string(k);
    return name;
}

class RTM_RUN
{
public:
    // With a device whose migration part makes the compile keep a change log.
    explicit RTM_RUN(std::unique_ptr<CDB_ATOM_NETLIST> netlist, int family = CDB_FAMILY_BRK,
                     DEV_DEVICE* device = nullptr)
    {
        msg_set_quiet(true);
        m_design = std::make_unique<morv_host::HOST_DESIGN>(family, std::move(netlist), nullptr, device);
        m_env = std::make_unique<morv_host::HOST_ENV>(*m_design);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
        m_rtm = std::make_unique<MORV_RTM>(m_api);
    }
    RTM_RUN(const SEQ_GEN_OPTIONS& options, uint64_t seed) : RTM_RUN(seq_generate(options, seed), options.m_family) {}

    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    MORV_API* api() { return m_api; }
    MORV_RTM& rtm() { return *m_rtm; }
    CDB_ATOM_NODE* find(const std::string& name) { return seq_find(netlist(), name); }

    std::set<int> ids_of(bool (*keep)(const CDB_ATOM_NODE*))
    {
        std::set<int> ids;
        for (CDB_ATOM_NODE* node : netlist())
            if (keep(node)) ids.insert(static_cast<int>(node->get_id()));
        return ids;
    }

private:
    std::unique_ptr<morv_host::HOST_DESIGN> m_design;
    std::unique_ptr<morv_host::HOST_ENV> m_env;
    MORV_API* m_api = nullptr;
    std::unique_ptr<MORV_RTM> m_rtm;
};
