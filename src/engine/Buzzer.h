#pragma once

#include "base/PTimer.h"
#include "base/noncopyable.h"

#include <mutex>

// Short beeps on the buzzer line: the line goes to 1 and a single-shot timer
// brings it back to 0. A beep during another re-arms the timer, so the line
// stays on until the later end. The timer runs its expiry on a thread of its
// own rather than as a signal, so no other thread's wait is interrupted and
// the line is never written from signal context.
class Buzzer : noncopyable
{
public:
    // This machine has no buzzer line (0: every line operation does nothing).
    static constexpr unsigned int kLine = 0;
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
    static void expired(union sigval);
    void endIfDue();

    const unsigned int m_line;
    std::mutex m_mutex; // the line and the timer change together
    PTimer m_timer;
};
