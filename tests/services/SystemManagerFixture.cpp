#include "SystemManagerFixture.h"

#include "base/config/ConfigStore.h"
#include "base/config/PathManager.h"
#include "base/files/Utils.h"
#include "base/log/LogWriter.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QSettings>

void SystemManagerTest::SetUp()
{
    static int argc = 1;
    static char name[] = "services_tests";
    static char* argv[] = {name, nullptr};
    m_app.reset(new QCoreApplication(argc, argv));
    testsupport::makeDirs(testsupport::scratchRoot() + "/data/var");
    LogWriter::instance()->init("/data/var", "TalvikS", 0, 1 << 20, 3, false);
}

SystemManager* SystemManagerTest::start(const MachineProbes& probes)
{
    m_shell.script(" uname", 0, probes.kernelField + "\n");
    m_shell.script("cat /proc/cpuinfo", 0, probes.cpuSerial + "\n");
    m_shell.script("cat /proc/meminfo", 0, probes.memTotal + "\n");
    // The machine serial comes from its configuration file.
    testsupport::writeFile(testsupport::scratchRoot() + "/Serial", "{\"machineSelrial\": \"" + probes.machineSerial + "\"}\n");
    EXPECT_EQ(0, ConfigStore::instance()->readSerial("/Serial"));
    if (!probes.iniMachine.empty()) {
        const QString board = PathManager::instance()->get(PATH_SERIAL);
        testsupport::makeDirs(Utils::fsPath(PathManager::instance()->get(PATH_CONFIG)));
        QSettings settings(QString::fromStdString(Utils::fsPath(board)), QSettings::IniFormat);
        settings.setValue("Machine", QString::fromStdString(probes.iniMachine));
        settings.sync();
    }
    return SystemManager::instance();
}

void SystemManagerTest::startWithUpdateServer(const std::string& dir,
                                              std::unique_ptr<testsupport::HttpsTestServer>& server,
                                              SystemManager*& manager)
{
    testsupport::makeDirs(dir + "/server");
    testsupport::makeDirs(dir + "/ca");
    server.reset(new testsupport::HttpsTestServer(dir + "/server", dir + "/ca"));
    ASSERT_TRUE(server->running()) << server->error();
    MachineProbes probes;
    probes.iniMachine = "TS-100-0042";
    manager = start(probes);
    manager->updateServer().setServers({server->baseUrl()});
    manager->updateServer().setCaFile(server->caFile());
}

void SystemManagerTest::makeVersionFolder(const QString& boardDir, const std::string& name)
{
    testsupport::makeDirs(Utils::fsPath(boardDir) + "/" + name);
}

bool SystemManagerTest::processEventsUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const long long deadline = testsupport::monotonicMs() + timeoutMs;
    while (!condition()) {
        if (testsupport::monotonicMs() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

std::string SystemManagerTest::logText()
{
    std::string text;
    const std::string dir = Utils::fsPath(PathManager::instance()->get(PATH_LOG));
    for (const QString& name : QDir(QString::fromStdString(dir)).entryList(QDir::Files))
        text += testsupport::readFile(dir + "/" + name.toStdString());
    return text;
}
