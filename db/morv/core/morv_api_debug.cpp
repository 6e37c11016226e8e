// Developer facilities of the facade. Debug checkpoints stop the
// optimisation at the n-th checkpoint of a chosen flow with the netlist
// dumped and saved, so that a failure can be reproduced from that point.
// The optimisation signature is a checksummed hexadecimal form of a test
// string that the flow driver accepts in place of the string. A broken
// invariant met in a destructor waits here until it can be reported.

#include <cstring>
#include <string>

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_timing.h"
#include "msg/msg.h"

namespace {

// The signature starts with this marker; a running byte sum starting at the
// seed gives the digits, so that repeated characters do not show as
// repeated digit pairs.
const char* const s_SIGNATURE_MARKER = "MSIG";
constexpr unsigned s_SIGNATURE_SEED = 0x5A;
constexpr size_t s_CHECKSUM_DIGITS = 4;

const char* const s_HEX_DIGITS = "0123456789ABCDEF";

// 0..15 for '0'-'9' and 'A'-'F'; -1 for anything else (lower case included).
int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_hex(std::string* text, unsigned value, int digits)
{
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text->push_back(s_HEX_DIGITS[(value >> shift) & 0xF]);
}

}  // namespace

// ---------------------------------------------------------------- checkpoints

namespace {

// The checkpoints stop in the early flow, or in a later one with
// fsyn_debug_checkpoint_stop_late.
bool in_stopping_flow(const MORV_EXPERT* expert, bool stop_late)
{
    const bool early = expert != nullptr && expert->is_fsyn_running_early_fsyn();
    return early != stop_late;
}

}  // namespace

void MORV_API::defer_internal_error(const char* condition, const char* file, int line)
{
    if (m_deferred_internal_error) return;
    m_deferred_internal_error =
        DEFERRED_INTERNAL_ERROR{condition != nullptr ? condition : "", file != nullptr ? file : "", line};
}

void MORV_API::report_deferred_internal_error()
{
    if (!m_deferred_internal_error) return;
    const DEFERRED_INTERNAL_ERROR deferred = *m_deferred_internal_error;
    m_deferred_internal_error.reset();
    MSG_INTERNAL_ERROR::report(deferred.m_condition.c_str(), "MORV", deferred.m_file.c_str(), deferred.m_line);
}

bool MORV_API::debug_checkpoint(const char* file, int line, bool allow_in_morlin)
{
    if (!m_enable_debug_checkpoints) return false;
    const bool opt_in = morv_family_checkpoints_opt_in(morv_family_traits(m_base_family));
    if (opt_in && !allow_in_morlin) return false;

    ++m_debug_checkpoint_count;
    MORV_DEBUG_STREAM::print(1, "MORV_DEBUG_CHECKPOINT: debug checkpoint #%d file: %s line %d",
                             m_debug_checkpoint_count, file ? file : "", line);
    const bool stopping_flow = in_stopping_flow(m_fsyn_expert, m_debug_checkpoint_stop_late);
    if (stopping_flow && m_debug_checkpoint_count == m_debug_checkpoint_stop_count - 1) {
        dump_atom_netlist(".checkpoint_pre_stop");
        return false;
    }
    if (!stopping_flow || m_debug_checkpoint_count != m_debug_checkpoint_stop_count) return false;

    dump_atom_netlist(".checkpoint_stop");
    if (opt_in) {
        MORV_DEBUG_STREAM::print(1, "MORV_DEBUG_CHECKPOINT: For MORLIN, we can't save the netlist!");
        return true;
    }
    m_debug_checkpoint_save_id = save_state();
    get_fsyn_timing()->sync_timing_netlist(false, true);
    MORV_DEBUG_STREAM::print(1, "MORV_DEBUG_CHECKPOINT: Done saving checkpoint netlist!");
    return true;
}

bool MORV_API::fsyn_debug_stopped() const
{
    return m_enable_debug_checkpoints && m_debug_checkpoint_count >= m_debug_checkpoint_stop_count &&
           in_stopping_flow(m_fsyn_expert, m_debug_checkpoint_stop_late);
}

int MORV_API::get_debug_checkpoint_save_id() const
{
    MORV_ASSERT(m_enable_debug_checkpoints);
    MORV_ASSERT(fsyn_debug_stopped());
    return m_debug_checkpoint_save_id;
}

// ---------------------------------------------------------------- signature

std::string MORV_API::encode_optimization_signature(const std::string& text)
{
    std::string signature = s_SIGNATURE_MARKER;
    unsigned running = s_SIGNATURE_SEED;
    unsigned checksum = 0;
    for (char c : text) {
        const unsigned byte = static_cast<unsigned char>(c);
        running += byte;
        append_hex(&signature, running & 0xFF, 2);
        checksum += byte;
    }
    append_hex(&signature, checksum & 0xFFFF, static_cast<int>(s_CHECKSUM_DIGITS));
    return signature;
}

bool MORV_API::is_optimization_signature(const std::string& text)
{
    return text.compare(0, std::strlen(s_SIGNATURE_MARKER), s_SIGNATURE_MARKER) == 0;
}

bool MORV_API::decode_optimization_signature(const std::string& signature, std::string* decoded)
{
    MORV_ASSERT(decoded);
    decoded->clear();
    const size_t begin = std::strlen(s_SIGNATURE_MARKER);
    // The text is the user's: every length and character is checked before it is read.
    if (!is_optimization_signature(signature) || signature.size() <= begin + s_CHECKSUM_DIGITS) return false;
    const size_t end = signature.size() - s_CHECKSUM_DIGITS;
    if ((end - begin) % 2 != 0) return false;

    std::string text;
    unsigned previous = s_SIGNATURE_SEED;
    unsigned checksum = 0;
    for (size_t i = begin; i < end; i += 2) {
        const int high = hex_value(signature[i]);
        const int low = hex_value(signature[i + 1]);
        if (high < 0 || low < 0) return false;
        const unsigned value = static_cast<unsigned>(16 * high + low);
        const unsigned byte = (value - previous) & 0xFF;
        previous = value;
        text.push_back(static_cast<char>(byte));
        checksum += byte;
    }
    unsigned stored = 0;
    for (size_t i = end; i < signature.size(); ++i) {
        const int digit = hex_value(signature[i]);
        if (digit < 0) return false;
        stored = 16 * stored + static_cast<unsigned>(digit);
    }
    if (stored != (checksum & 0xFFFF)) return false;
    *decoded = std::move(text);
    return true;
}
