#include "morv/rammap/morv_register_type.h"

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_types.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"

namespace {

// Without a driver the inversion flag names the constant the port reads:
// set for GND, clear for VCC. A term tied to GND reads GND unless inverted;
// an unconnected one reads VCC unless inverted.
MORV_SIGNAL port_signal(const CDB_ATOM_NODE* node, int port_type)
{
    const CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    if (!iterm) return MORV_SIGNAL();
    MORV_SIGNAL signal(iterm);
    if (!signal.m_oterm) signal.m_inverted = iterm->is_gnd() != iterm->is_inverted();
    return signal;
}

MORV_SIGNAL gnd_signal()
{
    MORV_SIGNAL gnd;
    gnd.m_inverted = true;
    return gnd;
}

}  // namespace

MORV_REGISTER_TYPE::MORV_REGISTER_TYPE(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node && (node->is_lcell_ff() || node->is_ff()), "node->is_lcell_ff() || node->is_ff()");
    m_clock = port_signal(node, DB_CLOCK);
    m_clear = port_signal(node, DB_CLEAR);
    m_enable = port_signal(node, DB_CLOCK_ENABLE);
    const CDB_ATOM_ITERM* aload =
        node->implements(DB_ASYNCH_LOAD) ? node->get_input_term_by_type(DB_ASYNCH_LOAD) : nullptr;
    if (!aload) {
        m_aload = gnd_signal();
        return;
    }
    m_aload = MORV_SIGNAL(aload);
    if (m_aload.m_oterm == nullptr || m_clear.m_oterm != nullptr) return;
    const CDB_ATOM_ITERM* adata = node->get_input_term_by_type(DB_ASYNCH_DATA);
    const bool loads_zero = !adata || (adata->get_source() == nullptr && !adata->is_inverted());
    if (!loads_zero) return;
    m_clear = m_aload;
    m_clear.m_inverted = !m_clear.m_inverted;
    m_aload = gnd_signal();
}

bool MORV_REGISTER_TYPE::operator<(const MORV_REGISTER_TYPE& other) const
{
    const MORV_SIGNAL MORV_REGISTER_TYPE::*order[] = {&MORV_REGISTER_TYPE::m_clock, &MORV_REGISTER_TYPE::m_enable,
                                                      &MORV_REGISTER_TYPE::m_aload, &MORV_REGISTER_TYPE::m_clear};
    for (auto field : order) {
        if (this->*field < other.*field) return true;
        if (other.*field < this->*field) return false;
    }
    return false;
}

void MORV_REGISTER_TYPE::print() const
{
    MORV_DEBUG_STREAM::print(100, "clock:");
    m_clock.print();
    MORV_DEBUG_STREAM::print(100, "clear:");
    m_clear.print();
    MORV_DEBUG_STREAM::print(100, "enable:");
    m_enable.print();
    MORV_DEBUG_STREAM::print(100, "aload:");
    m_aload.print();
}
