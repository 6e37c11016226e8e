#pragma once

// The search framework of logic-to-RAM mapping: a cluster manager owns
// delegates that each answer one question about a working cluster: is it
// legal (legaliser), what does it cost (cost function), what does it compute
// (state encoding) and how is the search driven (flow). Subclasses are
// reached through the as_* downcasts; the base answers with an internal
// error.

#include <list>
#include <vector>

#include "morv/rammap/morv_register_type.h"

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class MORV_CLUSTER;
class MORV_CLUSTER_COST;
class MORV_CLUSTER_COST_BY_SIZE;
class MORV_CLUSTER_FLOW;
class MORV_CLUSTER_LEGALIZER;
class MORV_CLUSTER_MANAGER;
class MORV_CLUSTER_RAM_LEGALIZER;
class MORV_CLUSTER_RAM_STATE_ENCODING;
class MORV_RAM_MAP_AREA_CLUSTER_MANAGER;

class MORV_CLUSTER_DELEGATE
{
public:
    MORV_CLUSTER_MANAGER* m_cluster_manager = nullptr;
};

class MORV_CLUSTER_MANAGER
{
public:
    MORV_CLUSTER_MANAGER() = default;
    MORV_CLUSTER_MANAGER(const MORV_CLUSTER_MANAGER&) = delete;
    MORV_CLUSTER_MANAGER& operator=(const MORV_CLUSTER_MANAGER&) = delete;
    virtual ~MORV_CLUSTER_MANAGER() = default;
    // A new cluster holding the seed; the caller frees it with delete_cluster.
    virtual MORV_CLUSTER* create_cluster(CDB_ATOM_NODE* seed) = 0;
    virtual void delete_cluster(MORV_CLUSTER* cluster) = 0;
    virtual bool can_pack(CDB_ATOM_NODE* node) = 0;
    virtual int get_cluster_count() const = 0;
    virtual MORV_RAM_MAP_AREA_CLUSTER_MANAGER* as_area_cluster_manager();

    MORV_CLUSTER_LEGALIZER* get_legalizer() const;
    MORV_CLUSTER_COST* get_cost_function() const;
    MORV_CLUSTER_FLOW* get_flow() const;

protected:
    MORV_CLUSTER_LEGALIZER* m_legalizer = nullptr;
    MORV_CLUSTER_COST* m_cost_function = nullptr;
    MORV_CLUSTER_FLOW* m_flow = nullptr;
};

class MORV_CLUSTER_COST : public MORV_CLUSTER_DELEGATE
{
public:
    class TOKEN
    {
    public:
        virtual ~TOKEN() = default;
        // Tokens of this framework are not ordered: the default says so.
        virtual bool compare(const TOKEN* other) const;
        virtual void print() const;
    };

    virtual ~MORV_CLUSTER_COST() = default;
    virtual MORV_CLUSTER_COST_BY_SIZE* as_cost_by_size();
    // A new token that the caller deletes.
    virtual TOKEN* compute_token(MORV_CLUSTER* cluster) = 0;
};

class MORV_CLUSTER_LEGALIZER : public MORV_CLUSTER_DELEGATE
{
public:
    virtual bool is_legal(MORV_CLUSTER* cluster) = 0;
    virtual bool legalize(MORV_CLUSTER* cluster) = 0;
    virtual void pre_cache(const MORV_REGISTER_TYPE& register_type, CDB_ATOM_NETLIST* netlist) = 0;
    virtual void invalidate(MORV_CLUSTER* cluster) = 0;
    virtual bool is_input_legalizable(CDB_ATOM_OTERM* oterm) const = 0;
    virtual bool is_output_legalizable(CDB_ATOM_OTERM* oterm) const = 0;
    virtual bool legalize_output(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm) = 0;
    virtual bool legalize_input(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm) = 0;
    virtual MORV_CLUSTER_RAM_LEGALIZER* as_ram_legalizer() = 0;
    virtual ~MORV_CLUSTER_LEGALIZER() = default;
};

// The lists and encode are the RAM contents' business; only the slots are
// fixed here.
class MORV_CLUSTER_STATE_ENCODING : public MORV_CLUSTER_DELEGATE
{
public:
    virtual std::vector<CDB_ATOM_OTERM*>& get_inputs() = 0;
    virtual std::vector<CDB_ATOM_OTERM*>& get_outputs() = 0;
    virtual std::vector<CDB_ATOM_OTERM*>& get_states() = 0;
    virtual MORV_CLUSTER_RAM_STATE_ENCODING* as_ram_state_encoding() = 0;
    virtual void encode(MORV_CLUSTER* cluster) = 0;
    virtual void reset() = 0;
    virtual ~MORV_CLUSTER_STATE_ENCODING() = default;
};

class MORV_CLUSTER_FLOW : public MORV_CLUSTER_DELEGATE
{
public:
    virtual ~MORV_CLUSTER_FLOW() = default;
    // The number of RAMs created.
    virtual int run() = 0;
};

// A candidate of the flow: the cluster (owned by the candidate list) and the
// register type it was grown for.
struct MORV_CLUSTER_REGISTER_PAIR
{
    MORV_CLUSTER* m_cluster = nullptr;
    MORV_REGISTER_TYPE m_register_type;
};

// One entry of the flow's candidate queue: the larger gain first, then the
// candidate found first.
struct MORV_PRIORITY_CLUSTER
{
    int m_gain = 0;
    int m_index = 0;
    bool operator<(const MORV_PRIORITY_CLUSTER& other) const
    {
        return m_gain != other.m_gain ? m_gain < other.m_gain : m_index > other.m_index;
    }
};
