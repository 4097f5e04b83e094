#pragma once

#include <string>
#include <vector>

namespace sim {

// A stand-in for the external FPGA programming tool, written as a shell
// script into a folder: "-I" prints the chip's id code as the fourth word of
// its line, "-D ..." records its arguments as one programming run, "-S"
// prints the status as the fourth word: "0f00" (configured) once the set
// number of programming runs happened, else "0000".
class FpgaToolStub
{
public:
    // Writes the tool into `folder` (a file-system path, created when missing).
    explicit FpgaToolStub(const std::string& folder);

    // The tool's file-system path.
    const std::string& path() const { return m_path; }
    void setIdCode(const std::string& id);
    // The status reads configured from the n-th programming run on (0: never).
    void setFixAfter(int runs);
    // The arguments of each programming run, in order.
    std::vector<std::vector<std::string>> programRuns() const;

private:
    std::string m_folder;
    std::string m_path;
};

} // namespace sim
