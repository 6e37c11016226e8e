#pragma once

// The cluster manager of logic-to-RAM mapping: it owns the RAM legaliser,
// the cost-by-size function and the RAM flow, holds the register type the
// flow works on, and decides which nodes may join a cluster.

#include <map>
#include <set>
#include <string>

#include "mem_alloc_sys.h"
#include "vtl_hash_lite_sys.h"

#include "morv/netlist/morv_deterministic.h"
#include "morv/rammap/morv_cluster_delegate.h"

class MORV_CLUSTER_RAM_FLOW;

class MORV_RAM_MAP_AREA_CLUSTER_MANAGER : public MORV_CLUSTER_MANAGER
{
public:
    // Needs the RAM utility instance.
    explicit MORV_RAM_MAP_AREA_CLUSTER_MANAGER(double slack_ratio_threshold);
    ~MORV_RAM_MAP_AREA_CLUSTER_MANAGER() override;

    MORV_CLUSTER* create_cluster(CDB_ATOM_NODE* seed) override;
    void delete_cluster(MORV_CLUSTER* cluster) override;
    // Not a mapped node, a register of the current type only, packable, and
    // no connection of the node critical. Answers for nodes that pass the
    // first two tests are kept for the whole run.
    bool can_pack(CDB_ATOM_NODE* node) override;
    int get_cluster_count() const override { return m_cluster_count; }
    MORV_RAM_MAP_AREA_CLUSTER_MANAGER* as_area_cluster_manager() override { return this; }

    MORV_CLUSTER_RAM_LEGALIZER* get_ram_legalizer() const;
    MORV_CLUSTER_COST_BY_SIZE* get_cost_by_size() const;
    MORV_CLUSTER_RAM_FLOW* get_ram_flow() const;

    // Replaces an encoded cluster by RAM slices, one per data bit, and
    // gives ram_name the logical RAM's name. The memory-initialisation
    // file is the one m_mif_file_name names when the flow wrote it;
    // otherwise a new one is written here before the first edit. False,
    // with the netlist unchanged and m_mif_file_name naming the file,
    // when that write fails. Built in morv_ram_build.cpp.
    bool create_simple_ram(MORV_CLUSTER* cluster, std::string& ram_name);

    MORV_REGISTER_TYPE m_register_type;
    int m_cluster_count = 0;
    // Bit limit while legalising; the flow sets it per register type.
    int m_max_bits = 0;
    // The best state of the current growth.
    MORV_OTERM_SET m_best_cluster;
    int m_best_score = -1024;
    double m_slack_ratio_threshold = 0.0;
    // Nodes that a RAM already replaced.
    std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>> m_mapped_nodes;
    // The clear-emulation register made for each register type, shared by
    // every RAM of that type; filled by the RAM builder.
    std::map<MORV_REGISTER_TYPE, CDB_ATOM_OTERM*> m_aclr_register_oterms;
    // The memory-initialisation file of the cluster being built, when the
    // flow has written it (see morv_ram_stored_columns); the builder
    // clears it once taken.
    std::string m_mif_file_name;

private:
    bool has_critical_connection(CDB_ATOM_NODE* node) const;

    // The delegates this manager made; the base's pointers name them.
    MORV_OWNER<MORV_CLUSTER_RAM_LEGALIZER> m_own_legalizer;
    MORV_OWNER<MORV_CLUSTER_COST_BY_SIZE> m_own_cost_function;
    MORV_OWNER<MORV_CLUSTER_RAM_FLOW> m_own_flow;

    VTL_HASH_LITE<CDB_ATOM_NODE*, bool> m_can_pack_cache{48};
};
