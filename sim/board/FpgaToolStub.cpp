#include "board/FpgaToolStub.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sim {

namespace {

const char kScript[] = R"SH(#!/bin/sh
here=$(dirname "$0")
case "$1" in
-I) echo "JTAG chain id: $(cat "$here/id-code")" ;;
-D) for word in "$@"; do printf '%s\n' "$word"; done >> "$here/program-runs"
    echo "--end--" >> "$here/program-runs"
    echo $(( $(cat "$here/program-count") + 1 )) > "$here/program-count" ;;
-S) runs=$(cat "$here/program-count"); fix=$(cat "$here/fix-after")
    if [ "$fix" -gt 0 ] && [ "$runs" -ge "$fix" ]; then status=0f00; else status=0000; fi
    echo "FPGA status register: $status" ;;
*) echo "unknown option $1" >&2; exit 2 ;;
esac
)SH";

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace

FpgaToolStub::FpgaToolStub(const std::string& folder) : m_folder(folder), m_path(folder + "/fpga-tool")
{
    std::string partial;
    std::istringstream parts(folder);
    for (std::string part; std::getline(parts, part, '/');) {
        partial += part + "/";
        mkdir(partial.c_str(), 0755);
    }
    writeText(m_path, kScript);
    chmod(m_path.c_str(), 0755);
    writeText(m_folder + "/program-count", "0\n");
    writeText(m_folder + "/program-runs", "");
    setIdCode("1100481b");
    setFixAfter(1);
}

void FpgaToolStub::setIdCode(const std::string& id)
{
    writeText(m_folder + "/id-code", id + "\n");
}

void FpgaToolStub::setFixAfter(int runs)
{
    writeText(m_folder + "/fix-after", std::to_string(runs) + "\n");
}

std::vector<std::vector<std::string>> FpgaToolStub::programRuns() const
{
    std::vector<std::vector<std::string>> runs(1);
    std::ifstream in(m_folder + "/program-runs");
    for (std::string line; std::getline(in, line);) {
        if (line == "--end--")
            runs.emplace_back();
        else
            runs.back().push_back(line);
    }
    runs.pop_back();
    return runs;
}

} // namespace sim
