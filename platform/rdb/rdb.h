#pragma once
// Host report database: the compiler's report is a list of results folders,
// each holding named tables of rows; the first row of a table is its header.
// A table is built free-standing, filled, then handed to its folder, which
// owns it from then on.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

class HDB_INSTANCE_NAME;

// Texts of the asynchronous-pipelining table.
#define RDB_PIPE_ASYNC_STATS "Asynchronous Signal Pipelining"
#define RDB_PIPE_ASYNC_NET "NET"
#define RDB_PIPE_ASYNC_STAGES "STAGES"
#define RDB_PIPE_ASYNC_REGISTERS "REGISTERS"
#define RDB_PIPE_ASYNC_NOTE "NOTE"

class RDB_OBJECT
{
public:
    explicit RDB_OBJECT(std::string name) : m_name(std::move(name)) {}
    virtual ~RDB_OBJECT() = default;
    RDB_OBJECT(const RDB_OBJECT&) = delete;
    RDB_OBJECT& operator=(const RDB_OBJECT&) = delete;
    const std::string& get_name() const { return m_name; }

private:
    std::string m_name;
};

// One cell of a row.
class RDB_TABLE_ELEMENT
{
public:
    virtual ~RDB_TABLE_ELEMENT() = default;
    virtual std::string get_text() const = 0;
};

// The hierarchy path of an instance name; "" for none. The path is taken
// when the element is made: a table outlives the names of netlists that a
// later restore replaces.
class RDB_TABLE_INAME_ELEMENT : public RDB_TABLE_ELEMENT
{
public:
    explicit RDB_TABLE_INAME_ELEMENT(const HDB_INSTANCE_NAME* name);
    std::string get_text() const override { return m_path; }

private:
    std::string m_path;
};

class RDB_TABLE_INT_ELEMENT : public RDB_TABLE_ELEMENT
{
public:
    explicit RDB_TABLE_INT_ELEMENT(long long value) : m_value(value) {}
    std::string get_text() const override { return std::to_string(m_value); }
    long long get_value() const { return m_value; }

private:
    long long m_value;
};

class RDB_TABLE_STRING_ELEMENT : public RDB_TABLE_ELEMENT
{
public:
    explicit RDB_TABLE_STRING_ELEMENT(std::string text) : m_text(std::move(text)) {}
    std::string get_text() const override { return m_text; }

private:
    std::string m_text;
};

class RDB_TABLE_ROW
{
public:
    // The row takes ownership of element (null is ignored).
    void add_element(RDB_TABLE_ELEMENT* element);
    size_t size() const { return m_elements.size(); }
    const RDB_TABLE_ELEMENT& element(size_t i) const { return *m_elements[i]; }
    std::vector<std::string> texts() const;

private:
    std::vector<std::unique_ptr<RDB_TABLE_ELEMENT>> m_elements;
};

class RDB_TABLE_OBJECT : public RDB_OBJECT
{
public:
    using RDB_OBJECT::RDB_OBJECT;
    // The table takes ownership of row (null is ignored).
    void add_row(RDB_TABLE_ROW* row);
    size_t get_row_count() const { return m_rows.size(); }
    const RDB_TABLE_ROW& get_row(size_t i) const { return *m_rows[i]; }
    // The table is shown beside the last compile's floorplan locations.
    void set_last_cmp_flp_location_available(bool on) { m_last_cmp_flp_location_available = on; }
    bool is_last_cmp_flp_location_available() const { return m_last_cmp_flp_location_available; }

private:
    std::vector<std::unique_ptr<RDB_TABLE_ROW>> m_rows;
    bool m_last_cmp_flp_location_available = false;
};

class RDB_FOLDER : public RDB_OBJECT
{
public:
    using RDB_OBJECT::RDB_OBJECT;
    // The folder takes ownership of table.
    void add_table(RDB_TABLE_OBJECT* table);
    size_t get_table_count() const { return m_tables.size(); }
    const RDB_TABLE_OBJECT& get_table(size_t i) const { return *m_tables[i]; }
    const RDB_TABLE_OBJECT* find_table(const std::string& name) const;

private:
    std::vector<std::unique_ptr<RDB_TABLE_OBJECT>> m_tables;
};

class RDB_REPORT
{
public:
    // Opens a new results folder and makes it the current one.
    RDB_FOLDER* open_folder(const std::string& name);
    // The folder results go to; null before one was opened.
    RDB_FOLDER* get_current_folder() const { return m_current; }
    size_t get_folder_count() const { return m_folders.size(); }
    const RDB_FOLDER& get_folder(size_t i) const { return *m_folders[i]; }

private:
    std::vector<std::unique_ptr<RDB_FOLDER>> m_folders;
    RDB_FOLDER* m_current = nullptr;
};

// A new empty table, owned by the caller until added to a folder; null for
// an empty name.
RDB_TABLE_OBJECT* rdb_create_table(const std::string& name);
// A new row of string elements, one per text (a header row).
RDB_TABLE_ROW* rdb_create_row(const std::vector<std::string>& texts);
// Whether the folder holds a table of that table's name.
bool rdb_object_exists_in_folder(const RDB_FOLDER* folder, const RDB_TABLE_OBJECT* table);
// The table as text: its name, then the rows in aligned columns.
void rdb_print_table(std::ostream& out, const RDB_TABLE_OBJECT& table);
