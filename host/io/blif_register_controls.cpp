#include "io/blif_register_controls.h"

#include <string>
#include <unordered_set>
#include <vector>

#include "cdb/cdb_lutmask.h"

namespace {

// Controls found in one data cover, as positions among its inputs; `data`
// is what the register loads once they are taken out.
struct CONTROL_FOLD_PLAN
{
    int ena = -1;
    bool ena_low = false;
    int sclr = -1;
    bool sclr_low = false;
    int sload = -1;
    int sdata = -1;
    CDB_LUTMASK data;
};

bool control_fold_is_wire_of(const CDB_LUTMASK& m, int input)
{
    int w = -1;
    return m.is_wire(&w) && w == input;
}

bool control_fold_is_inverted_wire(const CDB_LUTMASK& m)
{
    return (~m).is_wire();
}

// The position of `q` among the cover's inputs; -1 when it is absent or
// read twice.
int control_fold_feedback_input(const BLIF_COVER& c, int q)
{
    int at = -1;
    for (size_t i = 0; i < c.m_inputs.size(); ++i) {
        if (c.m_inputs[i] != q) continue;
        if (at >= 0) return -1;
        at = static_cast<int>(i);
    }
    return at;
}

// An input whose one value makes the cover pass the feedback input through.
bool control_fold_find_enable(const CDB_LUTMASK& t, int feedback, CONTROL_FOLD_PLAN& p)
{
    for (int e = 0; e < t.get_num_inputs(); ++e) {
        if (e == feedback || t.is_independent_of(e)) continue;
        const CDB_LUTMASK c0 = t.cofactor(e, false);
        const CDB_LUTMASK c1 = t.cofactor(e, true);
        if (control_fold_is_wire_of(c0, feedback) || control_fold_is_wire_of(c1, feedback)) {
            p.ena = e;
            p.ena_low = !control_fold_is_wire_of(c0, feedback);
            p.data = p.ena_low ? c0 : c1;
            return true;
        }
    }
    return false;
}

// An input whose one value forces 0. A complemented input left as data
// would need a LUT of its own, so that form is not taken.
void control_fold_find_clear(int feedback, CONTROL_FOLD_PLAN& p)
{
    const CDB_LUTMASK m = p.data;
    for (int s = 0; s < m.get_num_inputs(); ++s) {
        if (s == feedback || m.is_independent_of(s)) continue;
        const CDB_LUTMASK c0 = m.cofactor(s, false);
        const CDB_LUTMASK c1 = m.cofactor(s, true);
        const bool high = !c0.is_gnd() && c1.is_gnd() && !control_fold_is_inverted_wire(c0);
        const bool low = c0.is_gnd() && !control_fold_is_inverted_wire(c1);
        if (!high && !low) continue;
        p.sclr = s;
        p.sclr_low = low;
        p.data = low ? c1 : c0;
        return;
    }
}

// An input choosing between two inputs; the one it picks at 1 is the
// synchronous data, which may not be the register itself.
void control_fold_find_load(int feedback, CONTROL_FOLD_PLAN& p)
{
    const CDB_LUTMASK m = p.data;
    for (int l = 0; l < m.get_num_inputs(); ++l) {
        if (l == feedback || m.is_independent_of(l)) continue;
        const CDB_LUTMASK c0 = m.cofactor(l, false);
        int sdata = -1;
        if (!c0.is_wire() || !m.cofactor(l, true).is_wire(&sdata) || sdata == feedback) continue;
        p.sload = l;
        p.sdata = sdata;
        p.data = c0;
        return;
    }
}

class CONTROL_FOLDER
{
public:
    explicit CONTROL_FOLDER(BLIF_MODEL& model) : m_model(model) {}

