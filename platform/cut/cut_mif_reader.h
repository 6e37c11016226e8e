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
    std::vector<uint64_t> words;  // one per address; bit k is data bit k
    // Entry a of data bit k, for every address.
    std::vector<bool> column(int bit) const;
};

// Reads the file; width and depth, when not -1, must be the file's. Words
// are at most 64 bits wide. Throws CUT_MIF_ERROR "<path>:<line>: ..."
// (or "<path>: ..." for a file that cannot be read).
CUT_MIF_CONTENTS cut_read_mif_file(const std::string& path, int width = -1, int depth = -1);
