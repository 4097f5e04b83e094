#include "WorkThreadFixture.h"

#include "base/config/PathManager.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "support/TestSupport.h"

#include <QtGlobal>

#include <dirent.h>

#include <cstdlib>

using testsupport::readFile;
using testsupport::scratchRoot;
using testsupport::writeFile;

namespace {

std::mutex g_debugMutex;
std::string g_debug;

void keepMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    std::lock_guard<std::mutex> lock(g_debugMutex);
    g_debug += message.toStdString() + "\n";
}

const char kStub[] = R"(#!/bin/sh
d='@DIR@'
n=${0##*/}
echo "$n $*" >> "$d/calls"
m=$(head -n 1 "$d/$n.modes" 2>/dev/null)
if [ -n "$m" ]; then sed -i 1d "$d/$n.modes"; else m=$(cat "$d/$n.default" 2>/dev/null); fi
case "$m" in
  fail) echo "$n out $*"; echo "$n err" >&2; exit 3 ;;
  hang) t=600.$(tr -dc 1-9 < /proc/sys/kernel/random/uuid | head -c 9); echo "$t" >> "$d/hung"; exec sleep "$t" ;;
  slow) sleep 0.3 ;;
  cat) for a; do [ -f "$a" ] && cat "$a"; done; exit 1 ;;
  real) exec busybox "$n" "$@" ;;
esac
exit 0
)";

} // namespace

void WorkThreadTest::SetUp()
{
    prepare();
    openLog();
}

void WorkThreadTest::openLog()
{
    testsupport::makeDirs(rootPath("/data/var"));
    LogWriter::instance()->init("/data/var", "TalvikS", 0, 1 << 20, 4, false);
}

void WorkThreadTest::prepare()
{
    const std::string dir = stubDir();
    testsupport::makeDirs(dir);
    for (const char* program : {"ifconfig", "wpa_supplicant", "udhcpc", "udhcpd", "hostapd"})
        writeStub(dir + "/" + program);
    const char* path = getenv("PATH");
    setenv("PATH", (dir + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    PathManager::instance(); // the data folders
    qInstallMessageHandler(keepMessage);
}

void WorkThreadTest::TearDown()
{
    qInstallMessageHandler(nullptr);
}

std::string WorkThreadTest::stubDir()
{
    return scratchRoot() + "/stubs";
}

void WorkThreadTest::writeStub(const std::string& fsPath)
{
    std::string text = kStub;
    text.replace(text.find("@DIR@"), 5, stubDir());
    testsupport::writeScript(fsPath, text);
}

void WorkThreadTest::setModes(const std::string& program, const std::vector<std::string>& modes)
{
    std::string text;
    for (const std::string& mode : modes)
        text += mode + "\n";
    writeFile(stubDir() + "/" + program + ".modes", text);
}

void WorkThreadTest::setDefaultMode(const std::string& program, const std::string& mode)
{
    writeFile(stubDir() + "/" + program + ".default", mode);
}

std::vector<std::string> WorkThreadTest::calls()
{
    return testsupport::splitLines(readFile(stubDir() + "/calls"));
}

std::string WorkThreadTest::logged()
{
    std::string text;
    const std::string dir = rootPath("/data/var");
    if (DIR* folder = opendir(dir.c_str())) {
        while (dirent* entry = readdir(folder))
            if (entry->d_name[0] != '.')
                text += readFile(dir + "/" + entry->d_name);
        closedir(folder);
    }
    std::lock_guard<std::mutex> lock(g_debugMutex);
    return text + g_debug;
}

JobSignals::JobSignals(WorkThread& worker)
{
    const auto direct = Qt::DirectConnection;
    QObject::connect(&worker, &WorkThread::sig_NetConnectResult, &worker,
                     [this](NetResult result, NetType type) { connects.add({result, type}); }, direct);
    QObject::connect(&worker, &WorkThread::sig_modelListFound, &worker,
                     [this](QString, QStringList list) { modelLists.add(list); }, direct);
    QObject::connect(&worker, &WorkThread::sig_logSyncFinished, &worker, [this](int n) { logCounts.add(n); }, direct);
    QObject::connect(&worker, &WorkThread::sig_hardwareConfig, &worker,
                     [this](int result) { hardwareResults.add(result); }, direct);
    QObject::connect(&worker, &WorkThread::sig_wifiListDetected, &worker,
                     [this](int result, std::list<wifi_ap_t> list) {
                         std::vector<std::string> names;
                         for (const wifi_ap_t& ap : list)
                             names.push_back(ap.essid);
                         scans.add(names);
                         scanResults.add(result);
                     },
                     direct);
    QObject::connect(&worker, &WorkThread::sig_deletedAll, &worker, [this] { deletedAll.add(true); }, direct);
    QObject::connect(&worker, &WorkThread::sig_syncNTPTimeFinished, &worker, [this] { ntpFinished.add(true); },
                     direct);
}

size_t JobSignals::total() const
{
    return connects.count() + modelLists.count() + logCounts.count() + hardwareResults.count() +
           scanResults.count() + deletedAll.count() + ntpFinished.count();
}

void runJob(WorkThread& worker, int job)
{
    worker.startJob(job);
    ASSERT_TRUE(worker.wait(120000)) << "job " << job << " did not end";
}

void runJobOnPaths(WorkThread& worker, int job, const QStringList& paths)
{
    for (const QString& path : paths) {
        worker.setPath(path);
        runJob(worker, job);
    }
}
