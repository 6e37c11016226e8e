#include "host_fitter.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"
#include "dev/dev_device.h"
#include "host_cluster.h"
#include "host_env.h"
#include "host_grid.h"
#include "host_placer.h"
#include "morv/core/morv_expert_interface.h"
#include "msg/msg.h"
#include "rdb/rdb.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

namespace morv_host {

namespace {

bool is_clock_sink(const CDB_ATOM_ITERM* t)
{
    return t->is_used_as(DB_CLOCK);
}

// Logic elements are numbered within the LAB by kind, so that a LUT and the
// register packed after it share a number.
struct LE_NUMBERING
{
    int combs = 0, regs = 0;
    int next(const CDB_ATOM_NODE* n) { return host_pack_kind(n) == PACK_KIND::REG ? regs++ : combs++; }
};

// The rectangle an atom is locked to; all -1 for a free atom.
struct LOCK
{
    int x1 = -1, y1 = -1, x2 = -1, y2 = -1;
    bool is_locked() const { return x1 >= 0; }
    bool contains(int x, int y) const { return x >= x1 && x <= x2 && y >= y1 && y <= y2; }
    auto operator<=>(const LOCK&) const = default;
};

LOCK lock_of(const CDB_ATOM_NODE* n)
{
    const CDB_ATOM_ASSIGNMENTS& a = n->get_assignments();
    if (a.locked_x1 < 0) return LOCK();
    return LOCK{a.locked_x1, a.locked_y1, a.locked_x2, a.locked_y2};
}

// A packed cluster whose atoms are locked to different rectangles (or only
// some of them locked) becomes one cluster per rectangle, free atoms apart:
// a LAB sits in one place.
void split_by_lock(const std::vector<CDB_ATOM_NODE*>& members, std::vector<std::vector<uint32_t>>& clusters)
{
    std::vector<std::pair<LOCK, std::vector<uint32_t>>> groups;
    for (const CDB_ATOM_NODE* n : members) {
        const LOCK lock = lock_of(n);
        auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == lock; });
        if (group == groups.end()) group = groups.insert(groups.end(), {lock, {}});
        group->second.push_back(n->get_id());
    }
    for (auto& group : groups) clusters.push_back(std::move(group.second));
}

// Atom id -> index (a cell, a block), over the id range of one netlist; -1
// for atoms without one.
class ATOM_INDEX
{
public:
    explicit ATOM_INDEX(const CDB_ATOM_NETLIST& netlist)
    {
        uint32_t lo = UINT32_MAX, hi = 0;
        for (const CDB_ATOM_NODE* n : netlist) {
            lo = std::min(lo, n->get_id());
            hi = std::max(hi, n->get_id());
        }
        m_base = lo;
        if (lo <= hi) m_block.assign(static_cast<size_t>(hi - lo) + 1, -1);
    }
    void set(uint32_t id, int block) { m_block[id - m_base] = block; }
    int operator[](uint32_t id) const
    {
        return id >= m_base && id - m_base < m_block.size() ? m_block[id - m_base] : -1;
    }

private:
    uint32_t m_base = 0;
    std::vector<int> m_block;
};

// The timing edges that stand for each connection, found once: the anneal
// only re-times, so they stay valid while it runs.
class CONN_EDGES
{
public:
    // Room for this many connections (most stand for one edge each).
    void reserve(size_t connections)
    {
        m_start.reserve(connections + 1);
        m_edges.reserve(connections);
    }
    void add(TDB_NETLIST* tdb, const CDB_ATOM_ITERM* t)
    {
        if (tdb != nullptr)
            for (int id : tdb->get_atom_nodes(static_cast<int>(t->get_my_node()->get_id())))
                for (TDB_EDGE* e : tdb->find_node(id)->fanin())
                    if (e->get_iterm() == t) m_edges.push_back(e);
        m_start.push_back(static_cast<int>(m_edges.size()));
    }
    // Criticality (1 - slack ratio) of connection c: its worst edge.
    float criticality(size_t c) const
    {
        float crit = 0.0f;
        for (int k = m_start[c]; k < m_start[c + 1]; ++k) crit = std::max(crit, 1.0f - m_edges[k]->get_slack_ratio());
        return crit;
    }

private:
    std::vector<int> m_start{0};
    std::vector<TDB_EDGE*> m_edges;
};

