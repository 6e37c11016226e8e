// A compile as the command line runs it, but in this process, so that a
// test can read the messages it posted (cleared before each run, as are the
// settings an earlier run's switches left).
#pragma once

#include <string>
#include <vector>

struct FIT
{
    int status = -1;
    std::string out, err;
};

// `args` are what follows the program name.
FIT run_fit(const std::vector<std::string>& args);

// The exit status; standard output followed by standard error goes to
// `out` when one is given.
int fit(const std::vector<std::string>& args, std::string* out = nullptr);
