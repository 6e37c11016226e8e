#pragma once
// Reading a change log's pending records in tests: each record as one line,
// "KIND_NAME node-id "node name" fields..." (the text form of the log
// database without the entry id, which depends on what ran before), in the
// order the records were made. And a change log that keeps the nodes whose
// prior state its writers asked to store, for tests of the writers' calls.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_text.h"

#include "morv/log/morv_log.h"

inline std::string record_line(const LOGDB_FSYN_LOG_ENTRY& record)
{
    const std::string text = logdb_record_to_text(record);
    const size_t kind_end = text.find(' ');
    const size_t id_end = kind_end == std::string::npos ? std::string::npos : text.find(' ', kind_end + 1);
    const char* kind = logdb_fsyn_log_entry_kind_name(record.m_type);
    std::string line = kind != nullptr ? kind : "?";
    if (id_end != std::string::npos) line.append(text, id_end, std::string::npos);
    return line;
}

inline std::vector<std::string> pending_record_lines(const MORV_LOG& log)
{
    std::vector<std::string> lines;
    for (const LOGDB_FSYN_LOG_ENTRY* record : log.get_all_pending_entries()) lines.push_back(record_line(*record));
    return lines;
}

// Every record of a log file, one line each (see record_line).
inline std::vector<std::string> file_lines(const std::string& name)
{
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name(name);
    std::vector<std::string> lines;
    while (LOGDB_FSYN_LOG_ENTRY_OWNER record = file.read_fsyn_log_entry()) lines.push_back(record_line(*record));
    EXPECT_FALSE(file.error().is_set()) << file.error().to_string();
    return lines;
}

// The line of a node-bound record: kind, node id and name, then the fields.
inline std::string log_line(const char* kind, const CDB_ATOM_NODE* node, const std::string& fields)
{
    const HDB_INSTANCE_NAME* name = node->get_instance_name();
    std::string line = kind;
    line.append(" ").append(std::to_string(node->get_id())).append(" \"");
    line.append(name != nullptr ? name->get_short_hpath() : "").append("\"");
    if (!fields.empty()) line.append(" ").append(fields);
    return line;
}

// A connection record's slot list: `count` slots, those in `set` holding
// their text, the others "UNCHANGED".
inline std::string slot_list(size_t count, const std::map<size_t, std::string>& set)
{
    std::string text = "[";
    for (size_t slot = 0; slot < count; ++slot) {
        auto it = set.find(slot);
        if (slot > 0) text += " ";
        text += "\"" + (it != set.end() ? it->second : std::string("UNCHANGED")) + "\"";
    }
    return text + "]";
}

inline std::string short_name_of(const CDB_ATOM_OTERM* oterm)
{
    return oterm->get_instance_name() != nullptr ? oterm->get_instance_name()->get_short_hpath() : std::string();
}

// The kind names of the pending records, in creation order.
inline std::vector<std::string> pending_record_kinds(const MORV_LOG& log)
{
    std::vector<std::string> kinds;
    for (const LOGDB_FSYN_LOG_ENTRY* record : log.get_all_pending_entries()) {
        const char* kind = logdb_fsyn_log_entry_kind_name(record->m_type);
        kinds.push_back(kind != nullptr ? kind : "?");
    }
    return kinds;
}

// A log of the brennock kind that also notes every prior-state request.
class TEST_CHANGE_LOG : public MORV_LOG_BRK
{
public:
    explicit TEST_CHANGE_LOG(MORV_API* api) : MORV_LOG_BRK(api) {}
    void store_node_info_before_change(CDB_ATOM_NODE* node) override
    {
        m_prior_state_requests.push_back(node->get_id());
    }
    std::vector<uint32_t> take_prior_state_requests()
    {
        std::vector<uint32_t> taken;
        taken.swap(m_prior_state_requests);
        return taken;
    }

private:
    std::vector<uint32_t> m_prior_state_requests;
};
