// The configuration files: their exact text, loading at start, and bad input.
#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <random>

using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::readFile;
using testsupport::scratchRoot;
using testsupport::writeFile;

namespace {

const char kGeneralDefault[] = R"({
   "ConsoleOutput" : false,
   "DoorFlag" : false,
   "EthInterfaceUIFlag" : true,
   "KeyToneFlag" : false,
   "Language" : "en_US",
   "LogLevel" : 1,
   "PrinterName" : "Talvik S",
   "TestNetFlag" : false,
   "WifiFlag" : false,
   "WifiUIFlag" : true
}
/* Printer General Config */

)";

const char kPrintingParaDefault[] = "{\n"
                                    "   \"BaseLayerSpeed\" : {\n"
                                    "      \"Drop_V\" : 1.0,\n"
                                    "      \"Lift_V\" : 0.5\n"
                                    "   },\n"
                                    "   \"Distance\" : {\n"
                                    "      \"FinishOverLift\" : 75,\n"
                                    "      \"PauseOverLift\" : 75\n"
                                    "   },\n"
                                    "   \"Name\" : \"\",\n"
                                    "   \"NormalLayerSpeed\" : {\n"
                                    "      \"DropI\" : {\n"
                                    "         \"A\" : 4.0,\n"
                                    "         \"D\" : 5.0,\n"
                                    "         \"V\" : 8.0,\n"
                                    "         \"X\" : 4.0\n"
                                    "      },\n"
                                    "      \"DropII\" : {\n"
                                    "         \"A\" : 0.5,\n"
                                    "         \"D\" : 0.5,\n"
                                    "         \"V\" : 2.0,\n"
                                    "         \"X\" : 2.0\n"
                                    "      },\n"
                                    "      \"LiftI\" : {\n"
                                    "         \"A\" : 0.10000000149011612,\n"
                                    "         \"D\" : 0.10000000149011612,\n"
                                    "         \"V\" : 1.0,\n"
                                    "         \"X\" : 2.0\n"
                                    "      },\n"
                                    "      \"LiftII\" : {\n"
                                    "         \"A\" : 4.0,\n"
                                    "         \"D\" : 5.0,\n"
                                    "         \"V\" : 8.0,\n"
                                    "         \"X\" : 4.0\n"
                                    "      }\n"
                                    "   },\n"
                                    "   \"WaitTime\" : {\n"
                                    "      \"BaseSettleLayer\" : 20,\n"
                                    "      \"BaseSettleTime\" : 8000,\n"
                                    "      \"BaseSettleTransLayer\" : 0,\n"
                                    "      \"BreatheTime\" : 100,\n"
                                    "      \"ReleaseTime\" : 200,\n"
                                    "      \"SettleTime\" : 1000\n"
                                    "   }\n"
                                    "}\n"
                                    "/* Printing Para \n"
                                    "\tA(acceleration):\t No unit\n"
                                    "\tD(develeration):\t No unit\n"
                                    "\tV(velocity):\t mm/s\n"
                                    "\tX(distance):\t mm\n"
                                    "*/\n"
                                    "\n";

std::string etc(const std::string& name)
{
    return scratchRoot() + "/data/etc/" + name;
}

// 0 when every file was saved.
int saveAll(ConfigStore& store)
{
    return store.saveGeneral() | store.savePrinterConfig() | store.saveUsedTime() | store.savePrintingPara() |
           store.savePrintingParaFast() | store.saveSerial() | store.saveWiFiConfig() | store.saveLightIntensity();
}

// The writes, flushes and renames of files in one folder, in the order they
// reach the seam, each with the file's name ("write .UsedTime.json.Ab12Cd").
class DurabilitySteps : public SysIo
{
public:
    explicit DurabilitySteps(std::string folder) : m_folder(std::move(folder)) {}

    ssize_t write(int fd, const void* buffer, size_t count) override
    {
        note("write", pathOf(fd));
        return SysIo::write(fd, buffer, count);
    }
    int fsync(int fd) override
    {
        note("fsync", pathOf(fd));
        return SysIo::fsync(fd);
    }
    int rename(const char* from, const char* to) override
    {
        note("rename", std::string(from) + " " + to);
        return SysIo::rename(from, to);
    }

    // Repeated writes of one file count once; the folder itself is ".".
    std::vector<std::string> steps() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_steps;
    }

