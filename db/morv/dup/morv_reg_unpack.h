#pragma once

// Register unpacking. A register packed with a LUT must sit where the LUT
// sits; when either half is on a critical connection, separating them lets
// each be placed on its own. In UVO a logic cell holds both halves and the
// LUT half moves to a new cell; in the 6-LUT families the register is
// placed again in its LAB with no fixed sub-location.
//
// Files: the object, the iteration, the local-optimisation hooks and the
// 6-LUT check and form (morv_reg_unpack.cpp), the UVO checks and form
// (morv_reg_unpack_uvo.cpp).

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"

class CDB_ATOM_ITERM;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class MORV_NET_UTIL;

// A cell to unpack and where its halves go; also the local-optimisation
// record.
struct MORV_UNPACK_INFO : MORV_LOCAL_OPT_INFO
{
    static constexpr int s_NOT_EVALUATED = 2147483647;
    static constexpr int s_ACCEPTED = 250;

    int estimate = s_NOT_EVALUATED;
    CDB_ATOM_NODE* node = nullptr;
    int reg_x = -1;  // the register's LAB, -1 none
    int reg_y = -1;
    int comb_x = -1;  // the LUT's LAB, -1 none
    int comb_y = -1;
};

class MORV_REG_UNPACK : public MORV_ALGORITHM_BASE
{
public:
    // The share of logic cells one iteration unpacks.
    static constexpr double s_UNPACK_SHARE = 0.05;

    MORV_REG_UNPACK(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_REG_UNPACK() override;

    // ---- local-optimisation protocol
    void init_iteration_for_local_optimization() override {}
    void fini_iteration_for_local_optimization() override {}
    // A record (a MORV_UNPACK_INFO) for the term's cell when it may be
    // unpacked, else null.
    MORV_OWNER<MORV_LOCAL_OPT_INFO> evaluate_local_optimization(CDB_ATOM_ITERM* local_iterm) override;
    // opt_info must be a MORV_UNPACK_INFO.
    bool perform_local_optimization(CDB_ATOM_ITERM* local_iterm, const MORV_LOCAL_OPT_INFO* opt_info,
                                    std::set<int>* touched_ids) override;
    void cleanup_local_optimization(MORV_OWNER<MORV_LOCAL_OPT_INFO>& opt_info) override;

    // ---- algorithm
    std::string get_short_name() override { return "REG_UNPACK"; }
    std::string get_description() override { return "register unpacking"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    // The number of cells found unpackable (not the number unpacked).
    int do_iter() override;

    // ---- checks and forms
    bool can_unpack(CDB_ATOM_NODE* node, MORV_UNPACK_INFO* info);
    // False when nothing was unpacked.
    bool unpack(const MORV_UNPACK_INFO& info);
    int get_unpacked_count() const { return m_unpacked; }
    // How many of found records an iteration over logic_cells cells unpacks.
    static size_t unpack_limit(int logic_cells, size_t found);

private:
    // The node's LAB; (0, 0) for every node before placement, -1 without one.
    void location_of(CDB_ATOM_NODE* node, int* x, int* y);
    bool is_below_threshold(CDB_ATOM_ITERM* iterm) const;
    bool any_input_critical(CDB_ATOM_NODE* node, std::initializer_list<int> port_types) const;
    bool any_fanout_critical(CDB_ATOM_OTERM* oterm) const;

    // ---- 6-LUT families
    bool can_unpack_six_lut(CDB_ATOM_NODE* node, MORV_UNPACK_INFO* info);
    bool is_data_input_critical(CDB_ATOM_NODE* node) const;
    void unpack_six_lut(const MORV_UNPACK_INFO& info);

    // ---- UVO (morv_reg_unpack_uvo.cpp)
    bool can_unpack_uvo(CDB_ATOM_NODE* node, MORV_UNPACK_INFO* info);
    bool can_split_uvo(CDB_ATOM_NODE* node, MORV_UNPACK_INFO* info);
    bool can_unpack_cascade_uvo(CDB_ATOM_NODE* node, MORV_UNPACK_INFO* info);
    // The output's LAB into x, y; true when one of its fanouts with a
    // location is at most SRT.
    bool is_output_critical(CDB_ATOM_OTERM* oterm, int* x, int* y);
    // The smallest slack ratio over the inputs used as LUT data A, B or D.
    double smallest_lut_input_ratio(CDB_ATOM_NODE* node) const;
    // False when the host refused the new cell.
    bool unpack_uvo(const MORV_UNPACK_INFO& info);
    void strip_lut_inputs(CDB_ATOM_NODE* node);
    void route_synch_data_through_lut(CDB_ATOM_NODE* node);
    void set_register_only_bits(CDB_ATOM_NODE* node);
    void disconnect_logged(CDB_ATOM_ITERM* iterm);

    MORV_NET_UTIL* m_fsyn_net_util = nullptr;
    int m_form = 0;  // MORV_REG_UNPACK_FORM of the run's family
    int m_unpacked = 0;
    // What the last check found; copied to the caller's record.
    static MORV_UNPACK_INFO s_check_record;
};
