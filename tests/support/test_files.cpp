#include "test_files.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_native_format.h"

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

testing::AssertionResult sample_design_is_current(const std::string& path, const std::string& text)
{
    if (std::getenv("MORV_WRITE_DESIGNS") != nullptr) write_file(path, text);
    if (slurp(path) == text) return testing::AssertionSuccess();
    return testing::AssertionFailure() << path << " is stale: rerun with MORV_WRITE_DESIGNS=1";
}

int count_of(const std::string& text, const std::string& what)
{
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
    return count;
}

COMMAND_RUN run_command(const std::string& command)
{
    COMMAND_RUN run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
    const int rc = pclose(pipe);
    run.status = rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return run;
}

std::string native_text(const CDB_ATOM_NETLIST& netlist)
{
    std::ostringstream out;
    cdb_write_native_netlist(netlist, out);
    return out.str();
}

// The native text with its atom ids numbered from 1 in file order: ids
// come from the process's counter, the design's contents do not.
std::string canonical_ids(const std::string& text)
{
    std::map<std::string, std::string> ids;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string head, id;
        if (words >> head >> id && head == "node") ids.emplace(id, std::to_string(ids.size() + 1));
    }
    auto mapped = [&ids](const std::string& id) {
        auto found = ids.find(id);
        return found == ids.end() ? id : found->second;
    };
    std::ostringstream out;
    std::istringstream again(text);
    while (std::getline(again, line)) {
        std::istringstream words(line);
        std::string head;
        words >> head;
        if (head == "node" || head == "fanout") {
            std::string id, rest;
            words >> id;
            std::getline(words, rest);
            std::string rewritten = head;
            rewritten += ' ';
            rewritten += mapped(id);
            // Fanout sinks are "<id>.<slot>".
            std::istringstream sinks(rest);
            std::string word;
            while (sinks >> word) {
                const size_t dot = word.find('.');
                rewritten += ' ';
                rewritten += head == "fanout" && dot != std::string::npos
                                 ? mapped(word.substr(0, dot)) + word.substr(dot)
                                 : word;
            }
            out << rewritten << "\n";
            continue;
        }
        out << line << "\n";
    }
    return out.str();
}
