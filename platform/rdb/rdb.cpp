#include "rdb/rdb.h"

#include <algorithm>

#include "hdb/hdb_instance_name.h"

RDB_TABLE_INAME_ELEMENT::RDB_TABLE_INAME_ELEMENT(const HDB_INSTANCE_NAME* name)
    : m_path(name != nullptr ? name->get_short_hpath() : std::string())
{}

void RDB_TABLE_ROW::add_element(RDB_TABLE_ELEMENT* element)
{
    if (element != nullptr) m_elements.emplace_back(element);
}

std::vector<std::string> RDB_TABLE_ROW::texts() const
{
    std::vector<std::string> out;
    out.reserve(m_elements.size());
    for (const auto& e : m_elements) out.push_back(e->get_text());
    return out;
}

void RDB_TABLE_OBJECT::add_row(RDB_TABLE_ROW* row)
{
    if (row != nullptr) m_rows.emplace_back(row);
}

void RDB_FOLDER::add_table(RDB_TABLE_OBJECT* table)
{
    if (table != nullptr) m_tables.emplace_back(table);
}

const RDB_TABLE_OBJECT* RDB_FOLDER::find_table(const std::string& name) const
{
    for (const auto& t : m_tables)
        if (t->get_name() == name) return t.get();
    return nullptr;
}

RDB_FOLDER* RDB_REPORT::open_folder(const std::string& name)
{
    m_folders.push_back(std::make_unique<RDB_FOLDER>(name));
    m_current = m_folders.back().get();
    return m_current;
}

RDB_TABLE_OBJECT* rdb_create_table(const std::string& name)
{
    if (name.empty()) return nullptr;
    return new RDB_TABLE_OBJECT(name);
}

RDB_TABLE_ROW* rdb_create_row(const std::vector<std::string>& texts)
{
    auto* row = new RDB_TABLE_ROW;
    for (const std::string& text : texts) row->add_element(new RDB_TABLE_STRING_ELEMENT(text));
    return row;
}

bool rdb_object_exists_in_folder(const RDB_FOLDER* folder, const RDB_TABLE_OBJECT* table)
{
    return folder != nullptr && table != nullptr && folder->find_table(table->get_name()) != nullptr;
}

void rdb_print_table(std::ostream& out, const RDB_TABLE_OBJECT& table)
{
    std::vector<std::vector<std::string>> rows;
    std::vector<size_t> widths;
    for (size_t r = 0; r < table.get_row_count(); ++r) {
        rows.push_back(table.get_row(r).texts());
        if (widths.size() < rows.back().size()) widths.resize(rows.back().size(), 0);
        for (size_t c = 0; c < rows.back().size(); ++c) widths[c] = std::max(widths[c], rows.back()[c].size());
    }
    out << table.get_name() << '\n';
    for (const std::vector<std::string>& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0) line += " | ";
            line += row[c];
            if (c + 1 < row.size()) line.append(widths[c] - row[c].size(), ' ');
        }
        out << line << '\n';
    }
}
