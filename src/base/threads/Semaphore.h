#pragma once

#include "base/threads/noncopyable.h"

#include <semaphore.h>

// A counting semaphore private to the process.
class Semaphore : noncopyable
{
public:
    explicit Semaphore(unsigned int value = 0);
    ~Semaphore();

    int init(unsigned int value);
    // Each returns -1 when no semaphore is held.
    int wait();
    // 0 when the count was taken; -1 when ms milliseconds passed first (errno ETIMEDOUT).
    int wait(int ms);
    int post();
    // 0 when the count was taken; -1 when it was 0 (errno EAGAIN).
    int tryWait();
    int getValue(int& value);

private:
    sem_t* m_sem;
};
