#include "support/BenchMain.h"

#include <benchmark/benchmark.h>

#include <ftw.h>
#include <stdlib.h>

#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<std::string, std::string>>& ratios()
{
    static std::vector<std::pair<std::string, std::string>> pairs;
    return pairs;
}

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        // With repetitions the fastest run counts: other work on the
        // machine only ever makes a run slower.
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                const auto it = m_times.find(run.benchmark_name());
                const double time = run.GetAdjustedRealTime();
                if (it == m_times.end() || time < it->second)
                    m_times[run.benchmark_name()] = time;
            }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        bool header = false;
        for (const auto& [name, floor] : ratios()) {
            const auto it = m_times.find(name);
            const auto base = m_times.find(floor);
            if (it == m_times.end() || base == m_times.end() || base->second <= 0)
                continue;
            if (!header) {
                printf("\n%-62s %10s %10s %8s\n", "benchmark vs floor", "time", "floor", "ratio");
                header = true;
            }
            printf("%-62s %10.2f %10.2f %8.2f\n", name.c_str(), it->second, base->second, it->second / base->second);
        }
    }

private:
    std::map<std::string, double> m_times;
};

std::string g_root;

int removeEntry(const char* path, const struct stat*, int, FTW*)
{
    return remove(path);
}

void removeRoot()
{
    nftw(g_root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

} // namespace

void registerRatio(const std::string& benchmark, const std::string& floor)
{
    ratios().emplace_back(benchmark, floor);
}

int main(int argc, char** argv)
{
    // Files the benchmarks write land in a scratch root, removed at exit.
    std::string pattern = "/tmp/talviks-bench.XXXXXX";
    if (!mkdtemp(pattern.data()))
        return 2;
    g_root = pattern;
    setenv("TALVIKS_ROOT", g_root.c_str(), 1);
    atexit(removeRoot);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
