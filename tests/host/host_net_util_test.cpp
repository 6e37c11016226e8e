#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "abc_equiv.h"
#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/log/morv_log.h"
#include "log_records.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util_family.h"

namespace host_net_util_test {

using namespace morv_host;

namespace {

const char* k_luts = R"(.model luts
.inputs a b c
.outputs y z
.names a b c y
111 1
.names a b z
1- 1
-1 1
.end
)";

// The 6-input mask of f in the BRK bit order (row k at bit 63 - k).
uint64_t brk_mask(const std::function<bool(unsigned)>& f)
{
    uint64_t mask = 0;
    for (unsigned row = 0; row < 64; ++row)
        if (f(row)) mask |= uint64_t(1) << (63 - row);
    return mask;
}

CDB_ATOM_NODE* driver_of(CDB_ATOM_NETLIST* netlist, const std::string& name)
{
    for (CDB_ATOM_NODE* node : *netlist)
        if (CDB_ATOM_OTERM* out = node->get_output_term_by_type(DB_COMB_OUT))
            if (out->get_instance_name() && out->get_instance_name()->get_short_hpath() == name) return node;
    return nullptr;
}

TEST(HostNetUtil, BrkConstantInputsGetDriverCellsAndKeepTheFunction)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    msg_set_quiet(true);
    {
        std::ofstream("luts_ref.blif") << k_luts;
    }
    BLIF_READER reader(CDB_FAMILY_BRK);
    HOST_DESIGN design(CDB_FAMILY_BRK, reader.read_text(k_luts, "luts.blif"));
    HOST_ENV env(design);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    MORV_NET_UTIL* util = expert->get_fsyn_api()->get_fsyn_net_util();
    CDB_ATOM_NETLIST* netlist = design.netlist();

    // y = a b c d e with d and e tied to VCC; z = a + b + f with f tied to GND
    // and one more VCC input it must AND with.
    CDB_ATOM_NODE* y = driver_of(netlist, "y");
    CDB_ATOM_NODE* z = driver_of(netlist, "z");
    ASSERT_TRUE(y && z);
    y->add_input_term(DB_DATA_D)->set_vcc();
    y->add_input_term(DB_DATA_E)->set_vcc();
    y->set_lutmask(CDB_LUTMASK(6, brk_mask([](unsigned k) { return (k & 0x1F) == 0x1F; })));
    z->add_input_term(DB_DATA_F)->set_gnd();
    z->add_input_term(DB_DATA_E)->set_vcc();
    // VCC read through an inverted input is a logical 0: it must not get a VCC driver.
    CDB_ATOM_ITERM* inverted_vcc = z->add_input_term(DB_DATA_D);
    inverted_vcc->set_vcc();
    inverted_vcc->set_invert();
    z->set_lutmask(CDB_LUTMASK(6, brk_mask([](unsigned k) { return (k & 0x10) && (k & 0x23); })));
    const size_t before = netlist->get_node_count();

    util->tie_inputs_to_vcc_lcells();

    int vcc_cells = 0;
    for (CDB_ATOM_NODE* node : *netlist) {
        if (node->get_instance_name() == nullptr) continue;
        if (node->get_instance_name()->get_short_hpath().find("_VCC") == std::string::npos) continue;
        ++vcc_cells;
        EXPECT_EQ(node->get_lutmask().get_value(), ~uint64_t(0));
    }
    EXPECT_EQ(vcc_cells, 3);                               // one per VCC-tied input, each in the node list
    EXPECT_EQ(netlist->get_node_count(), before + 3 + 1);  // and the host's ground cell
    for (CDB_ATOM_NODE* node : {y, z})
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
            EXPECT_TRUE(!(*it)->is_connected() || (*it)->get_source() != nullptr);

    ASSERT_NE(inverted_vcc->get_source(), nullptr);
    EXPECT_EQ(inverted_vcc->get_source()->get_my_node()->get_lutmask().get_value(), 0u);
    EXPECT_FALSE(inverted_vcc->is_inverted());

    blif_write_netlist_file(*netlist, "luts_tied.blif", "luts");
    const ABC_RESULT result = abc_check_equivalence("luts_ref.blif", "luts_tied.blif", false);
    EXPECT_TRUE(result.is_equivalent()) << result.m_command << "\n" << result.m_output;
}

// With partitions, a tie's driver lives in the partition of the cell it
// drives: a new VCC cell joins it, a GND tie takes that partition's ground
// cell; every tie is logged.
TEST(HostNetUtil, BrkTieCellsJoinThePartitionOfTheCellTheyDrive)
{
    msg_set_quiet(true);
    BLIF_READER reader(CDB_FAMILY_BRK);
    HOST_DESIGN design(CDB_FAMILY_BRK, reader.read_text(k_luts, "luts.blif"));
    BPM_BOUNDARY_PORT_MANAGER* bpm = design.install_boundary_port_manager();
    CDB_ATOM_NETLIST* netlist = design.netlist();
    CDB_ATOM_NODE* y = driver_of(netlist, "y");
    CDB_ATOM_NODE* z = driver_of(netlist, "z");
    ASSERT_TRUE(y && z);
    CDB_ATOM_ASSIGNMENTS in_two;
    in_two.partition_id = 2;
    y->set_assignments(in_two);
    CDB_ATOM_ITERM* y_vcc = y->add_input_term(DB_DATA_D);
    y_vcc->set_vcc();
    CDB_ATOM_ITERM* y_gnd = y->add_input_term(DB_DATA_E);
    y_gnd->set_gnd();
    CDB_ATOM_ITERM* z_gnd = z->add_input_term(DB_DATA_F);
    z_gnd->set_gnd();
    std::unique_ptr<TEST_CHANGE_LOG> log;  // outlives the facade that writes into it
    HOST_ENV env(design);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    MORV_API* api = expert->get_fsyn_api();
    log = std::make_unique<TEST_CHANGE_LOG>(api);
    api->get_fsyn_cdb_interface()->set_fsyn_log(log.get());
    api->get_fsyn_cdb_interface()->set_logging(true);

    api->get_fsyn_net_util()->tie_inputs_to_vcc_lcells();

    ASSERT_TRUE(y_vcc->get_source() && y_gnd->get_source() && z_gnd->get_source());
    EXPECT_EQ(bpm->get_partition_id(y_vcc->get_source()->get_my_node()), 2);
    EXPECT_EQ(bpm->get_partition_id(y_gnd->get_source()->get_my_node()), 2);
    EXPECT_EQ(bpm->get_partition_id(z_gnd->get_source()->get_my_node()), -1);
    EXPECT_NE(y_gnd->get_source()->get_my_node(), z_gnd->get_source()->get_my_node());
    // One connection record per retied node, its tied slots naming the new
    // driver cells.
    int driven_slots = 0;
    for (const auto& [node_id, record] : log->get_connection_map())
        for (const std::string& slot :
             static_cast<const LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION&>(*record).m_connection_array)
            driven_slots += slot != "UNCHANGED" && slot != "DISCONNECT" && slot != "GND" && slot != "VCC";
    EXPECT_EQ(log->get_connection_map().size(), 2u);
    EXPECT_EQ(driven_slots, 3);
    EXPECT_EQ(log->get_insert_atom_map().size(), 1u);  // the VCC cell; ground cells are the host's
}

}  // namespace

}  // namespace host_net_util_test
