// One qds layer from its compressed block to the projector frame buffer
// (several layers of a model in turn, at 1920x1080 and 3840x2400), with the
// default configuration and with a projector's correction and a mask on,
// next to its floor measured alike in the same run: inflating the same
// blocks plus one memcpy of a whole frame. Each figure three times:
// - all_cores: the machine as it is;
// - one_core: the benchmark pinned to the core it runs on, as on a board
//   whose other cores are taken;
// - busy: a thread of its own spinning on every core but the benchmark's.
// Beside them the bound the table sets: streaming the whole correction
// table once (one core) on top of the floor. Runs are repeated; the ratios
// take the fastest run of each.
#include "BenchMachine.h"

#include "base/threads/PThread.h"
#include "engine/projection/CorrectionTable.h"
#include "engine/projection/RowWorkers.h"
#include "support/BenchMain.h"
#include "writers/CorrectionWriter.h"

#include <benchmark/benchmark.h>

#include <sched.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

using benchmachine::layerBlocks;
using benchmachine::Machine;
using benchmachine::meanBlockBytes;

namespace {

enum class Cores { All, One, Busy };

constexpr int kRepetitions = 3;

// Pins the calling thread to the core it runs on, until destroyed.
class OneCore
{
public:
    OneCore()
    {
        sched_getaffinity(0, sizeof m_saved, &m_saved);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        sched_setaffinity(0, sizeof one, &one);
    }
    ~OneCore() { sched_setaffinity(0, sizeof m_saved, &m_saved); }

private:
    cpu_set_t m_saved;
};

// Keeps one core busy until told to stop.
class Spinner : public PThread
{
public:
    Spinner(int cpu, const std::atomic<bool>& stop, std::atomic<int>& spinning)
        : m_cpu(cpu), m_stop(stop), m_spinning(spinning)
    {
    }
    ~Spinner() override { join(); }

protected:
    void* threadMain() override
    {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(m_cpu, &one);
        sched_setaffinity(0, sizeof one, &one);
        ++m_spinning;
        while (!m_stop.load(std::memory_order_relaxed)) {
        }
        return nullptr;
    }

private:
    const int m_cpu;
    const std::atomic<bool>& m_stop;
    std::atomic<int>& m_spinning;
};

// A spinning thread on every core the process may use but the one the
// benchmark runs on, until destroyed: the layer's thread has a core, every
// other one is taken. A layer path that hands rows to other cores now waits
// for them.
class BusyMachine
{
public:
    BusyMachine()
    {
        cpu_set_t allowed;
        sched_getaffinity(0, sizeof allowed, &allowed);
        const int own = sched_getcpu();
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &allowed) && cpu != own) {
                auto spinner = std::make_unique<Spinner>(cpu, m_stop, m_spinning);
                if (spinner->start(false, 64 * 1024) == 0)
                    m_spinners.push_back(std::move(spinner));
            }
        while (m_spinning.load() < int(m_spinners.size()))
            usleep(1000);
    }
    ~BusyMachine()
    {
        m_stop = true;
        m_spinners.clear();
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_spinning{0};
    std::vector<std::unique_ptr<Spinner>> m_spinners;
};

// The condition a benchmark's timed loop runs under.
struct Condition
{
    explicit Condition(Cores cores)
    {
        if (cores == Cores::One)
            one = std::make_unique<OneCore>();
        else if (cores == Cores::Busy)
            busy = std::make_unique<BusyMachine>();
    }
    std::unique_ptr<OneCore> one;
    std::unique_ptr<BusyMachine> busy;
};

void qdsLayer(benchmark::State& state, Cores cores, bool correctAndMask)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    Machine machine(width, height, correctAndMask);
    const std::vector<std::string>& blocks = layerBlocks(width, height);
    size_t next = 0;
    const Condition condition(cores);
    for (auto _ : state)
        if (machine.view->decodeImageShow(blocks[next++ % blocks.size()], ComprFormat::ZlibRle) != 0)
            state.SkipWithError("layer not shown");
    state.counters["block_bytes"] = double(meanBlockBytes(blocks));
}

void BM_QdsLayer(benchmark::State& state, Cores cores)
{
    qdsLayer(state, cores, false);
}

void BM_QdsLayerCorrectMask(benchmark::State& state, Cores cores)
{
    qdsLayer(state, cores, true);
}

// What any layer path has to do at least: inflate the layer's block and
// move one frame's worth of bytes into the frame buffer.
struct Floor
{
    Floor(int width, int height)
        : blocks(layerBlocks(width, height)), source(size_t(width) * height * 3, 1), frame(source.size())
    {
    }

    void layer()
    {
        const std::string& block = blocks[next++ % blocks.size()];
        uint32_t pairBytes = 0;
        memcpy(&pairBytes, block.data(), 4);
        pairs.resize(pairBytes);
        uLongf length = pairBytes;
        uncompress(pairs.data(), &length, reinterpret_cast<const Bytef*>(block.data() + 4), uLong(block.size() - 4));
        memcpy(frame.data(), source.data(), frame.size());
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }

