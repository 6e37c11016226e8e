#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "../cdb/cdb_test_netlist.h"
#include "cdb/cdb_atom_netlist_pdb.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hut/hut_util.h"
#include "pdb/pdb_archive.h"

namespace archive_test {

namespace {

std::string native_text(const CDB_ATOM_NETLIST& n)
{
    std::ostringstream os;
    cdb_write_native_netlist(n, os);
    return os.str();
}

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}
void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
}

TEST(PdbArchive, PrimitivesRoundTripAndReadsPastTheEndThrow)
{
    PDB_ARCHIVE a("prims");
    PDB_SEGMENT_WRITER w(a, PDB_SEGMENT_NETLIST);
    w.write_u8(7);
    w.write_i32(-5);
    w.write_u64(0x0102030405060708ull);
    w.write_string(std::string("a\0b", 3));
    w.commit();
    PDB_SEGMENT_READER r(a, PDB_SEGMENT_NETLIST);
    EXPECT_EQ(r.read_u8(), 7);
    EXPECT_EQ(r.read_i32(), -5);
    EXPECT_EQ(r.read_u64(), 0x0102030405060708ull);
    EXPECT_EQ(r.read_string(), std::string("a\0b", 3));
    EXPECT_TRUE(r.at_end());
    EXPECT_THROW(r.read_u32(), PDB_DATABASE_EXCEPTION);
    EXPECT_THROW(PDB_SEGMENT_READER(a, PDB_SEGMENT_HIERARCHY), PDB_DATABASE_EXCEPTION);  // no such file
    EXPECT_EQ(a.get_segment_file_name(PDB_SEGMENT_NETLIST), "prims.cdb");
}

// A string written as a stream is the same segment, byte for byte, as the
// string written whole, also when it spans many of the writer's blocks, goes
// to the file on the way, or its length straddles two blocks; the writer
// never holds more than its few blocks of it. Read without a copy it is the
// same bytes.
TEST(PdbArchive, StreamedStringsAreTheSameSegmentAsWholeStrings)
{
    std::string big;
    while (big.size() < 2 * PDB_SEGMENT_WRITER::s_HELD + 12345) big += "line " + std::to_string(big.size()) + '\n';
    big += std::string("\0tail", 5);
    const std::string straddle(PDB_SEGMENT_BYTES::s_BLOCK - 3, 'p');
    for (const std::string& prefix : {std::string(), straddle}) {
        for (const std::string& text : {std::string(), std::string("x"), big}) {
            PDB_ARCHIVE whole("whole"), streamed("streamed");
            PDB_SEGMENT_WRITER w(whole, PDB_SEGMENT_NETLIST);
            w.write_bytes(prefix.data(), prefix.size());
            w.write_string(text);
            w.write_u8(5);
            w.commit();
            PDB_SEGMENT_WRITER s(streamed, PDB_SEGMENT_NETLIST);
            s.write_bytes(prefix.data(), prefix.size());
            size_t most_held = 0;
            s.write_streamed_string([&](std::ostream& out) {
                // A character at a time and in pieces, as writers do both.
                if (text.empty()) return;
                out.put(text[0]);
                for (size_t at = 1; at < text.size(); at += 100000) {
                    out.write(text.data() + at,
                              static_cast<std::streamsize>(std::min<size_t>(100000, text.size() - at)));
                    most_held = std::max(most_held, s.held());
                }
            });
            EXPECT_LE(most_held, PDB_SEGMENT_WRITER::s_HELD);
            EXPECT_EQ(s.size(), prefix.size() + 8 + text.size());
            s.write_u8(5);
            s.commit();
            EXPECT_EQ(read_file("streamed.cdb"), read_file("whole.cdb")) << prefix.size() << " " << text.size();

            PDB_SEGMENT_READER r(streamed, PDB_SEGMENT_NETLIST);
            for (char c : prefix) ASSERT_EQ(r.read_u8(), static_cast<uint8_t>(c));
            EXPECT_EQ(r.read_string(), text);
            EXPECT_EQ(r.read_u8(), 5);
            EXPECT_TRUE(r.at_end());
        }
    }
}

