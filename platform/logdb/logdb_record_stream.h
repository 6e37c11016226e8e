#pragma once
// The byte form of one change-log record. A log file is these records one
// after another with no header, so appending a log to another is plain
// concatenation. Each record is, little-endian: magic, byte length of the
// whole record, kind, entry id, the fields (integers at their width,
// booleans one byte 0 or 1, strings and lists a u32 count and the items),
// then a CRC-32 of every byte before it. Stored logs are user input: the
// decoder checks every count against what is left of the record before it
// allocates anything, so a damaged file is refused and never crashes or
// asks for a huge block.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "logdb/logdb_fsyn_log_entry.h"

constexpr uint32_t LOGDB_RECORD_MAGIC = 0x4C53464DU;  // "MFSL"
// A record of a chained log: after its fields and before its CRC it holds
// its number in the file (0, 1, 2, ...) and the CRC of the record before it
// (0 for the first), and the file ends with a closing record of kind
// LOGDB_CLOSING_RECORD_KIND whose entry id is the number of records before
// it. A record dropped, repeated or moved breaks the numbering, a record
// changed and resealed breaks the next one's link, and a file cut anywhere
// lacks its closing record: the log is checked as a whole, not only record
// by record. Files of plain records (the earlier form) read as before.
constexpr uint32_t LOGDB_CHAINED_RECORD_MAGIC = 0x3253464DU;  // "MFS2"
constexpr uint32_t LOGDB_CLOSING_RECORD_KIND = 0xFFFFFFFFU;
constexpr uint32_t LOGDB_CHAIN_BYTES = 8;
// Magic and length, what must be read to know how much more to read.
constexpr uint32_t LOGDB_RECORD_PREFIX_BYTES = 8;
// Prefix, kind, entry id and CRC.
constexpr uint32_t LOGDB_RECORD_MIN_BYTES = 20;
// No record the fitter writes comes near it; a larger length is damage.
constexpr uint32_t LOGDB_MAX_RECORD_BYTES = 1U << 24;

uint32_t logdb_crc32(const void* data, std::size_t size);

// The whole record; empty when it would exceed LOGDB_MAX_RECORD_BYTES.
std::string logdb_encode_record(const LOGDB_FSYN_LOG_ENTRY& record);

uint32_t logdb_read_u32(const unsigned char* bytes);

// Where a chained record stands in its file.
struct LOGDB_RECORD_LINK
{
    bool chained = false;  // a record of a chained log
    bool closing = false;  // the closing record (decoded as END_OF_LOG)
    uint32_t number = 0;
    uint32_t previous_crc = 0;
    uint32_t crc = 0;  // its own CRC, what the next record links to
};

// The chained form of a record, or of the closing record when `record` is
// null; empty when it would exceed LOGDB_MAX_RECORD_BYTES.
std::string logdb_encode_chained_record(const LOGDB_FSYN_LOG_ENTRY* record, uint32_t number, uint32_t previous_crc,
                                        uint32_t closing_count = 0);

// Decodes the bytes of one whole record whose prefix was checked (magic,
// length equal to bytes.size(), within the bound). Null on damage, with the
// byte position inside the record and the reason.
// A chained record fills `link`.
LOGDB_FSYN_LOG_ENTRY_OWNER logdb_decode_record(std::string_view bytes, std::size_t& fault_pos, std::string& reason,
                                               LOGDB_RECORD_LINK* link = nullptr);

// Why a record prefix (the first LOGDB_RECORD_PREFIX_BYTES bytes) cannot
// start a record of at most `available` bytes, or "" when it can.
std::string logdb_check_record_prefix(const unsigned char* prefix, uint64_t available);
