#include "base/threads/FunctionThread.h"

#include <utility>

FunctionThread::FunctionThread(std::function<void*()> body) : m_body(std::move(body)) {}

void* FunctionThread::threadMain()
{
    return m_body();
}