// The placement problem of a clustered netlist: blocks are the clusters
// that still hold atoms, then one per I/O atom.
struct BLOCKS
{
    PLACE_PROBLEM problem;
    std::vector<std::vector<CDB_ATOM_NODE*>> members;
    std::vector<int> site_class;  // per block, before locked blocks get classes of their own
    std::vector<LOCK> lock;       // per block
    CONN_EDGES conn_edges;
    int labs = 0;
};

void make_blocks(HOST_ENV& env, const HOST_CLUSTERING& clustering, BLOCKS& out, ATOM_INDEX& block_of)
{
    PLACE_PROBLEM& p = out.problem;
    for (const auto& ids : clustering.clusters) {
        std::vector<CDB_ATOM_NODE*> alive;
        alive.reserve(ids.size());
        for (uint32_t id : ids)
            if (CDB_ATOM_NODE* n = env.get_node(static_cast<int>(id)); n && host_pack_kind(n) != PACK_KIND::IO)
                alive.push_back(n);
        if (alive.empty()) continue;
        const int b = static_cast<int>(out.members.size());
        for (CDB_ATOM_NODE* n : alive) block_of.set(n->get_id(), b);
        p.block_class.push_back(host_site_class_of(alive.front()));
        out.lock.push_back(lock_of(alive.front()));
        out.members.push_back(std::move(alive));
    }
    out.labs = static_cast<int>(out.members.size());
    size_t ios = 0;
    for (CDB_ATOM_NODE* n : *env.design().netlist()) ios += host_pack_kind(n) == PACK_KIND::IO ? 1 : 0;
    out.members.reserve(out.members.size() + ios);
    for (CDB_ATOM_NODE* n : *env.design().netlist()) {
        if (host_pack_kind(n) != PACK_KIND::IO) continue;
        block_of.set(n->get_id(), static_cast<int>(out.members.size()));
        p.block_class.push_back(HOST_SITE_IO);
        out.lock.push_back(lock_of(n));
        out.members.push_back({n});
    }
    out.site_class = p.block_class;
}

std::string region_text(const LOCK& lock)
{
    return "the locked region (" + std::to_string(lock.x1) + ", " + std::to_string(lock.y1) + ") - (" +
           std::to_string(lock.x2) + ", " + std::to_string(lock.y2) + ")";
}

// "FILE:LINE: " (or "--set locked_region: ") of the settings line that
// locked the first atom to the rectangle, as the settings' own errors begin.
std::string region_origin(const HOST_ENV& env, const LOCK& lock)
{
    const std::string where = env.locked_region_origin(lock.x1, lock.y1, lock.x2, lock.y2);
    return where.empty() ? where : where + ": ";
}

// The sites the locked regions hold are theirs alone: the other blocks of
// a kind must fit in what is left, and when they do not, the regions are
// what the user has to hear about.
bool leaves_room_outside_regions(const HOST_ENV& env, const PLACE_PROBLEM& p,
                                 const std::vector<std::pair<int, LOCK>>& keys, std::string& error)
{
    static const char* const kinds[HOST_SITE_CLASSES] = {"LABs",       "I/O cells",         "small RAM blocks",
                                                         "DSP blocks", "medium RAM blocks", "large RAM blocks"};
    for (int kind = 0; kind < HOST_SITE_CLASSES; ++kind) {
        const long needed = std::count(p.block_class.begin(), p.block_class.end(), kind);
        long free = 0, held = 0;
        for (const PLACE_SITE& site : p.sites) {
            if (site.block_class == kind) free += site.slots;
            else if (site.block_class >= HOST_SITE_CLASSES &&
                     keys[static_cast<size_t>(site.block_class - HOST_SITE_CLASSES)].first == kind)
                held += site.slots;
        }
        if (held == 0 || needed <= free) continue;
        auto of_kind = [kind](const auto& k) { return k.first == kind; };
        const auto region = std::find_if(keys.begin(), keys.end(), of_kind);
        const bool others = std::count_if(keys.begin(), keys.end(), of_kind) > 1;
        error = region_origin(env, region->second) + std::to_string(needed) + " " + kinds[kind] +
                " locked to no region need room outside the locked regions, but the device has " +
                std::to_string(free) + " there: " + region_text(region->second) +
                (others ? " and the other regions hold " : " holds ") + "the other " + std::to_string(held);
        return false;
    }
    return true;
}

