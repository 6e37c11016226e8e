#include "morv/debug/morv_drc_snapshot.h"

#include <ostream>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_net_util.h"

// ------------------------------------------------------------------ log

MORV_DRC_LOG::MORV_DRC_LOG() : m_threshold(1)
{
    if (cfg_is_on("fsyn_debug_msg_full", false)) m_threshold = 100;
    else if (cfg_is_on("fsyn_debug_msg", false)) m_threshold = 2;
}

void MORV_DRC_LOG::write(int level, const std::string& text) const
{
    if (!is_on()) return;
    MORV_DEBUG_STREAM::print(level, "%s", text.c_str());
}

// ------------------------------------------------------------------ endpoints

namespace {

constexpr const char* DRC_INTERNAL_MAC_CONNECTION = "INTERNAL MAC CONNECTION";

}  // namespace

const char* MORV_DRC_SOURCE_TRAITS::port_name(int port_type)
{
    return port_type == MORV_DRC_INTERNAL_MAC_PORT ? DRC_INTERNAL_MAC_CONNECTION : cdb_output_port_name(port_type);
}

const char* MORV_DRC_DEST_TRAITS::port_name(int port_type)
{
    return port_type == MORV_DRC_INTERNAL_MAC_PORT ? DRC_INTERNAL_MAC_CONNECTION : cdb_input_port_name(port_type);
}

namespace {

template <typename TRAITS>
std::ostream& print_endpoint(std::ostream& out, const MORV_DRC_SIGNAL_ENDPOINT<TRAITS>& endpoint)
{
    const char* name = endpoint.port_name();
    return out << "node " << endpoint.m_id << " usage " << (name ? name : "?") << "[" << endpoint.m_index << "]";
}

// The host's asynchronous input-port types, as runs of type values: the
// first type of each run and its length.
constexpr std::pair<int, int> ASYNC_PORT_RUNS[] = {
    {0, 2},   {5, 2},   {25, 1},   {32, 2},  {36, 2},  {46, 1},  {48, 1},  {50, 1},  {57, 1},  {63, 2},   {69, 1},
    {79, 4},  {91, 4},  {106, 40}, {156, 3}, {160, 1}, {162, 2}, {175, 1}, {177, 2}, {186, 1}, {195, 5},  {204, 1},
    {209, 1}, {211, 1}, {214, 1},  {219, 1}, {230, 1}, {233, 1}, {236, 2}, {243, 1}, {246, 3}, {252, 2},  {257, 1},
    {262, 1}, {269, 1}, {291, 4},  {296, 3}, {306, 1}, {313, 1}, {354, 1}, {357, 1}, {359, 2}, {362, 2},  {370, 2},
    {373, 1}, {376, 1}, {378, 2},  {382, 2}, {385, 2}, {395, 8}, {423, 1}, {426, 2}, {429, 2}, {432, 15}, {449, 5},
    {455, 3}, {460, 1}, {462, 1},  {468, 1}, {470, 2}, {475, 5}, {481, 4}, {486, 1}, {490, 1}, {496, 4},  {501, 1},
    {506, 2}, {509, 3}, {514, 2},  {519, 2}, {522, 5}, {529, 2}, {540, 1}, {547, 1}};

}  // namespace

std::ostream& operator<<(std::ostream& out, const MORV_DRC_SOURCE& endpoint)
{
    return print_endpoint(out, endpoint);
}

std::ostream& operator<<(std::ostream& out, const MORV_DRC_DEST& endpoint)
{
    return print_endpoint(out, endpoint);
}

bool morv_drc_is_async_port(int input_port_type)
{
    for (const auto& [first, length] : ASYNC_PORT_RUNS)
        if (input_port_type >= first && input_port_type < first + length) return true;
    return false;
}

