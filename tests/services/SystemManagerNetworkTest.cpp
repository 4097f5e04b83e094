// The system manager's network status, Wi-Fi password store, clock setting
// and the pipes to the companion processes.
#include "SystemManagerFixture.h"

#include "base/config/PathManager.h"
#include "base/config/SystemState.h"
#include "base/files/Utils.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "base/platform/SysIo.h"
#include "services/ProcessPipes.h"
#include "services/WifiPasswords.h"
#include "support/RecordingClock.h"
#include "support/TestChronyd.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"
#include "support/TmpfsMounts.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSettings>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

using testsupport::monotonicMs;
using testsupport::RecordingShell;
using testsupport::scratchRoot;

namespace {

typedef std::pair<NetStatus, NetStatus> Change; // new, previous

QString md5(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString passwordFile()
{
    return QString::fromStdString(Utils::fsPath(PathManager::instance()->get(PATH_WIFI_PASS)));
}

// A pipe of the board, made by the test; its path in the scratch root.
std::string makePipe(const char* boardPath)
{
    const std::string path = rootPath(boardPath);
    testsupport::makeDirs(path.substr(0, path.rfind('/')));
    mkfifo(path.c_str(), 0777);
    return path;
}

// Reads from fd until `count` bytes came, the writer closed or 5 s passed.
std::string readUpTo(int fd, size_t count)
{
    std::string bytes;
    const long long deadline = monotonicMs() + 5000;
    while (bytes.size() < count && monotonicMs() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

// Opens a pipe for writing once its reader is there (up to 5 s).
int openWriterWhenRead(const std::string& path)
{
    const long long deadline = monotonicMs() + 5000;
    int fd;
    while ((fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && monotonicMs() < deadline)
        usleep(1000);
    return fd;
}

// The board's hardware clock device, present or not.
class Rtc : public SysIo
{
public:
    explicit Rtc(bool present) : m_present(present) {}
    int open(const char* path, int flags, mode_t mode) override
    {
        if (strcmp(path, "/dev/rtc0") != 0)
            return SysIo::open(path, flags, mode);
        if (m_present)
            return SysIo::open("/dev/null", flags, mode);
        errno = ENOENT;
        return -1;
    }

private:
    bool m_present;
};

} // namespace

TEST_F(SystemManagerTest, NetStatusIsAnnouncedBeforeItIsStored)
{
    SystemManager* manager = start();
    std::vector<Change> changes;
    std::vector<NetStatus> storedWhenAnnounced;
    QObject::connect(manager, &SystemManager::sig_netStatusChanged, [&](NetStatus type, NetStatus pre) {
        changes.emplace_back(type, pre);
        storedWhenAnnounced.push_back(manager->netStatus());
    });
    m_shell.clear();

    manager->setNetStatus("eth0 dhcp", NET_ETH_DHCP);
    manager->setNetStatus("wlan0 Home", NET_WIFI);
    manager->setNetStatus("wlan0 Home", NET_WIFI);
    EXPECT_EQ(manager->ethInfo(), "eth0 dhcp");
    EXPECT_EQ(manager->wlanInfo(), "wlan0 Home");
    EXPECT_TRUE(m_shell.commands().empty());

    manager->setNetStatus("ignored", static_cast<NetStatus>(5));
    manager->setNetStatus("ignored", static_cast<NetStatus>(-1));
    EXPECT_EQ(changes.size(), 3u);
    EXPECT_EQ(manager->netStatus(), NET_WIFI);

    manager->setNetStatus("", NET_DISCONNECTED);
    EXPECT_EQ(changes, (std::vector<Change>{{NET_ETH_DHCP, NET_DISCONNECTED}, {NET_WIFI, NET_ETH_DHCP},
                                            {NET_WIFI, NET_WIFI}, {NET_DISCONNECTED, NET_WIFI}}));
    EXPECT_EQ(storedWhenAnnounced, (std::vector<NetStatus>{NET_DISCONNECTED, NET_ETH_DHCP, NET_WIFI, NET_WIFI}));
    EXPECT_EQ(manager->netStatus(), NET_DISCONNECTED);
    EXPECT_TRUE(manager->ethInfo().isEmpty());
    EXPECT_TRUE(manager->wlanInfo().isEmpty());
    EXPECT_TRUE(manager->currentIp().isEmpty());

    // Access point, then station, then Ethernet are stopped.
    const std::vector<std::string> commands = m_shell.commands();
    auto at = [&](const std::string& command) {
        return std::find(commands.begin(), commands.end(), command) - commands.begin();
    };
    ASSERT_LT(at("killall wpa_supplicant"), static_cast<long>(commands.size())) << commands.size();
    EXPECT_LT(at("killall hostapd"), at("killall wpa_supplicant"));
    EXPECT_LT(at("killall wpa_supplicant"), at("ip addr flush dev eth0"));
}

TEST_F(SystemManagerTest, NetStatusFromWorkerThreadsReachesTheGuiThreadInOrder)
{
    registerNetMetaTypes();
    SystemManager* manager = start();
    QObject receiver;
    std::vector<Change> changes;
    bool onGuiThread = true;
    QObject::connect(manager, &SystemManager::sig_netStatusChanged, &receiver, [&](NetStatus type, NetStatus pre) {
        onGuiThread = onGuiThread && QThread::currentThread() == receiver.thread();
        changes.emplace_back(type, pre);
    });

    const int perThread = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([manager, t] {
            for (int i = 0; i < perThread; ++i) {
                const NetStatus status = static_cast<NetStatus>(1 + (t + i) % 4);
                manager->setNetStatus(QString("info %1").arg(i), status);
                (void)manager->ethInfo();
                (void)manager->currentIp();
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    ASSERT_TRUE(processEventsUntil([&] { return changes.size() == 4u * perThread; }));
    EXPECT_TRUE(onGuiThread);
    // Each announcement names the status the one before it stored.
    EXPECT_EQ(changes.front().second, NET_DISCONNECTED);
    for (size_t i = 1; i < changes.size(); ++i)
        ASSERT_EQ(changes[i].second, changes[i - 1].first) << i;
    EXPECT_EQ(manager->netStatus(), changes.back().first);
}

TEST_F(SystemManagerTest, WifiPasswordsOfEveryLengthComeBackAsSaved)
{
    SystemManager* manager = start();
    const QString all = QString::fromUtf8("pässwörd ^12");
    for (int length = 0; length <= 12; ++length) {
        const QString password = all.left(length);
        const std::string ssid = "net " + std::to_string(length);
        manager->saveWifiPassword(ssid, password);
        EXPECT_EQ(manager->loadWifiPassword(ssid), password) << length;
    }
    // Blanks of the user's own at the end are kept.
    manager->saveWifiPassword("blanks", "ab  ");
    EXPECT_EQ(manager->loadWifiPassword("blanks"), "ab  ");
    manager->saveWifiPassword("one", " ");
    EXPECT_EQ(manager->loadWifiPassword("one"), " ");

    EXPECT_EQ(manager->loadWifiPassword("never saved"), "");
    manager->removeWifiPassword("net 8");
    EXPECT_EQ(manager->loadWifiPassword("net 8"), "");
    // A name that addresses no entry must not wipe the store.
    manager->removeWifiPassword("");
    manager->removeWifiPassword("/");
    EXPECT_EQ(manager->loadWifiPassword("net 9"), all.left(9));
}

TEST_F(SystemManagerTest, WifiPasswordFilesKeepTheirStoredFormat)
{
    SystemManager* manager = start();
    const QString digest = md5("secret99");
    manager->saveWifiPassword("Home Net", "secret99");
    {
        QSettings file(passwordFile(), QSettings::IniFormat);
        EXPECT_EQ(file.value("Home Net").toString(), "sec" + digest.left(5) + "r" + digest.right(5) + "et99");
    }
    EXPECT_EQ(wrapWifiPassword("ab"), "ab " + md5("ab").left(5) + " " + md5("ab").right(5));
    EXPECT_EQ(wrapWifiPassword(""), "   " + md5("").left(5) + " " + md5("").right(5));

    // A file as a machine in the field wrote it, short password included.
    testsupport::writeFile(passwordFile().toStdString(),
                           "[General]\nWorkshop=" + ("abc" + md5("abcd").left(5) + "d" + md5("abcd").right(5)).toStdString() +
                               "\nShort=" + wrapWifiPassword("xy").toStdString() + "\nEmpty=\n");
    EXPECT_EQ(manager->loadWifiPassword("Workshop"), "abcd");
    EXPECT_EQ(manager->loadWifiPassword("Short"), "xy");
    EXPECT_EQ(manager->loadWifiPassword("Empty"), "");
}

TEST_F(SystemManagerTest, WifiPasswordsOfNamesThatDifferInSlashesOrEscapesStayApart)
{
    SystemManager* manager = start();
    const std::vector<std::pair<std::string, QString>> networks = {
        {"Lab/2.4GHz", "first one"},  {"Lab//2.4GHz", "second one"}, {"Lab/2.4GHz/", "third one"},
        {"/Lab/2.4GHz", "fourth one"}, {"/", "fifth one"},            {"Lab%2F2.4GHz", "sixth one"},
        {"Lab%252F2.4GHz", "seventh"}, {"Lab\\2.4GHz", "eighth"},    {"General", "ninth"},
    };
    for (const auto& [ssid, password] : networks)
        manager->saveWifiPassword(ssid, password);
    for (const auto& [ssid, password] : networks)
        EXPECT_EQ(manager->loadWifiPassword(ssid), password) << ssid;

    manager->removeWifiPassword("Lab//2.4GHz");
    EXPECT_EQ(manager->loadWifiPassword("Lab//2.4GHz"), "");
    EXPECT_EQ(manager->loadWifiPassword("Lab/2.4GHz"), "first one");
    EXPECT_EQ(manager->loadWifiPassword("Lab/2.4GHz/"), "third one");
    // Names without a slash or a percent sign keep the key they always had.
    QSettings file(passwordFile(), QSettings::IniFormat);
    EXPECT_EQ(unwrapWifiPassword(file.value("General").toString()), "ninth");
}

// Keys of different forms can coincide: "a%2Fb" is the key of "a/b" today and
// was the key of a network named "a%2Fb" before; "/Home" was kept under "Home";
// a key "Lab" heads the entries of "Lab/..." names. Each network reads and
// forgets its own entry only.
TEST_F(SystemManagerTest, WifiPasswordsForgottenForOneNetworkStayForAnother)
{
    SystemManager* manager = start();
    {
        testsupport::makeDirs(Utils::fsPath(PathManager::instance()->get(PATH_CONFIG)));
        QSettings old(passwordFile(), QSettings::IniFormat);
        old.setValue("Lab/5GHz", wrapWifiPassword("older form"));
        old.sync();
    }
    EXPECT_TRUE(manager->saveWifiPassword("a/b", "slashed"));
    EXPECT_TRUE(manager->saveWifiPassword("Home", "plain"));
    EXPECT_TRUE(manager->saveWifiPassword("Lab", "short name"));
    for (const char* other : {"a%2Fb", "/Home", "Home/", "//Home"}) {
        EXPECT_EQ(manager->loadWifiPassword(other), "") << other;
        EXPECT_TRUE(manager->removeWifiPassword(other)) << other;
    }
    EXPECT_TRUE(manager->removeWifiPassword("Lab"));
    EXPECT_EQ(manager->loadWifiPassword("a/b"), "slashed");
    EXPECT_EQ(manager->loadWifiPassword("Home"), "plain");
    EXPECT_EQ(manager->loadWifiPassword("Lab"), "");
    EXPECT_EQ(manager->loadWifiPassword("Lab/5GHz"), "older form");
}

// A password that did not reach the disk is reported, and reads back as the
// disk holds it, not as if it had been saved. A line of the file that cannot
// be read is no failed write.
TEST_F(SystemManagerTest, WifiPasswordsThatCannotBeWrittenAreNotTakenAsSaved)
{
    RUN_IN_TEST_NAMESPACES([&] {
        testsupport::TmpfsMounts mounts;
        const std::string folder = Utils::fsPath(PathManager::instance()->get(PATH_CONFIG));
        testsupport::makeDirs(folder);
        ASSERT_EQ(0, mounts.mount("tmpfs", PathManager::instance()->get(PATH_CONFIG).toStdString(), "tmpfs", 0,
                                  "size=256k"))
            << strerror(errno);
        SystemManager* manager = start();
        // QSettings meets a bad line of a section it has not read only as it writes.
        std::ofstream(passwordFile().toStdString()) << "[General]\nOther=x\n[Lab]\n5GHz=y\nbroken line\n";
        EXPECT_TRUE(manager->saveWifiPassword("Home", "at home"));
        EXPECT_EQ(manager->loadWifiPassword("Home"), "at home");
        std::ofstream(passwordFile().toStdString()) << "[General]\nbroken line\n";
        EXPECT_TRUE(manager->removeWifiPassword("Never saved")); // nothing to write
        const auto addBadLine = [&] {
            std::ofstream(passwordFile().toStdString(), std::ios::app) << "a line without a key\n";
        };
        addBadLine();
        ASSERT_TRUE(manager->saveWifiPassword("Workshop", "first"));
        EXPECT_EQ(manager->loadWifiPassword("Workshop"), "first");
        addBadLine();
        // Fill the folder's file system to the last byte.
        const int filler = open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_LE(0, filler);
        const std::string block(4096, 'f');
        while (write(filler, block.data(), block.size()) > 0) {
        }
        close(filler);

        EXPECT_FALSE(manager->saveWifiPassword("Workshop", "second"));
        EXPECT_FALSE(manager->saveWifiPassword("Lab", "new one"));
        EXPECT_FALSE(manager->removeWifiPassword("Workshop"));
        EXPECT_EQ(manager->loadWifiPassword("Workshop"), "first");
        EXPECT_EQ(manager->loadWifiPassword("Lab"), "");

        // With room again, saving works as before.
        ASSERT_EQ(0, unlink((folder + "/filler").c_str()));
        EXPECT_TRUE(manager->saveWifiPassword("Lab", "new one"));
        EXPECT_EQ(manager->loadWifiPassword("Lab"), "new one");
        EXPECT_EQ(manager->loadWifiPassword("Workshop"), "first");
    });
}

TEST_F(SystemManagerTest, WifiPasswordsOfOlderFilesStillLoadAndAreForgottenWhole)
{
    SystemManager* manager = start();
    {
        // Written as earlier versions did, with the name as the key.
        testsupport::makeDirs(Utils::fsPath(PathManager::instance()->get(PATH_CONFIG)));
        QSettings old(passwordFile(), QSettings::IniFormat);
        old.setValue("Lab/5GHz", wrapWifiPassword("slashed"));
        old.setValue("50%off", wrapWifiPassword("percent"));
        old.setValue("Home Net", wrapWifiPassword("plain"));
        old.sync();
    }
    EXPECT_EQ(manager->loadWifiPassword("Lab/5GHz"), "slashed");
    EXPECT_EQ(manager->loadWifiPassword("50%off"), "percent");
    EXPECT_EQ(manager->loadWifiPassword("Home Net"), "plain");

    // Saved again, the new entry wins; forgotten, neither form remains.
    manager->saveWifiPassword("Lab/5GHz", "renewed");
    EXPECT_EQ(manager->loadWifiPassword("Lab/5GHz"), "renewed");
    manager->removeWifiPassword("Lab/5GHz");
    manager->removeWifiPassword("50%off");
    EXPECT_EQ(manager->loadWifiPassword("Lab/5GHz"), "");
    EXPECT_EQ(manager->loadWifiPassword("50%off"), "");
    EXPECT_EQ(manager->loadWifiPassword("Home Net"), "plain");
}

TEST_F(SystemManagerTest, WifiPasswordFileIsReadableByItsOwnerOnly)
{
    SystemManager* manager = start();
    auto modeOf = [](const QString& path) {
        struct stat info{};
        EXPECT_EQ(0, stat(path.toStdString().c_str(), &info));
        return info.st_mode & 07777;
    };
    manager->saveWifiPassword("Workshop", "secret99");
    EXPECT_EQ(modeOf(passwordFile()), 0600u);

    // A file an earlier version left readable by all is closed at the next use.
    ASSERT_EQ(0, chmod(passwordFile().toStdString().c_str(), 0644));
    EXPECT_EQ(manager->loadWifiPassword("Workshop"), "secret99");
    EXPECT_EQ(modeOf(passwordFile()), 0600u);
    ASSERT_EQ(0, chmod(passwordFile().toStdString().c_str(), 0644));
    manager->saveWifiPassword("Lab", "another");
    EXPECT_EQ(modeOf(passwordFile()), 0600u);
    EXPECT_EQ(manager->loadWifiPassword("Workshop"), "secret99");
    manager->removeWifiPassword("Lab");
    EXPECT_EQ(modeOf(passwordFile()), 0600u);

    // Its folder, left open to all by someone else, is closed to others; one
    // made anew is closed under any umask.
    const QString folder = QFileInfo(passwordFile()).absolutePath();
    ASSERT_EQ(0, chmod(folder.toStdString().c_str(), 0777));
    EXPECT_TRUE(manager->saveWifiPassword("Workshop", "secret99"));
    EXPECT_EQ(modeOf(folder), 0755u);
    ASSERT_TRUE(Utils::removeDir(PathManager::instance()->get(PATH_CONFIG)));
    const mode_t mask = umask(0);
    EXPECT_TRUE(manager->saveWifiPassword("Workshop", "secret99"));
    umask(mask);
    EXPECT_EQ(modeOf(folder), 0755u);
    EXPECT_EQ(modeOf(passwordFile()), 0600u);
}

TEST_F(SystemManagerTest, ClockSyncTriesEveryServerAndReportsAClockThatWasNotSet)
{
    SystemManager* manager = start();
    RUN_IN_TEST_NAMESPACES([manager] {
        // Nothing listens on these loopback addresses of the namespace: each refuses at once.
        std::vector<std::string> servers;
        for (int i = 1; i <= 9; ++i)
            servers.push_back("127.0.0." + std::to_string(i + 1));
        manager->setNtpServers(servers);
        {
            testsupport::RecordingClock clock;
            testing::internal::CaptureStdout();
            const long long start = monotonicMs();
            EXPECT_EQ(manager->syncNtpTime(), -1);
            EXPECT_LT(monotonicMs() - start, 9000);
            const std::vector<std::string> lines = testsupport::splitLines(testing::internal::GetCapturedStdout());
            ASSERT_EQ(lines.size(), 9u);
            for (int i = 0; i < 9; ++i)
                EXPECT_EQ(lines[i], "sync clock with " + std::to_string(i) + "[" + servers[i] + "] failed");
            EXPECT_TRUE(clock.settings().empty());
        }

        testsupport::TestChronyd chronyd(123, 10);
        ASSERT_TRUE(chronyd.serving()) << chronyd.why();
        servers.back() = "127.0.0.1";
        manager->setNtpServers(servers);
        {
            testsupport::RecordingClock clock;
            testing::internal::CaptureStdout();
            EXPECT_EQ(manager->syncNtpTime(), 0);
            EXPECT_NE(testing::internal::GetCapturedStdout().find("update NTP Time..\n Now Systime Is ["),
                      std::string::npos);
            ASSERT_EQ(clock.settings().size(), 1u);
            EXPECT_NEAR(static_cast<double>(clock.settings()[0].tv_sec), static_cast<double>(time(nullptr)), 5.0);
        }
        // The real clock refuses under the scratch root: that is a failure.
        testing::internal::CaptureStdout();
        EXPECT_EQ(manager->syncNtpTime(), -1);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("set system clock failed"), std::string::npos);
    });
}

TEST_F(SystemManagerTest, HardwareClockIsWrittenOnlyWhenThereIsOne)
{
    SystemManager* manager = start();
    m_shell.clear();
    {
        Rtc io(false);
        ScopedPlatform use(&io);
        EXPECT_EQ(manager->writeRtc(), ENOENT);
        EXPECT_TRUE(m_shell.commands().empty());
    }
    Rtc io(true);
    ScopedPlatform use(&io);
    m_shell.script("hwclock", RecordingShell::exitStatus(3));
    EXPECT_EQ(manager->writeRtc(), RecordingShell::exitStatus(3));
    EXPECT_EQ(m_shell.commands(), std::vector<std::string>{"hwclock  -w -u;"});
}

TEST_F(SystemManagerTest, ProcessManagerPipeWithAndWithoutItsReader)
{
    SystemManager* manager = start();
    const std::string path = makePipe(processpipes::kProcessManagerPipe);

    testing::internal::CaptureStdout();
    const long long start = monotonicMs();
    EXPECT_EQ(manager->writeProcessManager("restart"), -1);
    EXPECT_LT(monotonicMs() - start, 2000);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "open FIFO failed\n");

    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(manager->writeProcessManager("restart app"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "11 char is written! It's restart app\n");
    EXPECT_EQ(readUpTo(reader, 100), "restart app");

    // More than the pipe holds, and the reader leaves: the write fails, the process lives.
    std::thread leaving([reader] {
        usleep(200000);
        close(reader);
    });
    EXPECT_EQ(manager->writeProcessManager(QString(1 << 20, 'x')), -1);
    leaving.join();
}

TEST_F(SystemManagerTest, ProcessManagerPipeIsMadeWhenMissingAndNothingElseIsWrittenInto)
{
    SystemManager* manager = start();
    const std::string path = rootPath(processpipes::kProcessManagerPipe);
    testsupport::makeDirs(path.substr(0, path.rfind('/')));
    testing::internal::CaptureStdout();
    EXPECT_EQ(manager->writeProcessManager("x"), -1);
    testing::internal::GetCapturedStdout();
    struct stat info{};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    unlink(path.c_str());
    testsupport::writeFile(path, "keep");
    testing::internal::CaptureStdout();
    EXPECT_EQ(manager->writeProcessManager("x"), -1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(testsupport::readFile(path), "keep");
}

TEST_F(SystemManagerTest, ShellRunnerAnswersWithItsStatus)
{
    SystemManager* manager = start();
    EXPECT_EQ(manager->ipcSystem("ls"), -1); // no runner

    const std::string in = makePipe(processpipes::kRunnerInPipe);
    const std::string out = makePipe(processpipes::kRunnerOutPipe);
    // A runner that answers `answer` (its bytes) to each command it reads.
    auto runner = [&](const std::string& answer, std::string* command) {
        const int fd = open(in.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        return std::thread([fd, answer, command, out] {
            *command = readUpTo(fd, 100);
            close(fd);
            const int reply = openWriterWhenRead(out);
            if (reply >= 0 && !answer.empty())
                (void)write(reply, answer.data(), answer.size());
            usleep(answer.empty() ? 500000 : 0);
            close(reply);
        });
    };

    std::string command;
    const int32_t status = 7 << 8;
    std::thread answering = runner(std::string(reinterpret_cast<const char*>(&status), 4), &command);
    EXPECT_EQ(manager->ipcSystem("mount -a"), status);
    answering.join();
    EXPECT_EQ(command, "mount -a");

    std::thread shortAnswer = runner("ab", &command);
    EXPECT_EQ(processpipes::ipcSystem("df", 3000), -1);
    shortAnswer.join();

    std::thread silent = runner("", &command);
    const long long start = monotonicMs();
    EXPECT_EQ(processpipes::ipcSystem("sync", 200), -1);
    EXPECT_LT(monotonicMs() - start, 3000);
    silent.join();
}