bool made_by_physical_synthesis(const HOST_ENV& env, const std::vector<CDB_ATOM_NODE*>& members)
{
    return std::none_of(members.begin(), members.end(),
                        [&env](const CDB_ATOM_NODE* n) { return env.is_user_locked(n->get_id()); });
}

// What physical synthesis makes from locked atoms carries their lock. Where
// the rectangle has no room for those blocks as well (a RAM made from a
// LAB's logic, more registers than a one-LAB region holds), they give the
// lock up, latest first, and are placed outside it: the user asked for the
// atoms of the design, whose locks still hold or fail the compile as before.
void release_locks_without_room(HOST_ENV& env, BLOCKS& blocks)
{
    const PLACE_PROBLEM& p = blocks.problem;
    std::map<std::pair<int, LOCK>, std::vector<size_t>> by_region;
    for (size_t b = 0; b < p.block_class.size(); ++b)
        if (blocks.lock[b].is_locked()) by_region[{blocks.site_class[b], blocks.lock[b]}].push_back(b);
    int released = 0, regions = 0;
    std::string where;
    for (const auto& [key, members] : by_region) {
        const int before = released;
        long slots = 0;
        for (const PLACE_SITE& site : p.sites)
            if (site.block_class == key.first && key.second.contains(site.x, site.y)) slots += site.slots;
        long excess = static_cast<long>(members.size()) - slots;
        for (auto b = members.rbegin(); b != members.rend() && excess > 0; ++b) {
            if (!made_by_physical_synthesis(env, blocks.members[*b])) continue;
            blocks.lock[*b] = LOCK();
            for (CDB_ATOM_NODE* n : blocks.members[*b]) env.set_node_locked_region(n, -1, -1, -1, -1);
            --excess;
            ++released;
        }
        if (released > before && regions++ == 0) where = region_text(key.second);
    }
    if (released == 0) return;
    MSG_W warning;
    warning.fill_args("%1!s!/WHOST_LOCK_RELEASED",
                      std::to_string(released) + " blocks physical synthesis made from locked atoms have no room in " +
                          where + (regions > 1 ? " and " + std::to_string(regions - 1) + " more" : "") +
                          ", the region they took over, and are placed outside it");
    warning.set_always_shown(true);
    warning.post();
}

// Blocks locked to a rectangle take only sites inside it: each rectangle
// (for each kind of site) gets a class of its own holding the sites of that
// kind inside it; a site inside two rectangles goes to the first. False,
// with the reason, when a rectangle has too few sites for its blocks.
bool restrict_locked_blocks(HOST_ENV& env, BLOCKS& blocks, std::string& error)
{
    release_locks_without_room(env, blocks);
    PLACE_PROBLEM& p = blocks.problem;
    std::vector<std::pair<int, LOCK>> keys;  // index + HOST_SITE_CLASSES is the class
    std::vector<int> needed;
    for (size_t b = 0; b < p.block_class.size(); ++b) {
        if (!blocks.lock[b].is_locked()) continue;
        const std::pair<int, LOCK> key(blocks.site_class[b], blocks.lock[b]);
        auto found = std::find(keys.begin(), keys.end(), key);
        if (found == keys.end()) {
            found = keys.insert(keys.end(), key);
            needed.push_back(0);
        }
        const size_t k = static_cast<size_t>(found - keys.begin());
        p.block_class[b] = HOST_SITE_CLASSES + static_cast<int>(k);
        ++needed[k];
    }
    for (size_t k = 0; k < keys.size(); ++k) {
        const LOCK& lock = keys[k].second;
        int slots = 0;
        for (PLACE_SITE& site : p.sites)
            if (site.block_class == keys[k].first && lock.contains(site.x, site.y)) {
                site.block_class = HOST_SITE_CLASSES + static_cast<int>(k);
                slots += site.slots;
            }
        if (slots < needed[k]) {
            const auto b =
                std::find(p.block_class.begin(), p.block_class.end(), HOST_SITE_CLASSES + static_cast<int>(k));
            const CDB_ATOM_NODE* atom = blocks.members[static_cast<size_t>(b - p.block_class.begin())].front();
            error = region_origin(env, lock) + region_text(lock) + " has room for " + std::to_string(slots) +
                    " of the " + std::to_string(needed[k]) + " blocks locked to it (among them the one of '" +
                    (atom->get_instance_name() != nullptr ? msg_cut_word(atom->get_instance_name()->get_short_hpath())
                                                          : std::to_string(atom->get_id())) +
                    "')";
            return false;
        }
    }
    return leaves_room_outside_regions(env, p, keys, error);
}

