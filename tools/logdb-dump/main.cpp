// logdb-dump FILE: one line per record of a stored change log; the first
// damaged record stops it with "FILE: offset N: reason" and exit status 1,
// after the good records before it.
// logdb-dump --write OUT: the same text on standard input written as a log,
// which is how logs of older versions are made by hand.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "fio/fio.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_record_stream.h"
#include "logdb/logdb_text.h"

namespace {

int usage()
{
    std::cerr << "usage: logdb-dump FILE\n       logdb-dump --write OUT < TEXT\n";
    return 2;
}

int dump(const std::string& name)
{
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name(name);
    while (LOGDB_FSYN_LOG_ENTRY_OWNER record = file.read_fsyn_log_entry())
        std::cout << logdb_record_to_text(*record) << '\n';
    std::cout.flush();
    if (!file.error().is_set()) return 0;
    std::cerr << file.error().to_string() << '\n';
    return 1;
}

// Every line is checked before anything is written, and the log replaces
// OUT only once complete: bad text never costs the user an older file.
int write(const std::string& out_name)
{
    const std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER> records;
    std::size_t pos = 0;
    for (int line_number = 1; pos < text.size(); ++line_number) {
        const std::string_view line = fio_next_line(text, pos);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        std::string error;
        records.push_back(logdb_record_from_text(line, error));
        if (!records.back()) {
            std::cerr << "stdin: line " << line_number << ": " << error << '\n';
            return 1;
        }
    }
    const std::string temp_name = out_name + ".tmp";
    try {
        LOGDB_FSYN_LOG_FILE file;
        file.set_file_name(temp_name);
        file.delete_file();
        file.init(true);
        for (const auto& record : records) {
            if (!file.write_fsyn_log_entry(record.get())) throw FIO_WRITE_ERROR(temp_name, "write failed");
        }
        file.close();
        // A log without records is still a written log: its closing record
        // tells it from a file a full disk or a killed copy left empty.
        if (records.empty()) {
            std::ofstream empty;
            fio_open_for_writing(empty, FIO_PATH(temp_name), false);
            const std::string closing = logdb_encode_chained_record(nullptr, 0, 0, 0);
            if (!empty.write(closing.data(), static_cast<std::streamsize>(closing.size())).flush())
                throw FIO_WRITE_ERROR(temp_name, "write failed");
        }
    } catch (const FIO_WRITE_ERROR& e) {
        FIO_FILE_SYSTEM::remove_if_exists(FIO_PATH(temp_name));
        std::cerr << "logdb-dump: " << e.what() << '\n';
        return 1;
    }
    if (!FIO_FILE_SYSTEM::move(FIO_PATH(temp_name), FIO_PATH(out_name), true, false)) {
        FIO_FILE_SYSTEM::remove_if_exists(FIO_PATH(temp_name));
        std::cerr << "logdb-dump: cannot write file '" << out_name << "'\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // A log opened on a closed stream's number would take the error text.
    if (!fio_open_closed_standard_streams()) {
        std::cerr << "logdb-dump: a standard stream is closed and the null device cannot be opened in its place\n";
        return 1;
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] != "--write" && args[0].rfind("-", 0) != 0) return dump(args[0]);
    if (args.size() == 2 && args[0] == "--write") return write(args[1]);
    return usage();
}
