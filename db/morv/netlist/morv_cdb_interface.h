#pragma once

// The atom-editing interface: the one place where the component allocates
// atoms and edits atom terms, LUT masks and term properties, mirroring each
// edit into the change log while logging is on. It only edits: announcing a
// new or changed node to the rest of the run is the caller's job (through
// the facade's notifications).
//
// Log order: an entry that describes the state after the change is written
// after the host operation (term creation, masks, usage, MAC settings,
// constant ties); an entry that must see the term as it was is written
// first (disconnection, connection, term properties, delay chain, global
// type, boundary ports). A constant tie stores the node's prior state first.
//
// New atoms belong to the host netlist once the caller inserts them, and
// the netlist frees its atoms with delete: the factories allocate them the
// host's way.

#include <cstdint>

class MORV_LOG;
class MEM_SEGMENT;
class HDB_INSTANCE_NAME;
class BPM_BOUNDARY_PORT_MANAGER;
class CDB_LUTMASK;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class CDB_ATOM_UVO_LCELL;
class CDB_ATOM_BRK_LCELL_COMB;
class CDB_ATOM_BRK_LCELL_FF;
class CDB_ATOM_SORVEXII_LCELL_COMB;
class CDB_ATOM_SORVEXII_LCELL_FF;
class CDB_ATOM_MORLIN_LCELL_COMB;
class CDB_ATOM_MORLIN_LCELL_HSADDER;
class CDB_ATOM_MORLIN_LCELL_FF;
class CDB_ATOM_OBRAN_LCELL_COMB;
class CDB_ATOM_OBRAN_FF;
class CDB_ATOM_RZK_LCELL_COMB;
class CDB_ATOM_RZK_FF;
class CDB_ATOM_KESTLIN_FF;
class CDB_ATOM_ZEPLA_LCELL_COMB;
class CDB_ATOM_ZEPLA_FF;

class MORV_CDB_INTERFACE
{
public:
    // Logging is on exactly when a log is given.
    explicit MORV_CDB_INTERFACE(MORV_LOG* log) : logging(log != nullptr), m_fsyn_log(log) {}
    ~MORV_CDB_INTERFACE() {}
    MORV_CDB_INTERFACE(const MORV_CDB_INTERFACE&) = delete;
    MORV_CDB_INTERFACE& operator=(const MORV_CDB_INTERFACE&) = delete;

    bool is_logging() const { return logging; }
    // A flow that must not be logged switches logging off; the log stays.
    void set_logging(bool on) { logging = on && m_fsyn_log != nullptr; }
    MORV_LOG* get_fsyn_log() const { return m_fsyn_log; }
    // A restored snapshot brings its own copy of the log.
    void set_fsyn_log(MORV_LOG* log) { m_fsyn_log = log; }