// Nets and timing connections between blocks; global clock nets ride
// their own network and take no part.
void make_nets(HOST_ENV& env, const ATOM_INDEX& block_of, BLOCKS& out)
{
    PLACE_PROBLEM& p = out.problem;
    TDB_NETLIST* tdb = env.get_tdb_netlist();
    std::vector<int> seen(out.members.size(), -1);
    int net_stamp = 0;
    // The blocks of the net an output drives (the driver's first), each once.
    std::vector<int> net;
    auto collect = [&](const CDB_ATOM_OTERM* ot, int db) {
        ++net_stamp;
        net.assign(1, db);
        seen[db] = net_stamp;
        for (auto f = ot->begin_iterm_fanout(); f != ot->end_iterm_fanout(); ++f) {
            if (is_clock_sink(*f)) continue;
            const int sb = block_of[(*f)->get_my_node()->get_id()];
            if (sb < 0 || seen[sb] == net_stamp) continue;
            seen[sb] = net_stamp;
            net.push_back(sb);
        }
    };
    // Counted first, so that the lists are sized once: the placer's data is
    // alive through the whole anneal, the largest part of the run's peak.
    size_t nets = 0, conns = 0;
    for (CDB_ATOM_NODE* n : *env.design().netlist()) {
        const int db = block_of[n->get_id()];
        if (db < 0) continue;
        for (auto ot = n->begin_oterm(); ot != n->end_oterm(); ++ot) {
            if (!(*ot)->has_fanout()) continue;
            collect(*ot, db);
            nets += net.size() >= 2 ? 1 : 0;
            for (auto f = (*ot)->begin_iterm_fanout(); f != (*ot)->end_iterm_fanout(); ++f) {
                const int sb = is_clock_sink(*f) ? -1 : block_of[(*f)->get_my_node()->get_id()];
                conns += sb >= 0 && sb != db ? 1 : 0;
            }
        }
    }
    p.nets.reserve(nets);
    p.conns.reserve(conns);
    out.conn_edges.reserve(conns);
    for (CDB_ATOM_NODE* n : *env.design().netlist()) {
        const int db = block_of[n->get_id()];
        if (db < 0) continue;
        for (auto ot = n->begin_oterm(); ot != n->end_oterm(); ++ot) {
            if (!(*ot)->has_fanout()) continue;
            for (auto f = (*ot)->begin_iterm_fanout(); f != (*ot)->end_iterm_fanout(); ++f) {
                const int sb = is_clock_sink(*f) ? -1 : block_of[(*f)->get_my_node()->get_id()];
                if (sb < 0 || sb == db) continue;
                out.conn_edges.add(tdb, *f);
                p.conns.push_back({db, sb, out.conn_edges.criticality(p.conns.size())});
            }
            collect(*ot, db);
            if (net.size() >= 2) p.nets.emplace_back(net.begin(), net.end());
        }
    }
}

