// BLIF text -> a flat intermediate model (nets, single-output covers, latches).
// The model is independent of any device family; blif_reader.h maps it onto
// atoms. Every structural check that names a line (driven twice, loops, bad
// latch, over-wide cover) happens here so that the mapping step cannot fail
// half way through building a netlist.
//
// The reader is strict where a damaged file would otherwise read as a
// different design: lines end in LF, CRLF or a lone CR; every directive
// checks its word count, and a directive name inside another line (a lost
// line break) is an error; the model must end with '.end' and declare at
// least one output; names may not hold control characters, nor differ only
// in characters the writer has to replace.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Text is "FILE:LINE: what is wrong" (LINE is omitted when no line applies).
class BLIF_ERROR : public std::runtime_error
{
public:
    BLIF_ERROR(const std::string& file, int line, const std::string& what);
    const std::string& get_file() const { return m_file; }
    int get_line() const { return m_line; }

private:
    std::string m_file;
    int m_line;
};

enum class BLIF_DRIVER : uint8_t
{
    NONE,
    INPUT,
    COVER,
    LATCH
};

struct BLIF_NET
{
    std::string m_name;
    BLIF_DRIVER m_driver = BLIF_DRIVER::NONE;
    int m_driver_index = -1;   // index into m_inputs, m_covers or m_latches
    int m_first_use_line = 0;  // first line that reads the net
    int m_line = 0;            // first line that names the net
};

// One `.names` block. The truth table is over the listed inputs in order,
// first input = least significant bit of the row index (row index k has input
// i at bit i of k); bits beyond 2^inputs are zero.
struct BLIF_COVER
{
    std::vector<int> m_inputs;
    int m_output = -1;
    uint64_t m_truth = 0;
    int m_line = 0;
};

struct BLIF_LATCH
{
    int m_d = -1;
    int m_q = -1;
    int m_clock = -1;
    int m_init = 0;  // 0 or 1; the file's 2 and 3 read as 0
    int m_line = 0;
    // A gate-level flip-flop may have an asynchronous reset to 0.
    int m_reset = -1;  // the reset net, -1 for none
    bool m_reset_active_high = true;
    bool m_clock_falling = false;
    // Synchronous controls a register atom holds, filled by
    // blif_fold_register_controls (-1: none): the next state is
    // ena ? (sclr ? 0 : (sload ? sdata : d)) : q.
    int m_ena = -1;
    bool m_ena_active_low = false;
    int m_sclr = -1;
    bool m_sclr_active_low = false;
    int m_sload = -1;
    int m_sdata = -1;
};

struct BLIF_MODEL
{
    std::string m_file;  // label used in messages
    std::string m_name;
    std::vector<BLIF_NET> m_nets;
    std::vector<int> m_inputs;   // nets in declaration order
    std::vector<int> m_outputs;  // nets in declaration order
    std::vector<BLIF_COVER> m_covers;
    std::vector<BLIF_LATCH> m_latches;
    std::vector<int> m_undriven;  // read but never driven, in net order
    // Covers in an order where each one comes after the covers driving its
    // inputs (latches and inputs break the order).
    std::vector<int> m_cover_order;
};

// `file_label` names the source in messages. A cover with more inputs than
// `max_lut_inputs` (at most 6) is an error naming its line. A latch without
// a control is clocked by `clock_net`, which must be a net of the design,
// or else by the one clock of the other latches (none or several: an error
// naming the latch).
BLIF_MODEL parse_blif_text(std::string_view text, const std::string& file_label, int max_lut_inputs,
                           const std::string& clock_net = {});
BLIF_MODEL parse_blif_file(const std::string& path, int max_lut_inputs, const std::string& clock_net = {});

// The undriven-net warning text shared by every reader: how many, then the
// first few names with the line that first reads each.
std::string blif_undriven_warning_text(const BLIF_MODEL& model);
// The error for a model whose undriven nets are not to be tied to 0; it
// names the line that first reads the first of them.
BLIF_ERROR blif_undriven_error(const BLIF_MODEL& model);

// The name a net is written under: blanks, control characters, '#' and '\'
// cannot stand in a BLIF name and become '_'; an empty name becomes "_".
std::string blif_written_name(std::string_view name);
bool blif_name_needs_cleaning(std::string_view name);
