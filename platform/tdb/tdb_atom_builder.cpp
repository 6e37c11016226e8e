#include "tdb/tdb_atom_builder.h"

#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "msg/msg.h"

namespace {

enum ROLE : int
{
    ROLE_COMB = 0,
    ROLE_REG = 1,
    ROLE_IN_PIN = 2,
    ROLE_OUT_PIN = 3,
    ROLE_CAPTURE = 4
};

bool is_clock_iterm(const CDB_ATOM_ITERM* t)
{
    return t->is_used_as(DB_CLOCK) || t->is_used_as(DB_RAM_CLK0) || t->is_used_as(DB_RAM_CLK1);
}

bool is_placed(const CDB_ATOM_NODE* a)
{
    return a->get_lab_x() >= 0 && a->get_lab_y() >= 0;
}

// Inputs that feed the LUT of a logic cell (the rest feed its register).
bool is_lut_side(int port)
{
    return (port >= DB_DATA_A && port <= DB_DATA_G) || port == DB_CARRY_IN || port == DB_SHARE_IN ||
           port == DB_CHAIN_IN_0 || port == DB_CHAIN_IN_1;
}

bool is_block(const CDB_ATOM_NODE* a)
{
    return a->is_ram() || a->is_mac_mult() || a->is_mac_out();
}

const CDB_ATOM_ITERM* first_clock(const CDB_ATOM_NODE* a)
{
    for (auto it = a->begin_iterm(); it != a->end_iterm(); ++it)
        if ((*it)->is_driven() && is_clock_iterm(*it)) return *it;
    return nullptr;
}

}  // namespace

struct TDB_ATOM_BUILDER::NODE_PLAN
{
    int role;
    CDB_ATOM_OTERM* oterm;  // the carried output term (null for input pins and capture keepers)
    uint32_t flags;
    int tco, tsu;
    CDB_ATOM_ITERM* iterm = nullptr;        // output pin: its data input
    CDB_ATOM_OTERM* shown_oterm = nullptr;  // capture keeper: the block's first output
};

struct TDB_ATOM_BUILDER::EDGE_PLAN
{
    TDB_NODE* src;
    TDB_NODE* dst;
    CDB_ATOM_ITERM* iterm;
    bool is_clock;
    int cell_delay;
    const CDB_ATOM_NODE* src_atom;  // null for internal edges
};

// ---------------------------------------------------------------- device delays

TDB_DEVICE_DELAY_MODEL::TDB_DEVICE_DELAY_MODEL(const DEV_DEVICE* device) : m_device(device)
{
    MSG_ASSERT(device, "TDB");
}

int TDB_DEVICE_DELAY_MODEL::ic_delay(CDB_ATOM_ITERM*, const CDB_ATOM_NODE* src, const CDB_ATOM_NODE* dst,
                                     bool is_clock) const
{
    if (!src || !dst || !is_placed(src) || !is_placed(dst)) return 0;
    if (is_clock) return m_device->get_timing_model().clock_network;
    return m_device->get_routing_delay_ps(src->get_lab_x(), src->get_lab_y(), dst->get_lab_x(), dst->get_lab_y());
}

int TDB_DEVICE_DELAY_MODEL::cell_delay(const CDB_ATOM_NODE* atom, int from_port, int to_port) const
{
    const DEV_TIMING_MODEL& m = m_device->get_timing_model();
    if (atom->is_pin()) {
        if (from_port == DB_MAX_INPUT_PORT_TYPE) return m.io_in;
        return to_port == DB_PAD_OUT ? m.io_out : 0;
    }
    return m_device->get_cell_delay_ps(from_port, to_port);
}

int TDB_DEVICE_DELAY_MODEL::tco(const CDB_ATOM_NODE* atom, const CDB_ATOM_OTERM*) const
{
    const DEV_TIMING_MODEL& m = m_device->get_timing_model();
    if (atom->is_ram()) return m.ram_tco;
    return atom->is_mac_mult() || atom->is_mac_out() ? m.dsp_tco : m.tco;
}

int TDB_DEVICE_DELAY_MODEL::tsu(const CDB_ATOM_NODE* atom, const CDB_ATOM_OTERM*) const
{
    const DEV_TIMING_MODEL& m = m_device->get_timing_model();
    if (atom->is_ram()) return m.ram_tsu;
    return atom->is_mac_mult() || atom->is_mac_out() ? m.dsp_tsu : m.tsu;
}

// ---------------------------------------------------------------- builder

