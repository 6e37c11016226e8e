#include "seq_harness.h"

#include <filesystem>
#include <set>
#include <sstream>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "io/blif_writer.h"

namespace {

// A DSP block's latches are named after the block and numbered, so two
// netlists hold the same ones only when every block has the same ports
// registered.
std::string dsp_register_signature(const CDB_ATOM_NODE* mac)
{
    std::string s =
        mac->get_instance_name() ? mac->get_instance_name()->get_short_hpath() : std::to_string(mac->get_id());
    s += "~dsp";
    for (int port = DB_DATA_A; port <= DB_DATA_D; ++port) {
        s += CUT_MAC_UTIL::is_input_port_registered(mac, port) ? 'i' : '-';
        s += CUT_MAC_UTIL::is_pipeline_registered(mac, port) ? 'p' : '-';
    }
    s += CUT_MAC_UTIL::is_output_port_registered(mac, DB_DATA_OUT) ? 'o' : '-';
    return s;
}

std::set<std::string> register_names(const CDB_ATOM_NETLIST& netlist)
{
    std::set<std::string> names;
    for (CDB_ATOM_NODE* node : netlist) {
        if (node->is_mac_mult() || node->is_mac_out()) names.insert(dsp_register_signature(node));
        // A RAM slice is written with its output register.
        if (node->is_ram()) {
            std::string ram("ram ");
            ram.append(node->get_instance_name() ? node->get_instance_name()->get_short_hpath()
                                                 : std::to_string(node->get_id()));
            names.insert(ram);
        }
        const CDB_ATOM_OTERM* q = node->get_output_term_by_type(DB_REG_OUT);
        if (q == nullptr) continue;
        HDB_INSTANCE_NAME* n = q->get_instance_name() ? q->get_instance_name() : node->get_instance_name();
        names.insert(n ? n->get_short_hpath() : std::to_string(node->get_id()));
    }
    return names;
}

ABC_RESULT prove(const std::string& a, const std::string& b, bool same_registers)
{
    // Plain cec pairs registers by name (its -n would pair them by order).
    if (same_registers) return abc_check_equivalence(a, b, false);
    ABC_RESULT r = abc_check_equivalence(a, b, true);
    if (r.m_verdict == ABC_VERDICT::UNDECIDED) r = abc_check_by_miter(a, b);
    return r;
}

}  // namespace

std::string SEQ_VERDICT::describe() const
{
    std::string text = std::string("ABC (") + m_abc.m_command + "): " + abc_verdict_name(m_abc.m_verdict) +
                       "; co-simulation: " + m_sim.describe();
    if (!m_kept.empty()) text += "; files kept in " + m_kept;
    if (m_abc.m_verdict == ABC_VERDICT::UNDECIDED) text += "\n" + m_abc.m_output;
    return text;
}

SEQ_VERDICT seq_check(const CDB_ATOM_NETLIST& before, const CDB_ATOM_NETLIST& after, const std::string& tag,
                      bool expect_equivalent, int cycles, uint64_t seed)
{
    namespace fs = std::filesystem;
    SEQ_VERDICT v;
    const fs::path dir = fs::path("seq_failed") / tag;
    fs::create_directories(dir);
    const std::string a = (dir / "before.blif").string(), b = (dir / "after.blif").string();
    blif_write_netlist_file(before, a);
    blif_write_netlist_file(after, b);
    v.m_same_registers = register_names(before) == register_names(after);
    v.m_abc = prove(a, b, v.m_same_registers);
    v.m_sim = cosimulate(before, after, cycles, seed);
    if (expect_equivalent ? v.equivalent() : v.refuted()) {
        fs::remove_all(dir);
    } else {
        v.m_kept = dir.string();
    }
    return v;
}

std::string seq_zero_dont_care_inits(const std::string& blif_text)
{
    std::istringstream in(blif_text);
    std::ostringstream out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string s; words >> s;) w.push_back(s);
        if (!w.empty() && w[0] == ".latch") {
            // .latch IN OUT [TYPE CONTROL] [INIT]: an init other than 0 or 1 is a don't-care.
            const bool has_init = w.size() == 4 || w.size() == 6;
            if (has_init && (w.back() == "2" || w.back() == "3")) w.back() = "0";
            if (!has_init) w.push_back("0");
            line.clear();
            for (const std::string& s : w) line += (line.empty() ? "" : " ") + s;
        }
        out << line << "\n";
    }
    return out.str();
}
