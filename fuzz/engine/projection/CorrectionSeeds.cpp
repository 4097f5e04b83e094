// Seeds for the correction fuzzer: the test writer's files on small machines.
#include "writers/CorrectionWriter.h"

#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string dir = argv[1];
    auto seed = [&](const std::string& name, int w, int h, const std::string& file) {
        std::ofstream out(dir + "/" + name, std::ios::binary);
        out << char(w - 2) << char(h - 2) << file;
    };
    seed("identity", 5, 4, testwriters::identityCorrection(5, 4));
    seed("half", 7, 3, testwriters::shiftedCorrection(7, 3, 500000, 500000));
    seed("outside", 4, 4, testwriters::shiftedCorrection(4, 4, 2000000, -1500000));
    return 0;
}
