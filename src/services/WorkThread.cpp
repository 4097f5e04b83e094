// The worker itself: its life, its arguments, the choice of the job and the
// timed run of one command. The jobs live in WorkThreadNetwork.cpp and
// WorkThreadFiles.cpp.
#include "services/WorkThread.h"

#include "base/log/LogWriter.h"
#include "base/platform/Platform.h"
#include "base/platform/Shell.h"

#include <QDebug>

WorkThread::WorkThread()
{
    registerNetMetaTypes();
    registerWifiMetaTypes();
    logger()->write(LogInfo, "Enter WorkThread (%i)", m_job.load());
}

WorkThread::~WorkThread()
{
    // Qt ends the whole process when a running thread is destroyed: the job
    // is stopped and the thread waited for instead.
    stop();
    wait();
    logger()->write(LogInfo, "Leave WorkThread (%i)", m_job.load());
}

void WorkThread::startJob(int job)
{
    m_job = job;
    if (isRunning())
        return;
    m_stop.clear();
    start(QThread::InheritPriority);
}

void WorkThread::stop()
{
    m_stop.raise();
}

void WorkThread::setWifiInfo(const QString& ssid, const QString& password, const QString& security)
{
    m_ssid = ssid;
    m_password = password;
    m_security = security;
}

void WorkThread::setPath(const QString& path)
{
    m_path = path;
}

void WorkThread::setPathAndFilters(const QString& path, const QStringList& filters)
{
    m_path = path;
    m_filters = filters;
}

void WorkThread::setNetType(NetType type)
{
    m_netType = type;
}

void WorkThread::setCommandLimits(int startLimitMs, int finishLimitMs)
{
    m_startLimitMs = startLimitMs;
    m_finishLimitMs = finishLimitMs;
}

void WorkThread::run()
{
    const int job = m_job;
    switch (job) {
    case JOB_WIFI_SCAN:
        wifiScan();
        break;
    case JOB_WIFI_CONFIG:
    case JOB_WIFI_CONNECT:
    case JOB_HOTSPOT:
    case JOB_ETHERNET:
    case JOB_NTP_TIME:
        runNetworkJob(job);
        break;
    case JOB_FIND_MODELS:
        findModels(m_path);
        break;
    case JOB_DELETE_ALL:
        deleteAll(m_path);
        break;
    case JOB_SYNC_LOG:
        syncLog(m_path);
        break;
    case JOB_HARDWARE_CONFIG:
        hardwareConfig();
        break;
    default:
        break;
    }
}

RunResult WorkThread::runLimited(const std::vector<std::string>& argv)
{
    TimedRun run;
    run.argv = argv;
    run.startLimitMs = m_startLimitMs;
    run.finishLimitMs = m_finishLimitMs;
    run.cancelFd = m_stop.fd();
    return platform().shell().runTimed(run);
}

QString WorkThread::masked(const QString& text) const
{
    QString out = text;
    if (!m_password.isEmpty())
        out.replace(m_password, "********");
    return out;
}

int WorkThread::runCommand(const QString& command)
{
    qDebug() << "Process: " << command;
    const RunResult result = runLimited(TimedRun::commandLine(command.toStdString()).argv);
    if (!result.started) {
        if (result.timedOut)
            m_timedOut = true;
        qDebug() << "Fail To Start Process: " << command << QString::fromStdString(result.why);
        return -1;
    }
    if (result.timedOut || result.cancelled) {
        if (result.timedOut)
            m_timedOut = true;
        // The runner has already killed it with its process group.
        qDebug() << "Fail To Finish Process: " << command << (result.cancelled ? "(stopped)" : "(overran)");
        return -1;
    }
    const int code = result.exitCode();
    if (code == 0)
        return 0;
    // A program may echo what it was given: the password stays out of the log.
    qDebug() << "Process output: " << masked(QString::fromStdString(result.output));
    qDebug() << "Process error: " << masked(QString::fromStdString(result.errors));
    return code;
}
