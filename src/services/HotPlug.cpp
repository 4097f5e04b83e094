#include "services/HotPlug.h"

#include "base/log/LogWriter.h"
#include "engine/print/Printer.h"
#include "services/HotPlugListener.h"

#include <exception>
#include <set>

HotPlug::HotPlug(QObject* parent)
    : QObject(parent), m_diskPresence([](bool mounted) { Printer::instance()->setIsExistUdisk(mounted); })
{
    qRegisterMetaType<dev_action_t>("dev_action_t");
}

HotPlug::~HotPlug()
{
    stop();
}

bool HotPlug::start()
{
    if (m_listener)
        return true;
    auto listener = std::make_unique<HotPlugListener>(*this);
    if (!listener->open() || !listener->run())
        return false;
    m_listener = std::move(listener);
    return true;
}

bool HotPlug::stop()
{
    if (m_listener)
        m_listener->finish();
    m_listener.reset();
    return true;
}

void HotPlug::setDiskPresenceHandler(DiskPresenceHandler handler)
{
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    m_diskPresence = std::move(handler);
}

void HotPlug::emitEthNotifyEvent(const QString& dev, dev_action_t status)
{
    emit ethNotifyEvent(dev, status);
}

void HotPlug::emitUsbNotifyEvent(const QString& partition, dev_action_t action)
{
    if (action == DEV_ACTION_ADD) {
        m_mountDir.clear();
        mount(partition, m_mountDir);
    } else {
        unmount(partition);
        m_mountDir.clear();
    }
    // A disk whose mount failed is not announced.
    if (!m_mountDir.isEmpty() || action == DEV_ACTION_REMOVE)
        emit usbNotifyEvent(partition, action, m_mountDir);
    // A disk is present while any partition of ours is mounted: a second
    // partition that cannot be mounted, or another disk pulled, leaves the
    // print's disk where it is. The last event stands in only when the
    // mount table cannot be read.
    std::set<QString> mounted;
    tellDiskPresence(mountedPartitions(mounted) ? !mounted.empty() : !m_mountDir.isEmpty());
}

void HotPlug::tellDiskPresence(bool mounted)
{
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    if (!m_diskPresence)
        return;
    // The printer may not be there (no frame buffer): whatever the handler
    // throws must not end the watcher.
    try {
        m_diskPresence(mounted);
    } catch (const std::exception& error) {
        logger()->write(LogError, "HotPlug: disk presence handler failed: %s", error.what());
    } catch (...) {
        logger()->write(LogError, "HotPlug: disk presence handler failed");
    }
}
