#pragma once

// Manual operations: single retiming and resynthesis steps applied to atoms
// a person picks, from the tool link's commands or from a script file
// played once per run, to reproduce what the algorithms do.

#include <map>
#include <string>

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/debug/morv_plumrix.h"

class MORV_MANUAL;
class MORV_NET_UTIL;

// Local commands, in the order they are registered on the tool link.
enum MORV_MANUAL_COMMAND : int
{
    MORV_MANUAL_FOM = 0,
    MORV_MANUAL_FORWARD_PUSH = 1,
    MORV_MANUAL_BACKWARD_PUSH = 2,
    MORV_MANUAL_DEMUX = 3,
    MORV_MANUAL_SPLIT = 4,
    MORV_MANUAL_RESYN = 5,
    MORV_MANUAL_PLAY = 6,
    MORV_MANUAL_COMMAND_COUNT = 7
};

// Routes the tool's commands to the manual operations.
class MORV_MANUAL_CALLBACKS : public MORV_PLUMRIX_FUNCTIONOID
{
public:
    MORV_MANUAL_CALLBACKS(MORV_MANUAL* owner, MORV_PLUMRIX* fsyn_plx) : m_owner(owner), m_fsyn_plx(fsyn_plx) {}
    void invoke(int command_id, std::string argument) override;
    ~MORV_MANUAL_CALLBACKS() override = default;

    void register_command(unsigned local_id, const char* name, const char* description);
    void unregister_command(unsigned local_id);

private:
    std::map<int, unsigned> m_command_ids;
    MORV_MANUAL* m_owner;
    MORV_PLUMRIX* m_fsyn_plx;
};

class MORV_MANUAL : public MORV_ALGORITHM_BASE
{
public:
    MORV_MANUAL(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_MANUAL() override;

    std::string get_short_name() override { return "MANUAL"; }
    std::string get_description() override { return "manual operations"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;
    void finish_algorithm() override;

    void execute_command(unsigned local_id, const std::string& argument);
    void play_manual_file(const std::string& file_name);

    int get_operations_count() const { return m_operations_count; }
    const std::string& get_script_file_name() const { return m_script_file_name; }

private:
    bool is_link_enabled() const;
    void send_fom();
    void run_single_step(unsigned local_id, const std::string& argument);
    bool run_step_on_atom(unsigned local_id, int atom_id);
    bool run_retiming_step(unsigned local_id, int atom_id);
    bool run_resyn_step(int atom_id);

    int m_operations_count = 0;
    bool m_read_operations_file = false;
    bool m_played = false;
    std::string m_script_file_name;
    MORV_OWNER<MORV_MANUAL_CALLBACKS> m_callback_functionoid;
    MORV_PLUMRIX* m_fsyn_plx = nullptr;
    MORV_NET_UTIL* m_net_util = nullptr;
};