// A string read a line at a time gives the lines of the text split at '\n',
// also where a line spans the reader's blocks, and the reader holds no more
// than a block of the segment however large it is.
TEST(PdbArchive, StringLinesAreTheTextSplitAtLineFeedsReadABlockAtATime)
{
    const std::string long_line(PDB_SEGMENT_BYTES::s_BLOCK + 77, 'L');
    std::string many;
    for (int i = 0; many.size() < 3 * PDB_SEGMENT_BYTES::s_BLOCK; ++i) many += "node " + std::to_string(i) + "\n";
    const std::vector<std::string> texts{
        "", "a", "a\n", "a\n\nb", "\n\n", "x\r\ny\r\n", long_line, long_line + "\n" + long_line, many + "tail"};
    for (const std::string& text : texts) {
        std::vector<std::string> expected;
        for (size_t pos = 0; pos < text.size();) {
            const size_t nl = text.find('\n', pos);
            expected.push_back(text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
            pos = nl == std::string::npos ? text.size() : nl + 1;
        }
        PDB_ARCHIVE a("lines");
        PDB_SEGMENT_WRITER w(a, PDB_SEGMENT_NETLIST);
        w.write_string(text);
        w.write_u32(77);
        w.commit();
        PDB_SEGMENT_READER r(a, PDB_SEGMENT_NETLIST);
        PDB_SEGMENT_READER::LINES lines = r.read_string_lines();
        EXPECT_FALSE(lines.ends_segment());
        std::vector<std::string> got;
        std::string_view line;
        while (lines.next(line)) got.emplace_back(line);
        EXPECT_EQ(got, expected) << text.size();
        EXPECT_EQ(r.read_u32(), 77u);
        EXPECT_TRUE(r.at_end());
        EXPECT_LE(r.get_buffer_size(), PDB_SEGMENT_BYTES::s_BLOCK);
    }
}

// A segment that went to its temporary file on the way leaves nothing when
// it is abandoned, and one that cannot be written fails at commit as a
// small one does.
TEST(PdbArchive, LargeSegmentsLeaveNoTemporaryFileAndFailAtCommit)
{
    const std::string big(PDB_SEGMENT_WRITER::s_HELD + 99, 'b');
    {
        PDB_ARCHIVE a("abandoned");
        PDB_SEGMENT_WRITER w(a, PDB_SEGMENT_NETLIST);
        w.write_string(big);
        EXPECT_TRUE(std::ifstream("abandoned.cdb.tmp").good());
    }
    EXPECT_FALSE(std::ifstream("abandoned.cdb.tmp").good());
    EXPECT_FALSE(std::ifstream("abandoned.cdb").good());

    PDB_ARCHIVE nowhere("no_such_folder/big");
    PDB_SEGMENT_WRITER w(nowhere, PDB_SEGMENT_NETLIST);
    w.write_string(big);
    try {
        w.commit();
        ADD_FAILURE() << "no error";
    } catch (const PDB_DATABASE_EXCEPTION& e) {
        EXPECT_NE(std::string(e.what()).find("cannot create archive file"), std::string::npos) << e.what();
    }
}

TEST(PdbArchive, RestoredNetlistIsEqualWithSameIdsAndNewObjects)
{
    CDB_TEST_NETLIST t = cdb_make_rich_netlist();
    std::string error;
    ASSERT_TRUE(cdb_save_netlist_to_pdb(t.netlist.get(), "saved_p0_1", &error)) << error;
    HDB_NAME_MGR restored_names("chip");
    std::unique_ptr<CDB_ATOM_NETLIST> back(cdb_restore_netlist_from_pdb("saved_p0_1", &restored_names, &error));
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(native_text(*back), native_text(*t.netlist));

    std::set<const void*> old_objects;
    for (CDB_ATOM_NODE* n : *t.netlist) {
        old_objects.insert(n);
        old_objects.insert(n->get_instance_name());
        for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it) old_objects.insert(*it);
        for (auto it = n->begin_oterm(); it != n->end_oterm(); ++it) old_objects.insert(*it);
    }
    auto old_it = t.netlist->begin();
    for (CDB_ATOM_NODE* n : *back) {
        EXPECT_EQ(n->get_id(), (*old_it)->get_id());  // same ids, same order
        ++old_it;
        EXPECT_EQ(old_objects.count(n), 0u);
        EXPECT_EQ(old_objects.count(n->get_instance_name()), 0u);
        EXPECT_EQ(n->get_instance_name()->get_name_mgr(), &restored_names);
        for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it) EXPECT_EQ(old_objects.count(*it), 0u);
        for (auto it = n->begin_oterm(); it != n->end_oterm(); ++it) EXPECT_EQ(old_objects.count(*it), 0u);
    }

    // The live netlist takes the restored nodes in place of its own.
    CDB_ATOM_NETLIST scratch;
    scratch.assimilate(t.netlist.get());
    scratch.set_own_all_nodes(true);
    t.netlist->assimilate(back.get());
    back->set_own_all_nodes(false);
    EXPECT_EQ(back->get_node_count(), 0u);
    EXPECT_TRUE(t.netlist->verify());
}

