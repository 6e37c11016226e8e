// The search for equivalent outputs on a benchmark netlist: LUTs copied with
// their inputs wired in another order (the mask permuted to match) are found
// with their originals, and nothing else joins a group that the netlist did
// not have before.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_canonical_node_info.h"
#include "morv/netlist/morv_net_util.h"

namespace host_equivalent_oterms_test {

using namespace morv_host;

namespace {

typedef std::set<std::set<uint32_t>> ID_GROUPS;

// The groups of more than one output, as sets of atom ids.
ID_GROUPS shared_groups(MORV_NET_UTIL* util)
{
    MORV_OTERM_SET_SET groups;
    util->find_equivalent_oterms(&groups);
    ID_GROUPS ids;
    for (const MORV_OTERM_SET& group : groups) {
        if (group.size() < 2) continue;
        std::set<uint32_t> members;
        for (CDB_ATOM_OTERM* oterm : group) members.insert(oterm->get_my_node()->get_id());
        ids.insert(members);
    }
    return ids;
}

// A new cell reading the original's sources, input p at position order[p],
// with the mask that keeps the original's function; its output drives a pin.
CDB_ATOM_NODE* permuted_copy(CDB_ATOM_NETLIST* netlist, int family, CDB_ATOM_NODE* original,
                             const std::vector<int>& order)
{
    const int size = cdb_family_lut_size(family);
    CDB_ATOM_NODE* copy = cdb_create_atom(family, CDB_KIND_LCELL_COMB);
    copy->set_chip_db_entry(original->get_chip_db_entry());
    netlist->add_node(copy);
    for (int p = 0; p < size; ++p) {
        CDB_ATOM_ITERM* in = original->get_input_term_by_type(DB_DATA_A + p);
        if (in != nullptr && in->get_source() != nullptr)
            in->get_source()->insert_fanout(copy->add_input_term(DB_DATA_A + order[p]));
    }
    uint64_t truth = 0;
    for (unsigned row = 0; row < (1u << size); ++row) {
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
        for (int p = 0; p < size; ++p) in[p] = (row >> order[p]) & 1u;
        if (original->evaluate_output(DB_COMB_OUT, in) == 1) truth |= uint64_t(1) << row;
    }
    copy->set_lutmask(blif_family_lutmask(family, size, truth));
    CDB_ATOM_NODE* pin = cdb_create_output_pin(family);
    netlist->add_node(pin);
    copy->add_output_term(DB_COMB_OUT)->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
    return copy;
}

TEST(HostEquivalentOterms, PermutedCopiesOfBenchmarkLutsAreFoundWithTheirOriginals)
{
    msg_set_quiet(true);
    std::mt19937_64 random(19);
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_BRK, CDB_FAMILY_MRL, CDB_FAMILY_UVO}) {
        BLIF_READER reader(family);
        HOST_DESIGN design(family, reader.read_file(std::string(MORV_BENCH_DIR) + "/mcnc_k4/alu4.blif"));
        HOST_ENV env(design);
        auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
        ASSERT_NE(expert, nullptr);
        MORV_NET_UTIL* util = expert->get_fsyn_api()->get_fsyn_net_util();
        CDB_ATOM_NETLIST* netlist = design.netlist();
        const ID_GROUPS before = shared_groups(util);

        std::vector<CDB_ATOM_NODE*> luts;
        for (CDB_ATOM_NODE* node : *netlist)
            if (util->is_lut(node) && node->get_output_term_by_type(DB_COMB_OUT) != nullptr &&
                util->get_number_of_connected_lut_inputs(node) >= 2)
                luts.push_back(node);
        ASSERT_GT(luts.size(), 1000u);
        std::shuffle(luts.begin(), luts.end(), random);
        std::map<uint32_t, uint32_t> copy_of;
        std::vector<int> order(cdb_family_lut_size(family));
        for (int i = 0; i < 60; ++i) {
            for (size_t p = 0; p < order.size(); ++p) order[p] = static_cast<int>(p);
            std::shuffle(order.begin(), order.end(), random);
            copy_of[luts[i]->get_id()] = permuted_copy(netlist, family, luts[i], order)->get_id();
        }

        ID_GROUPS expected;
        std::set<uint32_t> grouped;
        for (std::set<uint32_t> group : before) {
            for (uint32_t id : std::set<uint32_t>(group))
                if (copy_of.count(id)) group.insert(copy_of[id]);
            grouped.insert(group.begin(), group.end());
            expected.insert(group);
        }
        for (const auto& [original, copy] : copy_of)
            if (!grouped.count(original)) expected.insert({original, copy});
        EXPECT_EQ(shared_groups(util), expected) << "family " << family;
    }
}

