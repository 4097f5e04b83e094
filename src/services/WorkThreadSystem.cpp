// The worker's calls into the system manager.
#include "WorkThread.h"

#include "base/SystemState.h"
#include "base/Utils.h"

void WorkThread::disconnectNetwork()
{
    Utils::disableWiFiAP();
    Utils::disableWiFi();
    Utils::disableEth();
    SystemState::instance()->exchangeNetStatus(NET_DISCONNECTED);
}

int WorkThread::syncNtpTime()
{
    return -1;
}

int WorkThread::writeRtc()
{
    return -1;
}