    const std::vector<std::string>& blocks;
    std::vector<uint8_t> pairs;
    std::vector<uint8_t> source, frame;
    size_t next = 0;
};

void BM_FloorInflateAndFrameCopy(benchmark::State& state, Cores cores)
{
    Floor floor(int(state.range(0)), int(state.range(1)));
    const Condition condition(cores);
    for (auto _ : state)
        floor.layer();
    state.counters["block_bytes"] = double(meanBlockBytes(floor.blocks));
}

// Every byte of the table read once.
uint64_t streamTable(const CorrectionTable& table)
{
    const CorrectionRows rows = table.rows();
    const size_t groups = rows.groupsPerRow * size_t(table.height());
    uint64_t sum = 0;
    for (size_t g = 0; g < groups; ++g) {
        uint64_t words[6];
        static_assert(sizeof words == sizeof(CorrectionRows::Group) + sizeof(CorrectionRows::Fractions), "");
        memcpy(words, &rows.groups[g], sizeof(CorrectionRows::Group));
        memcpy(words + 1, &rows.fractions[g], sizeof(CorrectionRows::Fractions));
        sum += words[0] + words[1] + words[2] + words[3] + words[4] + words[5];
    }
    return sum;
}

// The floor of a layer that streams the whole correction table, as a
// correction that reads every pixel's weights must: the bound the size of a
// table entry sets.
void BM_FloorAndTableStream(benchmark::State& state, Cores cores)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    const std::string file = testwriters::projectorCorrection(width, height);
    FILE* in = fmemopen(const_cast<char*>(file.data()), file.size(), "rb");
    CorrectionTable table;
    size_t got = 0;
    if (!in || table.read(in, width, height, got) != CorrectionTable::kRead)
        state.SkipWithError("no table");
    if (in)
        fclose(in);
    Floor floor(width, height);
    const Condition condition(cores);
    for (auto _ : state) {
        floor.layer();
        benchmark::DoNotOptimize(streamTable(table));
    }
    state.counters["table_MB"] = double(table.bytes()) / 1e6;
}

// What sharing a frame's rows costs by itself: the helpers woken for every
// layer, with nothing to do.
void BM_RowWorkersAlone(benchmark::State& state)
{
    static RowWorkers workers;
    std::atomic<int> pieces{0};
    for (auto _ : state)
        workers.run(int(state.range(1)), 1, [&](int, int, int) { ++pieces; });
    benchmark::DoNotOptimize(pieces.load());
}

void resolutions(benchmark::internal::Benchmark* b)
{
    b->Args({1920, 1080})->Args({3840, 2400})->Unit(benchmark::kMillisecond)->UseRealTime();
}

void repeated(benchmark::internal::Benchmark* b)
{
    resolutions(b);
    b->Repetitions(kRepetitions);
}

BENCHMARK_CAPTURE(BM_QdsLayer, all_cores, Cores::All)->Apply(repeated);
BENCHMARK_CAPTURE(BM_QdsLayerCorrectMask, all_cores, Cores::All)->Apply(repeated);
BENCHMARK_CAPTURE(BM_FloorInflateAndFrameCopy, all_cores, Cores::All)->Apply(repeated);
BENCHMARK_CAPTURE(BM_QdsLayer, one_core, Cores::One)->Apply(repeated);
BENCHMARK_CAPTURE(BM_QdsLayerCorrectMask, one_core, Cores::One)->Apply(repeated);
BENCHMARK_CAPTURE(BM_FloorInflateAndFrameCopy, one_core, Cores::One)->Apply(repeated);
BENCHMARK_CAPTURE(BM_FloorAndTableStream, one_core, Cores::One)->Apply(repeated);
BENCHMARK_CAPTURE(BM_QdsLayer, busy, Cores::Busy)->Apply(repeated);
BENCHMARK_CAPTURE(BM_QdsLayerCorrectMask, busy, Cores::Busy)->Apply(repeated);
BENCHMARK_CAPTURE(BM_FloorInflateAndFrameCopy, busy, Cores::Busy)->Apply(repeated);
BENCHMARK(BM_RowWorkersAlone)->Apply(resolutions);

const bool registered = [] {
    for (const char* size : {"1920/1080", "3840/2400"}) {
        const std::string once = std::string("/") + size + "/real_time";
        const std::string suffix = std::string("/") + size + "/repeats:" + std::to_string(kRepetitions) + "/real_time";
        for (const char* cores : {"/all_cores", "/one_core", "/busy"}) {
            const std::string floor = std::string("BM_FloorInflateAndFrameCopy") + cores + suffix;
            registerRatio(std::string("BM_QdsLayer") + cores + suffix, floor);
            registerRatio(std::string("BM_QdsLayerCorrectMask") + cores + suffix, floor);
        }
        registerRatio("BM_QdsLayerCorrectMask/one_core" + suffix, "BM_FloorAndTableStream/one_core" + suffix);
        registerRatio("BM_RowWorkersAlone" + once, "BM_FloorInflateAndFrameCopy/all_cores" + suffix);
    }
    return true;
}();

} // namespace
