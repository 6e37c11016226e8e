#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log_capture.h"
#include "msg/msg.h"
#include "morv/netlist/morv_nt.h"

namespace morv_nt_test {

namespace {

using ID = MORV_NT_NODE_ID;
using IDS = MORV_NT_NODE_ID_LIST;

const ID A(10), B(20), C(30), D(40);

IDS ends_of(const MORV_NT& nt, const ID& id, int mode)
{
    IDS result;
    EXPECT_TRUE(nt.get_leaves_or_roots(id, &result, mode)) << id;
    return result;
}
IDS leaves(const MORV_NT& nt, const ID& id)
{
    return ends_of(nt, id, MORV_NT_LR_LEAVES);
}
IDS roots(const MORV_NT& nt, const ID& id)
{
    return ends_of(nt, id, MORV_NT_LR_ROOTS);
}

std::vector<std::string> read_lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(MorvNt, ChainAnswersItsEndsInBothDirections)
{
    MORV_NT nt;
    EXPECT_EQ(nt.record_operation(A, B, MORV_NT_TYPE_DUPLICATE, "first"), 0);
    EXPECT_EQ(nt.record_operation(B, C, MORV_NT_TYPE_REUSE, "second"), 1);
    EXPECT_EQ(leaves(nt, A), IDS{C});
    EXPECT_EQ(leaves(nt, B), IDS{C});
    EXPECT_EQ(leaves(nt, C), IDS{C});  // no operation onwards: its own leaf
    EXPECT_EQ(roots(nt, C), IDS{A});
    EXPECT_EQ(roots(nt, B), IDS{A});
    EXPECT_EQ(roots(nt, A), IDS{A});

    const MORV_NT_NODE* b = nt.find_node(B);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->m_operation_lists[MORV_NT_SRC], MORV_NT_OPERATION_ID_LIST{1});
    EXPECT_EQ(b->m_operation_lists[MORV_NT_DST], MORV_NT_OPERATION_ID_LIST{0});

