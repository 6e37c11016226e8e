#include "cdb/cdb_atom_netlist_pdb.h"

#include <ostream>
#include <string_view>

#include "cdb/cdb_atom_netlist.h"

namespace {
constexpr uint32_t NETLIST_SEGMENT_VERSION = 1;
}

// The segment carries the native text form: it holds every property and
// is checked line by line on the way back in.
void pdb_write_ptr(PDB_SEGMENT_WRITER& writer, const CDB_ATOM_NETLIST* netlist)
{
    if (netlist == nullptr) throw PDB_DATABASE_EXCEPTION("no netlist to write");
    writer.write_u32(NETLIST_SEGMENT_VERSION);
    writer.write_streamed_string([netlist](std::ostream& text) { cdb_write_native_netlist(*netlist, text); });
}

void pdb_read_ptr(PDB_SEGMENT_READER& reader, CDB_ATOM_NETLIST*& out, HDB_NAME_MGR* mgr)
{
    if (reader.read_u32() != NETLIST_SEGMENT_VERSION)
        throw PDB_DATABASE_EXCEPTION("\"" + reader.get_file_name() + "\": unknown netlist segment version");
    // The text goes to the reader a line at a time, straight from the file.
    struct SEGMENT_LINES : CDB_NATIVE_LINES
    {
        explicit SEGMENT_LINES(PDB_SEGMENT_READER::LINES source) : m_source(std::move(source)) {}
        bool next(std::string_view& line) override { return m_source.next(line); }
        PDB_SEGMENT_READER::LINES m_source;
    } lines(reader.read_string_lines());
    if (!lines.m_source.ends_segment())
        throw PDB_DATABASE_EXCEPTION("\"" + reader.get_file_name() + "\": unexpected bytes after the content");
    std::string error;
    CDB_ATOM_NETLIST* n = cdb_read_native_netlist_lines(lines, reader.get_file_name(), mgr, &error, true);
    if (n == nullptr) throw PDB_DATABASE_EXCEPTION(error);
    out = n;
}

bool cdb_save_netlist_to_pdb(const CDB_ATOM_NETLIST* netlist, const std::string& base_name, std::string* error)
{
    try {
        PDB_ARCHIVE archive(gen_generate_pdb_filename(base_name, ""));
        PDB_SEGMENT_WRITER writer(archive, PDB_SEGMENT_NETLIST);
        pdb_write_ptr(writer, netlist);
        writer.commit();
        archive.close();
        return true;
    } catch (const PDB_DATABASE_EXCEPTION& e) {
        if (error) *error = e.what();
        return false;
    }
}

CDB_ATOM_NETLIST* cdb_restore_netlist_from_pdb(const std::string& base_name, HDB_NAME_MGR* mgr, std::string* error)
{
    try {
        PDB_ARCHIVE archive(gen_generate_pdb_filename(base_name, ""));
        PDB_SEGMENT_READER reader(archive, PDB_SEGMENT_NETLIST);
        CDB_ATOM_NETLIST* n = nullptr;
        pdb_read_ptr(reader, n, mgr);
        archive.close();
        return n;
    } catch (const PDB_DATABASE_EXCEPTION& e) {
        if (error) *error = e.what();
        return nullptr;
    }
}
