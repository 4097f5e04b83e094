#pragma once

#include "base/threads/PThread.h"

#include <functional>

// A PThread whose body is a function handed in at construction: for an owner
// that runs more than one thread, or one that is no thread class itself.
class FunctionThread : public PThread
{
public:
    explicit FunctionThread(std::function<void*()> body);

protected:
    void* threadMain() override;

private:
    const std::function<void*()> m_body;
};
