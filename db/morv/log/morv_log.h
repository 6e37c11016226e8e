#ifndef MORV_LOG_H
#define MORV_LOG_H

// The change log of a migration compile: every netlist edit of the run as a
// typed record. The record writers and the replay come with the change-log
// logic; this layer holds the log file and what snapshots and the flow
// driver need.

#include <string>
#include <vector>

class MORV_API;
class MORV_NET_UTIL;

// The compile's change-log file as the log database hands it out.
class MORV_LOG_FILE
{
public:
    void set_file_name(const std::string& name) { m_file_name = name; }
    const std::string& get_file_name() const { return m_file_name; }
    bool file_exists() const;
    // mode 1 opens the file for writing.
    void init(int mode) { m_open_mode = mode; }
    void close() { m_open_mode = 0; }
    bool is_open() const { return m_open_mode != 0; }
    int get_open_mode() const { return m_open_mode; }

private:
    std::string m_file_name;
    int m_open_mode = 0;
};

class MORV_LOG
{
public:
    explicit MORV_LOG(MORV_API* fsyn_api);
    MORV_LOG(const MORV_LOG& source, MORV_API* fsyn_api);
    virtual ~MORV_LOG();
    MORV_LOG& operator=(const MORV_LOG&) = delete;

    MORV_LOG_FILE* get_log_file() { return &m_log_file; }
    void set_net_util(MORV_NET_UTIL* net_util) { m_net_util = net_util; }
    MORV_NET_UTIL* get_net_util() const { return m_net_util; }
    MORV_API* get_fsyn_api() const { return m_fsyn_api; }

    void start_new_log_chunk() { ++m_chunk_number; }
    int get_chunk_number() const { return m_chunk_number; }
    // Pending records and chunk files are dropped when a migration log is restarted.
    void clear_chunk_files() { m_chunk_files.clear(); }
    const std::vector<std::string>& get_chunk_files() const { return m_chunk_files; }

protected:
    MORV_API* m_fsyn_api;
    MORV_NET_UTIL* m_net_util = nullptr;
    MORV_LOG_FILE m_log_file;
    int m_chunk_number = 0;
    std::vector<std::string> m_chunk_files;
};

class MORV_LOG_BRK : public MORV_LOG
{
public:
    explicit MORV_LOG_BRK(MORV_API* fsyn_api) : MORV_LOG(fsyn_api) {}
    MORV_LOG_BRK(const MORV_LOG_BRK& source, MORV_API* fsyn_api) : MORV_LOG(source, fsyn_api) {}
};

class MORV_LOG_MRL : public MORV_LOG
{
public:
    explicit MORV_LOG_MRL(MORV_API* fsyn_api) : MORV_LOG(fsyn_api) {}
    MORV_LOG_MRL(const MORV_LOG_MRL& source, MORV_API* fsyn_api) : MORV_LOG(source, fsyn_api) {}
};

#endif
