#pragma once

// The four control signals of a register as logic-to-RAM mapping groups
// registers: only registers of one type can become the register stage of
// one RAM.

#include "morv/rammap/morv_signal.h"

class CDB_ATOM_NODE;

struct MORV_REGISTER_TYPE
{
    MORV_SIGNAL m_clock;
    MORV_SIGNAL m_clear;
    MORV_SIGNAL m_enable;
    MORV_SIGNAL m_aload;

    MORV_REGISTER_TYPE() = default;
    // The controls of a register as they act: an asynchronous load of a
    // constant 0 with no clear is a clear driven by the inverted load.
    explicit MORV_REGISTER_TYPE(CDB_ATOM_NODE* node);

    // Clock, then enable, then aload, then clear.
    bool operator<(const MORV_REGISTER_TYPE& other) const;
    bool operator==(const MORV_REGISTER_TYPE& other) const { return !(*this < other) && !(other < *this); }
    bool operator!=(const MORV_REGISTER_TYPE& other) const { return !(*this == other); }

    // "clock:", "clear:", "enable:", "aload:" with each signal, level 100.
    void print() const;
};
