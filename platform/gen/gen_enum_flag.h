#pragma once
// A 32-bit flag word indexed by the enumerators of E (bit positions).

#include <cstdint>

template <typename E>
class GEN_ENUM_FLAG
{
public:
    GEN_ENUM_FLAG() = default;
    explicit GEN_ENUM_FLAG(uint32_t value) : m_value(value) {}

    void set(E bit) { m_value |= mask(bit); }
    void clear(E bit) { m_value &= ~mask(bit); }
    void set(E bit, bool on) { on ? set(bit) : clear(bit); }
    bool is_set(E bit) const { return (m_value & mask(bit)) != 0; }

    uint32_t get_value() const { return m_value; }
    void set_value(uint32_t value) { m_value = value; }
    void clear_all() { m_value = 0; }

    bool operator==(const GEN_ENUM_FLAG& other) const { return m_value == other.m_value; }
    bool operator!=(const GEN_ENUM_FLAG& other) const { return m_value != other.m_value; }

private:
    static uint32_t mask(E bit) { return uint32_t(1) << (static_cast<unsigned>(bit) & 31u); }
    uint32_t m_value = 0;
};