// Worst slack of a placement, analysed with its routing delays.
int64_t timed_slack(HOST_ENV& env, const PLACE_PROBLEM& p, const BLOCKS& blocks, const PLACE_RESULT& r)
{
    for (size_t b = 0; b < blocks.members.size(); ++b) {
        const PLACE_SITE& s = p.sites[r.site[b]];
        for (CDB_ATOM_NODE* n : blocks.members[b]) n->set_location(s.x, s.y);
    }
    TDC_ACCESSORIES* acc = env.accessories();
    acc->refresh_interconnect_delays();
    return acc->run_tan(*acc->get_tan_parameters(), true).m_worst_slack;
}

void make_sites(const DEV_DEVICE& dev, PLACE_PROBLEM& p)
{
    p.nx = dev.get_nx();
    p.ny = dev.get_ny();
    for (int x = 0; x < p.nx; ++x)
        for (int y = 0; y < p.ny; ++y) {
            const int cls = host_site_class_at(dev, x, y);
            if (cls >= 0) p.sites.push_back({x, y, cls, cls == HOST_SITE_IO ? HOST_IO_SLOTS : 1});
        }
}

constexpr int RAM_SITE_CLASSES[] = {HOST_SITE_RAM, HOST_SITE_RAM_MEDIUM, HOST_SITE_RAM_LARGE};

std::string ram_fits_nowhere(const CDB_ATOM_NODE* ram, size_t slices)
{
    std::string error = "RAM slice ";
    error.append(ram->get_instance_name() ? ram->get_instance_name()->get_short_hpath()
                                          : std::to_string(ram->get_id()));
    error.append(" (").append(std::to_string(slices)).append(" slice(s) of ");
    error.append(std::to_string(CUT_RAM_UTIL::get_slice_depth(ram, 0))).append(" words of ");
    error.append(std::to_string(CUT_RAM_UTIL::get_slice_width(ram, 0)))
        .append(" bits) fits no RAM block of the device");
    return error;
}

// Whether the rectangle a block is locked to (if any) holds a site of the class.
bool lock_holds(const PLACE_PROBLEM& p, const LOCK& lock, int site_class)
{
    if (!lock.is_locked()) return true;
    return std::any_of(p.sites.begin(), p.sites.end(),
                       [&](const PLACE_SITE& s) { return s.block_class == site_class && lock.contains(s.x, s.y); });
}

// The smallest kind of RAM site that holds the block's slices and is free,
// else the smallest that holds them, among the kinds the rectangle has; -1
// for none.
int choose_ram_kind(const DEV_DEVICE& dev, const PLACE_PROBLEM& p, const LOCK& lock,
                    const std::vector<CDB_ATOM_NODE*>& slices, const int* free_sites)
{
    int first_fit = -1;
    for (size_t k = 0; k < std::size(RAM_SITE_CLASSES); ++k) {
        const int kind = host_ram_kind_of_class(RAM_SITE_CLASSES[k]);
        if (static_cast<size_t>(host_rams_per_block(dev, kind, slices.front())) < slices.size() ||
            !lock_holds(p, lock, RAM_SITE_CLASSES[k]))
            continue;
        if (free_sites[k] > 0) return static_cast<int>(k);
        if (first_fit < 0) first_fit = static_cast<int>(k);
    }
    return first_fit;
}

// Each block of RAM slices takes the smallest kind of RAM site that holds
// it while one is free, a larger kind once that is used up; a locked block
// a kind its rectangle has (one without is said with the regions).
bool assign_ram_kinds(const DEV_DEVICE& dev, BLOCKS& blocks, std::string& error)
{
    PLACE_PROBLEM& p = blocks.problem;
    int free_sites[std::size(RAM_SITE_CLASSES)] = {};
    for (const PLACE_SITE& s : p.sites)
        for (size_t k = 0; k < std::size(RAM_SITE_CLASSES); ++k) free_sites[k] += s.block_class == RAM_SITE_CLASSES[k];
    for (size_t b = 0; b < blocks.members.size(); ++b) {
        if (blocks.site_class[b] != HOST_SITE_RAM) continue;
        int chosen = choose_ram_kind(dev, p, blocks.lock[b], blocks.members[b], free_sites);
        if (chosen < 0) chosen = choose_ram_kind(dev, p, LOCK(), blocks.members[b], free_sites);
        if (chosen < 0) {
            error = ram_fits_nowhere(blocks.members[b].front(), blocks.members[b].size());
            return false;
        }
        --free_sites[chosen];
        p.block_class[b] = blocks.site_class[b] = RAM_SITE_CLASSES[chosen];
    }
    return true;
}

