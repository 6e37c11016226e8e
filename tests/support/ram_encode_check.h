// An encoded cluster checked against the host's own evaluation of the logic
// it replaces: the address oterms take the bits of an address, the cluster's
// cells are evaluated by the atoms' evaluate_output and its registers by the
// host's register rule, one register stage, and every data bit must equal
// its column's entry. No BDD is involved.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_atom_terms.h"
#include "cdb/cdb_types.h"

#include "morv/rammap/morv_ram_encode.h"

class CLUSTER_EVAL
{
public:
    // The first `true_inputs` address oterms are the cluster's inputs, the
    // rest its state registers.
    CLUSTER_EVAL(const std::vector<CDB_ATOM_OTERM*>& address, size_t true_inputs)
        : m_address(address), m_true_inputs(true_inputs)
    {}

    // A true input holds its address bit on both sides of the edge; a state
    // register before it.
    void set_address(uint64_t a)
    {
        for (auto& stage : m_value) stage.clear();
        for (size_t k = 0; k < m_address.size(); ++k) {
            m_value[1][m_address[k]] = (a >> k) & 1u;
            if (k < m_true_inputs) m_value[0][m_address[k]] = (a >> k) & 1u;
        }
    }
    // Stage 0: after the clock edge; 1: before it (the address); 2: at power-up.
    unsigned value(const CDB_ATOM_OTERM* o, int stage)
    {
        auto& memo = m_value[stage];
        if (auto it = memo.find(o); it != memo.end()) return it->second;
        const CDB_ATOM_NODE* node = o->get_my_node();
        unsigned v = 0;
        if (o->get_usage() == DB_REG_OUT) {
            if (stage == 1) throw std::runtime_error("a register that is no address bit read before the edge");
            v = stage == 2 ? aload_driven(node) : next_state(node);
        } else {
            unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
            for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k)
                in[k] = read(node->get_input_term_by_type(node->get_evaluate_input_port(k)), 0, stage);
            v = node->evaluate_output(o->get_usage(), in);
        }
        memo[o] = v;
        return v;
    }

private:
    static unsigned aload_driven(const CDB_ATOM_NODE* node)
    {
        const CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_ASYNCH_LOAD);
        return t != nullptr && t->get_source() != nullptr ? 1u : 0u;
    }
    unsigned read(const CDB_ATOM_ITERM* t, unsigned floating, int stage)
    {
        if (t == nullptr || !t->is_connected()) return floating;
        if (!t->is_driven()) return t->is_logical_vcc() ? 1u : 0u;
        return value(t->get_source(), stage) ^ (t->reads_complemented() ? 1u : 0u);
    }
    // The RAM's clock enable is the register's own, so the enable stands on.
    unsigned next_state(const CDB_ATOM_NODE* node)
    {
        auto port = [&](int type) { return read(node->get_input_term_by_type(type), 0, 1); };
        CDB_REGISTER_INPUTS r;
        r.d = port(DB_DATAIN);
        r.sclr = port(DB_SYNCH_CLEAR);
        r.sload = port(DB_SYNCH_LOAD);
        r.sdata = port(DB_SYNCH_DATA);
        return cdb_register_next_state(r, 0);
    }

    std::vector<CDB_ATOM_OTERM*> m_address;
    size_t m_true_inputs;
    std::unordered_map<const CDB_ATOM_OTERM*, unsigned> m_value[3];
};

// Empty when every column and power-up value agrees with the evaluation:
// every address up to 12 address bits, `samples` random ones above.
inline std::string check_encoding(MORV_CLUSTER_RAM_STATE_ENCODING& enc, int samples = 4096, uint64_t seed = 1)
{
    const std::vector<CDB_ATOM_OTERM*>& data = enc.get_data_oterms();
    const size_t bits = enc.get_address_oterms().size();
    if (enc.get_contents().size() != data.size() || enc.get_power_up_values().size() != data.size())
        return "one column and one power-up value per data bit expected";
    CLUSTER_EVAL eval(enc.get_address_oterms(), enc.get_inputs().size());
    const uint64_t depth = uint64_t{1} << bits;
    std::mt19937_64 rng(seed);
    const uint64_t count = bits <= 12 ? depth : static_cast<uint64_t>(samples);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t a = bits <= 12 ? i : rng() % depth;
        eval.set_address(a);
        for (size_t k = 0; k < data.size(); ++k) {
            if (enc.get_contents()[k].size() != depth) return "column " + std::to_string(k) + " has the wrong length";
            if (eval.value(data[k], 0) != enc.get_contents()[k][a])
                return "data bit " + std::to_string(k) + " differs at address " + std::to_string(a);
            if (eval.value(data[k], 2) != enc.get_power_up_values()[k])
                return "power-up value of data bit " + std::to_string(k) + " differs";
        }
    }
    return std::string();
}
