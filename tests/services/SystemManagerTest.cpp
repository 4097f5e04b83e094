// The system manager: one object with one state, its signals and meta-types,
// versions and identity from the machine's probes and files, the small
// system operations.
#include "SystemManagerFixture.h"

#include "base/config/ConfigStore.h"
#include "base/config/PathManager.h"
#include "base/config/SystemState.h"

#include <QMetaMethod>
#include <QMetaType>
#include <QStringList>

#include <algorithm>

using namespace nvupserver;

TEST_F(SystemManagerTest, SignalsKeepTheirIndexOrder)
{
    const QMetaObject* meta = &SystemManager::staticMetaObject;
    QStringList signalsInOrder;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        if (meta->method(i).methodType() == QMetaMethod::Signal)
            signalsInOrder << QString::fromLatin1(meta->method(i).methodSignature());
    EXPECT_EQ((QStringList{"sig_usbPathChanged(QString)", "sig_languageChanged()", "sig_machineNameChange(QString)",
                           "sig_netStatusChanged(NetStatus,NetStatus)",
                           "sig_downloadProgress(nvupserver::PackageType,double,double)",
                           "sig_downloadErr(int,std::string)", "sig_downloadedMsg(QString)",
                           "sig_downloadedRet(bool)", "sig_checkUpdate(bool)"}),
              signalsInOrder);
}

TEST_F(SystemManagerTest, OneObjectOverTheOneState)
{
    SystemManager* manager = start();
    EXPECT_EQ(manager, SystemManager::instance());
    for (const char* name : {"nvupserver::PackageUpdateInfo", "nvupserver::PackageInfoList",
                             "nvupserver::PackageType", "std::string"})
        EXPECT_NE(QMetaType::UnknownType, QMetaType::type(name)) << name;

    QStringList seen;
    QObject::connect(manager, &SystemManager::sig_usbPathChanged, [&seen](QString path) { seen << path; });
    // Whoever changes the state, the manager announces it and reads it back.
    SystemState::instance()->setUsbPath("/media/sda1");
    manager->setUsbPath("/media/sda1");
    manager->setUsbPath("");
    EXPECT_EQ((QStringList{"/media/sda1", ""}), seen);
    SystemState::instance()->setCodePage("936");
    EXPECT_EQ("936", manager->codePage());
    SystemState::instance()->exchangeNetStatus(NET_WIFI);
    EXPECT_EQ(NET_WIFI, manager->netStatus());
}

TEST_F(SystemManagerTest, VersionsFromTheProbes)
{
    PathManager* paths = PathManager::instance();
    makeVersionFolder(paths->get(PATH_PROJECT), "2.1.5-rc1");
    makeVersionFolder(paths->get(PATH_PROJECT), "2.1.4");
    makeVersionFolder(paths->get(PATH_LIBRARY), "1.3.7");
    MachineProbes probes;
    probes.kernelField = "V1.2+";
    probes.memTotal = "101000";
    SystemManager* manager = start(probes);

    // Not 2.1.51, which would look newer than 2.1.6 to the update service.
    EXPECT_EQ("2.1.5", manager->firmwareVersion());
    EXPECT_EQ("1.3.7", manager->libraryVersion());
    EXPECT_EQ("1.2", manager->kernelVersion());
    EXPECT_EQ("1.0.0", manager->hardwareVersion());
    EXPECT_EQ("", manager->controlVersion(false));

    PkgVersionInfo info;
    manager->getVersion(PACKAGE_KERNEL, info);
    EXPECT_EQ(PACKAGE_KERNEL, info.type);
    EXPECT_EQ((std::vector<int>{1, 0, 2}), (std::vector<int>{info.major, info.minor, info.patch}));
    manager->getVersion(PACKAGE_CONTROL, info);
    EXPECT_EQ((std::vector<int>{1, 0, 0}), (std::vector<int>{info.major, info.minor, info.patch}));
    manager->getVersion(PACKAGE_LIBRARY, info);
    EXPECT_EQ((std::vector<int>{1, 3, 7}), (std::vector<int>{info.major, info.minor, info.patch}));
    manager->getVersion(PACKAGE_SOFTWARE, info);
    EXPECT_EQ((std::vector<int>{2, 1, 5}), (std::vector<int>{info.major, info.minor, info.patch}));
    EXPECT_EQ(0, info.buildTime);

    // The probes are asked through the shell seam, with their own command lines.
    const std::vector<std::string> commands = m_shell.commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), " uname  -r | awk -F '[-]' '{print $4}' "), commands.end());
    EXPECT_NE(std::find(commands.begin(), commands.end(),
                        "cat /proc/meminfo  | grep  \"MemTotal:\" | awk '{print $2}'"),
              commands.end());
}

