// A compile of a netlist a replay test builds itself, asked to replay a
// stored log: the test builds its atoms first, then start() raises the
// expert over them, as the host does after reading a design.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_text.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/log/morv_log.h"
#include "morv_test_env.h"

// The revisions a compile of each family writes first, and the END_OF_LOG
// every flow ends with.
inline const char* const LOG_MRL_REVISION = "43 0 \"7.2\" 24";
inline const char* const LOG_BRK_REVISION = "43 0 \"7.2\" 6";
inline const char* const LOG_END = "0 999";

inline std::string replay_short_name(const HDB_INSTANCE_NAME* name)
{
    return name != nullptr ? name->get_short_hpath() : std::string("?");
}

struct MORV_LOG_REPLAY_HOST
{
    MORV_LOG_REPLAY_HOST(int family_code, const std::string& log_name)
        : family(family_code), name(log_name), host(std::make_unique<MORV_TEST_HOST>(family_code))
    {}
    ~MORV_LOG_REPLAY_HOST()
    {
        env.reset();
        host.reset();
        if (writing) DMGR_UTILITY::set_current_device(nullptr);
        std::remove(name.c_str());
    }
    MORV_LOG_REPLAY_HOST(const MORV_LOG_REPLAY_HOST&) = delete;
    MORV_LOG_REPLAY_HOST& operator=(const MORV_LOG_REPLAY_HOST&) = delete;

    // A compile that writes a change log instead: its device has a part of
    // the other family to migrate to.
    void start_writing()
    {
        writing = true;
        morv_install_migration_device(family, family == 6 ? 2401 : 601);
        env = std::make_unique<MORV_TEST_ENV>(&host->cmp);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
    }
    void start()
    {
        host->ap.get_options().set_string(661, name);
        env = std::make_unique<MORV_TEST_ENV>(&host->cmp);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
        log()->get_log_file()->set_file_name(name);
    }
    CDB_ATOM_NODE* add_atom(int kind, const std::string& atom_name) const
    {
        CDB_ATOM_NODE* node = cdb_create_atom(family, kind, host->names.find_or_create_path(atom_name, 0));
        node->set_chip_db_entry(&host->chip_entry);
        host->netlist->add_node(node);
        return node;
    }
    CDB_ATOM_NODE* add_register(const std::string& reg) const
    {
        CDB_ATOM_NODE* node = add_atom(CDB_KIND_REGISTER, reg);
        node->add_output_term(DB_REG_OUT, host->names.find_or_create_path(reg, 0));
        return node;
    }
    // An output pin: the sweep after a failed replay keeps what it observes.
    void add_output_pin(const std::string& pin, CDB_ATOM_OTERM* source) const
    {
        add_atom(CDB_KIND_IO, pin)->add_input_term(DB_DATAIN)->insert_fanin(source);
    }
    CDB_ATOM_OTERM* oterm(const std::string& term_name) const
    {
        for (CDB_ATOM_NODE* n : *host->netlist)
            for (auto it = n->begin_oterm(); it != n->end_oterm(); ++it)
                if (replay_short_name((*it)->get_instance_name()) == term_name) return *it;
        return nullptr;
    }
    CDB_ATOM_NODE* node(const std::string& node_name) const
    {
        for (CDB_ATOM_NODE* n : *host->netlist)
            if (replay_short_name(n->get_instance_name()) == node_name) return n;
        return nullptr;
    }
    MORV_LOG* log() const { return api->get_fsyn_log(); }
    // Writes the lines (the log database's text form) as the log to replay;
    // false when one of them is no record.
    bool write(const std::vector<std::string>& lines) const
    {
        LOGDB_FSYN_LOG_FILE file;
        file.set_file_name(name);
        file.delete_file();
        file.init(true);
        for (const std::string& line : lines) {
            std::string error;
            LOGDB_FSYN_LOG_ENTRY_OWNER record = logdb_record_from_text(line, error);
            EXPECT_TRUE(record) << line << ": " << error;
            if (!record) return false;
            EXPECT_TRUE(file.write_fsyn_log_entry(record.get())) << line;
        }
        file.close();
        if (lines.empty()) std::ofstream(name, std::ios::trunc);
        return true;
    }
    bool replay(const std::vector<std::string>& lines)
    {
        if (!write(lines)) return false;
        msg_clear_posted_messages();
        return log()->reproduce_log();
    }
    // Every node with its type, mask and inputs, in netlist order.
    std::string netlist_text() const
    {
        std::string text;
        for (CDB_ATOM_NODE* n : *host->netlist) {
            text += replay_short_name(n->get_instance_name());
            text += ' ';
            text += std::to_string(n->get_atom_type());
            if (n->is_lcell_comb()) text.append(" mask=").append(std::to_string(n->get_lutmask().get_value()));
            for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it) {
                const CDB_ATOM_ITERM* t = *it;
                text.append(" ").append(std::to_string(t->get_any_usage_as())).append(t->is_inverted() ? "~:" : ":");
                text += t->get_source() != nullptr ? replay_short_name(t->get_source()->get_instance_name())
                        : t->is_vcc()              ? "VCC"
                        : t->is_gnd()              ? "GND"
                                                   : "-";
            }
            text += "\n";
        }
        return text;
    }

    int family;
    std::string name;
    std::unique_ptr<MORV_TEST_HOST> host;
    std::unique_ptr<MORV_TEST_ENV> env;
    MORV_API* api = nullptr;
    bool writing = false;
};

// The chain lut0 -> lut1 -> lut2 (each cell's DATA_A from the one before,
// lut0's from register src, every cell a wire of DATA_A so that the sweep
// after a replay finds no constant), lut2 read by register reg0 and reg0 by
// the output pin out0.
struct MORV_LOG_CHAIN_REPLAY : MORV_LOG_REPLAY_HOST
{
    MORV_LOG_CHAIN_REPLAY(int family_code, const std::string& log_name, bool write = false)
        : MORV_LOG_REPLAY_HOST(family_code, log_name)
    {
        ids = host->build_chain(3);
        for (int id : ids)
            host->netlist->get_node_by_id(static_cast<uint32_t>(id))
                ->set_lutmask(CDB_LUTMASK(6, 0xaaaaaaaaaaaaaaaaull));
        CDB_ATOM_NODE* src = add_register("src");
        node("lut0")->add_input_term(DB_DATA_A)->insert_fanin(src->get_output_term_by_type(DB_REG_OUT));
        CDB_ATOM_NODE* reg = add_register("reg0");
        reg->add_input_term(DB_DATAIN)->insert_fanin(node("lut2")->get_output_term_by_type(DB_COMB_OUT));
        add_output_pin("out0", reg->get_output_term_by_type(DB_REG_OUT));
        if (write) start_writing();
        else start();
    }
    CDB_ATOM_ITERM* data_a(const std::string& node_name) const
    {
        return node(node_name)->get_input_term_by_type(DB_DATA_A);
    }
    std::string posted_text(const std::string& id) const
    {
        for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
            if (m.id == id) return m.text;
        return std::string();
    }

    std::vector<int> ids;
};