std::ostream& operator<<(std::ostream& out, const MORV_DRC_INBOUND& inbound)
{
    out << (inbound.m_async ? "ASYNC " : " SYNC ") << inbound.m_dest << " (mask " << std::hex << inbound.m_lut_mask
        << std::dec << (inbound.m_registered ? ", registered" : "") << ") FROM " << inbound.m_source;
    return out;
}

std::ostream& operator<<(std::ostream& out, const MORV_DRC_NODE& node)
{
    out << "Node <" << node.m_id << ">" << (node.m_dont_touch ? " (don't touch!)" : "") << " clock colour: ";
    if (node.m_clock) out << *node.m_clock;
    else out << "none";
    out << "\nINBOUND CONNECTIONS:\n";
    for (const auto& entry : node.m_inbound) out << "  " << entry.second << "\n";
    return out;
}

// ------------------------------------------------------------------ synchronizers

const char* morv_drc_class_name(int strength_class)
{
    static const char* const NAMES[MORV_DRC_CLASS_COUNT] = {"trivial", "non-reconvergent", "reconvergent"};
    MORV_ASSERT(strength_class >= 0 && strength_class < MORV_DRC_CLASS_COUNT);
    return NAMES[strength_class];
}

bool MORV_DRC_SYNCHRONIZER::operator<(const MORV_DRC_SYNCHRONIZER& o) const
{
    if (m_colour < o.m_colour || o.m_colour < m_colour) return m_colour < o.m_colour;
    if (m_source < o.m_source || o.m_source < m_source) return m_source < o.m_source;
    return m_dest < o.m_dest;
}

std::ostream& operator<<(std::ostream& out, const MORV_DRC_SYNCHRONIZER& sync)
{
    out << "From " << sync.m_source << " to " << sync.m_dest << " in new graph (";
    if (sync.m_from_source && sync.m_from_dest) out << *sync.m_from_source << " to " << *sync.m_from_dest;
    else out << "none";
    return out << " in old), " << sync.m_stages << " stages";
}

void MORV_DRC_SYNCHRONIZER_REGISTRY::add(const MORV_DRC_SYNCHRONIZER& sync, int strength_class)
{
    MORV_ASSERT(strength_class >= 0 && strength_class < MORV_DRC_CLASS_COUNT);
    for (int c = 0; c < MORV_DRC_CLASS_COUNT; ++c)
        if (c != strength_class) m_classes[c].erase(sync);
    m_classes[strength_class].insert(sync);
}

size_t MORV_DRC_SYNCHRONIZER_REGISTRY::size() const
{
    size_t total = 0;
    for (const SET& set : m_classes) total += set.size();
    return total;
}

std::ostream& operator<<(std::ostream& out, const MORV_DRC_SYNCHRONIZER_REGISTRY& registry)
{
    for (int c = 0; c < MORV_DRC_CLASS_COUNT; ++c) {
        out << registry.get(c).size() << " " << morv_drc_class_name(c) << " synchronizers:\n";
        for (const MORV_DRC_SYNCHRONIZER& sync : registry.get(c)) out << sync << "\n";
    }
    return out;
}

// ------------------------------------------------------------------ wire cells

bool morv_drc_is_wire_lut(const CDB_ATOM_NODE* atom, const MORV_NET_UTIL* net_util, const MORV_DRC_LOG& log)
{
    if (!atom->is_lcell_comb()) return false;
    const CDB_ATOM_ITERM* only = nullptr;
    for (auto it = atom->begin_iterm(); it != atom->end_iterm(); ++it) {
        if (!(*it)->is_connected()) continue;
        if (only != nullptr) return false;
        only = *it;
    }
    if (only == nullptr) return false;
    const int port = only->get_any_usage_as();
    if (port < DB_DATA_A || port > DB_DATA_F) return false;
    const int inputs = atom->get_lut_size() == 4 ? 4 : 6;
    const CDB_LUTMASK mask(inputs, net_util->get_lutmask(const_cast<CDB_ATOM_NODE*>(atom)));
    for (int k = 0; k < inputs; ++k)
        if (k != port - DB_DATA_A && !mask.is_independent_of(k)) return false;
    log.write(100, " IS A WIRELUT");
    return true;
}

