#include "base/threads/Mutex.h"

#include "base/log/LogWriter.h"
#include "base/platform/Platform.h"
#include "base/threads/Assert.h"
#include "base/threads/TimedWait.h"

#include <libgen.h>

#include <cstdio>
#include <cstring>

Mutex::Mutex()
{
    init();
}

Mutex::~Mutex()
{
    if (isLock())
        unlock();
    destory();
}

int Mutex::init()
{
    const int rc = pthread_mutex_init(&m_mutex, nullptr);
    if (rc != 0)
        logCheck("void Mutex::init()", __LINE__);
    m_destroyed = false;
    return rc;
}

void Mutex::lock()
{
    if (pthread_mutex_lock(&m_mutex) != 0) {
        logCheck("void Mutex::lock()", __LINE__);
        return;
    }
    m_lockerHolds = false;
    m_isLock = true;
}

int Mutex::tryLock()
{
    const int rc = pthread_mutex_trylock(&m_mutex);
    if (rc != 0) {
        printf("%s failed\n", "tryLock");
        return rc;
    }
    m_lockerHolds = false;
    m_isLock = true;
    return 0;
}

int Mutex::lock(int ms)
{
    TALVIKS_ASSERT(ms > 0);
    const int rc = lockUntil(&m_mutex, platform().clock().deadlineAfterMs(ms));
    if (rc != 0) {
        char file[] = __FILE__;
        printf("File:%s, Line:%d ,error(%d) ,(%s) \n", basename(file), __LINE__, rc, strerror(rc));
        return rc;
    }
    m_lockerHolds = false;
    m_isLock = true;
    return 0;
}

void Mutex::unlock()
{
    m_isLock = false;
    if (pthread_mutex_unlock(&m_mutex) != 0)
        logCheck("void Mutex::unlock()", __LINE__);
}

int Mutex::destory()
{
    if (m_destroyed)
        return 0;
    const int rc = pthread_mutex_destroy(&m_mutex);
    if (rc != 0)
        logCheck("void Mutex::destory()", __LINE__);
    else
        m_destroyed = true;
    return rc;
}