// Slices that may share a RAM block join the cluster of the first of them
// that still has room in the largest block the device has; they are few, so
// a look at the open clusters of the same logical RAM is cheap.
void group_ram_slices(const DEV_DEVICE& dev, const std::vector<CDB_ATOM_NODE*>& cells,
                      std::vector<std::vector<int>>& clusters)
{
    std::vector<int> kinds;  // those the device has sites of
    const DUVO_PLACE_INFO sites(&dev);
    for (int k : RAM_SITE_CLASSES)
        if (sites.get_num_elements(host_ram_kind_of_class(k)) > 0) kinds.push_back(host_ram_kind_of_class(k));
    auto capacity = [&](const CDB_ATOM_NODE* ram) {
        int most = 0;
        for (int kind : kinds) most = std::max(most, host_rams_per_block(dev, kind, ram));
        return static_cast<size_t>(most);
    };
    std::map<std::string, std::vector<size_t>> open;  // logical name -> clusters
    for (size_t c = 0; c < clusters.size(); ++c) {
        if (clusters[c].size() != 1 || !cells[clusters[c].front()]->is_ram()) continue;
        const CDB_ATOM_NODE* ram = cells[clusters[c].front()];
        std::vector<size_t>& same_name = open[CUT_RAM_UTIL::get_logical_name_str(ram)];
        bool joined = false;
        for (size_t g : same_name) {
            const CDB_ATOM_NODE* first = cells[clusters[g].front()];
            if (clusters[g].size() >= capacity(first) || !host_rams_share_block(first, ram)) continue;
            clusters[g].push_back(clusters[c].front());
            clusters[c].clear();
            joined = true;
            break;
        }
        if (!joined) same_name.push_back(c);
    }
    std::erase_if(clusters, [](const std::vector<int>& members) { return members.empty(); });
}

}  // namespace

HOST_CLUSTERING cluster_netlist(HOST_ENV& env)
{
    CDB_ATOM_NETLIST* netlist = env.design().netlist();
    std::vector<CDB_ATOM_NODE*> cells;
    ATOM_INDEX index(*netlist);
    cells.reserve(netlist->get_node_count());
    for (CDB_ATOM_NODE* n : *netlist) {
        index.set(n->get_id(), static_cast<int>(cells.size()));
        cells.push_back(n);
    }
    PACK_PROBLEM p;
    p.lab_capacity = env.design().device()->get_lab_capacity();
    p.kinds.reserve(cells.size());
    HOST_CLUSTERING result;
    for (CDB_ATOM_NODE* n : cells) {
        p.kinds.push_back(host_pack_kind(n));
        if (p.kinds.back() == PACK_KIND::IO) ++result.io_atoms;
    }
    for (size_t i = 0; i < cells.size(); ++i)
        for (auto ot = cells[i]->begin_oterm(); ot != cells[i]->end_oterm(); ++ot) {
            if (!(*ot)->has_fanout()) continue;
            PACK_NET net;
            net.driver = static_cast<int>(i);
            for (auto f = (*ot)->begin_iterm_fanout(); f != (*ot)->end_iterm_fanout(); ++f)
                if (!is_clock_sink(*f)) net.sinks.push_back(index[(*f)->get_my_node()->get_id()]);
            if (!net.sinks.empty()) p.nets.push_back(std::move(net));
        }
    PACK_RESULT packed = pack_cells(p);
    group_ram_slices(*env.design().device(), cells, packed.clusters);
    result.clusters.reserve(packed.clusters.size());
    std::vector<CDB_ATOM_NODE*> nodes;
    for (const auto& members : packed.clusters) {
        nodes.clear();
        for (int c : members) nodes.push_back(cells[c]);
        split_by_lock(nodes, result.clusters);
    }
    return result;
}