    // ---- atom factories (the segment is not used; no log entry)
    CDB_ATOM_UVO_LCELL* create_lcell_uvo(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_BRK_LCELL_COMB* create_lcell_comb_brk(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_BRK_LCELL_FF* create_lcell_ff_brk(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_SORVEXII_LCELL_COMB* create_lcell_comb_sorvexii(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_SORVEXII_LCELL_FF* create_lcell_ff_sorvexii(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_MORLIN_LCELL_COMB* create_lcell_comb_mrl(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_MORLIN_LCELL_HSADDER* create_lcell_hsadder_mrl(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_MORLIN_LCELL_FF* create_lcell_ff_mrl(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_OBRAN_LCELL_COMB* create_lcell_comb_obran(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_OBRAN_FF* create_ff_obran(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    // Also the KESTLIN combinational cell.
    CDB_ATOM_RZK_LCELL_COMB* create_lcell_comb_rzk(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_RZK_FF* create_ff_rzk(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_KESTLIN_FF* create_ff_kestlin(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_ZEPLA_LCELL_COMB* create_lcell_comb_zepla(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);
    CDB_ATOM_ZEPLA_FF* create_ff_zepla(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name);

    // ---- queries of certain atom types
    // The adder mask of a 6-input combinational cell; internal error otherwise.
    uint64_t get_adder_lutmask(CDB_ATOM_NODE* node);
    // RAM mode flag of a UVO RAM cell's port; internal error for another atom.
    bool is_ram_mode(CDB_ATOM_NODE* node, int ram_flag, int port);

    // ---- terms
    // Places an input term (used as port_type) in the port's fixed slot or
    // the first free unordered slot; no log entry.
    void insert_input_term(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type, int unordered_index);
    CDB_ATOM_ITERM* create_input_term(MEM_SEGMENT* segment, CDB_ATOM_ITERM*& out_iterm, CDB_ATOM_NODE* node,
                                      int port_type, int unordered_index);
    CDB_ATOM_OTERM* create_oterm(MEM_SEGMENT* segment, CDB_ATOM_OTERM*& out_oterm, CDB_ATOM_NODE* node, int port_type,
                                 HDB_INSTANCE_NAME* name);

    // ---- connections (state: CDB_NET_ITERM::CONNECT_STATE)
    void disconnect_fanin(CDB_ATOM_ITERM* iterm, int state);
    void insert_fanin(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* oterm);
    void set_iterm_gnd(CDB_ATOM_ITERM* iterm);
    void set_iterm_vcc(CDB_ATOM_ITERM* iterm);
    void set_iterm_logical_vcc(CDB_ATOM_ITERM* iterm);
    void set_iterm_logical_gnd(CDB_ATOM_ITERM* iterm);

    // ---- LUT masks; writing a 6-input mask that depends on input F
    // creates that input, which is logged before the mask.
    void set_lutmask(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask, int flag);
    void set_sum_lutmask(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask, int flag);
    // The carry mask of a 4-input cell, logged as a mask written through the node.
    void set_carry_lutmask(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask, int flag);

    // ---- term properties
    // Writes a whole saved set of properties back; does nothing (and logs
    // nothing) when every property already has its value.
    void set_iterm_properties(CDB_ATOM_ITERM* iterm, bool invert, int global_type, bool connected_to_delay_chain,
                              bool use_delay_chain, int delay_chain_index, bool user_delay_chain);
    // The same with the delay chain named (only chain 8 exists).
    void set_iterm_properties(CDB_ATOM_ITERM* iterm, bool invert, int global_type, int delay_chain,
                              bool connected_to_delay_chain, bool use_delay_chain, int delay_chain_index,
                              bool user_delay_chain);
    void set_iterm_connected_to_delay_chain(CDB_ATOM_ITERM* iterm, bool connected);
    void set_iterm_global(CDB_ATOM_ITERM* iterm, int global_type);
    void set_iterm_usage_as(CDB_ATOM_ITERM* iterm, int port_type);
    void reset_iterm_delay_chain(CDB_ATOM_ITERM* iterm);
    // A node bit change cannot be logged: an internal error while logging
    // (after the bit was changed).
    void set_node_bit(CDB_ATOM_NODE* node, int bit);
    void clear_node_bit(CDB_ATOM_NODE* node, int bit);

    // ---- DSP (MAC) port settings; value -1 means none for clocks and clears
    void set_input_port_width(CDB_ATOM_NODE* mac, int port_type, int value);
    void set_input_port_clear(CDB_ATOM_NODE* mac, int port_type, int value);
    void set_input_port_clock(CDB_ATOM_NODE* mac, int port_type, int value);
    void set_output_port_clear(CDB_ATOM_NODE* mac, int port_type, int value);
    void set_output_port_clock(CDB_ATOM_NODE* mac, int port_type, int value);

    // ---- boundary ports; each answers the manager's answer to its last call
    // The port bound to from moves to to.
    bool move_boundary_port_id(BPM_BOUNDARY_PORT_MANAGER* manager, CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to);
    // The port assigned to the term (-1 clears).
    bool set_boundary_port_id(BPM_BOUNDARY_PORT_MANAGER* manager, CDB_ATOM_OTERM* oterm, int port_id);
    bool set_boundary_port_id(BPM_BOUNDARY_PORT_MANAGER* manager, CDB_ATOM_ITERM* iterm, int port_id);

    bool logging;

private:
    template <typename TERM>
    bool assign_boundary_port_id(BPM_BOUNDARY_PORT_MANAGER* manager, TERM* term, int port_id);
    void store_prior_state(CDB_ATOM_NODE* node);
    void store_prior_state(CDB_ATOM_ITERM* iterm);
    void log_constant(CDB_ATOM_ITERM* iterm, bool gnd);
    // A tie that now reads as the other constant.
    void relog_constant(CDB_ATOM_ITERM* iterm, bool gnd);

    MORV_LOG* m_fsyn_log;
};
