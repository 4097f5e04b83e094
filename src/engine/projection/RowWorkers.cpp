#include "engine/projection/RowWorkers.h"


#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// A helper needs little stack: the pieces work on the frame and on scratch rows.
constexpr size_t kHelperStack = 256 * 1024;
// More helpers than this wait on memory rather than compute.
constexpr int kMostHelpers = 7;
// Pieces per taking thread: enough that a late helper holds up little.
constexpr int kPiecesPerThread = 4;

int allowedCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

// The text of /proc/loadavg into `text` (empty when it cannot be read),
// without the heap: this is asked for every frame.
void readLoad(char (&text)[128])
{
    text[0] = '\0';
    const int fd = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    text[got > 0 ? got : 0] = '\0';
}

} // namespace

int freeCoresOf(int allowedCores, int onlineCores, const char* loadavg)
{
    // "0.52 0.58 0.59 3/467 12345": the load of the last minute, and the
    // fourth field counts the threads ready to run, the caller among them.
    double lastMinute = 0;
    int runnable = 0;
    if (allowedCores <= 1 || onlineCores <= 0 ||
        sscanf(loadavg, "%lf %*f %*f %d/", &lastMinute, &runnable) != 2 || !(lastMinute >= 0))
        return 0; // nothing known: no helper is sure to find a core
    // Every other thread that wants a core occupies one: those ready now,
    // and as many as have wanted one over the last minute.
    const double wanting = std::max(double(runnable), std::ceil(std::min(lastMinute, 1e6)));
    const int others = std::max(0, int(wanting) - 1);
    return std::max(0, std::min(allowedCores, onlineCores - others) - 1);
}

int RowWorkers::freeCoresNow()
{
    char load[128];
    readLoad(load);
    return freeCoresOf(allowedCores(), int(sysconf(_SC_NPROCESSORS_ONLN)), load);
}

RowWorkers::RowWorkers(int maxHelpers, FreeCores freeCores)
    : m_maxHelpers(maxHelpers >= 0 ? maxHelpers : std::min(kMostHelpers, allowedCores() - 1)),
      m_freeCores(freeCores ? std::move(freeCores) : FreeCores(&RowWorkers::freeCoresNow))
{
}

RowWorkers::~RowWorkers()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    for (const auto& helper : m_helpers)
        helper->join();
}

void RowWorkers::startHelpers(int count)
{
    while (int(m_helpers.size()) < count) {
        const int slot = int(m_helpers.size()) + 1;
        auto helper = std::make_unique<FunctionThread>([this, slot]() -> void* {
            serve(slot);
            return nullptr;
        });
        if (helper->start(false, kHelperStack) != 0)
            return; // fewer helpers: the calling thread takes their share
        m_helpers.push_back(std::move(helper));
    }
}

void RowWorkers::work(int slot)
{
    for (int piece; (piece = m_job.next.fetch_add(1, std::memory_order_relaxed)) < m_job.pieces;) {
        const int first = piece * m_job.pieceRows;
        (*m_job.piece)(first, std::min(m_job.rows, first + m_job.pieceRows), slot);
    }
}

void RowWorkers::serve(int slot)
{
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || (m_generation != seen && m_wanted > 0); });
        if (m_stop)
            return;
        seen = m_generation;
        --m_wanted;
        ++m_inside;
        lock.unlock();
        work(slot);
        lock.lock();
        if (--m_inside == 0)
            m_done.notify_one();
    }
}

void RowWorkers::run(int rows, int minRows, const std::function<void(int first, int end, int slot)>& piece)
{
    if (rows <= 0)
        return;
    std::lock_guard<std::mutex> runLock(m_runLock);
    minRows = std::max(1, minRows);
    int helpers = std::min(m_maxHelpers, rows / minRows - 1);
    if (helpers > 0) {
        // All of them at the first work worth them, however many cores are
        // free now: a helper started later, when cores come free, would make
        // a layer start a thread after all.
        startHelpers(m_maxHelpers);
        helpers = std::min({helpers, m_freeCores(), int(m_helpers.size())});
    }
    if (helpers <= 0) {
        piece(0, rows, 0);
        return;
    }

    // Whatever happens to this thread's pieces, no helper may still use the
    // job when this returns; a cancel of this thread waits until then.
    struct Close
    {
        RowWorkers& pool;
        int cancelState = PTHREAD_CANCEL_ENABLE;
        explicit Close(RowWorkers& workers) : pool(workers)
        {
            pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
        }
        ~Close()
        {
            {
                std::unique_lock<std::mutex> lock(pool.m_lock);
                pool.m_wanted = 0;
                pool.m_done.wait(lock, [&] { return pool.m_inside == 0; });
                pool.m_job.piece = nullptr;
            }
            pthread_setcancelstate(cancelState, nullptr);
        }
    } close(*this);
    const int threads = helpers + 1;
    const int pieceRows = std::max(minRows, (rows + threads * kPiecesPerThread - 1) / (threads * kPiecesPerThread));
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_job.piece = &piece;
        m_job.rows = rows;
        m_job.pieceRows = pieceRows;
        m_job.pieces = (rows + pieceRows - 1) / pieceRows;
        m_job.next.store(0, std::memory_order_relaxed);
        ++m_generation;
        m_wanted = helpers;
    }
    for (int i = 0; i < helpers; ++i)
        m_wake.notify_one();

    work(0);
}
