#include "engine/devices/KeyMonitor.h"

#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "base/platform/SysIo.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>

#include <cstdio>

KeyMonitor::KeyMonitor(const char* device) : m_device(device ? device : "") {}

KeyMonitor::~KeyMonitor()
{
    stop();
}

int KeyMonitor::start()
{
    if (m_device.empty()) {
        printf("%s :dev is NULL, disable Key func\n", "int KeyMonitor::start()");
        return 0;
    }
    m_stop.clear();
    PThread::start(true, 8 * 1024 * 1024);
    return 0;
}

int KeyMonitor::stop()
{
    if (m_device.empty()) {
        printf("%s :dev is NULL\n", "stop");
        return 0;
    }
    m_stop.raise();
    // The thread is detached: wait until it has left threadMain.
    while (isAlive())
        sleepUntil(kernelDeadlineAfterMs(1));
    return 0;
}

void* KeyMonitor::threadMain()
{
    SysIo& io = platform().io();
    const int fd = io.open(m_device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        logger()->write(LogError, "open input device[%s] error!\n", m_device.c_str());
        return nullptr;
    }
    logger()->write(LogInfo, "open input device[%s]\n", m_device.c_str());
    while (!m_stop.raised()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_stop.fd(), POLLIN, 0}};
        const int rc = pollUntil(fds, 2, nullptr);
        if (rc < 0) {
            puts("select error.");
            PThread::msleep(1); // a lasting error must not spin the processor
            continue;
        }
        if (rc == 0) {
            puts("select timeout.");
            continue;
        }
        if (fds[1].revents)
            continue; // woken to stop: the loop test ends it
        if (!(fds[0].revents & POLLIN)) {
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                // The device went away; polling it again would return at once, for ever.
                logger()->write(LogError, "input device[%s] lost (poll events 0x%x)\n", m_device.c_str(),
                                             static_cast<unsigned>(fds[0].revents));
                break;
            }
            continue;
        }
        input_event event{};
        if (io.read(fd, &event, sizeof event) != static_cast<ssize_t>(sizeof event) || event.type != EV_KEY)
            continue;
        if (event.value != 0 && event.value != 1)
            continue;
        if (event.code == KEY_LEFT) {
            printf("door_1 Value:%d\n", event.value);
            m_door1 = event.value;
        } else if (event.code == KEY_RIGHT) {
            printf("door_2 Value:%d\n", event.value);
            m_door2 = event.value;
        }
    }
    io.close(fd);
    return nullptr;
}
