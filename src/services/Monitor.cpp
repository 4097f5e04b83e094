#include "services/Monitor.h"

#include "base/log/LogWriter.h"

Monitor::Monitor(QObject* parent) : QObject(parent), m_hotPlug(new HotPlug(nullptr))
{
    connect(m_hotPlug, &HotPlug::ethNotifyEvent, this, &Monitor::ethNotifyEvent);
    connect(m_hotPlug, &HotPlug::usbNotifyEvent, this, &Monitor::usbNotifyEvent);
    logger()->write(LogInfo, "Enter Monitor");
}

Monitor::~Monitor()
{
    delete m_hotPlug;
    logger()->write(LogInfo, "Leave Monitor");
}

bool Monitor::start()
{
    return m_hotPlug->start();
}

bool Monitor::stop()
{
    return m_hotPlug->stop();
}

void Monitor::setDiskPresenceHandler(HotPlug::DiskPresenceHandler handler)
{
    m_hotPlug->setDiskPresenceHandler(std::move(handler));
}

void Monitor::ethNotifyEvent(QString dev, dev_action_t status)
{
    logger()->write(LogDebug, "%s%s", dev.toUtf8().constData(), status != DEV_ACTION_ADD ? " down" : " up");
    emit emit_GetEth(dev, status == DEV_ACTION_ADD);
}

void Monitor::usbNotifyEvent(QString dev, dev_action_t status, QString mountDir)
{
    if (status != DEV_ACTION_ADD)
        logger()->write(LogDebug, "%s removed", dev.toUtf8().constData());
    else
        logger()->write(LogDebug, "%s mount to %s", dev.toUtf8().constData(), mountDir.toUtf8().constData());
    emit emit_GetUsb(mountDir);
}
