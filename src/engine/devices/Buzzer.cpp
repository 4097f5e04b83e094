#include "engine/devices/Buzzer.h"

#include "base/buses/Gpio.h"
#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"

#include <cerrno>
#include <chrono>
#include <cstring>

Buzzer* Buzzer::instance()
{
    static Buzzer buzzer;
    return &buzzer;
}

Buzzer::Buzzer(unsigned int line)
    : m_line(line),
      m_thread([this] {
          run();
          return nullptr;
      })
{
    gpio_export(m_line);
    gpio_set_dir(m_line, "out");
    gpio_set_value(m_line, 0);
    m_threaded = m_thread.start(false, PThread::defaultStackSize()) == 0;
    if (!m_threaded)
        logger()->write(LogError, "Buzzer: no thread to end the beeps (%s): the buzzer stays silent",
                        strerror(errno));
}

Buzzer::~Buzzer()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
    gpio_set_value(m_line, 0);
    gpio_unexport(m_line);
}

void Buzzer::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        if (!m_sounding) {
            m_wake.wait(lock);
            continue;
        }
        if (timespecToNs(kernelMonotonicNow()) >= m_endNs) {
            gpio_set_value(m_line, 0);
            m_sounding = false;
            continue;
        }
        // steady_clock is CLOCK_MONOTONIC, the clock of the end instant.
        m_wake.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(m_endNs)));
    }
}

void Buzzer::sound(int ms)
{
    if (ms <= 0 || !m_threaded)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        gpio_set_value(m_line, 1);
        m_sounding = true;
        m_endNs = timespecToNs(platform().clock().deadlineAfterMs(ms));
    }
    m_wake.notify_all();
}

void Buzzer::beep(int ms)
{
    if (!ConfigStore::instance()->m_general.KeyToneFlag)
        return;
    sound(ms);
}

void Buzzer::beepShort()
{
    sound(kShortMs);
}

void Buzzer::beepMedium()
{
    sound(kMediumMs);
}

void Buzzer::beepLong()
{
    sound(kLongMs);
}
