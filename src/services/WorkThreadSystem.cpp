// The worker's calls into the system manager.
#include "services/WorkThread.h"

#include "services/SystemManager.h"

void WorkThread::disconnectNetwork()
{
    SystemManager::instance()->setNetStatus("", NET_DISCONNECTED);
}

int WorkThread::syncNtpTime()
{
    return SystemManager::instance()->syncNtpTime();
}

int WorkThread::writeRtc()
{
    return SystemManager::instance()->writeRtc();
}
