#include "host_settings.h"

#include <sstream>
#include <unordered_map>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cfg/cfg_file.h"
#include "hdb/hdb_options.h"
#include "host_env.h"
#include "host_options.h"

namespace morv_host {

namespace {

bool is_assignment_key(const std::string& k)
{
  return k == "dont_touch" || k == "must_keep" || k == "back_annotated" || k == "locked_region" ||
         k == "kardel_region" || k == "partition" || k == "floating_region";
}

}  // namespace

void HOST_SETTINGS::load_file(const std::string& path)
{
  // Only spaces, tabs and carriage returns are blanks in the host's file.
  const bool opened = cfg_read_settings_file(
      path,
      [this](const CFG_FILE_LINE& line) {
        if (!line.has_equals) throw HOST_INPUT_ERROR(line.where + ": expected KEY=VALUE, found '" + line.text + "'");
        add(line.key, line.value, line.where);
      },
      " \t\r");
  if (!opened) throw HOST_INPUT_ERROR(path + ": cannot read the settings file");
}

void HOST_SETTINGS::add(const std::string& key, const std::string& value, const std::string& where)
{
  if (key.empty()) throw HOST_INPUT_ERROR(where + ": empty key");
  if (key.find_first_not_of("0123456789") == std::string::npos) {
    int64_t id = 0;
    if (!parse_int_strict(key, 0, 1000000, id)) throw HOST_INPUT_ERROR(where + ": setting id '" + key + "' is out of range");
    m_options.emplace_back(static_cast<int>(id), value);
  } else if (is_assignment_key(key)) {
    m_assignments.push_back({key, value, where});
  } else {
    m_switches.emplace_back(key, value);
  }
}

bool HOST_SETTINGS::has_option(int id) const
{
  for (const auto& [k, v] : m_options)
    if (k == id) return true;
  return false;
}

void HOST_SETTINGS::apply_options_and_switches(HDB_OPTION_SET& options) const
{
  for (const auto& [id, value] : m_options) options.set_string(id, value);
  for (const auto& [key, value] : m_switches) cfg_set_value(key.c_str(), value.c_str());
}

void HOST_SETTINGS::apply_assignments(HOST_ENV& env) const
{
  if (m_assignments.empty()) return;
  // Atoms are found by their own name or by the name of one of their outputs
  // (BLIF net names).
  std::unordered_map<std::string, CDB_ATOM_NODE*> by_name;
  for (CDB_ATOM_NODE* n : *env.design().netlist()) {
    if (n->get_instance_name()) by_name.emplace(n->get_instance_name()->get_short_hpath(), n);
    for (auto ot = n->begin_oterm(); ot != n->end_oterm(); ++ot)
      if ((*ot)->get_instance_name()) by_name.emplace((*ot)->get_instance_name()->get_short_hpath(), n);
  }
  for (const LINE& l : m_assignments) {
    std::istringstream words(l.value);
    std::string first;
    words >> first;
    if (first.empty()) throw HOST_INPUT_ERROR(l.where + ": " + l.key + " needs a value");
    std::vector<int64_t> numbers;
    std::string w;
    while (words >> w) {
      int64_t v = 0;
      if (!parse_int_strict(w, -1, 1000000, v)) throw HOST_INPUT_ERROR(l.where + ": '" + w + "' is not a number");
      numbers.push_back(v);
    }
    auto need = [&](size_t count) {
      if (numbers.size() != count)
        throw HOST_INPUT_ERROR(l.where + ": " + l.key + " takes " + std::to_string(count) + " number(s) after its first word");
    };
    if (l.key == "floating_region") {
      int64_t region = 0;
      if (!parse_int_strict(first, 0, 1000000, region)) throw HOST_INPUT_ERROR(l.where + ": '" + first + "' is not a region id");
      need(1);
      env.set_floating_region_lab_count(static_cast<int>(region), static_cast<int>(numbers[0]));
      continue;
    }
    auto it = by_name.find(first);
    if (it == by_name.end()) throw HOST_INPUT_ERROR(l.where + ": no atom named '" + first + "'");
    CDB_ATOM_NODE* node = it->second;
    CDB_ATOM_ASSIGNMENTS a = node->get_assignments();
    if (l.key == "dont_touch") { need(0); a.dont_touch = true; }
    else if (l.key == "must_keep") { need(0); a.must_keep = true; }
    else if (l.key == "back_annotated") { need(0); a.back_annotated = true; }
    else if (l.key == "kardel_region") { need(1); a.kardel_region = static_cast<int>(numbers[0]); }
    else if (l.key == "partition") { need(1); a.partition_id = static_cast<int>(numbers[0]); }
    else if (l.key == "locked_region") {
      need(4);
      if (numbers[0] < 0 || numbers[1] < 0 || numbers[2] < numbers[0] || numbers[3] < numbers[1])
        throw HOST_INPUT_ERROR(l.where + ": locked region corners must satisfy 0 <= X1 <= X2 and 0 <= Y1 <= Y2");
      a.locked_x1 = static_cast<int>(numbers[0]);
      a.locked_y1 = static_cast<int>(numbers[1]);
      a.locked_x2 = static_cast<int>(numbers[2]);
      a.locked_y2 = static_cast<int>(numbers[3]);
    }
    node->set_assignments(a);
  }
}

}  // namespace morv_host
