// Configuration text from outside (hand-edited files, factory files on a USB
// disk) never ends the process: a bad key keeps its value, the good keys of
// the same file still apply, and text that is not a configuration object is
// refused as a whole.
#include "base/config/ConfigStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct BadInputRow
{
    const char* what;
    ConfigStore::File file;
    std::string text;
    int result;
    std::function<void(const ConfigStore&)> check;
};

std::string deeplyNested(int depth)
{
    return "{\"LogLevel\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
}

} // namespace

TEST(ConfigBadInput, BadValuesKeepTheirFieldAndGoodKeysStillApply)
{
    const std::vector<BadInputRow> rows = {
        {"text for a number", ConfigStore::FILE_GENERAL, R"({"LogLevel":"3","PrinterName":"X"})", 0,
         [](const ConfigStore& s) {
             EXPECT_EQ(1, s.m_general.LogLevel);
             EXPECT_EQ("X", s.m_general.PrinterName);
         }},
        {"out of range for a signed field", ConfigStore::FILE_GENERAL, R"({"LogLevel":1e20,"WifiFlag":true})", 0,
         [](const ConfigStore& s) {
             EXPECT_EQ(1, s.m_general.LogLevel);
             EXPECT_TRUE(s.m_general.WifiFlag);
         }},
        {"object for a boolean", ConfigStore::FILE_GENERAL, R"({"KeyToneFlag":{"on":1},"DoorFlag":1})", 0,
         [](const ConfigStore& s) {
             EXPECT_FALSE(s.m_general.KeyToneFlag);
             EXPECT_TRUE(s.m_general.DoorFlag);
         }},
        {"null for a text", ConfigStore::FILE_GENERAL, R"({"Language":null})", 0,
         [](const ConfigStore& s) { EXPECT_EQ("en_US", s.m_general.Language); }},
        {"negative for an unsigned field", ConfigStore::FILE_USED_TIME, R"({"PrintTime":-5,"LightTime":7})", 0,
         [](const ConfigStore& s) {
             EXPECT_EQ(0u, s.m_usedTime.PrintTime);
             EXPECT_EQ(7u, s.m_usedTime.LightTime);
         }},
        {"too large for an unsigned field", ConfigStore::FILE_USED_TIME, R"({"PrintLayer":4294967296})", 0,
         [](const ConfigStore& s) { EXPECT_EQ(0u, s.m_usedTime.PrintLayer); }},
        {"number where an object belongs", ConfigStore::FILE_PRINTER_CONFIG, R"({"ZMotor":5,"Width":100})", 0,
         [](const ConfigStore& s) {
             EXPECT_EQ(2000u, s.m_printerConfig.Pitch);
             EXPECT_EQ(100.0f, s.m_printerConfig.Width);
         }},
        {"nested object where a number belongs", ConfigStore::FILE_PRINTER_CONFIG,
         R"({"ZMotor":{"MotorParaI":{"A":{"x":1},"D":null,"V":7}}})", 0,
         [](const ConfigStore& s) {
             EXPECT_EQ(2.0f, s.m_printerConfig.MotorParaI.A);
             EXPECT_EQ(2.0f, s.m_printerConfig.MotorParaI.D);
             EXPECT_EQ(7.0f, s.m_printerConfig.MotorParaI.V);
         }},
        {"beyond the float range", ConfigStore::FILE_PRINTER_CONFIG, R"({"Height":1e39,"ZLength":-3})", 0,
         [](const ConfigStore& s) {
             EXPECT_EQ(81.0f, s.m_printerConfig.Height);
             EXPECT_EQ(150.0f, s.m_printerConfig.ZLength);
         }},
        {"negative lift", ConfigStore::FILE_PRINTING_PARA, R"({"Distance":{"PauseOverLift":-1,"FinishOverLift":9}})",
         0,
         [](const ConfigStore& s) {
             EXPECT_EQ(75u, s.m_printingPara.PauseOverLift);
             EXPECT_EQ(9u, s.m_printingPara.FinishOverLift);
         }},
        {"text for a speed", ConfigStore::FILE_PRINTING_PARA_FAST, R"({"BaseLayerSpeed":{"Lift_V":"fast","Drop_V":2}})",
         0,
         [](const ConfigStore& s) {
             EXPECT_EQ(0.5, s.m_printingParaFast.Lift_V);
             EXPECT_EQ(2.0, s.m_printingParaFast.Drop_V);
         }},
        {"number for the serial", ConfigStore::FILE_SERIAL, R"({"machineSelrial":12345})", 0,
         [](const ConfigStore& s) { EXPECT_EQ("12345", s.m_serial); }},
        {"array for the serial", ConfigStore::FILE_SERIAL, R"({"machineSelrial":[1]})", 0,
         [](const ConfigStore& s) { EXPECT_EQ("", s.m_serial); }},
        {"a negative state word survives", ConfigStore::FILE_WIFI_CONFIG, R"({"WifiStatus":-1,"HotspotSSID":"net"})",
         0,
         [](const ConfigStore& s) {
             EXPECT_EQ(-1, s.m_wifiConfig.WifiStatus);
             EXPECT_EQ("net", s.m_wifiConfig.HotspotSSID);
         }},
        {"light element that is not a number", ConfigStore::FILE_LIGHT_INTENSITY,
         R"({"Duty":["10",{"x":1}],"Lux":["1",2.5]})", 0,
         [](const ConfigStore& s) {
             EXPECT_TRUE(s.m_lightTable.Duty.empty());
             EXPECT_EQ((std::vector<std::string>{"1", "2.5"}), s.m_lightTable.Lux);
         }},
        {"light column that is not an array", ConfigStore::FILE_LIGHT_INTENSITY, R"({"Duty":"10","Lux":[true]})", 0,
         [](const ConfigStore& s) {
             EXPECT_TRUE(s.m_lightTable.Duty.empty());
             EXPECT_TRUE(s.m_lightTable.Lux.empty());
         }},
        {"byte-order mark", ConfigStore::FILE_GENERAL, "\xEF\xBB\xBF{\"LogLevel\":2}", 0,
         [](const ConfigStore& s) { EXPECT_EQ(2, s.m_general.LogLevel); }},
        {"null root", ConfigStore::FILE_GENERAL, "null", 0,
         [](const ConfigStore& s) { EXPECT_EQ(1, s.m_general.LogLevel); }},
        {"array root", ConfigStore::FILE_PRINTER_CONFIG, "[1,2]", -1, nullptr},
        {"text root", ConfigStore::FILE_USED_TIME, "\"PrintTime\"", -1, nullptr},
        {"nesting thousands deep", ConfigStore::FILE_GENERAL, deeplyNested(5000), -1, nullptr},
        {"nesting thousands deep behind a byte-order mark", ConfigStore::FILE_GENERAL,
         "\xEF\xBB\xBF" + deeplyNested(5000), -1, nullptr},
        // Read past as the reader reads past them: a second mark, a comment ended by a CR.
        {"nesting a hundred deep behind two byte-order marks", ConfigStore::FILE_GENERAL,
         "\xEF\xBB\xBF\xEF\xBB\xBF" + deeplyNested(100), -1, nullptr},
        {"nesting a hundred deep after a comment ended by a CR", ConfigStore::FILE_GENERAL,
         "// note\r" + deeplyNested(100), -1, nullptr},
        {"not JSON", ConfigStore::FILE_PRINTING_PARA, "{\"Name\":}", -1, nullptr},
        {"empty", ConfigStore::FILE_WIFI_CONFIG, "", -1, nullptr},
        {"binary", ConfigStore::FILE_LIGHT_INTENSITY, std::string("\x00\xFF{\"Duty\"", 8), -1, nullptr},
    };
    for (const BadInputRow& row : rows) {
        SCOPED_TRACE(row.what);
        ConfigStore store;
        const std::string before = store.fileText(row.file);
        EXPECT_EQ(row.result, store.readText(row.file, row.text, "test.json"));
        if (row.check)
            row.check(store);
        else
            EXPECT_EQ(before, store.fileText(row.file));
    }
}

TEST(ConfigBadInput, UnreasonableFilesAreRefusedAtLoad)
{
    const std::string etc = testsupport::scratchRoot() + "/data/etc/";
    testsupport::makeDirs(etc);
    testsupport::writeFile(etc + "General.json", "{\"LogLevel\":2" + std::string(2 << 20, ' ') + "}");
    testsupport::makeDirs(etc + "UsedTime.json"); // a folder where the file belongs
    ConfigStore store;
    store.load("/data/etc");
    EXPECT_EQ(1, store.m_general.LogLevel);
    EXPECT_TRUE(testsupport::fileExists(etc + "General.json.bad"));
    EXPECT_LT(testsupport::readFile(etc + "General.json").size(), 1000u);
    // The folder is kept aside, and a file takes its place.
    EXPECT_TRUE(testsupport::fileExists(etc + "UsedTime.json.bad/."));
    EXPECT_EQ(0, store.saveUsedTime());
}
