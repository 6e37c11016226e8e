#include "resyn_test_support.h"
#include "test_compile_setup.h"

namespace resyn_test {

namespace {

typedef std::vector<uint64_t> WORDS;

// The host's evaluation of a LUT's combinational output for every
// combination of its data inputs, input 0 the lowest bit.
std::vector<unsigned> truth_table(CDB_ATOM_NODE* node, int inputs)
{
    std::vector<unsigned> table(size_t{1} << inputs);
    for (unsigned m = 0; m < table.size(); ++m) {
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
        for (int k = 0; k < inputs; ++k) in[k] = (m >> k) & 1u;
        table[m] = node->evaluate_output(DB_COMB_OUT, in) & 1u;
    }
    return table;
}

// Bit-parallel simulation of the absorbed LUTs over every assignment of the
// cone's support (64 assignments a word).
class CONE_SIMULATOR
{
public:
    CONE_SIMULATOR(TEST_RESYN& resyn, MORV_API* api, const std::vector<int>& support)
        : m_resyn(resyn), m_api(api), m_support(support)
    {
        const int n = static_cast<int>(support.size());
        m_words = n <= 6 ? 1 : size_t{1} << (n - 6);
        for (size_t i = 0; i < resyn.vars().size(); ++i) m_position[static_cast<int>(i)] = -1;
        for (int p = 0; p < n; ++p) m_position[support[static_cast<size_t>(p)]] = p;
        for (const MORV_OWNER<RESYN_VAR>& v : resyn.vars()) m_var_of[{v->oterm, v->bp_id}] = v.get();
    }
    size_t word_count() const { return m_words; }

    // The words of a support position: bit a of the table is bit p of a.
    WORDS position_words(int p) const
    {
        static const uint64_t k_low[6] = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
                                          0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};
        WORDS w(m_words);
        for (size_t i = 0; i < m_words; ++i) w[i] = p < 6 ? k_low[p] : (((i >> (p - 6)) & 1u) ? ~0ull : 0ull);
        return w;
    }

    const WORDS& node_words(CDB_ATOM_NODE* node)
    {
        auto found = m_node_words.find(node);
        if (found != m_node_words.end()) return found->second;
        const int n = m_resyn.get_num_data_ports();
        std::vector<WORDS> in;
        for (int k = 0; k < n; ++k) in.push_back(input_words(node, k));
        if (m_resyn.uses_register_feedback(node))
            in[2] = var_words(m_var_of.at({node->get_output_term_by_type(DB_REG_OUT), -1}));
        std::vector<unsigned> table = truth_table(node, n);
        WORDS out(m_words);
        for (size_t i = 0; i < m_words; ++i) {
            std::vector<uint64_t> level;
            for (unsigned bit : table) level.push_back(bit ? ~0ull : 0ull);
            for (int k = 0; k < n; ++k) {
                std::vector<uint64_t> next;
                for (size_t j = 0; j + 1 < level.size(); j += 2)
                    next.push_back((in[static_cast<size_t>(k)][i] & level[j + 1]) |
                                   (~in[static_cast<size_t>(k)][i] & level[j]));
                level.swap(next);
            }
            out[i] = level[0];
        }
        return m_node_words[node] = out;
    }

    WORDS var_words(const RESYN_VAR* var)
    {
        if (var->expanded) return node_words(var->oterm->get_my_node());
        const int p = m_position.at(var->var_index);
        return p >= 0 ? position_words(p) : WORDS(m_words, 0);
    }

private:
    WORDS input_words(CDB_ATOM_NODE* node, int k)
    {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm == nullptr || !iterm->is_connected()) return WORDS(m_words, 0);
        if (iterm->get_source() == nullptr) return WORDS(m_words, iterm->is_logical_vcc() ? ~0ull : 0ull);
        const int bp = m_api->get_assigned_boundary_port_id(iterm);
        WORDS w = var_words(m_var_of.at({iterm->get_source(), bp}));
        if (iterm->reads_complemented())
            for (uint64_t& x : w) x = ~x;
        return w;
    }

    TEST_RESYN& m_resyn;
    MORV_API* m_api;
    std::vector<int> m_support;
    size_t m_words = 1;
    std::map<int, int> m_position;
    std::map<std::pair<CDB_ATOM_OTERM*, int>, const RESYN_VAR*> m_var_of;
    std::map<CDB_ATOM_NODE*, WORDS> m_node_words;
};

// The value of f where every variable reads its bit of assignment a.
bool evaluate_bdd(BDD_JBDD f, const std::vector<std::vector<uint64_t>*>& values, size_t a, BDD_JBDD_MGR* mgr)
{
    while (f != mgr->true_bdd() && f != mgr->false_bdd()) {
        const std::vector<uint64_t>& w = *values[static_cast<size_t>(f.variable())];
        const bool bit = (w[a >> 6] >> (a & 63)) & 1u;
        f = bit ? f.high_child() : f.low_child();
    }
    return f == mgr->true_bdd();
}

}  // namespace

void RESYN_COMPILE::set_flow(int flow)
{
    DRIVER_FLAGS::run_only(expert, flow);
}

void check_cone(TEST_RESYN& resyn, CDB_ATOM_NODE* root, CONE_STATS& stats)
{
    const BDD_JBDD f = resyn.get_div_data().lower;
    const std::vector<int> support = f.build_support();
    CONE_SIMULATOR sim(resyn, resyn.get_fsyn_api(), support);
    const std::vector<uint64_t> expected = sim.node_words(root);
    std::vector<std::vector<uint64_t>> var_values;
    for (const MORV_OWNER<RESYN_VAR>& v : resyn.vars()) var_values.push_back(sim.var_words(v.get()));
    std::vector<std::vector<uint64_t>*> values;
    for (std::vector<uint64_t>& w : var_values) values.push_back(&w);
    const size_t assignments = size_t{1} << support.size();
    int cubes = 0;
    int literals = 0;
    resyn.compute_cover(f, f, cubes, literals);
    stats.roots += 1;
    stats.support += static_cast<long>(support.size());
    stats.literals += literals;
    for (size_t a = 0; a < assignments; ++a) {
        const bool want = (expected[a >> 6] >> (a & 63)) & 1u;
        if (evaluate_bdd(f, values, a, resyn.get_bdd_mgr()) == want) continue;
        if (stats.mismatches++ == 0)
            stats.first_mismatch = "root " + std::to_string(root->get_id()) + " assignment " + std::to_string(a);
        return;
    }
}

}  // namespace resyn_test