namespace {

bool wire_register_input_ok(const CDB_ATOM_NODE* atom, const CDB_ATOM_ITERM* input, const MORV_DRC_LOG& log)
{
    if (input->is_used_as(DB_DATAIN)) return true;
    const CDB_ATOM_ITERM* sload = atom->get_input_term_by_type(DB_SYNCH_LOAD);
    const bool sload_used = sload != nullptr && sload->is_connected();
    if (sload_used && input->is_used_as(DB_SYNCH_DATA)) return true;
    log.write(100, sload_used ? "IS_WIREREG: input not on SYNCH_DATA!" : "IS_WIREREG: input not on DATA_IN!");
    return false;
}

}  // namespace

bool morv_drc_is_wire_register(const CDB_ATOM_NODE* atom, const MORV_DRC_LOG& log)
{
    if (!atom->is_register()) {
        log.write(100, "IS_WIREREG: not a ff!");
        return false;
    }
    const CDB_ATOM_ITERM* sclr = atom->get_input_term_by_type(DB_SYNCH_CLEAR);
    if (sclr != nullptr && sclr->is_connected()) {
        log.write(100, "IS_WIREREG: synch_clr is connected!");
        return false;
    }
    const CDB_ATOM_ITERM* found = nullptr;
    for (auto it = atom->begin_iterm(); it != atom->end_iterm(); ++it) {
        const CDB_ATOM_ITERM* iterm = *it;
        if (!iterm->is_connected() || iterm->is_used_as(DB_CLEAR) || iterm->is_used_as(DB_CLOCK)) continue;
        if (found != nullptr) {
            log.write(100, "IS_WIREREG: FOUND ANOTHER INPUT: " + std::string(iterm->get_wysiwyg_port_name()));
            return false;
        }
        log.write(100, "IS_WIREREG: FOUND INPUT: " + std::string(iterm->get_wysiwyg_port_name()));
        found = iterm;
    }
    if (found == nullptr || !wire_register_input_ok(atom, found, log)) return false;
    log.write(100, "IS_WIREREG: YES");
    return true;
}

// ------------------------------------------------------------------ snapshot

namespace {

// The operand registers of a DSP block and the node kinds of their stages.
constexpr std::pair<int, int> DRC_MAC_OPERAND_STAGES[] = {{DB_DATA_A, MORV_NT_NODE_ID::PACKED_INPUT_REG_A},
                                                          {DB_DATA_B, MORV_NT_NODE_ID::PACKED_INPUT_REG_B}};

bool drc_is_mac(const CDB_ATOM_NODE* atom)
{
    return atom->is_mac_mult() || atom->is_mac_out();
}

// The register stage of a DSP block that drives an output term: the output
// register behind the data output, an operand register behind the term that
// shows it; the block itself for every other term.
int drc_mac_stage_driving(const CDB_ATOM_OTERM* oterm)
{
    const CDB_ATOM_NODE* mac = oterm->get_my_node();
    if (!drc_is_mac(mac)) return MORV_NT_NODE_ID::NODE;
    const int usage = oterm->get_usage();
    if (usage == DB_DATA_OUT && CUT_MAC_UTIL::get_output_port_clock(mac, DB_DATA_OUT) != CUT_MAC_NO_CLOCK)
        return MORV_NT_NODE_ID::PACKED_OUTPUT_REG;
    for (const auto& [port, kind] : DRC_MAC_OPERAND_STAGES)
        if (usage == CUT_MAC_UTIL::get_observable_port_type(port) &&
            CUT_MAC_UTIL::get_input_port_clock(mac, port) != CUT_MAC_NO_CLOCK)
            return kind;
    return MORV_NT_NODE_ID::NODE;
}

MORV_DRC_SOURCE source_of(const CDB_ATOM_OTERM* oterm)
{
    MORV_DRC_SOURCE source;
    source.m_id = MORV_NT_NODE_ID(static_cast<int>(oterm->get_my_node()->get_id()), drc_mac_stage_driving(oterm));
    source.m_index = oterm->get_port_index();
    source.m_port_type = oterm->get_usage();
    return source;
}

bool is_registered_source(const CDB_ATOM_OTERM* oterm)
{
    const CDB_ATOM_NODE* driver = oterm->get_my_node();
    return oterm->is_registered() || !driver->is_lcell_comb() || driver->is_clkbuf();
}

bool qualifies_for_chain(const CDB_ATOM_NODE* atom)
{
    return atom->is_lcell_comb() || atom->is_lcell() || atom->is_register();
}

std::string id_text(const MORV_NT_NODE_ID& id)
{
    return id.to_string(false);
}

}  // namespace