private:
    static std::string pathOf(int fd)
    {
        char target[4096] = {};
        const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
        return n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
    }
    void note(const std::string& call, std::string paths)
    {
        if (paths.compare(0, m_folder.size(), m_folder) != 0)
            return;
        if (paths == m_folder)
            paths = ".";
        for (size_t at; (at = paths.find(m_folder + "/")) != std::string::npos;)
            paths.erase(at, m_folder.size() + 1);
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::string step = call + " " + paths;
        if (m_steps.empty() || m_steps.back() != step || call != "write")
            m_steps.push_back(step);
    }

    const std::string m_folder;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_steps;
    ScopedPlatform m_installed{this}; // last: gone first
};

class ConfigFiles : public ::testing::Test
{
protected:
    void SetUp() override { makeDirs(etc("")); }

    ConfigStore& store = *ConfigStore::instance();
};

} // namespace

TEST_F(ConfigFiles, FirstStartWritesEveryFileWithItsDefaults)
{
    store.load("/data/etc");

    EXPECT_EQ(kGeneralDefault, readFile(etc("General.json")));
    EXPECT_EQ(kPrintingParaDefault, readFile(etc("PrintingPara.json")));
    EXPECT_EQ("null\n", readFile(etc("LightIntensitySTA.json")));
    EXPECT_EQ("{\n   \"machineSelrial\" : \"\"\n}\n", readFile(etc("Serial")));
    EXPECT_EQ("{\n   \"HotspotPWD\" : \"\",\n   \"HotspotSSID\" : \"\",\n   \"WifiStatus\" : 0\n}\n",
              readFile(etc("WiFiConfig.json")));
    EXPECT_EQ("{\n   \"LightTime\" : 0,\n   \"PrintLayer\" : 0,\n   \"PrintTime\" : 0\n}\n/* Printer Used Time */\n\n",
              readFile(etc("UsedTime.json")));
    const std::string printer = readFile(etc("PrinterConfig.json"));
    EXPECT_NE(std::string::npos, printer.find("   \"LimitValue\" : {\n      \"PrintLayerLimit\" : 15000\n   },\n"));
    EXPECT_NE(std::string::npos, printer.find("\n}\n/* Printer Config */\n\n"));
    EXPECT_EQ(std::string::npos, printer.find("ImageChannel"));
    const std::string fast = readFile(etc("PrintingPara_Fast.json"));
    EXPECT_NE(std::string::npos, fast.find("\"Name\" : \"fast_mode\""));

    EXPECT_EQ("/data/etc/General.json", store.filePath(ConfigStore::FILE_GENERAL));
    EXPECT_EQ("/data/etc/LightIntensitySTA.json", store.filePath(ConfigStore::FILE_LIGHT_INTENSITY));
}

TEST_F(ConfigFiles, MissingKeysKeepTheirValuesAndTheFileGainsThem)
{
    writeFile(etc("General.json"), "{ \"LogLevel\" : 3 }");
    writeFile(etc("PrinterConfig.json"), "{ \"ZLength\" : 150.7, \"ImageChannel\" : 3, \"ZMotor\" : { \"Pitch\" : 4000 } }");
    store.load("/data/etc");

    EXPECT_EQ(3, store.m_general.LogLevel);
    EXPECT_EQ("Talvik S", store.m_general.PrinterName);
    EXPECT_EQ(std::string(kGeneralDefault).replace(std::string(kGeneralDefault).find("\"LogLevel\" : 1"), 14,
                                                   "\"LogLevel\" : 3"),
              readFile(etc("General.json")));

    EXPECT_EQ(150.0f, store.m_printerConfig.ZLength); // whole millimetres
    EXPECT_EQ(1, store.m_printerConfig.ImageChannel); // never read from the file
    EXPECT_EQ(4000u, store.m_printerConfig.Pitch);
    EXPECT_EQ(2.0f, store.m_printerConfig.MotorParaI.A);
    EXPECT_EQ(75u, store.m_printingPara.PauseOverLift); // not recomputed from the file's Z travel
}

