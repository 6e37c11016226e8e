#pragma once

// The cost of a cluster by its size: how many cells a RAM would replace and
// how many address and data bits it needs.

#include <cstdint>

#include "mem_alloc_sys.h"

#include "morv/rammap/morv_cluster_delegate.h"

class MORV_CLUSTER_COST_BY_SIZE : public MORV_CLUSTER_COST
{
public:
    class TOKEN_BY_SIZE : public TOKEN
    {
    public:
        void print() const override;
        // Outputs shifted left by inputs, in 64 bits; from 20 inputs on the
        // largest value, which no limit admits.
        int64_t get_bits() const;
        // Cells saved: comb nodes less carry nodes, less the outputs where
        // the family pays a wrapper per output.
        int get_score(bool counts_outputs) const;

        int m_nodes = 0;
        int m_comb_nodes = 0;
        int m_inputs = 0;
        int m_outputs = 0;
        int m_carryin_nodes = 0;
        int m_carryout_nodes = 0;
    };

    MORV_CLUSTER_COST_BY_SIZE* as_cost_by_size() override { return this; }
    TOKEN* compute_token(MORV_CLUSTER* cluster) override;
    // The same, typed and owned.
    MORV_OWNER<TOKEN_BY_SIZE> compute_size(MORV_CLUSTER* cluster);
};
