// Cost of one log line, next to the floor: fwrite + fflush of a line of the
// same length to a file.
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "support/BenchMain.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace {

LogWriter* benchLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        mkdir(rootPath("/data").c_str(), 0755);
        logger()->init("/data/var", "TalvikS", LogInfo, 0x500000, 15, false);
    });
    return logger();
}

void BM_LogLine(benchmark::State& state)
{
    LogWriter* log = benchLog();
    int layer = 0;
    for (auto _ : state) {
        ++layer;
        benchmark::DoNotOptimize(log->write(LogInfo, "layer %d exposure %d ms, z %d um", layer, 2500, 50 * layer));
    }
}
BENCHMARK(BM_LogLine)->Threads(1)->Threads(8)->UseRealTime();

void BM_FloorFwriteFflush(benchmark::State& state)
{
    // A line as long as the log writer's: prefix of 39 bytes plus the message.
    const std::string line = "[2026-12-7 04:35:40.123456][INFO] [1234]layer 123 exposure 2500 ms, z 6150 um\n";
    FILE* file = fopen(rootPath("/floor.log").c_str(), "w");
    for (auto _ : state) {
        fwrite(line.data(), line.size(), 1, file);
        fflush(file);
    }
    fclose(file);
}
BENCHMARK(BM_FloorFwriteFflush)->UseRealTime();

const bool registered = [] {
    registerRatio("BM_LogLine/real_time/threads:1", "BM_FloorFwriteFflush/real_time");
    registerRatio("BM_LogLine/real_time/threads:8", "BM_FloorFwriteFflush/real_time");
    return true;
}();

} // namespace
