#include "morv/rammap/morv_signal.h"

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_deterministic.h"

MORV_SIGNAL::MORV_SIGNAL(const CDB_ATOM_ITERM* iterm)
    : m_oterm(iterm->get_source()), m_inverted(iterm->is_inverted()),
      m_global_type(static_cast<unsigned>(iterm->get_global()) & 0x1fu)
{}

bool MORV_SIGNAL::operator==(const MORV_SIGNAL& other) const
{
    // Pointers alone would do for one netlist, but the order is the one
    // every container of these subsystems keys terms by.
    const DETERMINISTIC_LESS<CDB_ATOM_OTERM*> less;
    bool same_driver = m_oterm == other.m_oterm;
    if (!same_driver && m_oterm != nullptr && other.m_oterm != nullptr)
        same_driver = !less(m_oterm, other.m_oterm) && !less(other.m_oterm, m_oterm);
    return same_driver && m_global_type == other.m_global_type && m_inverted == other.m_inverted;
}

bool MORV_SIGNAL::operator<(const MORV_SIGNAL& other) const
{
    if ((m_oterm == nullptr) != (other.m_oterm == nullptr)) return m_oterm == nullptr;
    if (m_oterm == nullptr) {
        // Two constants are told apart: a control tied to GND and one tied
        // to VCC are different registers (a clear held active is not a
        // register without clear).
        if (m_inverted != other.m_inverted) return m_inverted;
        return get_global_setting() > other.get_global_setting();
    }
    const DETERMINISTIC_LESS<CDB_ATOM_OTERM*> less;
    if (less(other.m_oterm, m_oterm)) return true;
    if (less(m_oterm, other.m_oterm)) return false;
    if (get_global_setting() != other.get_global_setting()) return get_global_setting() > other.get_global_setting();
    return m_inverted && !other.m_inverted;
}

void MORV_SIGNAL::print() const
{
    if (m_oterm == nullptr) {
        MORV_DEBUG_STREAM::print(100, m_inverted ? "  gnd" : "  vcc");
        return;
    }
    MORV_DEBUG_STREAM::print(100, "  oterm of node %d (%sinverted)", static_cast<int>(m_oterm->get_my_node()->get_id()),
                             m_inverted ? "" : "non-");
}