    BLIF_CONTROL_COUNTS run()
    {
        count_readers();
        m_removed.assign(m_model.m_covers.size(), false);
        m_added_after.assign(m_model.m_covers.size(), {});
        for (BLIF_LATCH& l : m_model.m_latches) fold(l);
        if (m_counts.covers_removed > 0 || m_counts.covers_added > 0) compact();
        return m_counts;
    }

private:
    void count_readers()
    {
        m_readers.assign(m_model.m_nets.size(), 0);
        for (const BLIF_COVER& c : m_model.m_covers)
            for (int in : c.m_inputs) ++m_readers[in];
        for (const BLIF_LATCH& l : m_model.m_latches) {
            ++m_readers[l.m_d];
            if (l.m_clock >= 0) ++m_readers[l.m_clock];
            if (l.m_reset >= 0) ++m_readers[l.m_reset];
        }
        for (int out : m_model.m_outputs) ++m_readers[out];
    }

    void fold(BLIF_LATCH& l)
    {
        const BLIF_NET& d = m_model.m_nets[l.m_d];
        if (l.m_init != 0 || d.m_driver != BLIF_DRIVER::COVER) return;
        const int cover = d.m_driver_index;
        const BLIF_COVER& c = m_model.m_covers[cover];
        const int feedback = control_fold_feedback_input(c, l.m_q);
        if (feedback < 0) return;
        CONTROL_FOLD_PLAN p;
        if (!control_fold_find_enable(CDB_LUTMASK(static_cast<int>(c.m_inputs.size()), c.m_truth), feedback, p)) return;
        // A complemented input needs its LUT whatever a clear takes from it.
        if (!p.data.is_wire() && !control_fold_is_inverted_wire(p.data)) control_fold_find_clear(feedback, p);
        if (!p.data.is_wire()) control_fold_find_load(feedback, p);
        const std::vector<int> inputs = c.m_inputs;  // the cover may be rewritten below
        l.m_ena = take_control(inputs[p.ena]);
        l.m_ena_active_low = p.ena_low;
        ++m_counts.enables;
        if (p.sclr >= 0) {
            l.m_sclr = take_control(inputs[p.sclr]);
            l.m_sclr_active_low = p.sclr_low;
            ++m_counts.clears;
        }
        if (p.sload >= 0) {
            l.m_sload = take_control(inputs[p.sload]);
            l.m_sdata = take_control(inputs[p.sdata]);
            ++m_counts.loads;
        }
        set_data(l, cover, p.data);
    }

    int take_control(int net)
    {
        ++m_readers[net];
        return net;
    }

    // The latch loads `data` (a function of the cover's inputs) instead of
    // the cover.
    void set_data(BLIF_LATCH& l, int cover, const CDB_LUTMASK& data)
    {
        const std::vector<int>& inputs = m_model.m_covers[cover].m_inputs;
        int wire = -1;
        if (data.is_wire(&wire)) {
            rewire_data(l, inputs[wire]);
        } else if (m_readers[l.m_d] == 1) {
            // The latch alone reads the cover: it may compute the data itself.
            std::vector<int> support;
            const uint64_t truth = reduced_truth(data, inputs, support);
            for (int in : inputs) --m_readers[in];
            for (int in : support) ++m_readers[in];
            m_model.m_covers[cover].m_inputs = std::move(support);
            m_model.m_covers[cover].m_truth = truth;
        } else {
            rewire_data(l, add_cover(l, cover, data));
        }
        if (m_readers[m_model.m_covers[cover].m_output] == 0) remove_cover(cover);
    }

    void rewire_data(BLIF_LATCH& l, int net)
    {
        --m_readers[l.m_d];
        l.m_d = net;
        ++m_readers[net];
    }

    // The inputs `data` depends on, and its table over them alone.
    static uint64_t reduced_truth(const CDB_LUTMASK& data, const std::vector<int>& inputs, std::vector<int>& support)
    {
        std::vector<int> at;
        for (int i = 0; i < data.get_num_inputs(); ++i) {
            if (data.is_independent_of(i)) continue;
            at.push_back(i);
            support.push_back(inputs[static_cast<size_t>(i)]);
        }
        uint64_t truth = 0;
        for (uint64_t row = 0; row < (uint64_t{1} << at.size()); ++row) {
            int full_row = 0;
            for (size_t j = 0; j < at.size(); ++j)
                if ((row >> j) & 1u) full_row |= 1 << at[j];
            if (data.get_bit(full_row)) truth |= uint64_t{1} << row;
        }
        return truth;
    }

