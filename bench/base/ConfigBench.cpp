// Start-up configuration work and file copies, next to their floors:
// - load plus durable rewrite of all eight configuration files, next to eight
//   small files written and flushed to storage one by one;
// - copyFile of 64 MiB, next to the kernel's own copy (copy_file_range), with
//   and without the flush to storage that a durable copy needs.
#include "base/config/ConfigStore.h"
#include "base/files/Utils.h"
#include "base/log/RootPath.h"
#include "support/BenchMain.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <random>
#include <string>

namespace {

constexpr size_t kCopySize = 64u << 20;

void makeFolders()
{
    static std::once_flag once;
    std::call_once(once, [] {
        mkdir(rootPath("/data").c_str(), 0755);
        mkdir(rootPath("/data/etc").c_str(), 0755);
        mkdir(rootPath("/data/model").c_str(), 0755);
    });
}

const std::string& copySource()
{
    static const std::string path = [] {
        makeFolders();
        const std::string board = "/data/model/source.qds";
        std::string bytes(kCopySize, '\0');
        std::mt19937_64 random(3);
        for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
            const uint64_t word = random();
            memcpy(&bytes[i], &word, 8);
        }
        const int fd = open(rootPath(board).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            abort();
        fsync(fd);
        close(fd);
        return board;
    }();
    return path;
}

void BM_LoadAndRewriteAllConfigFiles(benchmark::State& state)
{
    makeFolders();
    for (auto _ : state) {
        ConfigStore store;
        store.load("/data/etc");
        benchmark::DoNotOptimize(store.m_general.LogLevel);
    }
}
BENCHMARK(BM_LoadAndRewriteAllConfigFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FloorEightFlushedWrites(benchmark::State& state)
{
    makeFolders();
    const std::string text = ConfigStore().fileText(ConfigStore::FILE_PRINTER_CONFIG);
    for (auto _ : state) {
        for (int f = 0; f < 8; ++f) {
            const int fd = open(rootPath("/data/etc/floor" + std::to_string(f)).c_str(),
                                O_WRONLY | O_CREAT | O_TRUNC, 0644);
            benchmark::DoNotOptimize(write(fd, text.data(), text.size()));
            fsync(fd);
            close(fd);
        }
    }
}
BENCHMARK(BM_FloorEightFlushedWrites)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyFile64MiB(benchmark::State& state)
{
    const QString source = QString::fromStdString(copySource());
    for (auto _ : state) {
        if (Utils::copyFile(source, "/data/model/copy.qds") != Utils::COPY_OK)
            state.SkipWithError("copyFile failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCopySize));
}
BENCHMARK(BM_CopyFile64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

// The kernel copies into a fresh file; `flush` adds the fsync a durable copy needs.
void kernelCopy(benchmark::State& state, bool flush)
{
    const std::string source = rootPath(copySource());
    const std::string target = rootPath("/data/model/floor.qds");
    for (auto _ : state) {
        const int in = open(source.c_str(), O_RDONLY);
        const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        for (ssize_t n; (n = copy_file_range(in, nullptr, out, nullptr, kCopySize, 0)) > 0;) {
        }
        if (flush)
            fsync(out);
        close(out);
        close(in);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCopySize));
}

void BM_FloorKernelCopy64MiB(benchmark::State& state)
{
    kernelCopy(state, false);
}
BENCHMARK(BM_FloorKernelCopy64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FloorKernelCopyFlushed64MiB(benchmark::State& state)
{
    kernelCopy(state, true);
}
BENCHMARK(BM_FloorKernelCopyFlushed64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

const bool registered = [] {
    registerRatio("BM_LoadAndRewriteAllConfigFiles/real_time", "BM_FloorEightFlushedWrites/real_time");
    registerRatio("BM_CopyFile64MiB/real_time", "BM_FloorKernelCopyFlushed64MiB/real_time");
    registerRatio("BM_CopyFile64MiB/real_time", "BM_FloorKernelCopy64MiB/real_time");
    return true;
}();

} // namespace
