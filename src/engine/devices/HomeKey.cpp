#include "engine/devices/HomeKey.h"

#include "base/buses/Gpio.h"
#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "engine/devices/HomeKeyPress.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

HomeKey::HomeKey(QObject* parent) : QObject(parent) {}

HomeKey::~HomeKey()
{
    m_stop.raise();
    // The thread is detached: wait until it has left threadMain.
    while (isAlive())
        sleepUntil(kernelDeadlineAfterMs(1));
    if (m_fd > 0)
        platform().io().close(m_fd);
    gpio_unexport(kLine);
}

int HomeKey::readLevel(int* value)
{
    char text[9] = {};
    if (platform().io().lseek(m_fd, 0, SEEK_SET) < 0)
        return -errno;
    const ssize_t n = platform().io().read(m_fd, text, 8);
    if (n <= 0)
        return -EIO;
    *value = atoi(text);
    return 0;
}

void* HomeKey::threadMain()
{
    gpio_export(kLine);
    gpio_set_dir(kLine, "in");
    gpio_set_edge(kLine, "both");
    const int fd = gpio_fd_open(kLine);
    if (fd <= 0) {
        logger()->write(LogError, "%s, %d: %s", "threadMain", __LINE__, strerror(-fd));
        return nullptr;
    }
    m_fd = fd;
    HomeKeyPress press;
    for (;;) {
        const int rc = gpio_wait_edge(m_fd, -1, m_stop.fd());
        if (rc == -ECANCELED)
            break;
        if (rc == 0) {
            puts("timeout");
            continue;
        }
        if (rc < 0) {
            if (rc != -EIO)
                logger()->write(LogError, "%s, %d: %s", "threadMain", 68, strerror(-rc));
            continue;
        }
        // The edge's time, before the bounce check.
        const int64_t edgeNs = timespecToNs(platform().clock().now());
        int first = 0, second = 0;
        if (readLevel(&first) < 0)
            continue;
        PThread::msleep(1);
        if (readLevel(&second) < 0 || first != second)
            continue;
        if (first == 0) {
            press.pressed(edgeNs);
            continue;
        }
        int ms = -1;
        const HomeKeyPress::Kind kind = press.released(edgeNs, &ms);
        if (ms < 0)
            continue; // a release without a press since the thread started
        logger()->write(LogInfo, "Home Key On Time: %i ms", ms);
        if (kind == HomeKeyPress::Short)
            emit keyShortClicked(ms);
        else if (kind == HomeKeyPress::Long)
            emit keyLongClicked(ms);
    }
    return nullptr;
}
