#pragma once

#include "base/config/NetStatus.h"
#include "base/threads/StopSignal.h"
#include "services/WifiAp.h"

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <list>
#include <string>
#include <vector>

struct RunResult;

// Runs one slow, blocking job off the GUI thread and reports its end by a
// signal: Wi-Fi scan and join, hotspot, Ethernet, model listing and
// deletion, log copy, NTP time and the projector's HDMI configuration.
//
// Not a singleton: each user makes its own worker, sets the job's arguments
// and starts it; a worker can be started again once its job ended. Every
// external program runs through the shell seam with a limit to start and one
// to finish; one that overruns is killed with its process group. The network
// jobs (2, 3, 4, 9, 10) of all workers of the process run one at a time.
//
// Destroying a worker whose job still runs stops the job's command and waits
// for the thread.
class WorkThread : public QThread
{
    Q_OBJECT

public:
    enum JobType {
        JOB_WIFI_SCAN = 1,
        JOB_WIFI_CONFIG = 2,
        JOB_WIFI_CONNECT = 3,
        JOB_HOTSPOT = 4,
        JOB_FIND_MODELS = 5,
        JOB_DELETE_ALL = 6,
        JOB_SYNC_LOG = 7,
        JOB_ETHERNET = 9,
        JOB_NTP_TIME = 10,
        JOB_HARDWARE_CONFIG = 11,
    };

    // The limits of one command, by default.
    static constexpr int kStartLimitMs = 30000;
    static constexpr int kFinishLimitMs = 30000;
    // The projector's HDMI configuration tool and the folder it runs in.
    static constexpr const char* kHdmiToolDir = "/optI/software/sof";
    static constexpr const char* kHdmiTool = "./DLP_HDMI_CONF";

    WorkThread();
    ~WorkThread() override;

    // Stores the job number and starts the thread (nothing when it runs).
    void startJob(int job);
    // Stops the command that runs and every later one of this job.
    void stop();

    // Arguments of the jobs; set them before startJob, never while a job runs.
    void setWifiInfo(const QString& ssid, const QString& password, const QString& security);
    void setPath(const QString& path);
    void setPathAndFilters(const QString& path, const QStringList& filters);
    void setNetType(NetType type);
    // The limits of every later command (tests shorten them).
    void setCommandLimits(int startLimitMs, int finishLimitMs);

    // Runs one command line (program and arguments, no shell) and waits for
    // it: its exit code, or -1 when it did not start, overran its limits (and
    // was killed) or was stopped.
    int runCommand(const QString& command);

signals:
    void sig_modelListFound(QString path, QStringList fileList);
    void sig_deletedAll();
    void sig_wifiListDetected(int result, std::list<wifi_ap_t> wlanList);
    void sig_NetConnectResult(NetResult result, NetType type);
    void sig_logSyncFinished(int count);
    void sig_syncNTPTimeFinished();
    void sig_hardwareConfig(int result);

protected:
    void run() override;

private:
    // Network jobs.
    int wifiScan();
    int writeWpaConfig(const QString& ssid, const QString& password, const QString& security);
    int connectWifi();
    int startHotspot(const QString& ssid, const QString& password);
    int connectEthernet();
    int updateNTPTime();
    // Jobs on files and the HDMI tool.
    int findModels(const QString& path);
    int deleteAll(const QString& path);
    int syncLog(const QString& path);
    int hardwareConfig();

    // Runs a network job while holding the process-wide network lock; a job
    // stopped while it waits for the lock reports like a failed step.
    int runNetworkJob(int job);
    // The station join of jobs 2 and 3, without its report.
    bool joinWifi();
    // Emits the one result of a connect job: OK, else TIMEOUT when a
    // command overran, else ERROR. 0 or -1.
    int reportConnect(bool ok);
    // What the jobs ask of the system manager: stop every network service
    // and announce the disconnected state; set the clock from the time
    // servers (0, or -1 when none answered); write it to the hardware clock.
    void disconnectNetwork();
    int syncNtpTime();
    int writeRtc();
    // One program with this worker's limits; stop() ends it.
    RunResult runLimited(const std::vector<std::string>& argv);
    // A text for the log with the password of this job masked.
    QString masked(const QString& text) const;

    std::atomic<int> m_job{0};
    QString m_path;
    QStringList m_filters; // kept for the callers; no job applies them
    QString m_ssid;
    QString m_password;
    QString m_security;
    bool m_timedOut = false;
    NetType m_netType = NET_DISCONNECTED;
    int m_startLimitMs = kStartLimitMs;
    int m_finishLimitMs = kFinishLimitMs;

    // Stops the commands of the current job; cleared at each start, since a
    // raised stop holds for every later run.
    StopSignal m_stop;
};
