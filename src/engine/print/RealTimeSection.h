#pragma once

#include "base/threads/noncopyable.h"

#include <sched.h>

// Raises the calling thread to a real-time scheduling policy for the life of
// the object, where the system allows it, and gives it back its own policy
// afterwards. The first section also locks the process's memory, so that the
// raised thread does not wait for pages to come back. When the system
// refuses, the thread goes on at its own policy; the caller says so where
// its user looks (a refused memory lock is logged once per process).
class RealTimeSection : noncopyable
{
public:
    RealTimeSection();
    ~RealTimeSection();
    bool granted() const { return m_granted; }
    // Why the policy was refused (an errno value); 0 when granted.
    int refusal() const { return m_refusal; }

private:
    bool m_granted = false;
    int m_refusal = 0;
    int m_policy = SCHED_OTHER;
    sched_param m_param{};
};
