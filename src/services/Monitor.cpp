#include "Monitor.h"

#include "base/LogWriter.h"

Monitor::Monitor(QObject* parent) : QObject(parent), m_hotPlug(new HotPlug(nullptr))
{
    connect(m_hotPlug, &HotPlug::ethNotifyEvent, this, &Monitor::ethNotifyEvent);
    connect(m_hotPlug, &HotPlug::usbNotifyEvent, this, &Monitor::usbNotifyEvent);
    LogWriter::instance()->write(1, "Enter Monitor");
}

Monitor::~Monitor()
{
    delete m_hotPlug;
    LogWriter::instance()->write(1, "Leave Monitor");
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
    LogWriter::instance()->write(0, "%s%s", dev.toUtf8().constData(), status != DEV_ACTION_ADD ? " down" : " up");
    emit emit_GetEth(dev, status == DEV_ACTION_ADD);
}

void Monitor::usbNotifyEvent(QString dev, dev_action_t status, QString mountDir)
{
    if (status != DEV_ACTION_ADD)
        LogWriter::instance()->write(0, "%s removed", dev.toUtf8().constData());
    else
        LogWriter::instance()->write(0, "%s mount to %s", dev.toUtf8().constData(), mountDir.toUtf8().constData());
    emit emit_GetUsb(mountDir);
}