    // An id never recorded: false, and the result is emptied.
    IDS result{A, B};
    EXPECT_FALSE(nt.get_leaves_or_roots(D, &result, MORV_NT_LR_LEAVES));
    EXPECT_TRUE(result.empty());
    EXPECT_EQ(nt.find_node(D), nullptr);
    EXPECT_THROW(nt.get_leaves_or_roots(A, &result, 2), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST(MorvNt, DiamondReachesTheSharedNodeOnce)
{
    MORV_NT nt;
    nt.record_operation(A, B, MORV_NT_TYPE_SPLIT, "");
    nt.record_operation(A, C, MORV_NT_TYPE_SPLIT, "");
    nt.record_operation(B, D, MORV_NT_TYPE_MERGE, "");
    nt.record_operation(C, D, MORV_NT_TYPE_MERGE, "");
    EXPECT_EQ(leaves(nt, A), IDS{D});
    EXPECT_EQ(roots(nt, D), IDS{A});
    EXPECT_EQ(roots(nt, C), IDS{A});

    // Ends come in the order first reached, breadth first: D (through B)
    // before 50 (B's second operation), D not again through C.
    nt.record_operation(B, ID(50), MORV_NT_TYPE_SPLIT, "");
    EXPECT_EQ(leaves(nt, A), (IDS{D, ID(50)}));
}

TEST(MorvNt, MergeListsEveryDistinctSourceOnce)
{
    MORV_NT nt;
    const IDS sources{A, B, A};
    EXPECT_EQ(nt.record_operation_from_many(&sources, C, MORV_NT_TYPE_MERGE, "merged"), 0);
    const MORV_NT_OPERATION& merge = nt.get_impl().get_operations()[0];
    EXPECT_EQ(merge.m_node_lists[MORV_NT_SRC], (IDS{A, B}));
    EXPECT_EQ(merge.m_node_lists[MORV_NT_DST], IDS{C});
    EXPECT_EQ(nt.find_node(A)->m_operation_lists[MORV_NT_SRC].size(), 1u);
    EXPECT_EQ(leaves(nt, A), IDS{C});
    EXPECT_EQ(leaves(nt, B), IDS{C});
    EXPECT_EQ(roots(nt, C), (IDS{A, B}));

    const IDS destinations{D, D, ID(50)};
    EXPECT_EQ(nt.record_operation_to_many(C, &destinations, MORV_NT_TYPE_REPACK_O_O, ""), 1);
    EXPECT_EQ(nt.get_impl().get_operations()[1].m_node_lists[MORV_NT_DST], (IDS{D, ID(50)}));
    EXPECT_EQ(leaves(nt, A), (IDS{D, ID(50)}));
    EXPECT_EQ(roots(nt, ID(50)), (IDS{A, B}));

    // The single form keeps a node that is both source and destination.
    nt.record_operation(D, D, MORV_NT_TYPE_REUSE, "");
    EXPECT_EQ(nt.find_node(D)->m_operation_lists[MORV_NT_SRC].size(), 1u);
    EXPECT_EQ(nt.find_node(D)->m_operation_lists[MORV_NT_DST].size(), 2u);
    EXPECT_TRUE(leaves(nt, D).empty());  // a cycle has no end

    const IDS empty;
    EXPECT_THROW(nt.record_operation_from_many(nullptr, C, MORV_NT_TYPE_MERGE, ""), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(nt.record_operation_from_many(&empty, C, MORV_NT_TYPE_MERGE, ""), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(nt.record_operation_to_many(C, nullptr, MORV_NT_TYPE_SPLIT, ""), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(nt.record_operation_to_many(C, &empty, MORV_NT_TYPE_SPLIT, ""), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(nt.record_operation(A, B, MORV_NT_TYPE_END, ""), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_EQ(nt.get_number_of_operations(), 3);  // refused operations leave nothing behind
}

TEST(MorvNt, PackedRegistersAreNodesOfTheirOwn)
{
    MORV_NT nt;
    const ID reg_a(7, ID::PACKED_INPUT_REG_A), reg_b(7, ID::PACKED_INPUT_REG_B), out(7, ID::PACKED_OUTPUT_REG);
    nt.record_operation(ID(7), reg_a, MORV_NT_TYPE_PACK_INPUT, "");
    EXPECT_NE(nt.find_node(reg_a), nullptr);
    EXPECT_EQ(nt.find_node(reg_b), nullptr);
    EXPECT_EQ(leaves(nt, ID(7)), IDS{reg_a});
    EXPECT_EQ(reg_a.to_string(true), "<7 (packed input reg A)>");
    EXPECT_EQ(reg_b.to_string(false), "7 (packed input reg B)");
    EXPECT_EQ(out.to_string(true), "<7 (packed output reg)>");
    EXPECT_EQ(ID(7).to_string(true), "<7>");
    std::ostringstream plain;
    plain << out << "|" << ID(8);
    EXPECT_EQ(plain.str(), "7 (packed output reg)|8");
    EXPECT_TRUE(ID(7) < reg_a && reg_a < reg_b && reg_b < out && out < ID(8));
    EXPECT_THROW(ID(7, 4), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST(MorvNt, ClearRestartsTheIdsAndCopiesAreIndependent)
{
    MORV_NT nt;
    nt.record_operation(A, B, MORV_NT_TYPE_DUPLICATE, "");
    MORV_NT copy(nt);
    copy.record_operation(B, C, MORV_NT_TYPE_DUPLICATE, "");
    EXPECT_EQ(nt.get_number_of_operations(), 1);
    EXPECT_EQ(leaves(nt, A), IDS{B});
    EXPECT_EQ(leaves(copy, A), IDS{C});

    nt.clear();
    EXPECT_EQ(nt.find_node(A), nullptr);
    EXPECT_EQ(nt.record_operation(C, D, MORV_NT_TYPE_SPLIT, ""), 0);
    EXPECT_EQ(leaves(copy, A), IDS{C});
}

TEST(MorvNt, DumpListsOperationsThenNodesWithTheirEnds)
{
    MORV_LOG_CAPTURE log(2);
    MORV_NT nt;
    nt.record_operation(ID(5), ID(7), MORV_NT_TYPE_DUPLICATE, "dup of reg");
    const IDS sources{ID(7), ID(8, ID::PACKED_OUTPUT_REG)};
    nt.record_operation_from_many(&sources, ID(9), MORV_NT_TYPE_MERGE, "");
    const std::string file = "nt_dump_test.txt";
    nt.dump_to_file(file.c_str());
    const std::vector<std::string> expected = {
        "**** Dumping all operations ****",
        "OP (0) [FSYN_NT_DUPLICATE] SRC( 5 ) DST( 7 ) {dup of reg}",
        "OP (1) [FSYN_NT_MERGE] SRC( 7  8 (packed output reg) ) DST( 9 ) {}",
        "**** Dumping all tracked nodes ****",
        "NODE <5>",
        " - ROOTS -",
        "   <5>",
        " - LEAVES -",
        "   <9>",
        "NODE <7>",
        " - ROOTS -",
        "   <5>",
        " - LEAVES -",
        "   <9>",
        "NODE <8 (packed output reg)>",
        " - ROOTS -",
        "   <8 (packed output reg)>",
        " - LEAVES -",
        "   <9>",
        "NODE <9>",
        " - ROOTS -",
        "   <8 (packed output reg)>   <5>",
        " - LEAVES -",
        "   <9>",
    };
    EXPECT_EQ(read_lines(file), expected);
    std::remove(file.c_str());
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Dumping NODE TRACK info to file < nt_dump_test.txt >"});

    try {
        nt.dump_to_file("no_such_folder/nt.txt");
        ADD_FAILURE() << "an unwritable dump must be refused";
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
        EXPECT_NE(std::string(e.what()).find("fp"), std::string::npos);
    }
}

}  // namespace

}  // namespace morv_nt_test