TEST_F(ConfigFiles, AFileThatDoesNotParseIsKeptAsBadAndReplaced)
{
    writeFile(etc("UsedTime.json"), "{ \"PrintTime\" : 12,");
    writeFile(etc("Serial"), "[\"a root that is not an object\"]");
    store.load("/data/etc");

    EXPECT_EQ("{ \"PrintTime\" : 12,", readFile(etc("UsedTime.json.bad")));
    EXPECT_EQ(0u, store.m_usedTime.PrintTime);
    EXPECT_NE(std::string::npos, readFile(etc("UsedTime.json")).find("\"PrintTime\" : 0"));
    EXPECT_TRUE(fileExists(etc("Serial.bad")));
    EXPECT_FALSE(fileExists(etc("General.json.bad")));
}

TEST_F(ConfigFiles, ChangesSurviveARestartAndShorterTextsLeaveNoTrace)
{
    store.load("/data/etc");
    store.m_printerConfig.Reverse = true;
    store.m_printerConfig.ZLength = 120.0f;
    store.m_general.PrinterName = "A much longer printer name than before";
    ASSERT_EQ(0, store.savePrinterConfig());
    ASSERT_EQ(0, store.saveGeneral());
    store.m_general.PrinterName = "P";
    ASSERT_EQ(0, store.saveGeneral());

    ConfigStore restarted;
    restarted.load("/data/etc");
    EXPECT_TRUE(restarted.m_printerConfig.Reverse);
    EXPECT_EQ(120.0f, restarted.m_printerConfig.ZLength);
    EXPECT_EQ(75u, restarted.m_printingPara.FinishOverLift);
    EXPECT_EQ("P", restarted.m_general.PrinterName);
    EXPECT_EQ(std::string::npos, readFile(etc("General.json")).find("longer"));
}

TEST_F(ConfigFiles, CommentsAndTextAfterTheObjectAreIgnored)
{
    const std::string text = "// first\n{ /* inside */ \"LogLevel\" : 2, // end of line\n"
                             "\"Language\" : \"de_DE\" }\n/* Printer General Config */\n";
    writeFile(etc("General.json"), text);
    EXPECT_EQ(0, store.readGeneral("/data/etc/General.json"));
    EXPECT_EQ(2, store.m_general.LogLevel);
    EXPECT_EQ("de_DE", store.m_general.Language);

    // A stray edit after the object, however deep it nests: the object is
    // still the configuration.
    for (const std::string& after : {std::string("trailing words { ]"), std::string("{ \"LogLevel\" : 3 }"),
                                     std::string(70, '[')}) {
        writeFile(etc("General.json"), "{ \"LogLevel\" : 4 }\n/* c */\n" + after);
        EXPECT_EQ(0, store.readGeneral("/data/etc/General.json")) << after;
        EXPECT_EQ(4, store.m_general.LogLevel) << after;
        store.m_general.LogLevel = 2;
    }

    // At start such a file is read, not put aside: the lamp hours go on.
    writeFile(etc("UsedTime.json"), "{ \"LightTime\" : 123456 }\n/* Printer Used Time */\nx");
    store.load("/data/etc");
    EXPECT_EQ(123456u, store.m_usedTime.LightTime);
    EXPECT_FALSE(fileExists(etc("UsedTime.json.bad")));
    EXPECT_NE(std::string::npos, readFile(etc("UsedTime.json")).find("\"LightTime\" : 123456"));
}

// A power cut at any instant leaves the old file or the new one: the new text
// is on the storage before it takes the file's name, and the name change is
// on the storage before the save reports success.
TEST_F(ConfigFiles, ASaveReachesTheStorageBeforeAndAfterItReplacesTheFile)
{
    store.load("/data/etc");
    std::vector<std::string> steps;
    {
        DurabilitySteps seen(scratchRoot() + "/data/etc");
        store.m_usedTime.LightTime = 4321;
        ASSERT_EQ(0, store.saveUsedTime());
        steps = seen.steps();
    }
    ASSERT_EQ(4u, steps.size()) << testing::PrintToString(steps);
    const std::string temporary = steps[0].substr(strlen("write "));
    EXPECT_EQ(0u, temporary.rfind(".UsedTime.json.", 0)) << temporary;
    EXPECT_EQ(steps, (std::vector<std::string>{"write " + temporary, "fsync " + temporary,
                                               "rename " + temporary + " UsedTime.json", "fsync ."}));
    EXPECT_NE(std::string::npos, readFile(etc("UsedTime.json")).find("\"LightTime\" : 4321"));
}