MORV_DRC_INST_SET::MORV_DRC_INST_SET(const CDB_ATOM_NETLIST* netlist, const MORV_NET_UTIL* net_util,
                                     MORV_DRC_SYNCHRONIZER_REGISTRY* registry, const MORV_DRC_LOG& log)
    : m_net_util(net_util), m_registry(registry), m_log(log)
{
    MORV_ASSERT_TEXT(netlist, "atoms");
    MORV_ASSERT(net_util && registry);
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
        MORV_ASSERT_TEXT(*it, "*node_iter");
        add_node(*it);
    }
    mark_chain_members();
    for (auto& entry : m_nodes) search_from(entry.second);
}

const MORV_DRC_NODE* MORV_DRC_INST_SET::find(const MORV_NT_NODE_ID& id) const
{
    auto it = m_nodes.find(id);
    return it == m_nodes.end() ? nullptr : &it->second;
}

void MORV_DRC_INST_SET::add_node(CDB_ATOM_NODE* atom)
{
    const MORV_NT_NODE_ID id(static_cast<int>(atom->get_id()));
    MORV_DRC_NODE& node = m_nodes[id];
    node.m_id = id;
    for (auto it = atom->begin_iterm(); it != atom->end_iterm(); ++it) add_connection(node, *it);
    if (drc_is_mac(atom)) {
        add_mac_clock(node, atom);
        add_mac_stages(node, atom);
    }
    choose_successor(node, atom);
}

void MORV_DRC_INST_SET::add_connection(MORV_DRC_NODE& node, CDB_ATOM_ITERM* iterm)
{
    const CDB_ATOM_OTERM* driver = iterm->get_source();
    if (driver == nullptr) return;
    const MORV_DRC_SOURCE source = source_of(driver);
    if (iterm->is_global()) m_globals.insert(source);
    const int port = iterm->get_any_usage_as();
    if (port == DB_CLOCK) {
        // A block's several clock inputs leave its colour to the block's own rule.
        if (!node.m_clock) node.m_clock = source;
        return;
    }
    MORV_DRC_INBOUND inbound;
    inbound.m_source = source;
    inbound.m_dest.m_id = node.m_id;
    inbound.m_dest.m_index = iterm->get_port_index();
    inbound.m_dest.m_port_type = port;
    inbound.m_registered = is_registered_source(driver);
    if (!inbound.m_registered) inbound.m_lut_mask = m_net_util->get_lutmask(driver->get_my_node());
    inbound.m_async = morv_drc_is_async_port(port);
    node.m_inbound[inbound.m_dest] = inbound;
}

// A DSP block takes the clock of its output register, else that of its
// first registered operand.
void MORV_DRC_INST_SET::add_mac_clock(MORV_DRC_NODE& node, CDB_ATOM_NODE* mac)
{
    int slot = CUT_MAC_UTIL::get_output_port_clock(mac, DB_DATA_OUT);
    for (int port : {static_cast<int>(DB_DATA_A), static_cast<int>(DB_DATA_B)})
        if (slot == CUT_MAC_NO_CLOCK) slot = CUT_MAC_UTIL::get_input_port_clock(mac, port);
    node.m_clock.reset();
    if (slot == CUT_MAC_NO_CLOCK) return;
    const CDB_ATOM_ITERM* clock = mac->get_input_term_by_type(DB_CLOCK, slot);
    if (clock != nullptr && clock->get_source() != nullptr) node.m_clock = source_of(clock->get_source());
}

