#pragma once

#include "base/threads/noncopyable.h"

// A descriptor that a blocked thread keeps in its poll set so that another
// thread can always wake it, for example to stop it. Once signalled it stays
// readable until reset.
class WakeEvent : noncopyable
{
public:
    WakeEvent();
    ~WakeEvent();

    // The descriptor to poll for POLLIN; -1 when none could be made (logged).
    int fd() const { return m_fd; }
    void signal();
    void reset();
    bool isSignalled() const;

private:
    int m_fd = -1;
};
