#pragma once

// One register control connection (a clock or a clear) as the logic-to-RAM
// mapping and the shift-register manager compare them: the driving output
// (none for an input without a source), the input's inversion and its
// global-network type.

class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

struct MORV_SIGNAL
{
    CDB_ATOM_OTERM* m_oterm = nullptr;
    bool m_inverted = false;
    unsigned m_global_type : 5 = 0;

    MORV_SIGNAL() = default;
    // The connection of an input term as it stands.
    explicit MORV_SIGNAL(const CDB_ATOM_ITERM* iterm);

    // Same driver by the deterministic oterm order (or both without one),
    // same global type and same inversion.
    bool operator==(const MORV_SIGNAL& other) const;
    bool operator!=(const MORV_SIGNAL& other) const { return !(*this == other); }

    // The order register types are sorted and compared by: constants first
    // (GND before VCC, then the larger global setting), then driven signals
    // from the latest driver in the deterministic oterm order, the larger
    // global setting and the inverted one first. Equal exactly when ==.
    bool operator<(const MORV_SIGNAL& other) const;

    // The global setting as the term holds it: 5 bits, signed.
    int get_global_setting() const { return static_cast<int>(m_global_type ^ 16u) - 16; }

    // One trace line at level 100.
    void print() const;
};
