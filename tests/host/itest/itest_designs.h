#pragma once

// The designs the iTEst tests compile: every bundled design with registers
// (all fit the 6-input families). The sanitizer build takes the small ones.

struct ITEST_DESIGN
{
    const char* path;
    bool small;
};

inline constexpr ITEST_DESIGN k_itest_designs[] = {
    {"bench/mcnc_k4/bigkey.blif", false},
    {"bench/mcnc_k4/diffeq.blif", false},
    {"bench/mcnc_k4/dsip.blif", false},
    {"bench/mcnc_k4/elliptic.blif", false},
    {"bench/mcnc_k4/frisc.blif", false},
    {"bench/mcnc_k4/s298.blif", true},
    {"bench/mcnc_k4/s38417.blif", false},
    {"bench/mcnc_k4/tseng.blif", false},
    {"bench/iscas89_k6/s27.blif", true},
    {"bench/iscas89_k6/s1423.blif", true},
    {"bench/iscas89_k6/s5378.blif", true},
    {"bench/iscas89_k6/s9234.1.blif", true},
    {"bench/misc_k6/riscv_core_lut6.blif", false},
    {"bench/misc_k6/stereovision0.lut6.blif", false},
    {"designs/adder_tree.blif", true},
    {"designs/counter.blif", true},
    {"designs/pipeline.blif", true},
};
