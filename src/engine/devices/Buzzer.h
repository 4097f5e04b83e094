#pragma once

#include "base/threads/FunctionThread.h"
#include "base/threads/noncopyable.h"
#include "engine/devices/Board.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

// Short beeps on the buzzer line: the line goes to 1 and comes back to 0 when
// the beep's time is up. A beep during another one moves the end, so the line
// stays on until the later end. The end is kept by a small thread of the
// buzzer's own waiting on machine time, not by a timer signal: no other
// thread's wait is ever interrupted, and the line is never written from
// signal context.
class Buzzer : noncopyable
{
public:
    // This machine has no buzzer line (0: every line operation does nothing).
    static constexpr unsigned int kLine = board::kBuzzerLine;
    static constexpr int kShortMs = 99;
    static constexpr int kMediumMs = 150;
    static constexpr int kLongMs = 500;
    static constexpr int kKeyClickMs = 220;

    // The process's buzzer, made on first use and kept until exit.
    static Buzzer* instance();

    explicit Buzzer(unsigned int line = kLine);
    // Switches the line off and releases it.
    ~Buzzer();

    // A key click: sounds only while the key-tone setting is on.
    void beep(int ms);
    void beepShort();
    void beepMedium();
    void beepLong();

private:
    // Lengths of 0 or less sound nothing.
    void sound(int ms);
    void run();

    const unsigned int m_line;
    std::mutex m_mutex; // the line and the end of the beep change together
    std::condition_variable m_wake;
    bool m_sounding = false;
    int64_t m_endNs = 0; // CLOCK_MONOTONIC instant at which the line goes off
    bool m_quit = false;
    FunctionThread m_thread;
    bool m_threaded = false; // a buzzer whose thread could not start stays silent
};
