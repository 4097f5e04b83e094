// The configuration files: the record of each in jsoncpp's styled text, with
// the files' nesting, key names and trailing comments as machines in the
// field have them.
#include "base/config/ConfigStore.h"

#include "base/config/ConfigJson.h"
#include "base/files/DurableFile.h"
#include "base/files/RegularFile.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"

#include <json/writer.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Configuration files are a few kilobytes; anything far larger is not one.
constexpr size_t kMaxFileSize = 1 << 20;

const char kPrintingParaComment[] = "/* Printing Para \n\tA(acceleration):\t No unit\n\tD(develeration):\t No unit\n"
                                    "\tV(velocity):\t mm/s\n\tX(distance):\t mm\n*/";

const char* commentOf(ConfigStore::File file)
{
    switch (file) {
    case ConfigStore::FILE_GENERAL:
        return "/* Printer General Config */";
    case ConfigStore::FILE_PRINTER_CONFIG:
        return "/* Printer Config */";
    case ConfigStore::FILE_USED_TIME:
        return "/* Printer Used Time */";
    case ConfigStore::FILE_PRINTING_PARA:
    case ConfigStore::FILE_PRINTING_PARA_FAST:
        return kPrintingParaComment;
    default:
        return nullptr;
    }
}

Json::Value unsignedValue(uint32_t value)
{
    return Json::Value(Json::UInt(value));
}

Json::Value signedValue(int32_t value)
{
    return Json::Value(Json::Int(value));
}

// Floats are written widened to double: reading them back as float restores them exactly.
Json::Value realValue(double value)
{
    return Json::Value(value);
}

Json::Value motorValue(const MotorPara& m)
{
    Json::Value value(Json::objectValue);
    value["A"] = realValue(m.A);
    value["D"] = realValue(m.D);
    value["V"] = realValue(m.V);
    value["X"] = realValue(m.X);
    return value;
}

Json::Value textArray(const std::vector<std::string>& texts)
{
    Json::Value array(Json::arrayValue);
    for (const std::string& text : texts)
        array.append(text);
    return array;
}

Json::Value generalValue(const GeneralConfig& g)
{
    Json::Value root(Json::objectValue);
    root["Language"] = g.Language;
    root["PrinterName"] = g.PrinterName;
    root["LogLevel"] = signedValue(g.LogLevel);
    root["ConsoleOutput"] = g.ConsoleOutput;
    root["KeyToneFlag"] = g.KeyToneFlag;
    root["TestNetFlag"] = g.TestNetFlag;
    root["DoorFlag"] = g.DoorFlag;
    root["WifiFlag"] = g.WifiFlag;
    root["EthInterfaceUIFlag"] = g.EthInterfaceUIFlag;
    root["WifiUIFlag"] = g.WifiUIFlag;
    return root;
}

void readGeneralValue(const JsonFieldReader& in, GeneralConfig& g)
{
    in.read("Language", g.Language);
    in.read("PrinterName", g.PrinterName);
    in.read("LogLevel", g.LogLevel);
    in.read("ConsoleOutput", g.ConsoleOutput);
    in.read("KeyToneFlag", g.KeyToneFlag);
    in.read("TestNetFlag", g.TestNetFlag);
    in.read("DoorFlag", g.DoorFlag);
    in.read("WifiFlag", g.WifiFlag);
    in.read("EthInterfaceUIFlag", g.EthInterfaceUIFlag);
    in.read("WifiUIFlag", g.WifiUIFlag);
}