void hand_clusters_to_component(HOST_ENV& env, const HOST_CLUSTERING& clustering, MORV_EXPERT_INTERFACE* expert)
{
    if (expert == nullptr) return;
    expert->reset_fsyn_cluster_map();
    for (size_t c = 0; c < clustering.clusters.size(); ++c) {
        LE_NUMBERING les;
        for (uint32_t id : clustering.clusters[c]) {
            CDB_ATOM_NODE* n = env.get_node(static_cast<int>(id));
            if (n == nullptr) continue;
            expert->set_atom_preferred_cluster(static_cast<int>(id), static_cast<int>(c), les.next(n));
        }
    }
}

std::string clustering_misfit(HOST_ENV& env, const HOST_CLUSTERING& clustering)
{
    const DEV_DEVICE& dev = *env.design().device();
    BLOCKS blocks;
    ATOM_INDEX block_of(*env.design().netlist());
    make_blocks(env, clustering, blocks, block_of);
    make_sites(dev, blocks.problem);
    std::string error;
    if (!assign_ram_kinds(dev, blocks, error) || !restrict_locked_blocks(env, blocks, error)) return error;
    if (!place_problem_fits(blocks.problem, error)) return "the design does not fit the device: " + error;
    return std::string();
}

HOST_PLACEMENT place_netlist(HOST_ENV& env, const HOST_CLUSTERING& clustering, uint32_t seed,
                             const HOST_PLACE_EFFORT& effort)
{
    HOST_PLACEMENT out;
    CDB_ATOM_NETLIST* netlist = env.design().netlist();
    const DEV_DEVICE& dev = *env.design().device();

    // Criticalities from a pre-placement analysis, so that the result depends
    // on the netlist and the seed only, not on an earlier placement.
    for (CDB_ATOM_NODE* n : *netlist) n->set_location(CDB_ATOM_LOCATION());
    env.set_placed(false);
    env.set_full_taint();
    env.analyse_timing();

    BLOCKS blocks;
    ATOM_INDEX block_of(*netlist);
    make_blocks(env, clustering, blocks, block_of);
    out.labs = blocks.labs;
    PLACE_PROBLEM& p = blocks.problem;
    make_sites(dev, p);
    if (!assign_ram_kinds(dev, blocks, out.error) || !restrict_locked_blocks(env, blocks, out.error)) return out;
    make_nets(env, block_of, blocks);
    p.delay_ps = [&dev](int x1, int y1, int x2, int y2) { return dev.get_routing_delay_ps(x1, y1, x2, y2); };
    p.seed = seed;
    p.inner_num = effort.moves;
    const double per_start =
        static_cast<double>(place_moves_per_temperature(static_cast<int>(p.block_class.size()), effort.moves));
    const int max_starts = std::max(1, effort.max_starts);
    const int starts =
        std::max(1, static_cast<int>(std::min(effort.start_budget / per_start, static_cast<double>(max_starts))));
    out.starts = starts;
    // Measured on the MCNC set: leaning on timing shortens the critical path
    // at little cost in wirelength.
    p.timing_tradeoff = 0.8;
    // Criticalities follow the placement: the analyser re-times the netlist
    // with the routing delays of the connections that moved, every eighth
    // temperature (the annealer's default). Every second one measured worse
    // on the bundled sequential designs (geometric-mean Fmax 125.8 against
    // 128.4 MHz, worst seed spread 1.29 against 1.11) at 1.17 times the time.
    std::vector<unsigned> moved_atoms;
    p.recompute_criticality = [&](const std::vector<int>& site_of_block, const std::vector<int>& moved_blocks,
                                  std::vector<float>& out_crit) {
        moved_atoms.clear();
        for (int b : moved_blocks) {
            const PLACE_SITE& s = p.sites[site_of_block[b]];
            for (CDB_ATOM_NODE* n : blocks.members[b]) {
                n->set_location(s.x, s.y);
                moved_atoms.push_back(n->get_id());
            }
        }
        TDC_ACCESSORIES* acc = env.accessories();
        acc->refresh_interconnect_delays(moved_atoms);
        acc->run_tan(*acc->get_tan_parameters(), true);
        out_crit.resize(p.conns.size());
        for (size_t c = 0; c < p.conns.size(); ++c) out_crit[c] = blocks.conn_edges.criticality(c);
    };

    PLACE_RESULT r;
    int64_t best_slack = 0;
    for (int start = 0; start < starts; ++start) {
        // Further starts take seeds of their own, derived from the user's.
        p.seed = seed + static_cast<uint32_t>(start) * 0x9e3779b9u;
        PLACE_RESULT attempt = place_blocks(p);
        out.moves += attempt.moves;
        out.temperatures += attempt.temperatures;
        if (!attempt.ok) {
            out.error = "the design does not fit the device: " + attempt.error;
            return out;
        }
        if (starts <= 1) {
            r = std::move(attempt);
            break;
        }
        const int64_t slack = timed_slack(env, p, blocks, attempt);
        if (start == 0 || slack > best_slack || (slack == best_slack && attempt.wirelength < r.wirelength)) {
            best_slack = slack;
            r = std::move(attempt);
        }
    }
    out.wirelength = r.wirelength;
    for (size_t b = 0; b < blocks.members.size(); ++b) {
        const PLACE_SITE& s = p.sites[r.site[b]];
        LE_NUMBERING les;
        const bool ram = host_ram_kind_of_class(blocks.site_class[b]) != 0;
        int slice = 0;
        for (CDB_ATOM_NODE* n : blocks.members[b])
            n->set_location(s.x, s.y, blocks.site_class[b] == HOST_SITE_LAB ? les.next(n) : ram ? slice++ : r.slot[b]);
    }
    env.set_placed(true);
    // Atoms made since clustering go next to what they were made from.
    out.placed_later = env.place_unplaced_atoms();
    env.set_full_taint();
    env.analyse_timing();
    out.ok = true;
    return out;
}

