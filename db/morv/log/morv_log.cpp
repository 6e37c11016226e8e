#include "morv/log/morv_log.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "cdb/cdb_atom_netlist.h"
#include "cmp/cmp_facade.h"
#include "fio/fio.h"
#include "logdb/logdb_database.h"
#include "logdb/logdb_record_stream.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"

uint32_t MORV_LOG::s_log_entry_id = 0;
int32_t MORV_LOG::s_log_chunk_number = 0;
uint64_t MORV_LOG::s_compile_tokens = 0;

namespace {

// Chunk files this process made and has not removed, in the order made.
// Only these are removed after a merge: a chunk's name holds the project
// name, which need not be the compile's, and other files of db/ are not ours.
std::vector<std::string>& created_chunk_files()
{
    static std::vector<std::string> names;
    return names;
}

// Final file name -> the compile that started it in this process.
std::map<std::string, uint64_t>& started_final_files()
{
    static std::map<std::string, uint64_t> started;
    return started;
}

// Final file name (absolute) -> everything this compile merged so far,
// under a temporary name beside it. The final name keeps the log of the
// compile before until the host settles a compile that succeeded: a compile
// that fails, or is killed at any point, leaves that log as it was.
std::map<std::string, std::unique_ptr<FIO_TEMP_FILE>>& pending_final_files()
{
    static std::map<std::string, std::unique_ptr<FIO_TEMP_FILE>> pending;
    return pending;
}

FIO_TEMP_FILE* pending_final_file(const std::string& final_name)
{
    auto it = pending_final_files().find(FIO_PATH(final_name).fullpath());
    return it == pending_final_files().end() ? nullptr : it->second.get();
}

// The log a final name stands for while a compile runs.
std::string current_log_file(const std::string& final_name)
{
    const FIO_TEMP_FILE* pending = pending_final_file(final_name);
    return pending != nullptr ? pending->get_name() : LOGDB_FSYN_LOG_FILE::get_os_safe_file_name(final_name);
}

}  // namespace

// ------------------------------------------------------------------ life

// Edits announced before the first flow starts (the morlin legalisation)
// change nodes the compile began with: those have states to store too.
MORV_LOG::MORV_LOG(MORV_API* fsyn_api)
    : m_fsyn_api(fsyn_api), m_max_node_id_at_start(static_cast<int32_t>(CDB_ATOM_NODE::s_next_id) - 1)
{
    MORV_ASSERT(m_fsyn_api);
    m_compile_token = ++s_compile_tokens;
}

MORV_LOG::MORV_LOG(const MORV_LOG& source, MORV_API* fsyn_api)
    : m_chunk_file_names(source.m_chunk_file_names), m_stored_node_ids(source.m_stored_node_ids), m_fsyn_api(fsyn_api),
      m_net_util(source.m_net_util), m_max_node_id_at_start(source.m_max_node_id_at_start),
      m_log_version(source.m_log_version), m_compile_token(source.m_compile_token)
{
    MORV_ASSERT(m_fsyn_api);
    // Each stored state is cloned once: the copy's list names the clones its
    // map owns, so that a change through the map is the one written.
    std::unordered_map<const LOGDB_FSYN_LOG_ENTRY*, LOGDB_FSYN_LOG_ENTRY*> clone_of;
    for (const auto& [id, record] : source.m_store_node_info_map) {
        RECORD_OWNER copy = record->clone();
        clone_of[record.get()] = copy.get();
        m_store_node_info_map.emplace(id, std::move(copy));
    }
    for (const LOGDB_FSYN_LOG_ENTRY* record : source.m_store_node_info_entries) {
        auto it = clone_of.find(record);
        MORV_ASSERT_TEXT(it != clone_of.end(), "m_store_node_info_map holds every listed entry");
        m_store_node_info_entries.push_back(it->second);
    }
    for (const auto& [id, record] : source.m_insert_atom_map) m_insert_atom_map.emplace(id, record->clone());
    for (const auto& [id, record] : source.m_delete_atom_map) m_delete_atom_map.emplace(id, record->clone());
    for (const auto& [id, record] : source.m_connection_map) m_connection_map.emplace(id, record->clone());
    for (const RECORD_OWNER& record : source.m_pending_entries) m_pending_entries.push_back(record->clone());
    for (const RECORD_OWNER& record : source.m_partition_entries) m_partition_entries.push_back(record->clone());
}

MORV_LOG::~MORV_LOG() {}

// A replaying log reads the stored log and writes no chunk of its own.
void MORV_LOG::open_first_chunk()
{
    m_log_file = MORV_MAKE_OWNER(LOGDB_FSYN_LOG_FILE);
    if (!m_fsyn_api->is_fsyn_write_log_required()) return;
    m_log_file->set_file_name(make_chunk_file_name());
    m_log_file->init(true);
    begin_chunk_file();
    m_chunk_file_names.push_back(m_log_file->get_file_name());
}