Json::Value printerValue(const PrinterConfig& p)
{
    Json::Value root(Json::objectValue);
    root["Width"] = realValue(p.Width);
    root["Height"] = realValue(p.Height);
    root["Rotate"] = realValue(p.Rotate);
    root["XRes"] = unsignedValue(p.XRes);
    root["YRes"] = unsignedValue(p.YRes);
    root["XScale"] = unsignedValue(p.XScale);
    root["YScale"] = unsignedValue(p.YScale);
    root["ZScale"] = unsignedValue(p.ZScale);
    root["LightCurrent"] = unsignedValue(p.LightCurrent);
    root["LightCurrentI"] = unsignedValue(p.LightCurrentI);
    root["LightCurrentII"] = unsignedValue(p.LightCurrentII);
    root["LightCurrentIII"] = unsignedValue(p.LightCurrentIII);
    root["LightCurrentScale"] = unsignedValue(p.LightCurrentScale);
    root["PWMSource"] = unsignedValue(p.PWMSource);
    root["LightFrequency"] = unsignedValue(p.LightFrequency);
    root["ZLength"] = realValue(p.ZLength);
    root["ZOffset"] = realValue(p.ZOffset);
    root["XMirror"] = p.XMirror;
    root["YMirror"] = p.YMirror;
    root["MaskFlag"] = p.MaskFlag;
    root["CorrectFlag"] = p.CorrectFlag;
    root["Reverse"] = p.Reverse;
    root["OutlineGrayOffset"] = signedValue(p.OutlineGrayOffset);

    Json::Value& motor = root["ZMotor"];
    motor["Pitch"] = unsignedValue(p.Pitch);
    motor["locatorCount"] = unsignedValue(p.locatorCount);
    motor["locatorDistance"] = unsignedValue(p.locatorDistance);
    motor["locatorAlgo"] = unsignedValue(p.locatorAlgo);
    motor["MotorParaI"] = motorValue(p.MotorParaI);
    motor["MotorParaII"] = motorValue(p.MotorParaII);

    root["LimitValue"]["PrintLayerLimit"] = unsignedValue(p.PrintLayerLimit);
    return root;
}

void readPrinterValue(const JsonFieldReader& in, PrinterConfig& p)
{
    in.read("Width", p.Width);
    in.read("Height", p.Height);
    in.read("Rotate", p.Rotate);
    in.read("XRes", p.XRes);
    in.read("YRes", p.YRes);
    in.read("XScale", p.XScale);
    in.read("YScale", p.YScale);
    in.read("ZScale", p.ZScale);
    in.read("LightCurrent", p.LightCurrent);
    in.read("LightCurrentI", p.LightCurrentI);
    in.read("LightCurrentII", p.LightCurrentII);
    in.read("LightCurrentIII", p.LightCurrentIII);
    in.read("LightCurrentScale", p.LightCurrentScale);
    in.read("PWMSource", p.PWMSource);
    in.read("LightFrequency", p.LightFrequency);
    in.readWhole("ZLength", p.ZLength);
    in.readWhole("ZOffset", p.ZOffset);
    in.read("XMirror", p.XMirror);
    in.read("YMirror", p.YMirror);
    in.read("MaskFlag", p.MaskFlag);
    in.read("CorrectFlag", p.CorrectFlag);
    in.read("Reverse", p.Reverse);
    in.read("OutlineGrayOffset", p.OutlineGrayOffset);

    const JsonFieldReader motor = in.child("ZMotor");
    motor.read("Pitch", p.Pitch);
    motor.read("locatorCount", p.locatorCount);
    motor.read("locatorDistance", p.locatorDistance);
    motor.read("locatorAlgo", p.locatorAlgo);
    motor.read("MotorParaI", p.MotorParaI);
    motor.read("MotorParaII", p.MotorParaII);

    in.child("LimitValue").read("PrintLayerLimit", p.PrintLayerLimit);
}

Json::Value usedTimeValue(const UsedTime& u)
{
    Json::Value root(Json::objectValue);
    root["LightTime"] = unsignedValue(u.LightTime);
    root["PrintTime"] = unsignedValue(u.PrintTime);
    root["PrintLayer"] = unsignedValue(u.PrintLayer);
    return root;
}

void readUsedTimeValue(const JsonFieldReader& in, UsedTime& u)
{
    in.read("LightTime", u.LightTime);
    in.read("PrintTime", u.PrintTime);
    in.read("PrintLayer", u.PrintLayer);
}