TEST(PdbArchive, DamagedOrTruncatedArchivesAreErrorsNeverPartialNetlists)
{
    CDB_TEST_NETLIST t = cdb_make_rich_netlist();
    ASSERT_TRUE(cdb_save_netlist_to_pdb(t.netlist.get(), "damaged"));
    const std::string file = "damaged.cdb";
    const std::string good = read_file(file);
    ASSERT_GT(good.size(), 100u);

    struct CASE
    {
        std::string bytes;
        std::string expect;
    };
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x20;
    std::string wrong_kind = good;
    wrong_kind[8] = 2;
    for (const CASE& c : {CASE{good.substr(0, good.size() / 2), "truncated"}, CASE{good.substr(0, 10), "truncated"},
                          CASE{flipped, "checksum"}, CASE{wrong_kind, "another kind"}, CASE{"", "truncated"},
                          CASE{good + "x", "extra bytes"}}) {
        write_file(file, c.bytes);
        std::string error;
        CDB_ATOM_NETLIST* n = cdb_restore_netlist_from_pdb("damaged", nullptr, &error);
        EXPECT_EQ(n, nullptr);
        delete n;
        EXPECT_NE(error.find(c.expect), std::string::npos) << error;
    }

    // Well-formed segment, bad content: the text reader's message comes through.
    PDB_ARCHIVE a("badtext");
    PDB_SEGMENT_WRITER w(a, PDB_SEGMENT_NETLIST);
    w.write_u32(1);
    w.write_string("morv-atom-netlist 1\nnode 3 6 0 -\n");
    w.commit();
    std::string error;
    EXPECT_EQ(cdb_restore_netlist_from_pdb("badtext", nullptr, &error), nullptr);
    EXPECT_NE(error.find("badtext.cdb:"), std::string::npos) << error;
    EXPECT_NE(error.find("missing \"end\""), std::string::npos) << error;
}

TEST(PdbArchive, HierarchyRestoreBuildsANewManagerWithTheSameNames)
{
    HDB_NAME_MGR names("chip");
    HDB_INSTANCE_NAME* a = names.find_or_create_path("cpu|alu|add", HDB_INAME_FLAG_FROM_NETLIST);
    names.create_name(nullptr, "x|y", HDB_INAME_FLAG_SYNTHESIZED);  // a flat leaf holding the separator
    HDB_ACTION_PT_INSTANCE cap;
    cap.set_name_mgr(&names);
    ASSERT_TRUE(HUT_UTIL::save_cap_inst_to_pdb(&cap, "hier_p0_1"));
    ASSERT_TRUE(HUT_UTIL::restore_cap_inst_from_pdb(&cap, "hier_p0_1", PDB_FILE_TYPE_DEFAULT));
    HDB_NAME_MGR* restored = cap.get_name_mgr();
    ASSERT_NE(restored, &names);
    ASSERT_EQ(restored->get_name_count(), names.get_name_count());
    for (size_t i = 0; i < names.get_name_count(); ++i) {
        EXPECT_EQ(restored->get_iname(i)->get_hpath_to_root(), names.get_iname(i)->get_hpath_to_root());
        EXPECT_EQ(restored->get_iname(i)->get_flags(), names.get_iname(i)->get_flags());
    }
    EXPECT_EQ(restored->find_name("cpu|alu|add")->get_id(), a->get_id());
    EXPECT_EQ(restored->find_name("x|y")->get_parent(), restored->get_root());

    // A damaged hierarchy archive leaves the action point as it was.
    std::string bytes = read_file("hier_p0_1.hdb");
    write_file("hier_p0_1.hdb", bytes.substr(0, bytes.size() - 3));
    EXPECT_FALSE(HUT_UTIL::restore_cap_inst_from_pdb(&cap, "hier_p0_1"));
    EXPECT_EQ(cap.get_name_mgr(), restored);
    cap.set_name_mgr(nullptr);
    HUT_UTIL::release_restored_name_mgrs();
}

}  // namespace

}  // namespace archive_test
