// morv-fit: reads a BLIF design into a family's atoms, runs the stand-in
// fitter with the component at every flow point, writes the netlist back and
// prints a summary per flow point. Everything but the entry lives in the host
// library so that tests can drive it in process.

#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "fio/fio.h"
#include "host_compile.h"

int main(int argc, char** argv)
{
    // First: a file opened on a closed stream's number would take its text.
    if (!fio_open_closed_standard_streams()) {
        std::cerr << "morv-fit: error: a standard stream is closed and the null device cannot be opened in its "
                     "place\n";
        return 1;
    }
    // Ctrl-C, a kill or a timer leaves no temporary, chunk or saved state
    // behind; a write that fails is named by its writer, not ended by a signal.
    fio_install_interrupt_cleanup();
    fio_ignore_write_signals();
    // Standard output keeps the reason its first failed write had.
    FIO_FD_STREAMBUF console(STDOUT_FILENO);
    std::streambuf* const standard = std::cout.rdbuf(&console);
    int status = morv_host::fit_main(argc, argv, std::cout, std::cerr);
    std::cout.flush();
    std::cout.rdbuf(standard);
    // The compile's product is its files: a reader that stopped reading (a
    // pipe into head) fails nothing. A table lost otherwise (a full disk) is
    // an error, or the run would seem to have said what it did. A compile
    // asked this before it replaced its outputs, and said so if it failed;
    // here the text of a run that writes no file (--help, --version).
    const int error = console.error_number();
    if (error != 0 && error != EPIPE && status == 0) {
        std::cerr << "morv-fit: error: cannot write standard output: " << fio_error_text(error) << "\n";
        status = 1;
    }
    return status;
}