Json::Value printingValue(const PrintingPara& p)
{
    Json::Value root(Json::objectValue);
    root["Name"] = p.Name;

    Json::Value& distance = root["Distance"];
    distance["PauseOverLift"] = unsignedValue(p.PauseOverLift);
    distance["FinishOverLift"] = unsignedValue(p.FinishOverLift);

    Json::Value& wait = root["WaitTime"];
    wait["SettleTime"] = unsignedValue(p.SettleTime);
    wait["BaseSettleTime"] = unsignedValue(p.BaseSettleTime);
    wait["BaseSettleLayer"] = unsignedValue(p.BaseSettleLayer);
    wait["BaseSettleTransLayer"] = unsignedValue(p.BaseSettleTransLayer);
    wait["ReleaseTime"] = unsignedValue(p.ReleaseTime);
    wait["BreatheTime"] = unsignedValue(p.BreatheTime);

    Json::Value& speed = root["NormalLayerSpeed"];
    speed["LiftI"] = motorValue(p.LiftI);
    speed["LiftII"] = motorValue(p.LiftII);
    speed["DropI"] = motorValue(p.DropI);
    speed["DropII"] = motorValue(p.DropII);

    Json::Value& base = root["BaseLayerSpeed"];
    base["Lift_V"] = realValue(p.Lift_V);
    base["Drop_V"] = realValue(p.Drop_V);
    return root;
}

void readPrintingValue(const JsonFieldReader& in, PrintingPara& p)
{
    in.read("Name", p.Name);

    // Stored as unsigned and once read back as signed, which turned a negative
    // value into a lift of four billion millimetres: now such a value is refused.
    const JsonFieldReader distance = in.child("Distance");
    distance.read("PauseOverLift", p.PauseOverLift);
    distance.read("FinishOverLift", p.FinishOverLift);

    const JsonFieldReader wait = in.child("WaitTime");
    wait.read("SettleTime", p.SettleTime);
    wait.read("BaseSettleTime", p.BaseSettleTime);
    wait.read("BaseSettleLayer", p.BaseSettleLayer);
    wait.read("BaseSettleTransLayer", p.BaseSettleTransLayer);
    wait.read("ReleaseTime", p.ReleaseTime);
    wait.read("BreatheTime", p.BreatheTime);

    const JsonFieldReader speed = in.child("NormalLayerSpeed");
    speed.read("LiftI", p.LiftI);
    speed.read("LiftII", p.LiftII);
    speed.read("DropI", p.DropI);
    speed.read("DropII", p.DropII);

    const JsonFieldReader base = in.child("BaseLayerSpeed");
    base.read("Lift_V", p.Lift_V);
    base.read("Drop_V", p.Drop_V);
}

Json::Value wifiValue(const WiFiConfig& w)
{
    Json::Value root(Json::objectValue);
    root["WifiStatus"] = signedValue(w.WifiStatus);
    root["HotspotSSID"] = w.HotspotSSID;
    root["HotspotPWD"] = w.HotspotPWD;
    return root;
}

void readWifiValue(const JsonFieldReader& in, WiFiConfig& w)
{
    // Written signed, so read signed: a negative state word must survive a restart.
    in.read("WifiStatus", w.WifiStatus);
    in.read("HotspotSSID", w.HotspotSSID);
    in.read("HotspotPWD", w.HotspotPWD);
}

Json::Value lightTableValue(const LightIntensityTable& table)
{
    Json::Value root; // null while the table is empty
    if (!table.Duty.empty())
        root["Duty"] = textArray(table.Duty);
    if (!table.Lux.empty())
        root["Lux"] = textArray(table.Lux);
    return root;
}

void readLightTableValue(const JsonFieldReader& in, LightIntensityTable& table)
{
    in.readTextArray("Duty", table.Duty);
    in.readTextArray("Lux", table.Lux);
}

// Reads a whole file of bounded size: 0, -EFBIG when it is too large for a
// configuration file, -EISDIR or -EINVAL for a folder or another kind of file
// in its place (never waiting on one: start-up must not stall), or the
// negative errno of the failure.
int readWholeFile(const std::string& fsPath, std::string* text)
{
    const int fd = openRegularFile(fsPath);
    if (fd < 0)
        return -errno;
    int result = 0;
    text->clear();
    char buffer[16384];
    while (result == 0) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            result = n == 0 ? 0 : -errno;
            break;
        }
        if (text->size() + static_cast<size_t>(n) > kMaxFileSize)
            result = -EFBIG;
        else
            text->append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return result;
}

