// Drives the system on the simulated board. For now it runs the process log
// under a scratch root: lines of every level, through several rotations.
#include "base/LogWriter.h"
#include "base/RootPath.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

int main()
{
    if (rootPrefix().empty()) {
        fprintf(stderr, "talviks-sim: set TALVIKS_ROOT to a scratch folder; it stands for the board's /\n");
        return 2;
    }
    mkdir(rootPath("/data").c_str(), 0755);
    LogWriter* log = LogWriter::instance();
    try {
        // Small files so that a short run shows the rotation.
        log->init("/data/var", "TalvikS", 0, 2048, 3, true);
    } catch (const std::runtime_error& e) {
        fprintf(stderr, "talviks-sim: %s\n", e.what());
        return 1;
    }
    log->write(1, "Enter Application");
    for (int layer = 1; layer <= 40; ++layer)
        log->write(layer % 5, "layer %d of 40: exposure %d ms, z %.3f mm", layer, layer <= 3 ? 30000 : 2500,
                   0.05 * layer);
    log->write(1, "Leave Application");
    printf("\nLog files under %s:\n", rootPath("/data/var").c_str());
    fflush(stdout);
    const std::string list = "ls -l '" + rootPath("/data/var") + "'";
    return system(list.c_str()) == 0 ? 0 : 1;
}