TEST_F(SystemManagerTest, OddProbeAnswers)
{
    PathManager* paths = PathManager::instance();
    makeVersionFolder(paths->get(PATH_PROJECT), "v2.x.y"); // three parts, none a number
    MachineProbes probes;
    probes.kernelField = ""; // a release without a fourth field
    probes.memTotal = "lots";
    SystemManager* manager = start(probes);
    EXPECT_EQ("", manager->kernelVersion());
    EXPECT_EQ("2.0.0", manager->hardwareVersion());
    EXPECT_EQ("", manager->firmwareVersion());
    EXPECT_NE(logText().find("Error Firmware Version"), std::string::npos);

    PkgVersionInfo info;
    info.major = info.minor = info.patch = 9;
    manager->getVersion(PACKAGE_KERNEL, info);
    EXPECT_EQ((std::vector<int>{0, 0, 0}), (std::vector<int>{info.major, info.minor, info.patch}));
    manager->getVersion(PACKAGE_SOFTWARE, info);
    EXPECT_EQ((std::vector<int>{0, 0, 0}), (std::vector<int>{info.major, info.minor, info.patch}));

    m_shell.script(" uname", 0, "V12+\n");
    manager->getVersion(PACKAGE_KERNEL, info);
    EXPECT_EQ("12", manager->kernelVersion());
    EXPECT_EQ((std::vector<int>{0, 0, 0}), (std::vector<int>{info.major, info.minor, info.patch}));

    // Memory counts beyond 32 bits, and the boundary.
    for (const auto& [total, version] : std::vector<std::pair<std::string, QString>>{
             {"100999", "2.0.0"}, {"101000", "1.0.0"}, {"8589934592", "1.0.0"}, {"-5", "2.0.0"}, {"", "2.0.0"}}) {
        m_shell.script("cat /proc/meminfo", 0, total + "\n");
        EXPECT_EQ(version, manager->getMemSize()) << total;
    }
    // A probe that cannot be started gives the defaults.
    m_shell.script(" uname", -1);
    m_shell.script("cat /proc/cpuinfo", -1);
    m_shell.script("cat /proc/meminfo", -1);
    EXPECT_EQ("000", manager->getKernelRevision());
    EXPECT_EQ("00000000", manager->getCPUSerial());
    EXPECT_EQ("2.0.0", manager->getMemSize());
}

TEST_F(SystemManagerTest, IdentityFromTheSerialFiles)
{
    MachineProbes probes;
    probes.machineSerial = "SN0042";
    probes.cpuSerial = "0000000000001a2b";
    probes.iniMachine = "TS-100-0042";
    SystemManager* manager = start(probes);
    // Last two of the machine serial, the last eight of the CPU serial, upper case.
    EXPECT_EQ("4200001A2B", manager->uniqueId());

    std::string serial = "7";
    QString cpu = "ab";
    manager->getUniqueID(serial, cpu);
    EXPECT_EQ("7ABFFFFFF", manager->uniqueId());
    serial = "";
    cpu = "1o2b";
    manager->getUniqueID(serial, cpu);
    EXPECT_EQ("001Q2BFFFF", manager->uniqueId());
}

TEST_F(SystemManagerTest, SmallSystemOperations)
{
    SystemManager* manager = start();
    EXPECT_EQ("", manager->factoryFlagFile());
    manager->setUsbPath("/media/sda1");
    EXPECT_EQ("/media/sda1/factory_flag", manager->factoryFlagFile());

    m_shell.clear();
    manager->dropCaches();
    EXPECT_EQ(0, manager->startDebugServices());
    EXPECT_EQ((std::vector<std::string>{"sync;echo 1 > /proc/sys/vm/drop_caches", "/usr/sbin/sshd",
                                        "/etc/init.d/S50telnet  restart"}),
              m_shell.commands());

    PrinterConfig& printer = ConfigStore::instance()->m_printerConfig;
    printer.Width = 144;
    printer.Height = 81;
    printer.ZLength = 150;
    EXPECT_EQ("1.44x0.81x1.5", manager->machineSizeText());
    QStringList names;
    QObject::connect(manager, &SystemManager::sig_machineNameChange, [&names](QString name) { names << name; });
    manager->setMachineName("bench");
    EXPECT_EQ(QStringList{"bench"}, names);
}