// The hotspot password lives in the Wi-Fi file: only its owner may read it.
mode_t modeOf(ConfigStore::File file)
{
    return file == ConfigStore::FILE_WIFI_CONFIG ? 0600 : 0664;
}

} // namespace

std::string ConfigStore::fileText(File file) const
{
    Json::Value root;
    switch (file) {
    case FILE_GENERAL:
        root = generalValue(m_general);
        break;
    case FILE_PRINTER_CONFIG:
        root = printerValue(m_printerConfig);
        break;
    case FILE_USED_TIME:
        root = usedTimeValue(m_usedTime);
        break;
    case FILE_PRINTING_PARA:
        root = printingValue(m_printingPara);
        break;
    case FILE_PRINTING_PARA_FAST:
        root = printingValue(m_printingParaFast);
        break;
    case FILE_SERIAL:
        root["machineSelrial"] = m_serial;
        break;
    case FILE_WIFI_CONFIG:
        root = wifiValue(m_wifiConfig);
        break;
    case FILE_LIGHT_INTENSITY:
        root = lightTableValue(m_lightTable);
        break;
    default:
        return std::string();
    }
    if (const char* comment = commentOf(file))
        root.setComment(std::string(comment), Json::commentAfter);
    Json::StyledWriter writer;
    return writer.write(root);
}

int ConfigStore::readText(File file, const std::string& text, const std::string& pathForLog)
{
    Json::Value root;
    std::string error;
    bool extraIgnored = false;
    if (!parseConfigText(text, &root, &error, &extraIgnored)) {
        logger()->write(LogWarn, "%s is not a configuration file: %s", pathForLog.c_str(), error.c_str());
        return -1;
    }
    if (extraIgnored)
        logger()->write(LogWarn, "%s: text after the configuration ignored", pathForLog.c_str());
    const JsonFieldReader in(root, pathForLog);
    switch (file) {
    case FILE_GENERAL:
        readGeneralValue(in, m_general);
        break;
    case FILE_PRINTER_CONFIG:
        readPrinterValue(in, m_printerConfig);
        break;
    case FILE_USED_TIME:
        readUsedTimeValue(in, m_usedTime);
        break;
    case FILE_PRINTING_PARA:
        readPrintingValue(in, m_printingPara);
        break;
    case FILE_PRINTING_PARA_FAST:
        readPrintingValue(in, m_printingParaFast);
        break;
    case FILE_SERIAL:
        in.read("machineSelrial", m_serial);
        break;
    case FILE_WIFI_CONFIG:
        readWifiValue(in, m_wifiConfig);
        break;
    case FILE_LIGHT_INTENSITY:
        readLightTableValue(in, m_lightTable);
        break;
    default:
        return -1;
    }
    return 0;
}

ConfigStore::ReadResult ConfigStore::readFile(File file, const std::string& path)
{
    std::string text;
    const int result = readWholeFile(rootPath(path), &text);
    if (result == -EFBIG) {
        logger()->write(LogWarn, "%s is not a configuration file: larger than %zu bytes", path.c_str(),
                                     kMaxFileSize);
        return ReadResult::Unparsable;
    }
    if (result == -ENOENT || result == -ENOTDIR) {
        logger()->write(LogInfo, "%s not read: %s", path.c_str(), strerror(-result));
        return ReadResult::Missing;
    }
    if (result < 0) {
        const char* cause = result == -EINVAL ? "not a regular file" : strerror(-result);
        logger()->write(LogError, "%s cannot be read: %s", path.c_str(), cause);
        return ReadResult::Unreadable;
    }
    return readText(file, text, path) == 0 ? ReadResult::Ok : ReadResult::Unparsable;
}

int ConfigStore::readGeneral(const std::string& path)
{
    return readFile(FILE_GENERAL, path) == ReadResult::Ok ? 0 : -1;
}

