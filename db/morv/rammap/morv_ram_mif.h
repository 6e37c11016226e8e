#pragma once

// The memory-initialisation file of a mapped cluster: every RAM slice built
// for the cluster names it and reads its own bit of every word. A wrong or
// partial file is a silently wrong design, so the writer checks every step
// and leaves either the whole file or nothing under its name.

#include <cstdio>
#include <string>
#include <vector>

// Entry a of a column is the bit stored at address a.
using MORV_RAM_COLUMN = std::vector<bool>;

// The process-wide RAM counter: the number the next file name takes. It
// starts at 0 when the library loads and is never reset.
int morv_ram_counter();
// "db/<project>.<N>.rmp.mif" with N the counter, which then moves on.
std::string morv_next_mif_file_name(const std::string& project);

// The word at an address in unsigned decimal, column 0 its least
// significant bit; any number of columns.
std::string morv_mif_word(const std::vector<MORV_RAM_COLUMN>& columns, int address);

// The whole text to an open stream; false when a write fails. Every column
// must hold `depth` entries.
bool morv_write_mif(std::FILE* fp, int width, int depth, const std::vector<MORV_RAM_COLUMN>& columns);
// Written beside `path` and renamed onto it once complete; false (and no
// file left behind) when the folder cannot be written or a write fails.
bool morv_write_mif_file(const std::string& path, int width, int depth, const std::vector<MORV_RAM_COLUMN>& columns);
