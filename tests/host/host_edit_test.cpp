#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "abc_equiv.h"
#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"

namespace host_edit_test {

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

// y inverted: what the design computes once an inverter drives y's pin.
const char* k_luts_y_inverted = R"(.model luts
.inputs a b c
.outputs y z
.names a b c y
111 0
.names a b z
1- 1
-1 1
.end
)";

// A compile of one netlist with its facade.
struct EDIT_FIXTURE
{
    explicit EDIT_FIXTURE(const std::string& text, const std::string& file, int family = CDB_FAMILY_BRK)
    {
        msg_set_quiet(true);
        BLIF_READER reader(family);
        design = std::make_unique<HOST_DESIGN>(family, reader.read_text(text, file));
        env = std::make_unique<HOST_ENV>(*design);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
    }
    ~EDIT_FIXTURE() { env.reset(); }
    CDB_ATOM_NODE* driver_of(const std::string& net)
    {
        for (CDB_ATOM_NODE* node : *design->netlist())
            if (CDB_ATOM_OTERM* out = node->get_output_term_by_type(DB_COMB_OUT))
                if (out->get_instance_name() && out->get_instance_name()->get_short_hpath() == net) return node;
        return nullptr;
    }
    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_API* api = nullptr;
};

// A LUT of one input put between y's driver and everything it fed, made
// and wired through the editing interface and announced as every
// algorithm must.
CDB_ATOM_NODE* insert_lut_after(EDIT_FIXTURE& f, CDB_ATOM_NODE* driver, uint64_t mask)
{
    MORV_CDB_INTERFACE* cdb = f.api->get_fsyn_cdb_interface();
    HDB_NAME_MGR* names = f.design->action_point().get_name_mgr();
    HDB_INSTANCE_NAME* name = names->find_or_create_path("inserted", HDB_INAME_FLAG_SYNTHESIZED);
    CDB_ATOM_NODE* lut = cdb->create_lcell_comb_brk(nullptr, name);
    CDB_ATOM_ITERM* in = nullptr;
    CDB_ATOM_OTERM* out = nullptr;
    cdb->create_input_term(nullptr, in, lut, DB_DATA_A, 0);
    cdb->create_oterm(nullptr, out, lut, DB_COMB_OUT, name);
    cdb->set_lutmask(lut, CDB_LUTMASK(6, mask), 0);
    f.api->node_added(lut, driver, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE);

    CDB_ATOM_OTERM* from = driver->get_output_term_by_type(DB_COMB_OUT);
    while (CDB_ATOM_ITERM* sink = from->get_first_fanout()) {
        f.api->modify_edge(sink, true);
        cdb->disconnect_fanin(sink, CDB_NET_ITERM::UNCONNECTED);
        cdb->insert_fanin(sink, out);
        f.api->modify_edge(sink, false);
    }
    cdb->insert_fanin(in, from);
    f.api->modify_edge(in, false);
    return lut;
}

// Row k of a BRK mask is bit 63 - k; input A is bit 0 of the row.
constexpr uint64_t BRK_BUFFER = 0x5555555555555555ull;
constexpr uint64_t BRK_INVERTER = 0xAAAAAAAAAAAAAAAAull;

TEST(HostEdit, ACreatedAtomIsInTheNetlistAndItsFileAndComputesWhatWasIntended)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    std::ofstream("edit_ref.blif") << k_luts;
    std::ofstream("edit_ref_inverted.blif") << k_luts_y_inverted;
    for (const auto& [mask, reference] : {std::pair<uint64_t, const char*>{BRK_BUFFER, "edit_ref.blif"},
                                          std::pair<uint64_t, const char*>{BRK_INVERTER, "edit_ref_inverted.blif"}}) {
        EDIT_FIXTURE f(k_luts, "luts.blif");
        const size_t before = f.design->netlist()->get_node_count();
        CDB_ATOM_NODE* lut = insert_lut_after(f, f.driver_of("y"), mask);
        EXPECT_EQ(f.design->netlist()->get_node_count(), before + 1);
        EXPECT_EQ(f.env->get_node(static_cast<int>(lut->get_id())), lut);
        EXPECT_TRUE(f.design->netlist()->verify());

        std::ostringstream text;
        blif_write_netlist(*f.design->netlist(), text, "luts");
        EXPECT_NE(text.str().find("inserted"), std::string::npos);
        blif_write_netlist_file(*f.design->netlist(), "edit_out.blif", "luts");
        const ABC_RESULT result = abc_check_equivalence(reference, "edit_out.blif", false);
        EXPECT_TRUE(result.is_equivalent()) << result.m_command << "\n" << result.m_output;
    }
}

TEST(HostEdit, ADeletedNodeLeavesNoAtomAndNoDanglingConnection)
{
    const char* k_fan = R"(.model fan
.inputs a b c
.outputs p q
.names a b c m
111 1
.names m a p
11 1
.names m b q
10 1
.end
)";
    EDIT_FIXTURE f(k_fan, "fan.blif");
    CDB_ATOM_NODE* m = f.driver_of("m");
    ASSERT_NE(m, nullptr);
    const int id = static_cast<int>(m->get_id());
    CDB_ATOM_NODE* p = f.driver_of("p");
    f.api->delete_node(m);
    EXPECT_EQ(f.env->get_node(id), nullptr);
    EXPECT_EQ(f.env->count_notes("delete_node"), 1);
    EXPECT_TRUE(f.design->netlist()->verify());
    for (auto it = p->begin_iterm(); it != p->end_iterm(); ++it) {
        if ((*it)->is_used_as(DB_DATA_A)) {
            EXPECT_FALSE((*it)->is_connected());
        }
    }
}

// Netlists read from files are consistent: the check finds nothing.
TEST(HostEdit, BenchmarkNetlistsPassTheNetlistCheck)
{
    struct CASE
    {
        const char* file;
        int family;
    } cases[] = {{"/iscas89_k6/s1423.blif", CDB_FAMILY_BRK},
                 {"/mcnc_k4/alu4.blif", CDB_FAMILY_ZEPLA},
                 {"/mcnc_k4/s298.blif", CDB_FAMILY_UVO}};
    for (const CASE& c : cases) {
        msg_set_quiet(true);
        BLIF_READER reader(c.family);
        HOST_DESIGN design(c.family, reader.read_file(std::string(MORV_BENCH_DIR) + c.file));
        HOST_ENV env(design);
        MORV_API* api = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert())->get_fsyn_api();
        EXPECT_TRUE(api->check_atom_netlist()) << c.file;
        std::ifstream findings("fsyn_check_atom_netlist.txt");
        std::string first;
        std::getline(findings, first);
        EXPECT_EQ(first, "") << c.file;
    }
}

}  // namespace

}  // namespace host_edit_test
