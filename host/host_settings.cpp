#include "host_settings.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <unordered_map>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_native_checks.h"
#include "cfg/cfg.h"
#include "cfg/cfg_file.h"
#include "cfg/cfg_known_keys.h"
#include "dev/dev_device.h"
#include "hdb/hdb_options.h"
#include "msg/msg.h"
#include "host_env.h"
#include "host_grid.h"
#include "host_options.h"
#include "host_setting_names.h"
#include "morv/core/morv_setting_ids.h"
#include "tdc/tdc_accessories.h"

namespace morv_host {

namespace {

bool is_assignment_key(const std::string& k)
{
    return k == "dont_touch" || k == "must_keep" || k == "back_annotated" || k == "locked_region" ||
           k == "kardel_region" || k == "partition" || k == "floating_region" || k == "partition_name" ||
           k == "boundary_port" || k == "instance_option";
}

enum class SETTING_KIND
{
    BOOL,
    INT,
    EFFORT,
    TEXT
};

// The kind of a project setting's value, as the component reads it; nothing
// for an id that nothing reads. A setting id added without a kind here fails
// the build (every id must have its case).
std::optional<SETTING_KIND> setting_kind(int id)
{
    switch (static_cast<MORV_SETTING_ID>(id)) {
    case MORV_SETTING_MIGRATION_TARGET_DEVICE:
    case MORV_SETTING_TEST_STRING:
    case MORV_SETTING_READ_LOG: return SETTING_KIND::TEXT;
    case MORV_SETTING_PLACER_SEED:
    case MORV_SETTING_PIPELINING:
    case MORV_SETTING_PIPELINE_REGISTERS: return SETTING_KIND::INT;
    case MORV_SETTING_COMB_LOGIC_FOR_FITTING:
    case MORV_SETTING_COMB_LOGIC:
    case MORV_SETTING_REGISTER_DUPLICATION:
    case MORV_SETTING_LOGIC_TO_MEMORY:
    case MORV_SETTING_REGISTER_RETIMING:
    case MORV_SETTING_ASYNC_PIPELINING:
    case MORV_SETTING_PIPELINING_NO_DST_CHECK:
    case MORV_SETTING_RETIMING_NO_DEMUX: return SETTING_KIND::BOOL;
    case MORV_SETTING_EFFORT: return SETTING_KIND::EFFORT;
    }
    return std::nullopt;
}

// The setting id `text` names; what is wrong with it names `where`.
int setting_id(const std::string& text, const std::string& where)
{
    int64_t id = 0;
    if (!parse_int_strict(text, 0, 1000000, id) || !setting_kind(static_cast<int>(id)))
        throw HOST_INPUT_ERROR(where + ": no project setting has the id '" + msg_cut_word(text) + "'");
    return static_cast<int>(id);
}

// The readers of project settings take a value that is not of the setting's
// kind for an absent setting, so such a value is refused here.
void check_setting_value(int id, const std::string& value, const std::string& where)
{
    const std::string setting = where + ": setting " + std::to_string(id);
    switch (*setting_kind(id)) {
    case SETTING_KIND::BOOL:
        if (!cfg_parse_switch(value))
            throw HOST_INPUT_ERROR(setting + " takes on or off, found '" + msg_cut_word(value) + "'");
        break;
    case SETTING_KIND::INT:
        if (!cfg_parse_int(value))
            throw HOST_INPUT_ERROR(setting + " takes a whole number, found '" + msg_cut_word(value) + "'");
        break;
    case SETTING_KIND::EFFORT: {
        const std::optional<int> v = cfg_parse_int(value);
        if (v && (*v == MORV_EFFORT_FAST || *v == MORV_EFFORT_NORMAL || *v == MORV_EFFORT_EXTRA)) break;
        throw HOST_INPUT_ERROR(setting + " takes " + std::to_string(MORV_EFFORT_FAST) + " (fast), " +
                               std::to_string(MORV_EFFORT_NORMAL) + " (normal) or " +
                               std::to_string(MORV_EFFORT_EXTRA) + " (extra), found '" + msg_cut_word(value) + "'");
    }
    case SETTING_KIND::TEXT: break;
    }
}

// A switch nothing reads is a misspelling that would change nothing; a
// value its reader cannot take would silently read as the default.
void check_switch(const std::string& key, const std::string& value, const std::string& where)
{
    const CFG_KNOWN_KEY* known = cfg_find_known_key(key);
    if (known == nullptr)
        throw HOST_INPUT_ERROR(where + ": unknown switch '" + msg_cut_word(key) + "' (is it misspelt?)");
    const std::string fault = cfg_check_value(*known, value);
    if (!fault.empty()) throw HOST_INPUT_ERROR(where + ": switch '" + msg_cut_word(key) + "' " + fault);
}

}  // namespace

void HOST_SETTINGS::load_file(const std::string& path)
{
    // Only spaces and tabs are blanks in the host's file.
    std::string error;
    const bool opened = cfg_read_settings_file(
        path,
        [this](const CFG_FILE_LINE& line) {
            if (!line.has_equals)
                throw HOST_INPUT_ERROR(line.where + ": expected KEY=VALUE, found '" + msg_cut_word(line.text) + "'");
            add(line.key, line.value, line.where);
        },
        " \t", &error);
    if (!opened) throw HOST_INPUT_ERROR(path + ": cannot read the settings file: " + error);
}

void HOST_SETTINGS::add(const std::string& key, const std::string& value, const std::string& where)
{
    if (key.empty()) throw HOST_INPUT_ERROR(where + ": empty key");
    const int named_id = host_setting_id_of_name(key);
    if (named_id >= 0 || key.find_first_not_of("0123456789") == std::string::npos) {
        const int id = named_id >= 0 ? named_id : setting_id(key, where);
        check_setting_value(id, value, where);
        m_options.emplace_back(id, value);
    } else if (is_assignment_key(key)) {
        m_assignments.push_back({key, value, where});
    } else {
        check_switch(key, value, where);
        m_switches.push_back({key, value, where});
    }
}

bool HOST_SETTINGS::has_option(int id) const
{
    for (const auto& [k, v] : m_options)
        if (k == id) return true;
    return false;
}

const std::string* HOST_SETTINGS::option_value(int id) const
{
    const std::string* value = nullptr;
    for (const auto& [k, v] : m_options)
        if (k == id) value = &v;
    return value;
}

void HOST_SETTINGS::apply_options_and_switches(HDB_OPTION_SET& options) const
{
    for (const auto& [id, value] : m_options) options.set_string(id, value);
    for (const LINE& l : m_switches) cfg_set_value(l.key.c_str(), l.value.c_str());
}

void HOST_SETTINGS::check_clock_periods(HOST_ENV& env) const
{
    const std::string prefix = "tdc_clock_period_ps.";
    std::vector<std::string> clocks;
    bool analysed = false;
    for (const LINE& l : m_switches) {
        if (l.key.rfind(prefix, 0) != 0) continue;
        if (!analysed) {
            env.analyse_timing();
            for (const TDC_CLOCK_INFO& c : env.accessories()->get_analysis()->get_clocks()) clocks.push_back(c.m_name);
            analysed = true;
        }
        const std::string name = l.key.substr(prefix.size());
        if (std::find(clocks.begin(), clocks.end(), name) != clocks.end()) continue;
        std::string known;
        for (const std::string& c : clocks) known += (known.empty() ? "" : ", ") + c;
        throw HOST_INPUT_ERROR(l.where + ": the design has no clock '" + msg_cut_word(name) + "' (" +
                               (known.empty() ? "it has no clock" : "its clocks: " + known) + ")");
    }
}

namespace {

// The atom's name in quotes, cut to a readable length. Appended rather than
// added to a literal: GCC 12 at -O3 warns falsely on "'" + std::string.
std::string quoted_atom(const std::string& name)
{
    std::string q(1, '\'');
    q += msg_cut_word(name);
    q += '\'';
    return q;
}

// Atoms and outputs by name: an atom's own name or the name of one of its
// outputs (BLIF net names) finds the atom; an output's name finds the output.
struct NAMED_ATOMS
{
    explicit NAMED_ATOMS(CDB_ATOM_NETLIST& netlist)
    {
        for (CDB_ATOM_NODE* n : netlist) {
            if (n->get_instance_name()) nodes.emplace(n->get_instance_name()->get_short_hpath(), n);
            for (auto ot = n->begin_oterm(); ot != n->end_oterm(); ++ot) {
                if ((*ot)->get_instance_name() == nullptr) continue;
                nodes.emplace((*ot)->get_instance_name()->get_short_hpath(), n);
                oterms.emplace((*ot)->get_instance_name()->get_short_hpath(), *ot);
            }
        }
    }
    std::unordered_map<std::string, CDB_ATOM_NODE*> nodes;
    std::unordered_map<std::string, CDB_ATOM_OTERM*> oterms;
};

// A line's value: its first word and the words after it.
struct WORDS
{
    WORDS(const std::string& line_key, const std::string& value, const std::string& line_where)
        : key(line_key), where(line_where)
    {
        std::istringstream in(value);
        in >> first;
        if (first.empty()) throw HOST_INPUT_ERROR(where + ": " + key + " needs a value");
        std::string w;
        while (in >> w) rest.push_back(w);
    }
    // The words after the first as count numbers.
    std::vector<int64_t> numbers(size_t count) const
    {
        if (rest.size() != count)
            throw HOST_INPUT_ERROR(where + ": " + key + " takes " + std::to_string(count) +
                                   " number(s) after its first word");
        std::vector<int64_t> out;
        for (const std::string& w : rest) {
            int64_t v = 0;
            if (!parse_int_strict(w, -1, 1000000, v))
                throw HOST_INPUT_ERROR(where + ": '" + msg_cut_word(w) + "' is not a number");
            out.push_back(v);
        }
        return out;
    }
    int first_as_id(const char* what) const
    {
        int64_t id = 0;
        if (!parse_int_strict(first, 0, 1000000, id))
            throw HOST_INPUT_ERROR(where + ": '" + msg_cut_word(first) + "' is not " + what);
        return static_cast<int>(id);
    }
    std::string key, where, first;
    std::vector<std::string> rest;
};

void apply_atom_assignment(const WORDS& w, CDB_ATOM_NODE* node)
{
    CDB_ATOM_ASSIGNMENTS a = node->get_assignments();
    if (w.key == "dont_touch") {
        w.numbers(0);
        a.dont_touch = true;
    } else if (w.key == "must_keep") {
        w.numbers(0);
        a.must_keep = true;
    } else if (w.key == "back_annotated") {
        w.numbers(0);
        a.back_annotated = true;
    } else if (w.key == "kardel_region") {
        a.kardel_region = static_cast<int>(w.numbers(1)[0]);
    } else if (w.key == "partition") {
        a.partition_id = static_cast<int>(w.numbers(1)[0]);
    } else if (w.key == "locked_region") {
        const std::vector<int64_t> n = w.numbers(4);
        a.locked_x1 = static_cast<int>(n[0]);
        a.locked_y1 = static_cast<int>(n[1]);
        a.locked_x2 = static_cast<int>(n[2]);
        a.locked_y2 = static_cast<int>(n[3]);
        const std::string wrong = cdb_check_locked_corners(a, quoted_atom(w.first));
        if (!wrong.empty()) throw HOST_INPUT_ERROR(w.where + ": " + wrong);
    }
    node->set_assignments(a);
}

// The port is bound and assigned to the named output, or to the named
// atom's first output.
void apply_boundary_port(const WORDS& w, const NAMED_ATOMS& named, BPM_BOUNDARY_PORT_MANAGER& bpm)
{
    if (w.rest.size() != 1) throw HOST_INPUT_ERROR(w.where + ": boundary_port takes an output and a port name");
    CDB_ATOM_OTERM* oterm = nullptr;
    if (auto o = named.oterms.find(w.first); o != named.oterms.end()) oterm = o->second;
    else if (auto n = named.nodes.find(w.first);
             n != named.nodes.end() && n->second->begin_oterm() != n->second->end_oterm())
        oterm = *n->second->begin_oterm();
    if (oterm == nullptr) throw HOST_INPUT_ERROR(w.where + ": no output named '" + msg_cut_word(w.first) + "'");
    const int port = bpm.create_port(w.rest[0]);
    if (port < 0 || !bpm.bind_port_id(oterm, port) || !bpm.assign_port_id(oterm, port))
        throw HOST_INPUT_ERROR(w.where + ": cannot make the boundary port '" + msg_cut_word(w.rest[0]) + "'");
}

// Options of an instance are kept under its name, which must be an atom's or
// an output's.
void apply_instance_option(const WORDS& w, const NAMED_ATOMS& named, HDB_ACTION_PT_INSTANCE& ap)
{
    if (w.rest.size() != 2)
        throw HOST_INPUT_ERROR(w.where + ": instance_option takes an instance, a setting id and a value");
    if (!named.nodes.count(w.first))
        throw HOST_INPUT_ERROR(w.where + ": no atom or output named '" + msg_cut_word(w.first) + "'");
    const int id = setting_id(w.rest[0], w.where);
    check_setting_value(id, w.rest[1], w.where);
    ap.edit_instance_options(w.first).set_string(id, w.rest[1]);
}

}  // namespace

bool HOST_SETTINGS::needs_boundary_port_manager() const
{
    for (const LINE& l : m_assignments)
        if (l.key == "partition" || l.key == "boundary_port" || l.key == "partition_name") return true;
    return false;
}

void HOST_SETTINGS::apply_assignments(HOST_ENV& env) const
{
    if (m_assignments.empty()) return;
    const NAMED_ATOMS named(*env.design().netlist());
    BPM_BOUNDARY_PORT_MANAGER* bpm = env.get_boundary_port_manager();
    for (const LINE& l : m_assignments) {
        const WORDS w(l.key, l.value, l.where);
        if (l.key == "floating_region") {
            env.set_floating_region_lab_count(w.first_as_id("a region id"), static_cast<int>(w.numbers(1)[0]));
        } else if (l.key == "partition_name") {
            if (w.rest.empty()) throw HOST_INPUT_ERROR(l.where + ": partition_name takes a partition id and a name");
            const int partition = w.first_as_id("a partition id");
            // The name is the rest of the line, blanks inside it kept.
            const size_t after_id = l.value.find(w.first) + w.first.size();
            if (bpm) bpm->set_partition_name(partition, l.value.substr(l.value.find_first_not_of(" \t", after_id)));
        } else if (l.key == "boundary_port") {
            if (bpm) apply_boundary_port(w, named, *bpm);
        } else if (l.key == "instance_option") {
            apply_instance_option(w, named, env.design().action_point());
        } else {
            auto it = named.nodes.find(w.first);
            if (it == named.nodes.end())
                throw HOST_INPUT_ERROR(l.where + ": no atom named '" + msg_cut_word(w.first) + "'");
            apply_atom_assignment(w, it->second);
            if (l.key == "locked_region") {
                const std::string wrong =
                    host_check_region_on_device(*it->second, quoted_atom(w.first), *env.design().device());
                if (!wrong.empty()) throw HOST_INPUT_ERROR(l.where + ": " + wrong);
                const CDB_ATOM_ASSIGNMENTS& a = it->second->get_assignments();
                env.note_locked_region_origin(a.locked_x1, a.locked_y1, a.locked_x2, a.locked_y2, l.where);
            }
            if (l.key == "partition" && bpm) bpm->add_partition(it->second->get_assignments().partition_id);
        }
    }
}

}  // namespace morv_host