TDB_ATOM_BUILDER::TDB_ATOM_BUILDER(TDB_NETLIST* tdb, const CDB_ATOM_NETLIST* atoms, const DEV_DEVICE* device)
    : m_tdb(tdb), m_atoms(atoms), m_own_delays(std::make_unique<TDB_DEVICE_DELAY_MODEL>(device)),
      m_delays(m_own_delays.get())
{
    MSG_ASSERT(tdb && atoms, "TDB");
}

TDB_ATOM_BUILDER::TDB_ATOM_BUILDER(TDB_NETLIST* tdb, const CDB_ATOM_NETLIST* atoms, const TDB_DELAY_MODEL* delays)
    : m_tdb(tdb), m_atoms(atoms), m_delays(delays)
{
    MSG_ASSERT(tdb && atoms && delays, "TDB");
}

int TDB_ATOM_BUILDER::model_ic_delay(CDB_ATOM_ITERM* iterm, const CDB_ATOM_NODE* src, const CDB_ATOM_NODE* dst,
                                     bool is_clock) const
{
    return m_delays->ic_delay(iterm, src, dst, is_clock);
}

void TDB_ATOM_BUILDER::node_plans(const CDB_ATOM_NODE* a, std::vector<NODE_PLAN>& out) const
{
    out.clear();
    const CDB_ATOM_LATCH_INFO* latch = a->get_latch_info();
    uint32_t reg_flag = latch && latch->is_latch ? TDB_NODE_LATCH : TDB_NODE_REGISTER;
    if (a->is_pin()) {
        // The pad is the output pin itself, not a signal into the core: its
        // keeper carries it, and it makes neither an input pin nor a node.
        CDB_ATOM_OTERM* pad = a->get_output_term_by_type(DB_PAD_OUT);
        bool drives_core = false;
        for (auto it = a->begin_oterm(); it != a->end_oterm(); ++it)
            if (*it != pad) {
                if (!drives_core) out.push_back({ROLE_IN_PIN, nullptr, TDB_NODE_PIN | TDB_NODE_INPUT_PIN, 0, 0});
                drives_core = true;
                out.push_back({ROLE_COMB, *it, 0, 0, 0});
            }
        for (auto it = a->begin_iterm(); it != a->end_iterm(); ++it)
            if (!is_clock_iterm(*it)) {
                out.push_back({ROLE_OUT_PIN, pad, TDB_NODE_PIN | TDB_NODE_OUTPUT_PIN, 0, 0, *it});
                break;
            }
        return;
    }
    if (a->is_register()) {
        CDB_ATOM_OTERM* q = a->get_output_term_by_type(DB_REG_OUT);
        if (!q && a->get_output_count() > 0) q = *a->begin_oterm();
        out.push_back({ROLE_REG, q, reg_flag, m_delays->tco(a, q), m_delays->tsu(a, q)});
        return;
    }
    if (is_block(a) && first_clock(a)) {
        CDB_ATOM_OTERM* first = a->get_output_count() > 0 ? *a->begin_oterm() : nullptr;
        out.push_back({ROLE_CAPTURE, nullptr, reg_flag, 0, m_delays->tsu(a, first)});
        out.back().shown_oterm = first;
        for (auto it = a->begin_oterm(); it != a->end_oterm(); ++it)
            out.push_back({ROLE_REG, *it, reg_flag, m_delays->tco(a, *it), 0});
        return;
    }
    // Logic cells, blocks without a clock, clock buffers and the rest.
    for (auto it = a->begin_oterm(); it != a->end_oterm(); ++it)
        out.push_back((*it)->is_registered()
                          ? NODE_PLAN{ROLE_REG, *it, reg_flag, m_delays->tco(a, *it), m_delays->tsu(a, *it)}
                          : NODE_PLAN{ROLE_COMB, *it, 0, 0, 0});
}

