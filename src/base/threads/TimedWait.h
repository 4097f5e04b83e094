#pragma once

#include <pthread.h>
#include <semaphore.h>
#include <ctime>

// Timed lock and semaphore wait until a CLOCK_MONOTONIC instant, so that a
// step of the wall clock neither stretches nor cuts them. Interrupted waits
// resume towards the same instant.

// 0 when locked, else the error number (ETIMEDOUT when the time ran out).
int lockUntil(pthread_mutex_t* mutex, const timespec& deadline);
// 0 when the count was taken, else -1 with errno set (ETIMEDOUT when the time ran out).
int semWaitUntil(sem_t* sem, const timespec& deadline);
