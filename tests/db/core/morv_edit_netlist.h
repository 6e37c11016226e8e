#pragma once
// A small BRK netlist for the facade's edit and query tests:
//   a, b, c -> mid -> s0, s1;  s0 -> r (register)
// with every output named like its atom. Every edit prints its trace line
// (level 100) into trace_file(); start() makes the facade.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

class MORV_EDIT_NETLIST_TEST : public MORV_CLEAN_STATE_TEST
{
protected:
    static const char* trace_file() { return "api_edit_trace.txt"; }

    void SetUp() override
    {
        MORV_CLEAN_STATE_TEST::SetUp();
        std::remove(trace_file());
        MORV_DEBUG_STREAM::get_stream().reset(trace_file());
        cfg_set_value("fsyn_debug_msg_full", "on");
        host = std::make_unique<MORV_TEST_HOST>(CDB_FAMILY_BRK);
        a = lut("a");
        b = lut("b");
        c = lut("c");
        mid = lut("mid");
        s0 = lut("s0");
        s1 = lut("s1");
        r = reg("r");
        connect(a, mid, DB_DATA_A);
        connect(b, mid, DB_DATA_B);
        connect(c, mid, DB_DATA_C);
        connect(mid, s0, DB_DATA_A);
        connect(mid, s1, DB_DATA_A);
        connect(s0, r, DB_DATAIN);
    }
    void TearDown() override
    {
        env.reset();
        host.reset();
        MORV_DEBUG_STREAM::get_stream().reset();
        std::remove(trace_file());
        DMGR_UTILITY::set_current_device(nullptr);
        MORV_CLEAN_STATE_TEST::TearDown();
    }

    MORV_API* start()
    {
        env = std::make_unique<MORV_TEST_ENV>(&host->cmp);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
        api->reset_taint();
        env->m_events.clear();
        return api;
    }

    HDB_INSTANCE_NAME* name(const std::string& text) { return host->names.find_or_create_path(text, 0); }
    CDB_ATOM_NODE* add(CDB_ATOM_NODE* node, int output)
    {
        node->set_chip_db_entry(&host->chip_entry);
        host->netlist->add_node(node);
        node->add_output_term(output, node->get_instance_name());
        return node;
    }
    CDB_ATOM_NODE* lut(const std::string& text)
    {
        return add(cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, name(text)), DB_COMB_OUT);
    }
    CDB_ATOM_NODE* reg(const std::string& text)
    {
        return add(cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_REGISTER, name(text)), DB_REG_OUT);
    }
    static CDB_ATOM_OTERM* out(CDB_ATOM_NODE* node) { return *node->begin_oterm(); }
    static CDB_ATOM_ITERM* connect(CDB_ATOM_NODE* from, CDB_ATOM_NODE* to, int port)
    {
        CDB_ATOM_ITERM* iterm = to->add_input_term(port);
        iterm->insert_fanin(out(from));
        return iterm;
    }
    static std::string id(const CDB_ATOM_NODE* node) { return std::to_string(node->get_id()); }
    static int nid(const CDB_ATOM_NODE* node) { return static_cast<int>(node->get_id()); }

    static std::vector<std::string> lines_of(const std::string& file)
    {
        std::vector<std::string> lines;
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    static std::vector<std::string> trace_lines() { return lines_of(trace_file()); }
    static int count_lines_with(const std::vector<std::string>& lines, const std::string& text)
    {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                              [&](const std::string& l) { return l.find(text) != std::string::npos; }));
    }

    std::unique_ptr<MORV_TEST_HOST> host;
    std::unique_ptr<MORV_TEST_ENV> env;
    MORV_API* api = nullptr;
    CDB_ATOM_NODE *a = nullptr, *b = nullptr, *c = nullptr, *mid = nullptr, *s0 = nullptr, *s1 = nullptr, *r = nullptr;
};