void TDB_ATOM_BUILDER::edge_plans(const CDB_ATOM_NODE* a, std::vector<EDGE_PLAN>& out) const
{
    out.clear();
    std::vector<TDB_NODE*> comb, regs;
    TDB_NODE *in_pin = nullptr, *out_pin = nullptr, *capture = nullptr;
    for (int id : m_tdb->get_atom_nodes((int)a->get_id())) {
        TDB_NODE* n = m_tdb->find_node(id);
        switch (n->get_role()) {
        case ROLE_COMB: comb.push_back(n); break;
        case ROLE_REG: regs.push_back(n); break;
        case ROLE_IN_PIN: in_pin = n; break;
        case ROLE_OUT_PIN: out_pin = n; break;
        case ROLE_CAPTURE: capture = n; break;
        }
    }
    auto source_of = [&](const CDB_ATOM_ITERM* t) -> TDB_NODE* {
        if (!t->is_driven() || !t->get_source()) return nullptr;
        return m_tdb->get_tdb_node_from_oterm(t->get_source());
    };
    auto add = [&](TDB_NODE* src, TDB_NODE* dst, CDB_ATOM_ITERM* t, bool clock, int cell) {
        out.push_back({src, dst, t, clock, cell, t && t->get_source() ? t->get_source()->get_my_node() : nullptr});
    };
    // Only the first driven clock input clocks the keepers.
    bool clock_taken = false;
    auto clock_edges = [&](CDB_ATOM_ITERM* t, TDB_NODE* src) {
        if (clock_taken) return;
        clock_taken = true;
        if (capture) add(src, capture, t, true, 0);
        for (TDB_NODE* r : regs) add(src, r, t, true, 0);
    };
    if (in_pin) {
        for (TDB_NODE* c : comb)
            add(in_pin, c, nullptr, false, m_delays->cell_delay(a, DB_MAX_INPUT_PORT_TYPE, c->get_port_type()));
    }
    for (auto it = a->begin_iterm(); it != a->end_iterm(); ++it) {
        CDB_ATOM_ITERM* t = *it;
        TDB_NODE* src = source_of(t);
        if (!src) continue;
        int port = t->get_any_usage_as();
        if (a->is_pin()) {
            if (out_pin && t == out_pin->get_iterm())
                add(src, out_pin, t, false, m_delays->cell_delay(a, port, DB_PAD_OUT));
            continue;
        }
        if (capture) {  // clocked block
            if (is_clock_iterm(t)) {
                clock_edges(t, src);
            } else {
                add(src, capture, t, false, 0);
            }
            continue;
        }
        if (is_clock_iterm(t)) {
            if (!regs.empty()) clock_edges(t, src);
            continue;
        }
        if (a->is_register()) {
            for (TDB_NODE* r : regs) add(src, r, t, false, 0);
            continue;
        }
        bool lut_side = is_lut_side(port) || !(a->is_lcell() || a->is_lcell_comb()) || regs.empty();
        if (lut_side) {
            for (TDB_NODE* c : comb) add(src, c, t, false, m_delays->cell_delay(a, port, c->get_port_type()));
            if (comb.empty() || (!regs.empty() && !a->get_output_term_by_type(DB_COMB_OUT)))
                for (TDB_NODE* r : regs) add(src, r, t, false, m_delays->cell_delay(a, port, DB_COMB_OUT));
        } else {
            for (TDB_NODE* r : regs) add(src, r, t, false, 0);
        }
    }
    // A packed register fed by its own cell's LUT output.
    if (!regs.empty() && (a->is_lcell() || a->is_lcell_comb()))
        for (TDB_NODE* c : comb)
            if (c->get_port_type() == DB_COMB_OUT)
                for (TDB_NODE* r : regs) add(c, r, nullptr, false, 0);
}

TDB_NODE* TDB_ATOM_BUILDER::add_planned_node(unsigned atom_id, const NODE_PLAN& s)
{
    TDB_NODE* n = m_tdb->add_node((int)atom_id, s.flags, s.oterm ? s.oterm : s.shown_oterm,
                                  s.oterm ? s.oterm->get_any_usage_as() : -1, 0, s.role, s.oterm != nullptr);
    m_tdb->set_node_timing(n, s.tco, s.tsu);
    if (s.iterm) m_tdb->set_node_iterm(n, s.iterm);
    return n;
}

void TDB_ATOM_BUILDER::add_planned_edge(const CDB_ATOM_NODE* dst_atom, const EDGE_PLAN& e)
{
    m_tdb->add_edge(e.src, e.dst, e.iterm, e.is_clock,
                    e.src_atom ? model_ic_delay(e.iterm, e.src_atom, dst_atom, e.is_clock) : 0, e.cell_delay);
}

// Edges of each kind a node of the atom gets once built, as far as the
// netlist tells: its term's sinks, the atom's driven inputs, and the internal
// edge of a pin or a packed register. A node that outgrows it moves to an
// array of its own.
static int edges_at_node(const CDB_ATOM_NODE* a, const CDB_ATOM_OTERM* oterm, int driven_inputs)
{
    const int internal = a->is_pin() || a->is_lcell() ? 1 : 0;
    return (oterm ? oterm->get_number_of_fanout() : 0) + driven_inputs + internal;
}

static int driven_inputs(const CDB_ATOM_NODE* a)
{
    int n = 0;
    for (auto it = a->begin_iterm(); it != a->end_iterm(); ++it) n += (*it)->is_driven() ? 1 : 0;
    return n;
}