    int add_cover(const BLIF_LATCH& l, int beside, const CDB_LUTMASK& data)
    {
        BLIF_COVER c;
        c.m_truth = reduced_truth(data, m_model.m_covers[beside].m_inputs, c.m_inputs);
        c.m_line = m_model.m_covers[beside].m_line;
        for (int in : c.m_inputs) ++m_readers[in];
        const int index = static_cast<int>(m_model.m_covers.size());
        BLIF_NET net;
        net.m_name = unique_name(m_model.m_nets[l.m_q].m_name + "~d");
        net.m_driver = BLIF_DRIVER::COVER;
        net.m_driver_index = index;
        net.m_first_use_line = l.m_line;
        net.m_line = c.m_line;
        c.m_output = static_cast<int>(m_model.m_nets.size());
        m_model.m_nets.push_back(std::move(net));
        m_readers.push_back(0);
        m_model.m_covers.push_back(std::move(c));
        m_removed.push_back(false);
        m_added_after.emplace_back();
        m_added_after[static_cast<size_t>(beside)].push_back(index);
        ++m_counts.covers_added;
        return m_model.m_covers[static_cast<size_t>(index)].m_output;
    }

    std::string unique_name(const std::string& base)
    {
        if (m_names.empty())
            for (const BLIF_NET& n : m_model.m_nets) m_names.insert(n.m_name);
        std::string name = base;
        for (int n = 1; m_names.count(name) > 0; ++n) name = base + "_" + std::to_string(n);
        m_names.insert(name);
        return name;
    }

    void remove_cover(int cover)
    {
        BLIF_COVER& c = m_model.m_covers[cover];
        for (int in : c.m_inputs) --m_readers[in];
        BLIF_NET& out = m_model.m_nets[c.m_output];
        out.m_driver = BLIF_DRIVER::NONE;
        out.m_driver_index = -1;
        m_removed[cover] = true;
        ++m_counts.covers_removed;
    }

    // Drops the removed covers; an added cover follows the one it was made
    // beside in the evaluation order, since it reads a part of its inputs.
    void compact()
    {
        std::vector<int> new_index(m_model.m_covers.size(), -1);
        std::vector<BLIF_COVER> covers;
        covers.reserve(m_model.m_covers.size() - static_cast<size_t>(m_counts.covers_removed));
        for (size_t i = 0; i < m_model.m_covers.size(); ++i) {
            if (m_removed[i]) continue;
            new_index[i] = static_cast<int>(covers.size());
            covers.push_back(std::move(m_model.m_covers[i]));
        }
        std::vector<int> order;
        order.reserve(covers.size());
        for (int old : m_model.m_cover_order) {
            if (!m_removed[old]) order.push_back(new_index[old]);
            for (int added : m_added_after[old])
                if (!m_removed[added]) order.push_back(new_index[added]);
        }
        for (BLIF_NET& n : m_model.m_nets)
            if (n.m_driver == BLIF_DRIVER::COVER) n.m_driver_index = new_index[n.m_driver_index];
        m_model.m_covers = std::move(covers);
        m_model.m_cover_order = std::move(order);
    }

    BLIF_MODEL& m_model;
    BLIF_CONTROL_COUNTS m_counts;
    std::vector<int> m_readers;                   // by net: cover inputs, latch inputs and outputs reading it
    std::vector<bool> m_removed;                  // by cover
    std::vector<std::vector<int>> m_added_after;  // by cover: covers made beside it
    std::unordered_set<std::string> m_names;      // filled when the first cover is added
};

}  // namespace

BLIF_CONTROL_COUNTS blif_fold_register_controls(BLIF_MODEL& model)
{
    return CONTROL_FOLDER(model).run();
}
