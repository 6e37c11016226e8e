#include "host_fitter.h"

#include <algorithm>
#include <unordered_map>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "host_cluster.h"
#include "host_env.h"
#include "host_grid.h"
#include "host_placer.h"
#include "morv/core/morv_expert_interface.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

namespace morv_host {

namespace {

bool is_clock_sink(const CDB_ATOM_ITERM* t) { return t->is_used_as(DB_CLOCK); }

// Criticality (1 - slack ratio) of every input term the last analysis
// timed; a term behind several timing edges takes its worst.
std::unordered_map<const CDB_ATOM_ITERM*, float> iterm_criticality(HOST_ENV& env)
{
  std::unordered_map<const CDB_ATOM_ITERM*, float> crit;
  if (TDB_NETLIST* tdb = env.get_tdb_netlist())
    for (TDB_EDGE* e : tdb->edge_table())
      if (e && e->get_iterm()) {
        const float c = 1.0f - e->get_slack_ratio();
        auto [it, fresh] = crit.emplace(e->get_iterm(), c);
        if (!fresh) it->second = std::max(it->second, c);
      }
  return crit;
}

// Logic elements are numbered within the LAB by kind, so that a LUT and the
// register packed after it share a number.
struct LE_NUMBERING {
  int combs = 0, regs = 0;
  int next(const CDB_ATOM_NODE* n) { return host_pack_kind(n) == PACK_KIND::REG ? regs++ : combs++; }
};

}  // namespace

HOST_CLUSTERING cluster_netlist(HOST_ENV& env)
{
  CDB_ATOM_NETLIST* netlist = env.design().netlist();
  std::vector<CDB_ATOM_NODE*> cells;
  std::unordered_map<const CDB_ATOM_NODE*, int> index;
  cells.reserve(netlist->get_node_count());
  for (CDB_ATOM_NODE* n : *netlist) {
    index.emplace(n, static_cast<int>(cells.size()));
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
        if (!is_clock_sink(*f)) net.sinks.push_back(index.at((*f)->get_my_node()));
      if (!net.sinks.empty()) p.nets.push_back(std::move(net));
    }
  PACK_RESULT packed = pack_cells(p);
  result.clusters.reserve(packed.clusters.size());
  for (const auto& members : packed.clusters) {
    std::vector<uint32_t> ids;
    ids.reserve(members.size());
    for (int c : members) ids.push_back(cells[c]->get_id());
    result.clusters.push_back(std::move(ids));
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

HOST_PLACEMENT place_netlist(HOST_ENV& env, const HOST_CLUSTERING& clustering, uint32_t seed, double effort_factor)
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
  const std::unordered_map<const CDB_ATOM_ITERM*, float> crit = iterm_criticality(env);

  // Blocks: the clusters that still hold atoms, then one per I/O atom.
  std::unordered_map<uint32_t, int> block_of;  // atom id -> block
  std::vector<std::vector<CDB_ATOM_NODE*>> members;
  PLACE_PROBLEM p;
  p.nx = dev.get_nx();
  p.ny = dev.get_ny();
  for (const auto& ids : clustering.clusters) {
    std::vector<CDB_ATOM_NODE*> alive;
    for (uint32_t id : ids)
      if (CDB_ATOM_NODE* n = env.get_node(static_cast<int>(id)); n && host_pack_kind(n) != PACK_KIND::IO) alive.push_back(n);
    if (alive.empty()) continue;
    const int b = static_cast<int>(members.size());
    for (CDB_ATOM_NODE* n : alive) block_of[n->get_id()] = b;
    p.block_class.push_back(host_site_class_of(alive.front()));
    members.push_back(std::move(alive));
  }
  out.labs = static_cast<int>(members.size());
  for (CDB_ATOM_NODE* n : *netlist) {
    if (host_pack_kind(n) != PACK_KIND::IO) continue;
    block_of[n->get_id()] = static_cast<int>(members.size());
    p.block_class.push_back(HOST_SITE_IO);
    members.push_back({n});
  }

  for (int x = 0; x < p.nx; ++x)
    for (int y = 0; y < p.ny; ++y) {
      const int cls = host_site_class_of_block(dev.get_block_type(x, y, 0));
      if (cls >= 0) p.sites.push_back({x, y, cls, cls == HOST_SITE_IO ? HOST_IO_SLOTS : 1});
    }

  // Nets and timing connections between blocks; global clock nets ride
  // their own network and take no part.
  std::vector<int> seen(members.size(), -1);
  std::vector<const CDB_ATOM_ITERM*> conn_iterm;
  int net_stamp = 0;
  for (CDB_ATOM_NODE* n : *netlist) {
    auto db = block_of.find(n->get_id());
    if (db == block_of.end()) continue;
    for (auto ot = n->begin_oterm(); ot != n->end_oterm(); ++ot) {
      if (!(*ot)->has_fanout()) continue;
      ++net_stamp;
      std::vector<int> net{db->second};
      seen[db->second] = net_stamp;
      for (auto f = (*ot)->begin_iterm_fanout(); f != (*ot)->end_iterm_fanout(); ++f) {
        if (is_clock_sink(*f)) continue;
        auto sb = block_of.find((*f)->get_my_node()->get_id());
        if (sb == block_of.end()) continue;
        if (sb->second != db->second) {
          auto c = crit.find(*f);
          p.conns.push_back({db->second, sb->second, c == crit.end() ? 0.0f : c->second});
          conn_iterm.push_back(*f);
        }
        if (seen[sb->second] != net_stamp) {
          seen[sb->second] = net_stamp;
          net.push_back(sb->second);
        }
      }
      if (net.size() >= 2) p.nets.push_back(std::move(net));
    }
  }
  p.delay_ps = [&dev](int x1, int y1, int x2, int y2) { return dev.get_routing_delay_ps(x1, y1, x2, y2); };
  p.seed = seed;
  p.inner_num = effort_factor;
  // Measured on the MCNC set: leaning on timing shortens the critical path
  // at little cost in wirelength.
  p.timing_tradeoff = 0.8;
  // Criticalities follow the placement: the analyser re-times the netlist
  // with routing delays of the placement so far.
  p.recompute_criticality = [&](const std::vector<int>& site_of_block, std::vector<float>& out_crit) {
    for (size_t b = 0; b < members.size(); ++b) {
      const PLACE_SITE& s = p.sites[site_of_block[b]];
      for (CDB_ATOM_NODE* n : members[b]) n->set_location(s.x, s.y);
    }
    TDC_ACCESSORIES* acc = env.accessories();
    acc->refresh_interconnect_delays();
    acc->run_tan(*acc->get_tan_parameters(), true);
    const std::unordered_map<const CDB_ATOM_ITERM*, float> now = iterm_criticality(env);
    out_crit.assign(conn_iterm.size(), 0.0f);
    for (size_t c = 0; c < conn_iterm.size(); ++c)
      if (auto it = now.find(conn_iterm[c]); it != now.end()) out_crit[c] = it->second;
  };

  PLACE_RESULT r = place_blocks(p);
  out.moves = r.moves;
  out.temperatures = r.temperatures;
  out.wirelength = r.wirelength;
  if (!r.ok) {
    out.error = "the design does not fit the device: " + r.error;
    return out;
  }
  for (size_t b = 0; b < members.size(); ++b) {
    const PLACE_SITE& s = p.sites[r.site[b]];
    LE_NUMBERING les;
    for (CDB_ATOM_NODE* n : members[b])
      n->set_location(s.x, s.y, p.block_class[b] == HOST_SITE_LAB ? les.next(n) : r.slot[b]);
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
  for (CDB_ATOM_NODE* n : *env.design().netlist())
    if (n->get_lab_x() >= 0)
      expert->set_atoms_preferred_location(static_cast<int>(n->get_id()), n->get_lab_x(), n->get_lab_y(),
                                           n->get_sub_location(), -1);
}

}  // namespace morv_host