void TDB_ATOM_BUILDER::build_all()
{
    MSG_ASSERT(m_tdb->get_num_nodes() == 0, "TDB");
    if (m_atoms->get_node_count() > 0)
        m_tdb->reserve_atom_ids((int)m_atoms->get_min_id_bound(), (int)m_atoms->get_max_id());
    // Sized once, so that neither the tables nor the nodes' edge arrays
    // grow (and leave their old blocks behind) while the edges go in.
    std::vector<NODE_PLAN> plans;
    int nodes = 0, edges = 0;
    for (const CDB_ATOM_NODE* a : *m_atoms) {
        node_plans(a, plans);
        nodes += (int)plans.size();
        edges += (int)plans.size() * (driven_inputs(a) + (a->is_pin() || a->is_lcell() ? 1 : 0));
    }
    m_tdb->reserve(nodes, edges);
    for (const CDB_ATOM_NODE* a : *m_atoms) {
        node_plans(a, plans);
        const int inputs = driven_inputs(a);
        for (const NODE_PLAN& s : plans)
            m_tdb->reserve_edges(add_planned_node(a->get_id(), s), edges_at_node(a, s.oterm, inputs));
    }
    std::vector<EDGE_PLAN> planned;
    for (const CDB_ATOM_NODE* a : *m_atoms) {
        edge_plans(a, planned);
        for (const EDGE_PLAN& e : planned) add_planned_edge(a, e);
    }
}

void TDB_ATOM_BUILDER::reconcile_nodes(const CDB_ATOM_NODE* a, unsigned atom_id, std::vector<unsigned>& queue,
                                       ATOM_ID_FLAGS& queued)
{
    auto enqueue = [&](long sink) {
        if (sink >= 0 && queued.mark(sink)) queue.push_back((unsigned)sink);
    };
    auto enqueue_sinks = [&](TDB_NODE* n) {
        for (const TDB_EDGE* e : n->fanout()) enqueue(e->get_dst_node()->get_atom_id());
    };
    const std::vector<int> ids = m_tdb->get_atom_nodes((int)atom_id).to_vector();
    if (!a) {
        for (int id : ids) {
            TDB_NODE* n = m_tdb->find_node(id);
            enqueue_sinks(n);
            m_tdb->remove_node(n);
        }
        return;
    }
    std::vector<NODE_PLAN> plans;
    node_plans(a, plans);
    std::vector<char> used(plans.size(), 0);
    for (int id : ids) {
        TDB_NODE* n = m_tdb->find_node(id);
        bool keep = false;
        for (size_t i = 0; i < plans.size() && !keep; ++i) {
            const NODE_PLAN& s = plans[i];
            if (used[i] || s.role != n->get_role() || s.flags != n->get_flags()) continue;
            // A node whose term went away must not keep pointing at it.
            if ((s.oterm ? s.oterm : s.shown_oterm) != n->get_oterm()) continue;
            if (s.oterm && s.oterm->get_any_usage_as() != n->get_port_type()) continue;
            used[i] = 1;
            keep = true;
            m_tdb->set_node_timing(n, s.tco, s.tsu);
            m_tdb->set_node_iterm(n, s.iterm);
        }
        if (!keep) {
            enqueue_sinks(n);
            m_tdb->remove_node(n);
        }
    }
    for (size_t i = 0; i < plans.size(); ++i) {
        if (used[i]) continue;
        const NODE_PLAN& s = plans[i];
        add_planned_node(atom_id, s);
        // A new node may now drive sinks whose edges were waiting for it.
        if (s.oterm)
            for (auto f = s.oterm->begin_iterm_fanout(); f != s.oterm->end_iterm_fanout(); ++f)
                enqueue((*f)->get_my_node() ? (long)(*f)->get_my_node()->get_id() : 0);
    }
}

void TDB_ATOM_BUILDER::reconcile_edges(const CDB_ATOM_NODE* a)
{
    std::vector<EDGE_PLAN> want;
    edge_plans(a, want);
    std::vector<char> used(want.size(), 0);
    std::vector<TDB_EDGE*> have;
    for (int id : m_tdb->get_atom_nodes((int)a->get_id())) {
        TDB_NODE* n = m_tdb->find_node(id);
        have.insert(have.end(), n->fanin().begin(), n->fanin().end());
        have.insert(have.end(), n->clkin().begin(), n->clkin().end());
    }
    // A model that does not follow placement answers each connection anew.
    bool placed = is_placed(a) || !m_delays->ic_follows_placement();
    for (TDB_EDGE* e : have) {
        bool keep = false;
        for (size_t i = 0; i < want.size() && !keep; ++i) {
            const EDGE_PLAN& w = want[i];
            if (used[i] || w.src != e->get_src_node() || w.dst != e->get_dst_node() || w.iterm != e->get_iterm() ||
                w.is_clock != e->is_clock())
                continue;
            used[i] = keep = true;
            TDB_DELAY* d = e->get_delay();
            if (d->get_delay(TDB_DELAY_CELL, TDB_MAX, 0) != w.cell_delay) d->set_delay(TDB_DELAY_CELL, w.cell_delay);
            // Before placement an edge keeps the interconnect delay written
            // on it (early estimates); after placement the model decides.
            if (placed && w.src_atom) m_tdb->set_ic_delay(e, model_ic_delay(w.iterm, w.src_atom, a, w.is_clock));
        }
        if (!keep) m_tdb->remove_edge(e);
    }
    for (size_t i = 0; i < want.size(); ++i)
        if (!used[i]) add_planned_edge(a, want[i]);
}