void MORV_LOG::clear_pending_containers()
{
    m_insert_atom_map.clear();
    m_delete_atom_map.clear();
    m_connection_map.clear();
    // The list only names what the map owns.
    m_store_node_info_entries.clear();
    m_store_node_info_map.clear();
    m_pending_entries.clear();
    m_partition_entries.clear();
    m_oterm_by_name_id.clear();
    m_node_by_name_id.clear();
    for (auto& entry : m_oterm_to_bp_ids_map) entry.second.clear();
}

void MORV_LOG::reset_log()
{
    clear_pending_entries();
    m_stored_node_ids.clear();
    m_chunk_file_names.clear();
}

std::vector<const LOGDB_FSYN_LOG_ENTRY*> MORV_LOG::get_all_pending_entries() const
{
    std::vector<const LOGDB_FSYN_LOG_ENTRY*> all;
    for (const LOGDB_FSYN_LOG_ENTRY* r : m_store_node_info_entries) all.push_back(r);
    for (const auto& entry : m_insert_atom_map) all.push_back(entry.second.get());
    for (const RECORD_OWNER& r : m_pending_entries) all.push_back(r.get());
    for (const auto& entry : m_connection_map) all.push_back(entry.second.get());
    for (const RECORD_OWNER& r : m_partition_entries) all.push_back(r.get());
    for (const auto& entry : m_delete_atom_map) all.push_back(entry.second.get());
    std::stable_sort(all.begin(), all.end(), [](const LOGDB_FSYN_LOG_ENTRY* a, const LOGDB_FSYN_LOG_ENTRY* b) {
        return static_cast<uint32_t>(a->m_entry_id) < static_cast<uint32_t>(b->m_entry_id);
    });
    return all;
}

// ------------------------------------------------------------------ chunks

std::string MORV_LOG::make_chunk_file_name()
{
    std::string name = "db/";
    name += m_fsyn_api->get_morv_env()->get_project_name();
    name += std::to_string(s_log_chunk_number++);
    name += ".kas";
    created_chunk_files().push_back(name);
    fio_remove_on_interrupt(name);
    return name;
}

void MORV_LOG::begin_chunk_file()
{
    m_log_file->delete_file();
    write_marker(LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER);
}

void MORV_LOG::write_marker(uint32_t type)
{
    LOGDB_FSYN_LOG_ENTRY_OWNER record = logdb_make_fsyn_log_entry(type, static_cast<int32_t>(next_entry_id()));
    if (type == LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER)
        record = LOGDB_FSYN_LOG_ENTRY_OWNER(MEM_NEW("MORV", LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER, record->m_entry_id,
                                                    static_cast<uint32_t>(m_fsyn_api->get_base_family_code())));
    MORV_ASSERT(record);
    write_to_chunk(record.get());
}

// A log that does not write (a replay) refuses records without an error.
void MORV_LOG::write_to_chunk(const LOGDB_FSYN_LOG_ENTRY* record)
{
    if (!m_log_file->write_fsyn_log_entry(record)) check_chunk_written();
}

void MORV_LOG::start_new_log_chunk()
{
    m_log_file->close();
    check_chunk_written();
    m_log_file->set_file_name(make_chunk_file_name());
    begin_chunk_file();
    m_chunk_file_names.push_back(m_log_file->get_file_name());
}

void MORV_LOG::ensure_open_chunk()
{
    if (m_chunk_file_names.empty()) start_new_log_chunk();
}

std::vector<std::string> MORV_LOG::get_created_chunk_files()
{
    return created_chunk_files();
}

void MORV_LOG::delete_chunk_files()
{
    for (const std::string& name : created_chunk_files()) {
        FIO_FILE_SYSTEM::remove_if_exists(FIO_PATH(name));
        fio_forget_on_interrupt(name);
    }
    created_chunk_files().clear();
}

// ------------------------------------------------------------------ merge

bool MORV_LOG::is_first_merge(const std::string& final_name) const
{
    auto it = started_final_files().find(final_name);
    return it == started_final_files().end() || it->second != m_compile_token;
}

// The log merged so far: on a compile's first merge the synthesis stage's
// log (which a compile may lack), later what this compile merged.
std::string MORV_LOG::merge_start_file(const std::string& final_name, bool first_merge) const
{
    std::string start = current_log_file(final_name);
    if (first_merge) {
        start = "db/";
        start += m_fsyn_api->get_morv_env()->get_cmp()->get_compile_base_name();
        start += ".map.psl";
    }
    return FIO_FILE_SYSTEM::exists(FIO_PATH(start)) ? start : std::string();
}

// A stored file that cannot be written, or a log it is built from that
// cannot be read, stops the compile with the file and the reason; the chunk
// files go with it, and the files written before are left as they were.
void MORV_LOG::fail_stored_file(const std::string& file_name, const std::string& reason)
{
    delete_chunk_files();
    throw FIO_WRITE_ERROR(file_name, reason);
}

void MORV_LOG::check_chunk_written() const
{
    if (!m_log_file->write_error().empty()) fail_stored_file(m_log_file->get_file_name(), m_log_file->write_error());
}

