#include "base/threads/Semaphore.h"

#include "base/platform/Platform.h"
#include "base/threads/TimedWait.h"

#include <cerrno>
#include <new>

Semaphore::Semaphore(unsigned int value) : m_sem(new (std::nothrow) sem_t)
{
    init(value);
}

Semaphore::~Semaphore()
{
    if (!m_sem)
        return;
    sem_destroy(m_sem);
    delete m_sem;
}

int Semaphore::init(unsigned int value)
{
    return m_sem ? sem_init(m_sem, 0, value) : -1;
}

int Semaphore::wait()
{
    if (!m_sem)
        return -1;
    int rc;
    while ((rc = sem_wait(m_sem)) != 0 && errno == EINTR) {
    }
    return rc;
}

int Semaphore::wait(int ms)
{
    if (!m_sem)
        return -1;
    return semWaitUntil(m_sem, platform().clock().deadlineAfterMs(ms));
}

int Semaphore::post()
{
    return m_sem ? sem_post(m_sem) : -1;
}

int Semaphore::tryWait()
{
    return m_sem ? sem_trywait(m_sem) : -1;
}

int Semaphore::getValue(int& value)
{
    return m_sem ? sem_getvalue(m_sem, &value) : -1;
}
