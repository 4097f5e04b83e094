#include "base/threads/PThread.h"

#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "base/threads/PTimer.h"

#include <semaphore.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

namespace {

struct StartBlock
{
    PThread* self;
    sem_t started;
};

// Prints the failure and leaves its cause in errno for the caller.
void reportError(int error, const char* what)
{
    errno = error;
    perror(what);
    errno = error;
}

} // namespace

struct PThread::Shared
{
    std::atomic<int> state{Idle};
    // Held while the thread marks its end and while cancel() uses the id of a
    // detached thread, so that the thread cannot end (and its id name another
    // thread) in between.
    std::mutex endLock;
};

PThread::PThread() : m_shared(std::make_shared<Shared>()) {}

PThread::~PThread() = default;

int PThread::start(bool detached, size_t stackSize)
{
    if (m_shared->state.load() == Running) {
        logger()->write(LogWarn, "PThread::start: the thread is still running");
        errno = EBUSY;
        return -1;
    }
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0) {
        reportError(rc, "pthread_attr_init");
        return -1;
    }
    rc = pthread_attr_setstacksize(&attr, stackSize);
    if (rc != 0) {
        reportError(rc, "pthread_attr_setstacksize");
        pthread_attr_destroy(&attr);
        return -ESRCH;
    }
    size_t size = 0;
    rc = pthread_attr_getstacksize(&attr, &size);
    if (rc != 0)
        reportError(rc, "pthread_attr_getstacksize");
    printf("[***stack_size = %dk\n", static_cast<int>(size / 1024));
    size_t guard = 0;
    pthread_attr_getguardsize(&attr, &guard);
    printf("[***guard_size = %dk\n", static_cast<int>(guard / 1024));

    if (m_started && !m_detached && !m_joined)
        pthread_detach(m_tid); // the previous run was never joined: let the system reap it
    m_detached = detached;
    if (detached)
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    m_started = true;
    m_joined = false;
    m_shared->state.store(Running);

    StartBlock block{this, {}};
    sem_init(&block.started, 0, 0);
    const sigset_t timerSet = timerSignalSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &timerSet, &previous);
    pthread_t tid;
    rc = pthread_create(&tid, &attr, &PThread::threadEntry, &block);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (rc != 0) {
        m_shared->state.store(Idle);
        m_started = false;
        reportError(rc, "pthread_create");
        sem_destroy(&block.started);
        pthread_attr_destroy(&attr);
        return -ECHILD;
    }
    // The thread has stored its id once it posts. From here on nothing of the
    // object is touched: a detached thread and its object may be gone already.
    while (sem_wait(&block.started) != 0 && errno == EINTR) {
    }
    sem_destroy(&block.started);
    return pthread_attr_destroy(&attr);
}

void* PThread::threadEntry(void* arg)
{
    auto* block = static_cast<StartBlock*>(arg);
    PThread* self = block->self;
    self->m_tid = pthread_self();
    struct EndMark
    {
        std::shared_ptr<Shared> shared;
        ~EndMark()
        {
            std::lock_guard<std::mutex> lock(shared->endLock);
            shared->state.store(Ended);
        }
    };
    EndMark mark{self->m_shared}; // runs on return, pthread_exit and cancellation alike
    sem_post(&block->started);
    return self->threadMain();
}

void* PThread::join()
{
    if (!m_started || m_detached || m_joined)
        return nullptr;
    void* result = nullptr;
    if (pthread_join(m_tid, &result) != 0) {
        logCheck("void* PThread::join()", __LINE__);
        return nullptr;
    }
    m_joined = true;
    return result;
}

void PThread::cancel()
{
    // A joined thread's id, or an ended detached thread's, may name another thread by now.
    if (!m_started || m_joined)
        return;
    std::unique_lock<std::mutex> endLock(m_shared->endLock, std::defer_lock);
    if (m_detached) {
        endLock.lock();
        if (m_shared->state.load() != Running)
            return;
    }
    if (pthread_cancel(m_tid) != 0)
        logCheck("void PThread::cancel()", __LINE__);
}

bool PThread::isAlive() const
{
    return m_shared->state.load() == Running;
}

size_t PThread::defaultStackSize()
{
    pthread_attr_t attr;
    size_t size = 0;
    if (pthread_attr_init(&attr) == 0) {
        pthread_attr_getstacksize(&attr, &size);
        pthread_attr_destroy(&attr);
    }
    // The usual default, should the attributes not answer.
    return size > 0 ? size : 8u << 20;
}

int PThread::msleep(int ms)
{
    if (ms < 0) {
        errno = EINVAL;
        return -1;
    }
    if (ms > 0)
        sleepMachineMs(ms);
    return 0;
}
