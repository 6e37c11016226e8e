// morv-cosim --family F [--cycles N] [--seed S] A.blif B.blif: runs both
// netlists side by side from the power-up state on the same random inputs
// and prints "agree over N cycles" or where they first differ. The figures
// scripts fall back to it for the outputs ABC's sequential check leaves
// undecided. Exit status 0 when they agree, 1 when they differ or a file
// cannot be read or simulated, 2 on our own fault.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cycle_sim.h"
#include "io/blif_reader.h"

namespace {

struct OPTIONS
{
    std::string family;
    int cycles = 10000;
    uint64_t seed = 1;
    std::vector<std::string> files;
};

int usage()
{
    std::cerr << "usage: morv-cosim --family F [--cycles N] [--seed S] A.blif B.blif\n";
    return 1;
}

// A whole non-negative number, or -1.
long long whole_number(const std::string& text)
{
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoll(text);
}

bool parse(int argc, char** argv, OPTIONS& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--family" && has_value) {
            o.family = argv[++i];
        } else if ((a == "--cycles" || a == "--seed") && has_value) {
            const long long v = whole_number(argv[++i]);
            if (v < 0 || (a == "--cycles" && (v == 0 || v > 100000000))) {
                std::cerr << "morv-cosim: " << a << " '" << argv[i] << "' is not a whole number"
                          << (a == "--cycles" ? " from 1 to 100000000\n" : "\n");
                return false;
            }
            if (a == "--cycles") o.cycles = static_cast<int>(v);
            else o.seed = static_cast<uint64_t>(v);
        } else if (!a.empty() && a[0] == '-') {
            std::cerr << "morv-cosim: unknown option '" << a << "'\n";
            return false;
        } else {
            o.files.push_back(a);
        }
    }
    return !o.family.empty() && o.files.size() == 2;
}

int run(const OPTIONS& o)
{
    std::unique_ptr<CDB_ATOM_NETLIST> nets[2];
    for (int k = 0; k < 2; ++k) {
        try {
            BLIF_READER reader(o.family);
            nets[k] = reader.read_file(o.files[k]);
        } catch (const std::invalid_argument& e) {
            std::cerr << "morv-cosim: " << e.what() << '\n';
            return 1;
        } catch (const BLIF_ERROR& e) {
            std::cerr << "morv-cosim: " << e.what() << '\n';
            return 1;
        }
    }
    const COSIM_RESULT r = cosimulate(*nets[0], *nets[1], o.cycles, o.seed);
    if (!r.m_error.empty()) {
        std::cerr << "morv-cosim: cannot simulate: " << r.m_error << '\n';
        return 1;
    }
    if (r.m_agree) {
        std::cout << "agree over " << o.cycles << " cycles\n";
        return 0;
    }
    std::cout << "differ: " << r.describe() << '\n';
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    OPTIONS o;
    if (!parse(argc, argv, o)) return usage();
    try {
        return run(o);
    } catch (const std::exception& e) {
        std::cerr << "morv-cosim: internal error: " << e.what() << '\n';
        return 2;
    }
}