// Each merge builds the whole log anew beside the final file; the final
// name is replaced only when the host settles the compile (see
// settle_final_files). A full disk or a damaged source stops the compile
// and leaves no temporary behind.
void MORV_LOG::merge_log_files(const std::string& final_name)
{
    m_log_file->close();
    check_chunk_written();
    const bool first_merge = is_first_merge(final_name);
    fio_remove_stale_temporaries(final_name);
    auto merged = std::make_unique<FIO_TEMP_FILE>();
    std::string error;
    if (!merged->create(FIO_PATH(final_name).fullpath(), error)) fail_stored_file(final_name, error);
    LOGDB_FSYN_LOG_FILE final_file;
    final_file.init(true);
    final_file.set_file_name(merged->get_name());
    std::vector<std::string> sources;
    if (std::string start = merge_start_file(final_name, first_merge); !start.empty()) sources.push_back(start);
    // A chunk no longer among the made ones was merged or discarded already
    // (a restored snapshot still lists the chunks before it).
    const std::set<std::string> live(created_chunk_files().begin(), created_chunk_files().end());
    for (const std::string& chunk : m_chunk_file_names)
        if (live.count(chunk) != 0) sources.push_back(chunk);
    for (const std::string& source : sources) {
        if (final_file.append_file(source)) continue;
        final_file.close();
        // A source that cannot be read is named; a write that failed names the final file.
        if (final_file.write_error().empty()) fail_stored_file(final_name, "cannot use " + final_file.append_error());
        fail_stored_file(final_name, final_file.write_error());
    }
    final_file.close();
    if (!final_file.write_error().empty()) fail_stored_file(final_name, final_file.write_error());
    pending_final_files()[FIO_PATH(final_name).fullpath()] = std::move(merged);
    if (first_merge) {
        started_final_files()[final_name] = m_compile_token;
        register_log_in_database(final_name);
    }
    m_chunk_file_names.clear();
}

std::string MORV_LOG::settle_final_files(bool compile_succeeded)
{
    std::string error;
    for (auto& [final_name, pending] : pending_final_files())
        if (compile_succeeded && error.empty()) pending->commit(final_name, error);
    // What was not committed goes with its temporary file.
    pending_final_files().clear();
    return error;
}

bool MORV_LOG::is_final_file_pending(const std::string& final_name)
{
    return pending_final_file(final_name) != nullptr;
}

std::string MORV_LOG::copy_log_file(const std::string& source, const std::string& target)
{
    FIO_TEMP_FILE temp;
    std::string error;
    if (!temp.create(target, error)) return error;
    LOGDB_FSYN_LOG_FILE copy;
    copy.init(true);
    copy.set_file_name(temp.get_name());
    const bool appended = copy.append_file(source);
    copy.close();
    if (!appended) return copy.append_error();
    if (!copy.write_error().empty()) return copy.write_error();
    return temp.commit(target, error) ? std::string() : error;
}

void MORV_LOG::register_log_in_database(const std::string& final_name)
{
    LOGDB_DATABASE::load_database();
    LOGDB_DATABASE* database = LOGDB_DATABASE::get_database();
    MORV_ASSERT(database);
    database->add_entry(LOGDB_DATABASE_ENTRY(4, {"FSYN_LOG_CREATED", final_name}));
}

int64_t MORV_LOG::get_log_file_size(const std::string& name)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(current_log_file(name), ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

// A chained log that had `size` bytes ended there with its closing record,
// which the merges after replaced by their records: the records before it
// are kept and the log is closed again, as it was.
void MORV_LOG::cut_log_file(const std::string& name, int64_t size)
{
    const std::string file = current_log_file(name);
    const int64_t now = get_log_file_size(name);
    if (now < 0 || size < 0 || now <= size) return;
    LOGDB_FSYN_LOG_FILE source;
    source.set_file_name(file);
    std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER> kept;
    for (;;) {
        const uint64_t at = source.get_read_offset();
        LOGDB_FSYN_LOG_ENTRY_OWNER record = source.read_fsyn_log_entry();
        const uint64_t closing = source.is_chained() ? LOGDB_RECORD_MIN_BYTES + LOGDB_CHAIN_BYTES : 0;
        if (!record || at + closing >= static_cast<uint64_t>(size)) break;
        kept.push_back(std::move(record));
    }
    if (source.error().is_set()) fail_stored_file(file, "cannot use " + source.error().to_string());
    source.close();
    auto temp = std::make_unique<FIO_TEMP_FILE>();
    std::string error;
    if (!temp->create(FIO_PATH(name).fullpath(), error)) fail_stored_file(file, error);
    LOGDB_FSYN_LOG_FILE cut;
    cut.init(true);
    cut.set_file_name(temp->get_name());
    for (const LOGDB_FSYN_LOG_ENTRY_OWNER& record : kept) cut.write_fsyn_log_entry(record.get());
    cut.close();
    if (!cut.write_error().empty()) fail_stored_file(file, cut.write_error());
    // A log this compile merged stays pending; a final file is replaced.
    if (pending_final_file(name) != nullptr) pending_final_files()[FIO_PATH(name).fullpath()] = std::move(temp);
    else if (!temp->commit(file, error)) fail_stored_file(file, error);
}
