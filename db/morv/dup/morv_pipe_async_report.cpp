// The report of asynchronous pipelining: a row for every source looked at,
// gathered over both flows, filed once as a table of the compile's report.

#include <memory>

#include "cdb/cdb_atom_node.h"
#include "cmp/cmp_facade.h"
#include "rdb/rdb.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/dup/morv_pipe_async.h"

void MORV_PIPE_ASYNC::add_report_row(CDB_ATOM_OTERM* src_oterm, uint32_t stages, uint32_t registers,
                                     const std::string& note)
{
    MORV_ASSERT_TEXT(src_oterm && src_oterm->get_my_node(), "src_oterm");
    PIPE_ASYNC_REPORT_ROW row;
    row.m_node_id = src_oterm->get_my_node()->get_id();
    row.m_port_type = static_cast<uint32_t>(src_oterm->get_usage());
    row.m_stages = stages;
    row.m_registers = registers;
    row.m_note = note;
    s_report_rows.push_back(std::move(row));
}

void MORV_PIPE_ASYNC::write_report_table()
{
    CMP_FACADE* cmp = m_fsyn_api->get_morv_env()->get_cmp();
    RDB_FOLDER* target_folder = cmp != nullptr ? cmp->get_report()->get_current_folder() : nullptr;
    MORV_ASSERT_TEXT(target_folder, "results_folder != NULL");
    std::string table_name = target_folder->get_name();
    table_name += " ";
    table_name += RDB_PIPE_ASYNC_STATS;
    // The host's table until the folder takes it.
    std::unique_ptr<RDB_TABLE_OBJECT> table_object(rdb_create_table(table_name));
    MORV_ASSERT_TEXT(table_object, "table_object");
    table_object->set_last_cmp_flp_location_available(true);
    RDB_TABLE_ROW* header =
        rdb_create_row({RDB_PIPE_ASYNC_NET, RDB_PIPE_ASYNC_STAGES, RDB_PIPE_ASYNC_REGISTERS, RDB_PIPE_ASYNC_NOTE});
    MORV_ASSERT_TEXT(header, "table_row != NULL");
    table_object->add_row(header);
    for (const PIPE_ASYNC_REPORT_ROW& row : s_report_rows) {
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(static_cast<int>(row.m_node_id));
        CDB_ATOM_OTERM* oterm =
            node != nullptr ? node->get_output_term_by_type(static_cast<int>(row.m_port_type)) : nullptr;
        if (oterm == nullptr) continue;
        auto* data = new RDB_TABLE_ROW;
        data->add_element(new RDB_TABLE_INAME_ELEMENT(oterm->get_instance_name()));
        data->add_element(new RDB_TABLE_INT_ELEMENT(row.m_stages));
        data->add_element(new RDB_TABLE_INT_ELEMENT(row.m_registers));
        data->add_element(new RDB_TABLE_STRING_ELEMENT(row.m_note));
        table_object->add_row(data);
    }
    MORV_ASSERT_TEXT(!rdb_object_exists_in_folder(target_folder, table_object.get()),
                     "!rdb_object_exists_in_folder( target_folder, table_object )");
    target_folder->add_table(table_object.release());
    // Shown once: a later compile of the process starts its rows afresh.
    s_report_rows.clear();
}
