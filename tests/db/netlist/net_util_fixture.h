#pragma once
// A facade of one family over a small hand-built netlist, and helpers that
// wire cells the way the net utility's questions need them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"
#include "thr/thr.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util_family.h"
#include "../core/morv_test_env.h"
#include "log_records.h"
#include "morv_test_util.h"

// prefix followed by the decimal number (kept out of operator+, whose
// inlined copies trip a false overlap warning in optimised builds).
inline std::string numbered(const char* prefix, int number)
{
    std::string text(prefix);
    text.append(std::to_string(number));
    return text;
}

// What the net utility can be given besides the netlist.
enum NET_UTIL_OPTIONS : unsigned
{
    NET_UTIL_PLAIN = 0,
    // A boundary-port manager (partitions and port bindings) is installed.
    NET_UTIL_PARTITIONS = 1,
    // The editing interface logs into a change log of its own.
    NET_UTIL_LOGGING = 2
};

class NET_UTIL_NETLIST
{
public:
    explicit NET_UTIL_NETLIST(int family, unsigned options = NET_UTIL_PLAIN)
        : m_host(family), m_bpm(install_manager(options, &m_host.ap)), m_env(&m_host.cmp)
    {
        auto* expert = dynamic_cast<MORV_EXPERT*>(m_env.get_fsyn_expert());
        m_api = expert != nullptr ? expert->get_fsyn_api() : nullptr;
        m_util = m_api != nullptr ? m_api->get_fsyn_net_util() : nullptr;
        if ((options & NET_UTIL_LOGGING) != 0 && m_api != nullptr) {
            m_log = std::make_unique<TEST_CHANGE_LOG>(m_api);
            m_api->get_fsyn_cdb_interface()->set_fsyn_log(m_log.get());
            m_api->get_fsyn_cdb_interface()->set_logging(true);
        }
    }
    ~NET_UTIL_NETLIST()
    {
        if (m_log != nullptr) {
            m_api->get_fsyn_cdb_interface()->set_logging(false);
            m_api->get_fsyn_cdb_interface()->set_fsyn_log(nullptr);
        }
    }
    NET_UTIL_NETLIST(const NET_UTIL_NETLIST&) = delete;
    NET_UTIL_NETLIST& operator=(const NET_UTIL_NETLIST&) = delete;

    MORV_NET_UTIL* util() const { return m_util; }
    MORV_API* api() const { return m_api; }
    MORV_TEST_ENV& env() { return m_env; }
    CDB_ATOM_NETLIST* netlist() const { return m_host.netlist.get(); }
    HDB_NAME_MGR& names() { return m_host.names; }
    int family() const { return m_host.cmp.get_base_family_code(); }
    BPM_BOUNDARY_PORT_MANAGER* bpm() const { return m_bpm.get(); }
    TEST_CHANGE_LOG* log() const { return m_log.get(); }

    // A new atom of the family in the netlist, named name.
    CDB_ATOM_NODE* atom(int kind, const std::string& name)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(family(), kind, m_host.names.find_or_create_path(name, 0));
        node->set_chip_db_entry(&m_host.chip_entry);
        netlist()->add_node(node);
        return node;
    }

    // A driver cell whose comb-out feeds node's input of that port type.
    CDB_ATOM_ITERM* drive(CDB_ATOM_NODE* node, int port_type, CDB_ATOM_OTERM* source = nullptr)
    {
        if (source == nullptr) source = new_source();
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
        if (iterm == nullptr) iterm = node->add_input_term(port_type);
        source->insert_fanout(iterm);
        return iterm;
    }

    // A LUT cell named name with the 6-input mask and all six data input
    // terms, the inputs listed in used driven by fresh sources.
    CDB_ATOM_NODE* lut6(const std::string& name, uint64_t mask, const std::vector<int>& used)
    {
        CDB_ATOM_NODE* node = atom(CDB_KIND_LCELL_COMB, name);
        for (int k = 0; k < 6; ++k) {
            CDB_ATOM_ITERM* t = node->add_input_term(DB_DATA_A + k);
            if (std::find(used.begin(), used.end(), k) != used.end()) new_source()->insert_fanout(t);
        }
        node->set_lutmask(CDB_LUTMASK(6, mask));
        return node;
    }

    // A fresh comb-out of a cell of its own, to drive inputs with.
    CDB_ATOM_OTERM* new_source()
    {
        CDB_ATOM_NODE* src = atom(CDB_KIND_IO, numbered("src", m_count++));
        return src->add_output_term(DB_DATA_OUT);
    }

    // Node's output of that type, created when missing, given one sink.
    CDB_ATOM_OTERM* load(CDB_ATOM_NODE* node, int output_port_type)
    {
        CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(output_port_type);
        if (oterm == nullptr) oterm = node->add_output_term(output_port_type);
        CDB_ATOM_NODE* sink = atom(CDB_KIND_IO, numbered("sink", m_count++));
        oterm->insert_fanout(sink->add_input_term(DB_DATAIN));
        return oterm;
    }

    // Every record logged so far, one line each in creation order (see
    // record_line); the records are taken out of the log.
    std::vector<std::string> take_log_entries()
    {
        std::vector<std::string> out = pending_record_lines(*m_log);
        m_log->clear_pending_entries();
        return out;
    }

private:
    static std::unique_ptr<BPM_BOUNDARY_PORT_MANAGER> install_manager(unsigned options, HDB_ACTION_PT_INSTANCE* ap)
    {
        if ((options & NET_UTIL_PARTITIONS) == 0) return nullptr;
        auto bpm = std::make_unique<BPM_BOUNDARY_PORT_MANAGER>(ap);
        bpm_drl_set_active_boundary_port_manager(bpm.get());
        return bpm;
    }

    MORV_TEST_HOST m_host;
    // The manager and the log outlive the facade that reads them.
    std::unique_ptr<BPM_BOUNDARY_PORT_MANAGER> m_bpm;
    std::unique_ptr<TEST_CHANGE_LOG> m_log;
    MORV_TEST_ENV m_env;
    MORV_API* m_api = nullptr;
    MORV_NET_UTIL* m_util = nullptr;
    int m_count = 0;
};

// "atom:usage:index", the way log entries name an input term.
inline std::string term_text(const CDB_ATOM_ITERM* t)
{
    std::string text = std::to_string(t->get_my_node()->get_id());
    text.append(":").append(std::to_string(t->get_any_usage_as()));
    text.append(":").append(std::to_string(t->get_port_index()));
    return text;
}

// Every family with a net utility.
inline const int kNetUtilFamilies[] = {CDB_FAMILY_BRK,     CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV,   CDB_FAMILY_MRL,
                                       CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK,   CDB_FAMILY_OBRAN, CDB_FAMILY_UVO};
// The 6-input families and their bit orders.
inline const int kSixInputFamilies[] = {CDB_FAMILY_BRK, CDB_FAMILY_MRL, CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK,
                                        CDB_FAMILY_OBRAN};
