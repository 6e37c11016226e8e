#pragma once
// Project settings for a compile, from a settings file and --set options:
//   <number>=<value>            project setting by id (the ids of morv/core/morv_setting_ids.h)
//   <name>=<value>              the same by its name (host_setting_names.h)
//   dont_touch=<atom>           per-atom assignments; <atom> is an atom's or an
//   must_keep=<atom>            output's name
//   back_annotated=<atom>
//   locked_region=<atom> X1 Y1 X2 Y2
//   kardel_region=<atom> ID
//   partition=<atom> ID         incremental partition of the atom
//   partition_name=ID NAME      a partition's name (the rest of the line)
//   boundary_port=<output> PORT the output (or an atom's first output) is
//                               the boundary port PORT, bound and assigned
//   instance_option=<instance> ID VALUE
//                               per-instance setting of an atom or output name
//   floating_region=ID LABS     LABs of a floating region
//   <anything else>=<value>     developer switch (fsyn_* and the like)
// Blank lines and lines starting with '#' are ignored. A setting id nothing
// reads, a switch no reader knows (cfg/cfg_known_keys.h) and a value that is
// not of its setting's or switch's kind are errors naming the line.

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class HDB_OPTION_SET;

namespace morv_host {

class HOST_ENV;

// Bad input: the text names the file and line (or the option) and the fault.
class HOST_INPUT_ERROR : public std::runtime_error
{
public:
    explicit HOST_INPUT_ERROR(const std::string& text) : std::runtime_error(text) {}
};

class HOST_SETTINGS
{
public:
    // Throws HOST_INPUT_ERROR "<path>:<line>: ..." or "<path>: cannot read".
    void load_file(const std::string& path);
    // One KEY=VALUE; where names its origin in messages. Throws
    // HOST_INPUT_ERROR "<where>: ..." for an unknown key or a bad value.
    void add(const std::string& key, const std::string& value, const std::string& where);

    // Project settings go to the options, switches to the configuration service.
    void apply_options_and_switches(HDB_OPTION_SET& options) const;
    // Per-atom assignments need the netlist: applied once it is read.
    void apply_assignments(HOST_ENV& env) const;
    // Partitions or ports given: the compile needs a boundary-port manager,
    // installed before the environment is made.
    bool needs_boundary_port_manager() const;

    bool has_option(int id) const;
    // A period given to a clock the design does not have would constrain
    // nothing: HOST_INPUT_ERROR naming the setting and the design's clocks.
    void check_clock_periods(HOST_ENV& env) const;
    // The value given last for a project setting; nullptr when none was.
    const std::string* option_value(int id) const;

private:
    struct LINE
    {
        std::string key, value, where;
    };
    std::vector<std::pair<int, std::string>> m_options;
    std::vector<LINE> m_switches;
    std::vector<LINE> m_assignments;
};

}  // namespace morv_host