// A file that is there but cannot be read is never taken for a missing one:
// what it holds is kept beside it, and the log tells, although the log opens
// only after the configuration has given its level.
TEST_F(ConfigFiles, AFileThatCannotBeReadIsKeptAndLogged)
{
    // Reading the process's own memory at address 0 fails with an I/O error.
    ASSERT_EQ(0, symlink("/proc/self/mem", etc("UsedTime.json").c_str()));
    ASSERT_EQ(0, mkfifo(etc("General.json").c_str(), 0644));
    makeDirs(etc("PrinterConfig.json"));
    writeFile(etc("Serial"), "{ \"machineSelrial\" : \"S1\" ");
    alarm(60); // a FIFO that blocks start-up ends the test instead of hanging it
    store.load("/data/etc");
    alarm(0);
    LogWriter::instance()->init("/data/var", "TalvikS", 1, 1 << 20, 2, false);

    struct stat info{};
    ASSERT_EQ(0, lstat(etc("UsedTime.json.bad").c_str(), &info));
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(0, lstat(etc("General.json.bad").c_str(), &info));
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_TRUE(fileExists(etc("PrinterConfig.json.bad")));
    EXPECT_NE(std::string::npos, readFile(etc("Serial.bad")).find("S1"));
    EXPECT_EQ("", store.m_serial);
    for (const char* name : {"UsedTime.json", "General.json", "PrinterConfig.json", "Serial"}) {
        ASSERT_EQ(0, lstat(etc(name).c_str(), &info)) << name;
        EXPECT_TRUE(S_ISREG(info.st_mode)) << name;
    }
    EXPECT_EQ(kGeneralDefault, readFile(etc("General.json")));

    const std::string log = readFile(scratchRoot() + "/data/var/TalvikS.log");
    const size_t opened = log.find("Log File Initialize Success");
    for (const char* line : {"[ERRO] [", "/data/etc/UsedTime.json cannot be read: Input/output error",
                             "/data/etc/General.json cannot be read: not a regular file",
                             "/data/etc/PrinterConfig.json cannot be read: Is a directory",
                             "/data/etc/Serial is not a configuration file: ",
                             "/data/etc/UsedTime.json kept as /data/etc/UsedTime.json.bad"})
        EXPECT_GT(log.find(line), opened) << line << "\n" << log;
}