namespace {

// One connection from a block to a stage or back, both seen as registered:
// a stage is a register, a block is no LUT.
void drc_join_mac_stage(const MORV_DRC_NODE& from, MORV_DRC_NODE& to, int index)
{
    MORV_DRC_INBOUND inbound;
    inbound.m_source.m_id = from.m_id;
    inbound.m_source.m_port_type = MORV_DRC_INTERNAL_MAC_PORT;
    inbound.m_dest.m_id = to.m_id;
    inbound.m_dest.m_index = index;
    inbound.m_dest.m_port_type = MORV_DRC_INTERNAL_MAC_PORT;
    inbound.m_registered = true;
    to.m_inbound[inbound.m_dest] = inbound;
}

MORV_DRC_DEST drc_mac_clear_key(const MORV_NT_NODE_ID& block, int clear_slot)
{
    MORV_DRC_DEST key;
    key.m_id = block;
    key.m_index = clear_slot;
    key.m_port_type = DB_CLEAR;
    return key;
}

}  // namespace

// Each register stage of a DSP block is a node of its own with its clock
// and clear: an operand register takes the operand's connections and feeds
// the block, the output register is fed by it. Node tracking names the
// stages by these ids when a register moves into or out of a block, so the
// checks follow the register, its clear included, to where it went.
void MORV_DRC_INST_SET::add_mac_stages(MORV_DRC_NODE& block, CDB_ATOM_NODE* mac)
{
    std::set<int> stage_clears;
    for (const auto& [port, kind] : DRC_MAC_OPERAND_STAGES) {
        const int clock = CUT_MAC_UTIL::get_input_port_clock(mac, port);
        if (clock == CUT_MAC_NO_CLOCK) continue;
        const int clear = CUT_MAC_UTIL::get_input_port_clear(mac, port);
        MORV_DRC_NODE& stage = add_mac_stage(block, mac, kind, clock, clear);
        stage_clears.insert(clear);
        for (auto it = block.m_inbound.begin(); it != block.m_inbound.end();) {
            if (it->first.m_port_type != port) {
                ++it;
                continue;
            }
            MORV_DRC_INBOUND moved = it->second;
            moved.m_dest.m_id = stage.m_id;
            stage.m_inbound[moved.m_dest] = moved;
            it = block.m_inbound.erase(it);
        }
        drc_join_mac_stage(stage, block, kind);
    }
    const int clock = CUT_MAC_UTIL::get_output_port_clock(mac, DB_DATA_OUT);
    if (clock != CUT_MAC_NO_CLOCK) {
        const int clear = CUT_MAC_UTIL::get_output_port_clear(mac, DB_DATA_OUT);
        drc_join_mac_stage(block, add_mac_stage(block, mac, MORV_NT_NODE_ID::PACKED_OUTPUT_REG, clock, clear), 0);
        stage_clears.insert(clear);
    }
    for (int clear : stage_clears) block.m_inbound.erase(drc_mac_clear_key(block.m_id, clear));
}

MORV_DRC_NODE& MORV_DRC_INST_SET::add_mac_stage(MORV_DRC_NODE& block, CDB_ATOM_NODE* mac, int kind, int clock_slot,
                                                int clear_slot)
{
    const MORV_NT_NODE_ID id(block.m_id.m_atom_id, kind);
    MORV_DRC_NODE& stage = m_nodes[id];
    stage.m_id = id;
    const CDB_ATOM_ITERM* clock = mac->get_input_term_by_type(DB_CLOCK, clock_slot);
    if (clock != nullptr && clock->get_source() != nullptr) stage.m_clock = source_of(clock->get_source());
    auto clear = block.m_inbound.find(drc_mac_clear_key(block.m_id, clear_slot));
    if (clear == block.m_inbound.end()) return stage;
    // Kept as a register's own clear, which a stage moved out of the block becomes.
    MORV_DRC_INBOUND own = clear->second;
    own.m_dest.m_id = id;
    own.m_dest.m_index = 0;
    stage.m_inbound[own.m_dest] = own;
    return stage;
}