int ConfigStore::readPrinterConfig(const std::string& path)
{
    return readFile(FILE_PRINTER_CONFIG, path) == ReadResult::Ok ? 0 : -1;
}

int ConfigStore::readUsedTime(const std::string& path)
{
    return readFile(FILE_USED_TIME, path) == ReadResult::Ok ? 0 : -1;
}

int ConfigStore::readPrintingPara(const std::string& path)
{
    return readFile(FILE_PRINTING_PARA, path) == ReadResult::Ok ? 0 : -1;
}

int ConfigStore::readPrintingParaFast(const std::string& path)
{
    return readFile(FILE_PRINTING_PARA_FAST, path) == ReadResult::Ok ? 0 : -1;
}

int ConfigStore::readSerial(const std::string& path)
{
    return readFile(FILE_SERIAL, path) == ReadResult::Ok ? 0 : -1;
}

int ConfigStore::readWiFiConfig(const std::string& path)
{
    return readFile(FILE_WIFI_CONFIG, path) == ReadResult::Ok ? 0 : -1;
}

int ConfigStore::readLightIntensity(const std::string& path)
{
    return readFile(FILE_LIGHT_INTENSITY, path) == ReadResult::Ok ? 0 : -1;
}

int ConfigStore::save(File file)
{
    const std::string& path = m_paths[file];
    if (path.empty()) {
        logger()->write(LogWarn, "%s not saved: the configuration was never loaded", fileName(file));
        return -ENOENT;
    }
    std::lock_guard<std::mutex> lock(m_saveLocks[file]);
    return durable::replaceFile(path, fileText(file), modeOf(file));
}

int ConfigStore::saveGeneral()
{
    return save(FILE_GENERAL);
}

int ConfigStore::savePrinterConfig()
{
    return save(FILE_PRINTER_CONFIG);
}

int ConfigStore::saveUsedTime()
{
    return save(FILE_USED_TIME);
}

int ConfigStore::savePrintingPara()
{
    return save(FILE_PRINTING_PARA);
}

int ConfigStore::savePrintingParaFast()
{
    return save(FILE_PRINTING_PARA_FAST);
}

int ConfigStore::saveSerial()
{
    return save(FILE_SERIAL);
}

int ConfigStore::saveWiFiConfig()
{
    return save(FILE_WIFI_CONFIG);
}

int ConfigStore::saveLightIntensity()
{
    return save(FILE_LIGHT_INTENSITY);
}

void ConfigStore::load(const std::string& dir)
{
    for (int f = 0; f < FILE_COUNT; ++f) {
        m_paths[f] = dir + "/" + fileName(File(f));
        durable::removeStaleTemporaries(m_paths[f]);
    }

    std::array<bool, FILE_COUNT> rewrite;
    rewrite.fill(true);
    for (int f = 0; f < FILE_COUNT; ++f) {
        const std::string& path = m_paths[f];
        const ReadResult read = readFile(File(f), path);
        if (read == ReadResult::Ok || read == ReadResult::Missing)
            continue;
        // Keep what the file held, for whoever wants to know what went wrong,
        // before the values in force replace it; what cannot be kept is not
        // overwritten either.
        const std::string bad = path + ".bad";
        if (rename(rootPath(path).c_str(), rootPath(bad).c_str()) == 0) {
            chmod(rootPath(bad).c_str(), modeOf(File(f)));
            logger()->write(LogWarn, "%s kept as %s; rewritten with the values in force", path.c_str(),
                                         bad.c_str());
        } else {
            rewrite[f] = false;
            logger()->write(LogError, "%s could not be kept as %s: %s; left as it is", path.c_str(),
                                         bad.c_str(), strerror(errno));
        }
    }

    for (File f : {FILE_GENERAL, FILE_USED_TIME, FILE_PRINTER_CONFIG, FILE_PRINTING_PARA, FILE_PRINTING_PARA_FAST,
                   FILE_SERIAL, FILE_WIFI_CONFIG, FILE_LIGHT_INTENSITY})
        if (rewrite[f])
            save(f);
}