// A moved atom changes the delays of its fan-out edges too. Run only once
// every queued atom's fan-in is reconciled: until then a fan-out edge may
// still name an input term its sink has deleted.
void TDB_ATOM_BUILDER::refresh_fanout_delays(const CDB_ATOM_NODE* a)
{
    if (!is_placed(a) && m_delays->ic_follows_placement()) return;
    for (int id : m_tdb->get_atom_nodes((int)a->get_id()))
        for (TDB_EDGE* e : m_tdb->find_node(id)->fanout()) {
            CDB_ATOM_ITERM* t = e->get_iterm();
            if (t && t->get_my_node()) m_tdb->set_ic_delay(e, model_ic_delay(t, a, t->get_my_node(), e->is_clock()));
        }
}

int TDB_ATOM_BUILDER::refresh(const std::vector<unsigned>& changed)
{
    // The ids that can be queued: the changed ones, the netlist's and those
    // the timing netlist still has nodes for (deleted atoms may lie outside
    // the netlist's range now).
    ATOM_ID_FLAGS queued;
    queued.lo = (long)m_atoms->get_min_id_bound();
    long hi = (long)m_atoms->get_max_id();
    if (m_tdb->get_atom_table_size() > 0) {
        queued.lo = std::min(queued.lo, (long)m_tdb->get_atom_id_base());
        hi = std::max(hi, (long)m_tdb->get_atom_id_bound() - 1);
    }
    for (unsigned id : changed) {
        queued.lo = std::min(queued.lo, (long)id);
        hi = std::max(hi, (long)id);
    }
    queued.flags.assign((size_t)std::max(0L, hi - queued.lo + 1), 0);
    std::vector<unsigned> queue;
    for (unsigned id : changed)
        if (queued.mark(id)) queue.push_back(id);
    for (size_t i = 0; i < queue.size(); ++i) {
        unsigned id = queue[i];
        reconcile_nodes(m_atoms->get_node_by_id(id), id, queue, queued);
    }
    for (unsigned id : queue)
        if (const CDB_ATOM_NODE* a = m_atoms->get_node_by_id(id)) reconcile_edges(a);
    for (unsigned id : queue)
        if (const CDB_ATOM_NODE* a = m_atoms->get_node_by_id(id)) refresh_fanout_delays(a);
    return (int)queue.size();
}

void TDB_ATOM_BUILDER::refresh_interconnect_delays(const std::vector<unsigned>& atom_ids)
{
    auto refresh = [&](TDB_EDGE* e) {
        CDB_ATOM_ITERM* t = e->get_iterm();
        if (!t) return;
        const CDB_ATOM_NODE* src = t->get_source() ? t->get_source()->get_my_node() : nullptr;
        m_tdb->set_ic_delay(e, model_ic_delay(t, src, t->get_my_node(), e->is_clock()));
    };
    for (unsigned id : atom_ids)
        for (int n : m_tdb->get_atom_nodes((int)id)) {
            const TDB_NODE* node = m_tdb->find_node(n);
            for (TDB_EDGE* e : node->fanin()) refresh(e);
            for (TDB_EDGE* e : node->clkin()) refresh(e);
            for (TDB_EDGE* e : node->fanout()) refresh(e);
        }
}

void TDB_ATOM_BUILDER::refresh_interconnect_delays()
{
    for (TDB_EDGE* e : m_tdb->edge_table()) {
        if (!e || !e->get_iterm()) continue;
        CDB_ATOM_ITERM* t = e->get_iterm();
        const CDB_ATOM_NODE* dst = t->get_my_node();
        const CDB_ATOM_NODE* src = t->get_source() ? t->get_source()->get_my_node() : nullptr;
        m_tdb->set_ic_delay(e, model_ic_delay(t, src, dst, e->is_clock()));
    }
}