void hand_locations_to_component(HOST_ENV& env, MORV_EXPERT_INTERFACE* expert)
{
    if (expert == nullptr) return;
    for (CDB_ATOM_NODE* n : *env.design().netlist()) HOST_ENV::hand_location(expert, *n);
}

namespace {

int clears_driven(const CDB_ATOM_OTERM* oterm)
{
    int clears = 0;
    for (auto f = oterm->begin_iterm_fanout(); f != oterm->end_iterm_fanout(); ++f)
        clears += (*f)->is_used_as(DB_CLEAR) ? 1 : 0;
    return clears;
}

}  // namespace

void report_reset_nets_to_pipeline(HOST_ENV& env, MORV_EXPERT_INTERFACE* expert)
{
    if (expert == nullptr) return;
    RDB_FOLDER* folder = env.design().cmp().get_report()->get_current_folder();
    MSG_ASSERT(folder, "HOST");
    std::unique_ptr<RDB_TABLE_OBJECT> table;
    for (CDB_ATOM_NODE* n : *env.design().netlist())
        for (auto ot = n->begin_oterm(); ot != n->end_oterm(); ++ot) {
            const int clears = clears_driven(*ot);
            if (clears == 0 || !expert->will_fsyn_pipeline_net(*ot)) continue;
            if (!table) {
                table.reset(rdb_create_table(folder->get_name() + " " + HOST_PIPELINED_RESETS_TABLE));
                table->add_row(rdb_create_row({"NET", "ASYNCHRONOUS CLEARS"}));
            }
            auto* row = new RDB_TABLE_ROW;
            row->add_element(new RDB_TABLE_INAME_ELEMENT((*ot)->get_instance_name()));
            row->add_element(new RDB_TABLE_INT_ELEMENT(clears));
            table->add_row(row);
        }
    if (table) folder->add_table(table.release());
}

}  // namespace morv_host