// Read permission refused (root reads anything, so the child gives up that
// power first): the lamp time is kept, not silently reset.
TEST_F(ConfigFiles, AFileWithoutReadPermissionIsKeptAsBad)
{
    const std::string text = "{ \"LightTime\" : 123456 }";
    writeFile(etc("UsedTime.json"), text);
    ASSERT_EQ(0, chmod(etc("UsedTime.json").c_str(), 0));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        if (syscall(SYS_capget, &header, caps) != 0)
            _exit(2);
        const unsigned readAnything = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        caps[0].effective &= ~readAnything;
        if (syscall(SYS_capset, &header, caps) != 0)
            _exit(2);
        ConfigStore restarted;
        restarted.load("/data/etc");
        _exit(restarted.m_usedTime.LightTime == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(2, WEXITSTATUS(status)) << "capabilities could not be dropped";
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(text, readFile(etc("UsedTime.json.bad")));
    EXPECT_NE(std::string::npos, readFile(etc("UsedTime.json")).find("\"LightTime\" : 0"));
}

TEST_F(ConfigFiles, OnlyItsOwnerReadsTheWiFiFile)
{
    writeFile(etc("WiFiConfig.json"), "{ \"HotspotPWD\" : \"secret\" }");
    ASSERT_EQ(0, chmod(etc("WiFiConfig.json").c_str(), 0664));
    store.load("/data/etc");
    struct stat info{};
    ASSERT_EQ(0, stat(etc("WiFiConfig.json").c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777);
    store.m_wifiConfig.HotspotPWD = "another secret";
    ASSERT_EQ(0, store.saveWiFiConfig());
    ASSERT_EQ(0, stat(etc("WiFiConfig.json").c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777);
    ASSERT_EQ(0, stat(etc("General.json").c_str(), &info));
    EXPECT_NE(0u, info.st_mode & 0044);
}

TEST_F(ConfigFiles, LightTableReadReplacesTheWholeTable)
{
    store.m_lightTable.Duty = {"1", "2"};
    store.m_lightTable.Lux = {"5", "6"};
    writeFile(etc("light.json"), "{ \"Duty\" : [ \"10\", 20, \"30\" ] }");
    EXPECT_EQ(0, store.readLightIntensity("/data/etc/light.json"));
    EXPECT_EQ((std::vector<std::string>{"10", "20", "30"}), store.m_lightTable.Duty);
    EXPECT_TRUE(store.m_lightTable.Lux.empty());

    store.load("/data/etc");
    EXPECT_EQ("{\n   \"Duty\" : [ \"10\", \"20\", \"30\" ]\n}\n", readFile(etc("LightIntensitySTA.json")));
}

TEST_F(ConfigFiles, ReadersAnswerMinusOneForMissingOrForeignFiles)
{
    EXPECT_EQ(-1, store.readPrinterConfig("/media/sda1/PrinterConfig_TKS.json"));
    writeFile(etc("notjson"), "LogLevel = 3\n");
    EXPECT_EQ(-1, store.readGeneral("/data/etc/notjson"));
    EXPECT_EQ(1, store.m_general.LogLevel);
    // A reader never writes: the stored paths stay as they were.
    EXPECT_EQ("", store.filePath(ConfigStore::FILE_GENERAL));
    EXPECT_EQ(-ENOENT, store.saveGeneral());
    EXPECT_FALSE(fileExists(etc("notjson.bad")));
}

// Random records written and read back hold every stored field exactly.
TEST_F(ConfigFiles, RandomRecordsRoundTrip)
{
    std::mt19937 random(20240611);
    auto number = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    auto whole = [&](uint32_t hi) { return std::uniform_int_distribution<uint32_t>(0, hi)(random); };
    auto text = [&] {
        static const std::string pieces[] = {"a", "Z", "\"", "\\", "/", "\xC3\xA9", "\xE4\xB8\xAD", " ", "\t", "\n", "{"};
        std::string s;
        for (uint32_t i = whole(12); i > 0; --i)
            s += pieces[whole(10)];
        return s;
    };
    auto motor = [&] { return MotorPara{float(number(0, 20)), float(number(0, 20)), float(number(0, 50)), float(number(0, 200))}; };

    store.load("/data/etc");
    for (int round = 0; round < 30; ++round) {
        GeneralConfig& g = store.m_general;
        g.Language = text();
        g.PrinterName = text();
        g.LogLevel = int32_t(whole(8)) - 4;
        g.ConsoleOutput = whole(1);
        g.WifiUIFlag = whole(1);
        PrinterConfig& p = store.m_printerConfig;
        p.Width = float(number(-1e6, 1e6));
        p.Rotate = float(number(-360, 360));
        p.XRes = whole(UINT32_MAX);
        p.ZLength = float(whole(300));
        p.ZOffset = float(whole(10));
        p.OutlineGrayOffset = int32_t(whole(2000)) - 1000;
        p.MaskFlag = whole(1);
        p.MotorParaI = motor();
        p.MotorParaII = motor();
        p.PrintLayerLimit = whole(UINT32_MAX);
        store.m_usedTime = {whole(UINT32_MAX), whole(UINT32_MAX), whole(UINT32_MAX)};
        for (PrintingPara* para : {&store.m_printingPara, &store.m_printingParaFast}) {
            para->Name = text();
            para->PauseOverLift = whole(UINT32_MAX);
            para->BaseSettleTransLayer = whole(100);
            para->LiftI = motor();
            para->DropII = motor();
            para->Lift_V = number(0, 10);
            para->Drop_V = number(0, 1e-3);
        }
        store.m_serial = text();
        store.m_wifiConfig = {int32_t(whole(UINT32_MAX)), text(), text()};
        store.m_lightTable.Duty.assign(whole(5), std::to_string(whole(100)));
        store.m_lightTable.Lux.assign(whole(5), std::to_string(whole(100000)));

        ASSERT_EQ(0, saveAll(store));
        ConfigStore reread;
        reread.load("/data/etc");
        for (int f = 0; f < ConfigStore::FILE_COUNT; ++f) {
            const auto file = ConfigStore::File(f);
            EXPECT_EQ(store.fileText(file), reread.fileText(file)) << ConfigStore::fileName(file) << " round " << round;
        }
        EXPECT_EQ(store.m_printerConfig.Width, reread.m_printerConfig.Width);
        EXPECT_EQ(store.m_printingParaFast.Drop_V, reread.m_printingParaFast.Drop_V);
    }
}
