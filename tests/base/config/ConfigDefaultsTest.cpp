// The factory defaults of every configuration record: what a machine without
// configuration files starts with.
#include "base/config/ConfigStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct NumberRow
{
    const char* name;
    double actual;
    double expected;
};

struct TextRow
{
    const char* name;
    std::string actual;
    std::string expected;
};

void addMotor(std::vector<NumberRow>& rows, const char* name, const MotorPara& m, double a, double d, double v,
              double x)
{
    rows.push_back({name, m.A, static_cast<float>(a)});
    rows.push_back({name, m.D, static_cast<float>(d)});
    rows.push_back({name, m.V, static_cast<float>(v)});
    rows.push_back({name, m.X, static_cast<float>(x)});
}

void addPrinting(std::vector<NumberRow>& rows, const PrintingPara& p, bool fast)
{
    rows.push_back({"PauseOverLift", double(p.PauseOverLift), 75});
    rows.push_back({"FinishOverLift", double(p.FinishOverLift), 75});
    rows.push_back({"SettleTime", double(p.SettleTime), 1000});
    rows.push_back({"ReleaseTime", double(p.ReleaseTime), 200});
    rows.push_back({"BreatheTime", double(p.BreatheTime), 100});
    rows.push_back({"BaseSettleTime", double(p.BaseSettleTime), fast ? 1000.0 : 8000.0});
    rows.push_back({"BaseSettleLayer", double(p.BaseSettleLayer), fast ? 0.0 : 20.0});
    rows.push_back({"BaseSettleTransLayer", double(p.BaseSettleTransLayer), 0});
    addMotor(rows, "LiftI", p.LiftI, 0.1, 0.1, fast ? 3.0 : 1.0, fast ? 1.0 : 2.0);
    addMotor(rows, "LiftII", p.LiftII, 4, 5, fast ? 10 : 8, fast ? 2 : 4);
    addMotor(rows, "DropI", p.DropI, 4, 5, fast ? 10 : 8, fast ? 2 : 4);
    addMotor(rows, "DropII", p.DropII, 0.5, 0.5, fast ? 3.0 : 2.0, fast ? 1.0 : 2.0);
    rows.push_back({"Lift_V", p.Lift_V, 0.5});
    rows.push_back({"Drop_V", p.Drop_V, 1.0});
}

void expectRows(const char* record, const std::vector<NumberRow>& rows)
{
    for (const NumberRow& row : rows)
        EXPECT_EQ(row.expected, row.actual) << record << "." << row.name;
}

} // namespace

TEST(ConfigDefaults, EveryRecordHoldsItsFactoryDefaults)
{
    const ConfigStore& store = *ConfigStore::instance();

    const GeneralConfig& g = store.m_general;
    const PrinterConfig& p = store.m_printerConfig;
    const UsedTime& u = store.m_usedTime;
    const WiFiConfig& w = store.m_wifiConfig;

    const std::vector<TextRow> texts = {
        {"Language", g.Language, "en_US"},
        {"PrinterName", g.PrinterName, "Talvik S"},
        {"Name (normal)", store.m_printingPara.Name, ""},
        {"Name (fast)", store.m_printingParaFast.Name, "fast_mode"},
        {"serial", store.m_serial, ""},
        {"HotspotSSID", w.HotspotSSID, ""},
        {"HotspotPWD", w.HotspotPWD, ""},
    };
    for (const TextRow& row : texts)
        EXPECT_EQ(row.expected, row.actual) << row.name;

    expectRows("GeneralConfig", {
        {"LogLevel", double(g.LogLevel), 1},
        {"ConsoleOutput", double(g.ConsoleOutput), 0},
        {"KeyToneFlag", double(g.KeyToneFlag), 0},
        {"TestNetFlag", double(g.TestNetFlag), 0},
        {"DoorFlag", double(g.DoorFlag), 0},
        {"WifiFlag", double(g.WifiFlag), 0},
        {"EthInterfaceUIFlag", double(g.EthInterfaceUIFlag), 1},
        {"WifiUIFlag", double(g.WifiUIFlag), 1},
    });

    std::vector<NumberRow> printer = {
        {"Width", p.Width, 144.0},
        {"Height", p.Height, 81.0},
        {"XRes", double(p.XRes), 1920},
        {"YRes", double(p.YRes), 1080},
        {"Rotate", p.Rotate, 0},
        {"XMirror", double(p.XMirror), 0},
        {"YMirror", double(p.YMirror), 0},
        {"ZLength", p.ZLength, 150.0},
        {"ZOffset", p.ZOffset, 0},
        {"XScale", double(p.XScale), 10000},
        {"YScale", double(p.YScale), 10000},
        {"ZScale", double(p.ZScale), 10000},
        {"LightCurrent", double(p.LightCurrent), 50},
        {"LightCurrentI", double(p.LightCurrentI), 50},
        {"LightCurrentII", double(p.LightCurrentII), 50},
        {"LightCurrentIII", double(p.LightCurrentIII), 50},
        {"LightCurrentScale", double(p.LightCurrentScale), 10000},
        {"LightFrequency", double(p.LightFrequency), 1000},
        {"MaskFlag", double(p.MaskFlag), 0},
        {"CorrectFlag", double(p.CorrectFlag), 0},
        {"ImageChannel", double(p.ImageChannel), 1},
        {"OutlineGrayOffset", double(p.OutlineGrayOffset), 0},
        {"Reverse", double(p.Reverse), 0},
        {"Pitch", double(p.Pitch), 2000},
        {"locatorCount", double(p.locatorCount), 1},
        {"locatorDistance", double(p.locatorDistance), 0},
        {"locatorAlgo", double(p.locatorAlgo), 1},
        {"PrintLayerLimit", double(p.PrintLayerLimit), 15000},
        {"PWMSource", double(p.PWMSource), 2},
    };
    addMotor(printer, "MotorParaI", p.MotorParaI, 2.0, 2.0, 5.0, 160.0);
    addMotor(printer, "MotorParaII", p.MotorParaII, 1.0, 1.0, 1.0, 5.0);
    expectRows("PrinterConfig", printer);

    expectRows("UsedTime", {
        {"PrintTime", double(u.PrintTime), 0},
        {"LightTime", double(u.LightTime), 0},
        {"PrintLayer", double(u.PrintLayer), 0},
    });
    expectRows("WiFiConfig", {{"WifiStatus", double(w.WifiStatus), 0}});

    std::vector<NumberRow> normal;
    addPrinting(normal, store.m_printingPara, false);
    expectRows("PrintingPara", normal);
    std::vector<NumberRow> fast;
    addPrinting(fast, store.m_printingParaFast, true);
    expectRows("PrintingPara_Fast", fast);

    EXPECT_TRUE(store.m_lightTable.Duty.empty());
    EXPECT_TRUE(store.m_lightTable.Lux.empty());
    for (int f = 0; f < ConfigStore::FILE_COUNT; ++f)
        EXPECT_EQ("", store.filePath(ConfigStore::File(f))) << ConfigStore::fileName(ConfigStore::File(f));
}

TEST(ConfigDefaults, PrintLiftsFollowTheZTravelGivenAtConstructionOnly)
{
    ConfigStore store;
    store.m_printerConfig.ZLength = 60.0f;
    EXPECT_EQ(75u, store.m_printingPara.PauseOverLift);
    EXPECT_EQ(75u, store.m_printingParaFast.FinishOverLift);
    // Truncated, not rounded.
    EXPECT_EQ(75u, PrintingPara::normalSet(151.9f).PauseOverLift);
}
