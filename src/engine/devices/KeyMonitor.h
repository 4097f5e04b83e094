#pragma once

#include "base/threads/PThread.h"
#include "base/threads/StopSignal.h"

#include <atomic>
#include <string>

// Two door keys on a Linux input device (KEY_LEFT and KEY_RIGHT), read on a
// thread of its own. An empty device path disables it.
class KeyMonitor : private PThread
{
public:
    explicit KeyMonitor(const char* device);
    ~KeyMonitor() override;

    // Starts the reader, detached with an 8 MiB stack; 0.
    int start();
    // Wakes the reader and waits until it has ended; 0.
    int stop();

    int firstDoorValue() const { return m_door1.load(); }
    int secondDoorValue() const { return m_door2.load(); }

protected:
    void* threadMain() override;

private:
    const std::string m_device;
    std::atomic<int> m_door1{1};
    std::atomic<int> m_door2{1};
    StopSignal m_stop;
};
