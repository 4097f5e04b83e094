#include "Mutex.h"

#include "base/Assert.h"

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
    TALVIKS_ASSERT(m_mutex);
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
