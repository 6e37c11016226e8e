#pragma once

// The component's table timing model: the host's per-family tables of
// typical interconnect delays, with the corrections the host's model does
// not know: boundary-port and black-box sources, LAB clusters while the
// post-clustering flow runs, clock-port sources while SYN_EARLY runs and
// clock-buffer sources, and delays read back from an earlier compile. The
// timing estimator times connections with it.

#include "csu/csu_table_timing_model.h"

class MORV_API;
class MORV_TIMING;
class DUVO_FITTER_DELAY_INFO;

class MORV_TABLE_TIMING_MODEL : public CSU_TABLE_TIMING_MODEL<CSU_ATOM_NETLIST_TYPES>
{
public:
    // Delays timing holds for connections (read back from an earlier
    // compile) stand in for the table's.
    MORV_TABLE_TIMING_MODEL(MORV_API* api, const MORV_TIMING* timing);
    ~MORV_TABLE_TIMING_MODEL() override;

    using CSU_TABLE_TIMING_MODEL<CSU_ATOM_NETLIST_TYPES>::get_ic_delay;
    // Interconnect delay in ps of the connection into iterm; 0 for none.
    int get_ic_delay(CDB_ATOM_ITERM* iterm) override;
    // The table delay with every correction but the clock buffer's;
    // clock_buffer_source tells whether the connection takes the clock-buffer
    // delay instead (a clock buffer driving a clocked sink).
    int get_corrected_table_delay(CDB_ATOM_ITERM* iterm, bool* clock_buffer_source);
    // Delay of the global clock network in ps, fetched from the device once.
    double get_clock_buffer_delay();

private:
    int table_delay(int src_type, int src_port, int dst_type, int dst_port) const;

    MORV_API* m_api;
    const MORV_TIMING* m_timing;
    double m_clkbuf_delay;
    DUVO_FITTER_DELAY_INFO* m_duvo_fitter_delay_info;
};
