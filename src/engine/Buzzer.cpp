#include "engine/Buzzer.h"

#include "base/ConfigStore.h"
#include "base/Gpio.h"

#include <set>

namespace {

// The timer's expiry carries no context: it finds the live buzzers here.
std::mutex& registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::set<Buzzer*>& registry()
{
    static std::set<Buzzer*> buzzers;
    return buzzers;
}

} // namespace

Buzzer* Buzzer::instance()
{
    static Buzzer buzzer;
    return &buzzer;
}

Buzzer::Buzzer(unsigned int line) : m_line(line)
{
    gpio_export(m_line);
    gpio_set_dir(m_line, "out");
    gpio_set_value(m_line, 0);
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        registry().insert(this);
    }
    m_timer.setCallbackI(&Buzzer::expired);
    m_timer.setSingleShot(true);
    m_timer.create(PTimer::ThreadMode);
}

Buzzer::~Buzzer()
{
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        registry().erase(this);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timer.stop();
    gpio_set_value(m_line, 0);
    gpio_unexport(m_line);
}

void Buzzer::expired(union sigval)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    for (Buzzer* buzzer : registry())
        buzzer->endIfDue();
}

void Buzzer::endIfDue()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // A beep that re-armed the timer after this expiry keeps the line on.
    if (!m_timer.isActive())
        gpio_set_value(m_line, 0);
}

void Buzzer::sound(int ms)
{
    if (ms <= 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    // Line on before the timer runs: an expiry can only ever follow it.
    gpio_set_value(m_line, 1);
    m_timer.start(ms);
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