void MORV_DRC_INST_SET::choose_successor(MORV_DRC_NODE& node, CDB_ATOM_NODE* atom)
{
    if (!qualifies_for_chain(atom)) return;
    m_log.write(100, "Node " + id_text(node.m_id) + " QUALIFIES (LCELL OR FF)...");
    const CDB_ATOM_OTERM* chosen = nullptr;
    for (auto it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
        const CDB_ATOM_OTERM* oterm = *it;
        if (oterm->get_number_of_fanout() > 1) {
            m_log.write(100, " HAS MULTIPLE FANOUTS FROM SOME OTERM");
            return;
        }
        if (oterm->get_number_of_fanout() == 0) continue;
        const int type = oterm->get_usage();
        if ((type != DB_COMB_OUT && type != DB_REG_OUT) || chosen != nullptr) {
            m_log.write(100, " BAD OUTPUT OR SUCCESSOR ALREADY CHOSEN: " + std::to_string(type));
            return;
        }
        m_log.write(100, " HAS THIS QUALIFYING OTERM");
        chosen = oterm;
    }
    if (chosen == nullptr) return;
    const CDB_ATOM_NODE* next = chosen->get_first_fanout()->get_my_node();
    if (next == nullptr) return;
    const MORV_NT_NODE_ID next_id(static_cast<int>(next->get_id()));
    if (morv_drc_is_wire_lut(next, m_net_util, m_log)) {
        node.m_successor = next_id;
    } else if (morv_drc_is_wire_register(next, m_log)) {
        node.m_successor = next_id;
        m_log.write(100, " IS A WIREREG");
        m_chain_ids.insert(next_id);
    }
}

void MORV_DRC_INST_SET::mark_chain_members()
{
    for (const MORV_NT_NODE_ID& id : m_chain_ids) {
        auto it = m_nodes.find(id);
        if (it != m_nodes.end()) it->second.m_chain_member = true;
    }
}

// The destination is the first stage; each wire register after it in the
// same clock domain adds one.
int MORV_DRC_INST_SET::count_stages(const MORV_NT_NODE_ID& dest, const MORV_DRC_SOURCE& colour) const
{
    const MORV_DRC_NODE* node = find(dest);
    if (node == nullptr) return 0;
    int stages = 1;
    const size_t limit = m_nodes.size();
    while (node->m_successor && static_cast<size_t>(stages) < limit) {
        node = find(*node->m_successor);
        if (node == nullptr || !node->m_chain_member || !node->m_clock || !(*node->m_clock == colour)) break;
        ++stages;
    }
    return stages;
}

void MORV_DRC_INST_SET::search_from(MORV_DRC_NODE& root)
{
    if (root.m_clock) {
        if (m_log.is_on()) {
            std::ostringstream text;
            text << "DFS all sources (reachability analysis) of " << root.m_id << "\nThe clock colour is "
                 << *root.m_clock;
            m_log.write(100, text.str());
        }
        search(root, MORV_DRC_MARK_REACHED);
    }
    m_log.write(100, "DFS async sources of " + id_text(root.m_id));
    search(root, MORV_DRC_MARK_ASYNC);
    m_log.write(100, "DFS to clear markings for " + id_text(root.m_id));
    search(root, MORV_DRC_MARK_NONE);
}

