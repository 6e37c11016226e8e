#pragma once
// Memory-initialisation files as logic-to-RAM mapping writes them:
//
//   -- comment lines and empty lines anywhere
//   WIDTH=W;  DEPTH=D;  ADDRESS_RADIX=UNS;  DATA_RADIX=UNS;  (in this order)
//   CONTENT BEGIN
//       a  :  word;      one line per address, 0 .. D - 1 in order
//   END;
//
// The file is input like any other: every departure is an error naming the
// file and line.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class CUT_MIF_ERROR : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct CUT_MIF_CONTENTS
{
    int width = 0;
    int depth = 0;
    // One per address, bit k data bit k: the whole word up to 64 bits, its
    // low 64 bits for a wider one.
    std::vector<uint64_t> words;
    // One per address, `width` entries: bit k of the word, at any width.
    std::vector<std::vector<bool>> bits;
    // Entry a of data bit k, for every address.
    std::vector<bool> column(int bit) const;
};

// Reads the file; width and depth, when not -1, must be the file's. Words
// may be of any width up to CUT_MIF_MAX_WIDTH bits. Throws CUT_MIF_ERROR
// "<path>:<line>: ..." (or "<path>: ..." for a file that cannot be read).
constexpr int CUT_MIF_MAX_WIDTH = 16384;
CUT_MIF_CONTENTS cut_read_mif_file(const std::string& path, int width = -1, int depth = -1);
