// morv-fit: reads a BLIF design into a family's atoms, runs the stand-in
// fitter with the component at every flow point, writes the netlist back and
// prints a summary per flow point. Everything but the entry lives in the host
// library so that tests can drive it in process.

#include <iostream>

#include "fio/fio.h"
#include "host_compile.h"

int main(int argc, char** argv)
{
    // Ctrl-C or a kill leaves no temporary, chunk or saved state behind.
    fio_install_interrupt_cleanup();
    return morv_host::fit_main(argc, argv, std::cout, std::cerr);
}
