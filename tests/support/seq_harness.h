// The sequential check every register move is tested with: both netlists
// written as BLIF, proved by ABC from the all-zero power-up state and run
// side by side in the cycle simulator. ABC matches registers by name with
// plain `cec` when both sides hold the same registers and runs `dsec`
// otherwise, with a sequential miter under `dprove` when dsec is undecided.
// The files of a case whose verdicts are not the expected ones (both
// "equivalent", or both refuting) are kept under "seq_failed/<tag>" for
// the report; those of a case that went as expected go.
#pragma once

#include <cstdint>
#include <string>

#include "abc_equiv.h"
#include "cycle_sim.h"

class CDB_ATOM_NETLIST;

struct SEQ_VERDICT
{
    ABC_RESULT m_abc;
    COSIM_RESULT m_sim;
    bool m_same_registers = false;
    std::string m_kept;  // folder of the kept files, empty when none were kept
    bool equivalent() const { return m_abc.is_equivalent() && m_sim.m_agree; }
    // ABC refutes the pair and the simulation finds a difference.
    bool refuted() const { return m_abc.is_not_equivalent() && !m_sim.m_agree && m_sim.m_error.empty(); }
    std::string describe() const;
};

SEQ_VERDICT seq_check(const CDB_ATOM_NETLIST& before, const CDB_ATOM_NETLIST& after, const std::string& tag,
                      bool expect_equivalent, int cycles = 1000, uint64_t seed = 1);

// A reference BLIF file's latches with a don't-care initial value (2, 3 or
// none) rewritten to power up at 0, as every register here does.
std::string seq_zero_dont_care_inits(const std::string& blif_text);