namespace {

bool is_reach_mark(int mark)
{
    return mark == MORV_DRC_MARK_REACHED || mark == MORV_DRC_MARK_RECONVERGENT;
}

// The mark a combinational source takes when a search with `mark` reaches
// it, -1 when the search ends there. A second route while looking for
// sources raises the mark to reconvergent, which is never lowered again.
int next_combinational_mark(int current, int mark)
{
    if (!is_reach_mark(mark)) return current != mark ? mark : -1;
    if (current == MORV_DRC_MARK_RECONVERGENT) return -1;
    if (is_reach_mark(current)) return MORV_DRC_MARK_RECONVERGENT;
    return mark;
}

}  // namespace

struct MORV_DRC_INST_SET::SEARCH
{
    MORV_DRC_NODE* root;
    int mark;
};

void MORV_DRC_INST_SET::search(MORV_DRC_NODE& root, int mark)
{
    SEARCH state{&root, mark};
    // Long carry chains would overflow a recursive walk.
    std::vector<std::pair<MORV_DRC_NODE*, int>> stack{{&root, mark}};
    while (!stack.empty()) {
        auto [node, node_mark] = stack.back();
        stack.pop_back();
        for (const auto& [dest, inbound] : node->m_inbound) {
            if (node == &root && mark == MORV_DRC_MARK_ASYNC && !inbound.m_async) continue;
            auto found = m_nodes.find(inbound.m_source.m_id);
            MORV_ASSERT_TEXT(found != m_nodes.end(), "parent_ptr");
            MORV_DRC_NODE& source = found->second;
            if (inbound.m_registered) {
                reach_registered(state, *node, source, node_mark);
                continue;
            }
            const int next = next_combinational_mark(source.m_mark, node_mark);
            if (next < 0) continue;
            source.m_mark = next;
            if (next == MORV_DRC_MARK_ASYNC) source.m_dont_touch = true;
            stack.emplace_back(&source, next);
        }
    }
}

void MORV_DRC_INST_SET::reach_registered(SEARCH& search, const MORV_DRC_NODE& from, MORV_DRC_NODE& source, int mark)
{
    const MORV_DRC_NODE& root = *search.root;
    source.m_mark = is_reach_mark(mark) && is_reach_mark(source.m_mark) ? int(MORV_DRC_MARK_RECONVERGENT) : mark;
    if (source.m_clock == root.m_clock) return;
    if (!source.m_clock || !root.m_clock) return;
    if (m_log.is_on())
        m_log.write(100, "found different clock: node " + id_text(source.m_id) + " vs " + id_text(root.m_id));
    if (!is_reach_mark(mark)) return;
    int strength = MORV_DRC_NON_RECONVERGENT;
    if (source.m_mark == MORV_DRC_MARK_RECONVERGENT) strength = MORV_DRC_RECONVERGENT;
    else if (&from == &root) strength = MORV_DRC_TRIVIAL;
    register_synchronizer(source, root, strength);
}

void MORV_DRC_INST_SET::register_synchronizer(const MORV_DRC_NODE& source, const MORV_DRC_NODE& root,
                                              int strength_class)
{
    MORV_DRC_SYNCHRONIZER sync;
    sync.m_source = source.m_id;
    sync.m_dest = root.m_id;
    sync.m_colour = *root.m_clock;
    sync.m_stages = count_stages(root.m_id, sync.m_colour);
    m_registry->add(sync, strength_class);
    if (m_log.is_on()) {
        std::ostringstream text;
        text << "REGISTERED A " << morv_drc_class_name(strength_class) << " SYNCHRONIZER FROM " << source.m_id << " TO "
             << root.m_id << " OF STRENGTH " << sync.m_stages;
        m_log.write(100, text.str());
    }
}

std::ostream& operator<<(std::ostream& out, const MORV_DRC_INST_SET& snapshot)
{
    out << " GLOBALS:\n";
    for (const MORV_DRC_SOURCE& source : snapshot.get_globals()) out << "  " << source << "\n";
    out << " NODES:\n";
    for (const auto& entry : snapshot.get_nodes()) out << entry.second;
    return out;
}
