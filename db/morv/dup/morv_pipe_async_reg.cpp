// The pipeline registers: one new register clocked like the synchroniser,
// fed by the source and driving the destinations it takes over, and the
// search for a place a logic cell may stand on when its own is refused.

#include <cstdlib>

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_lutmask.h"
#include "cdb/cdb_types.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/dup/morv_pipe_async.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"

namespace {

// How a pipeline register is announced to the host.
constexpr int PIPE_REGISTER_ADDED_KIND = 5;
// The LUT of a logic-cell register passes its data input A.
constexpr uint64_t PASS_DATA_A_MASK = 0xAAAA;

// The ring search around a refused place, in this order at each distance.
constexpr int RING_DIRECTIONS[8][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

}  // namespace

bool MORV_PIPE_ASYNC::get_location(CDB_ATOM_NODE* node, int* x, int* y) const
{
    *x = -1;
    *y = -1;
    const MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    MORV_LOC location;
    if (chip_map == nullptr || node == nullptr ||
        !chip_map->get_node_location(static_cast<int>(node->get_id()), &location))
        return false;
    if (!in_grid(location.x, location.y)) return false;
    *x = location.x;
    *y = location.y;
    return true;
}

void MORV_PIPE_ASYNC::set_location(CDB_ATOM_NODE* node, int x, int y)
{
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    MORV_ASSERT_TEXT(chip_map, "chip_map");
    MORV_LOC location;
    location.x = x;
    location.y = y;
    location.sub_loc = MORV_OPEN;
    chip_map->set_node_location(static_cast<int>(node->get_id()), location);
}

CDB_ATOM_NODE* MORV_PIPE_ASYNC::create_pipeline_register(CDB_ATOM_OTERM* src_oterm,
                                                         const std::vector<CDB_ATOM_ITERM*>& dst_iterms, int x, int y)
{
    const int family = m_fsyn_api->get_base_family_code();
    MORV_ASSERT_TEXT(morv_pipe_async_supported(family), "init_asynchronous_port_types() unsupported for this family!");
    if (morv_pipe_async_uses_lcell_register(family)) return create_pipeline_register_uvo(src_oterm, dst_iterms, x, y);
    return create_pipeline_register_brk(src_oterm, dst_iterms, x, y);
}

void MORV_PIPE_ASYNC::clear_global_logged(CDB_ATOM_ITERM* iterm)
{
    if (iterm->get_global() == 0) return;
    if (m_cdb_interface->is_logging()) m_cdb_interface->get_fsyn_log()->log_clear_global(iterm);
    iterm->set_global(0);
}

void MORV_PIPE_ASYNC::set_global_zero_logged(CDB_ATOM_ITERM* iterm)
{
    if (iterm->get_global() != 0) m_cdb_interface->set_iterm_global(iterm, 0);
}

// The clock input takes the synchroniser's properties and its source.
void MORV_PIPE_ASYNC::connect_like_synchroniser_clock(CDB_ATOM_NODE* reg)
{
    CDB_ATOM_NODE* sync_reg = m_curr_async_source->sync_reg;
    CDB_ATOM_ITERM* model = sync_reg->get_input_term_by_type(sync_reg->is_pin() ? DB_CLKBUF_IN : DB_CLOCK);
    MORV_ASSERT_TEXT(model && model->get_source(), "clock_src");
    CDB_ATOM_ITERM* clock = reg->get_input_term_by_type(DB_CLOCK);
    MORV_ITERM_PROPERTIES properties;
    m_net_util->save_iterm_properties(model, &properties);
    m_net_util->restore_iterm_properties(properties, clock);
    m_net_util->insert_fanout(model->get_source(), clock);
}

void MORV_PIPE_ASYNC::move_destinations(CDB_ATOM_OTERM* src_oterm, CDB_ATOM_OTERM* reg_out,
                                        const std::vector<CDB_ATOM_ITERM*>& dst_iterms)
{
    for (CDB_ATOM_ITERM* iterm : dst_iterms) {
        MORV_ASSERT_TEXT(iterm && iterm->get_source() == src_oterm, "curr_iterm->get_source() == src_oterm");
        m_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
        m_net_util->insert_fanout(reg_out, iterm);
        set_global_zero_logged(iterm);
    }
}

CDB_ATOM_NODE* MORV_PIPE_ASYNC::create_pipeline_register_brk(CDB_ATOM_OTERM* src_oterm,
                                                             const std::vector<CDB_ATOM_ITERM*>& dst_iterms, int x,
                                                             int y)
{
    CDB_ATOM_NODE* model = src_oterm->get_my_node();
    CDB_ATOM_NODE* reg = m_net_util->create_register(model, model->get_instance_name());
    MORV_ASSERT_TEXT(reg, "reg");
    CDB_ATOM_ITERM* data = m_net_util->create_iterm(reg, m_reg_data_in_port);
    m_net_util->create_iterm(reg, DB_CLOCK);
    CDB_ATOM_OTERM* out = m_net_util->create_oterm(model, reg, DB_REG_OUT, 0);
    // A register of this family always has a clear: tied to VCC it never acts.
    if (morv_pipe_async_uses_cliques(m_fsyn_api->get_base_family_code()))
        m_cdb_interface->set_iterm_vcc(m_net_util->create_iterm(reg, DB_CLEAR));
    connect_like_synchroniser_clock(reg);
    clear_global_logged(data);
    m_net_util->insert_fanout(src_oterm, data);
    move_destinations(src_oterm, out, dst_iterms);
    MORV_DEBUG_STREAM::print(100, "create_pipeline_register_brk(): creating pipeline register for %d registers",
                             static_cast<int>(dst_iterms.size()));
    set_location(reg, x, y);
    m_fsyn_api->node_added(reg, model, PIPE_REGISTER_ADDED_KIND, MORV_MODIFICATION_CODE);
    MORV_DEBUG_STREAM::print(100, "create_pipeline_register_brk(): register created at (%d, %d)!!", x, y);
    return reg;
}

CDB_ATOM_NODE* MORV_PIPE_ASYNC::create_pipeline_register_uvo(CDB_ATOM_OTERM* src_oterm,
                                                             const std::vector<CDB_ATOM_ITERM*>& dst_iterms, int x,
                                                             int y)
{
    CDB_ATOM_NODE* model = src_oterm->get_my_node();
    CDB_ATOM_NODE* cell = m_net_util->create_lcell_comb(model);
    MORV_ASSERT_TEXT(cell, "reg");
    CDB_ATOM_ITERM* data = m_net_util->create_iterm(cell, m_reg_data_in_port);
    m_net_util->create_iterm(cell, DB_CLOCK);
    CDB_ATOM_ITERM* clear = m_net_util->create_iterm(cell, DB_CLEAR);
    CDB_ATOM_OTERM* out = m_net_util->create_oterm(model, cell, DB_REG_OUT, 0);
    // The cell's register reads its LUT, which passes the data input.
    m_cdb_interface->set_lutmask(cell, CDB_LUTMASK(4, PASS_DATA_A_MASK), 0);
    m_fsyn_api->modify_node(cell);
    connect_like_synchroniser_clock(cell);
    clear_global_logged(data);
    m_net_util->insert_fanout(src_oterm, data);
    clear_global_logged(clear);
    m_cdb_interface->set_iterm_vcc(clear);
    move_destinations(src_oterm, out, dst_iterms);
    MORV_DEBUG_STREAM::print(100, "create_pipeline_register_uvo(): creating pipeline register for %d registers",
                             static_cast<int>(dst_iterms.size()));
    set_location(cell, x, y);
    m_fsyn_api->node_added(cell, model, PIPE_REGISTER_ADDED_KIND, MORV_MODIFICATION_CODE);
    MORV_DEBUG_STREAM::print(100, "create_pipeline_register_uvo(): register created at (%d, %d)!!", x, y);
    m_fsyn_api->taint(nullptr);
    return cell;
}

bool MORV_PIPE_ASYNC::is_acceptable_location(int x, int y)
{
    return in_grid(x, y) && m_fsyn_api->can_lcell_go_to_location(x, y);
}

void MORV_PIPE_ASYNC::legalize_pipe_regs()
{
    for (size_t stage = 0; stage < static_cast<size_t>(m_pipe_stage) && stage < m_pipe_regs.size(); ++stage) {
        for (PIPE_REG& reg : m_pipe_regs[stage]) {
            if (m_fsyn_api->can_lcell_go_to_location(reg.x, reg.y)) continue;
            bool moved = false;
            for (int distance = 1; !moved; ++distance) {
                for (const auto& direction : RING_DIRECTIONS) {
                    const int x = reg.x + direction[0] * distance;
                    const int y = reg.y + direction[1] * distance;
                    if (!is_acceptable_location(x, y)) continue;
                    MORV_DEBUG_STREAM::print(
                        100, "legalize_pipe_regs(): adjusting pipeline register from (%d %d) to (%d %d)", reg.x, reg.y,
                        x, y);
                    reg.x = x;
                    reg.y = y;
                    if (reg.node != nullptr) set_location(reg.node, x, y);
                    moved = true;
                    break;
                }
                MORV_ASSERT_TEXT(moved || distance + 1 < m_nx || distance + 1 < m_ny,
                                 "(distance < m_nx) || (distance < m_ny)");
            }
        }
    }
}