// The groups are the classes of outputs whose forms compare equal, found
// here by comparing every pair; without singles only the classes of two or
// more come back.
TEST(HostEquivalentOterms, GroupsAreTheClassesOfPairwiseEqualForms)
{
    msg_set_quiet(true);
    std::mt19937_64 random(7);
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_UVO}) {
        BLIF_READER reader(family);
        HOST_DESIGN design(family, reader.read_file(std::string(MORV_BENCH_DIR) + "/mcnc_k4/alu4.blif"));
        HOST_ENV env(design);
        auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
        ASSERT_NE(expert, nullptr);
        MORV_NET_UTIL* util = expert->get_fsyn_api()->get_fsyn_net_util();
        std::vector<CDB_ATOM_NODE*> luts;
        for (CDB_ATOM_NODE* node : *design.netlist())
            if (util->is_lut(node) && util->get_number_of_connected_lut_inputs(node) >= 2) luts.push_back(node);
        std::vector<int> order(cdb_family_lut_size(family));
        for (int i = 0; i < 40; ++i) {
            for (size_t p = 0; p < order.size(); ++p) order[p] = static_cast<int>(p);
            std::shuffle(order.begin(), order.end(), random);
            // Some twice, so that classes of three come up.
            permuted_copy(design.netlist(), family, luts[static_cast<size_t>(i % 30)], order);
        }

        MORV_OTERM_SET_SET all;
        util->find_equivalent_oterms(&all);
        std::vector<CDB_ATOM_OTERM*> outputs;
        for (const MORV_OTERM_SET& group : all) outputs.insert(outputs.end(), group.begin(), group.end());
        std::vector<MORV_OWNER<MORV_CANONICAL_NODE_INFO>> forms;
        for (CDB_ATOM_OTERM* oterm : outputs) forms.push_back(util->create_canonical_node_info(oterm));
        const DETERMINISTIC_LESS<MORV_CANONICAL_NODE_INFO*> less;
        std::vector<size_t> class_of(outputs.size());
        for (size_t i = 0; i < outputs.size(); ++i) {
            class_of[i] = i;
            for (size_t j = 0; j < i; ++j)
                if (!less(forms[i].get(), forms[j].get()) && !less(forms[j].get(), forms[i].get())) {
                    class_of[i] = class_of[j];
                    break;
                }
        }
        std::map<size_t, MORV_OTERM_SET> classes;
        for (size_t i = 0; i < outputs.size(); ++i) classes[class_of[i]].insert(outputs[i]);
        MORV_OTERM_SET_SET expected, expected_shared;
        for (const auto& [first, members] : classes) {
            expected.insert(members);
            if (members.size() > 1) expected_shared.insert(members);
        }
        EXPECT_EQ(all, expected) << "family " << family;
        EXPECT_GE(expected_shared.size(), 30u) << "family " << family;

        MORV_OTERM_SET_SET shared;
        util->find_equivalent_oterms(&shared, false);
        EXPECT_EQ(shared, expected_shared) << "family " << family;
    }
}

}  // namespace

}  // namespace host_equivalent_oterms_test
