#include "nvsdk/Mutex.h"

#include <cstdio>
#include <cstdlib>

namespace nvsdk {

Mutex::Mutex()
{
    pthread_mutex_init(&m_mutex, nullptr);
}

Mutex::~Mutex()
{
    pthread_mutex_destroy(&m_mutex);
}

int Mutex::lock()
{
    return pthread_mutex_lock(&m_mutex);
}

int Mutex::unlock()
{
    return pthread_mutex_unlock(&m_mutex);
}

bool Mutex::tryLock()
{
    return pthread_mutex_trylock(&m_mutex) == 0;
}

MutexLocker::MutexLocker(Mutex* mutex) : m_mutex(mutex)
{
    // A caller's mistake, in every build type.
    if (!m_mutex) {
        fprintf(stderr, "%s:%d: %s: Assertion `m_mutex' failed.\n", __FILE__, __LINE__, __PRETTY_FUNCTION__);
        abort();
    }
    lock();
}

MutexLocker::~MutexLocker()
{
    unlock();
}

void MutexLocker::lock()
{
    if (m_mutex)
        m_mutex->lock();
}

void MutexLocker::unlock()
{
    if (m_mutex)
        m_mutex->unlock();
}

} // namespace nvsdk
