#pragma once

#include "base/config/ConfigRecords.h"
#include "base/threads/noncopyable.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <string>

// The one in-memory copy of the machine's persistent settings, one record per
// configuration file. Callers read and assign the fields in place, then call
// the save operation of the record's file. All paths are board paths.
class ConfigStore : noncopyable
{
public:
    // The configuration files, in the order of their stored paths.
    enum File {
        FILE_GENERAL,
        FILE_PRINTER_CONFIG,
        FILE_USED_TIME,
        FILE_PRINTING_PARA,
        FILE_PRINTING_PARA_FAST,
        FILE_SERIAL,
        FILE_WIFI_CONFIG,
        FILE_LIGHT_INTENSITY,
        FILE_COUNT
    };

    // The store, created with its defaults on first call; never replaced.
    static ConfigStore* instance();

    // A store holding the defaults. The process uses instance(); a separate
    // store serves tools that must not touch it.
    ConfigStore();

    GeneralConfig m_general;
    PrinterConfig m_printerConfig;
    UsedTime m_usedTime;
    PrintingPara m_printingPara;     // normal set
    PrintingPara m_printingParaFast; // fast set
    std::string m_serial;            // file key "machineSelrial"
    WiFiConfig m_wifiConfig;
    LightIntensityTable m_lightTable;

    // Start-up: records the eight paths under `dir`, reads every file, then
    // rewrites every file so each holds all keys of its record. A file that
    // is there but cannot be read or does not parse is kept as "<name>.bad"
    // before its defaults replace it; one that cannot be kept stays untouched.
    void load(const std::string& dir);

    // Read one file at any path into the store: 0, or -1 when the file cannot
    // be opened or is not a JSON object. A missing key keeps its field; a key
    // whose value does not fit its field keeps the field and logs a warning.
    int readGeneral(const std::string& path);
    int readPrinterConfig(const std::string& path);
    int readUsedTime(const std::string& path);
    int readPrintingPara(const std::string& path);
    int readPrintingParaFast(const std::string& path);
    int readSerial(const std::string& path);
    int readWiFiConfig(const std::string& path);
    int readLightIntensity(const std::string& path);

    // Rewrite one file at the path load() recorded, atomically and durably:
    // after a crash at any instant the file holds the old text or the new one.
    // 0, or a negative errno (also logged); callers may ignore it.
    int saveGeneral();
    int savePrinterConfig();
    int saveUsedTime();
    int savePrintingPara();
    int savePrintingParaFast();
    int saveSerial();
    int saveWiFiConfig();
    int saveLightIntensity();

    // The text a save writes for a file, from the record in memory.
    std::string fileText(File file) const;
    // Reads the text of a file (as held in `text`) into its record: 0 or -1.
    int readText(File file, const std::string& text, const std::string& pathForLog);

    void syncDisk();
    void clearLightTable();

    static const char* fileName(File file);
    // The path load() recorded for a file; empty before load().
    const std::string& filePath(File file) const { return m_paths[file]; }

private:
    enum class ReadResult { Ok, Missing, Unreadable, Unparsable };

    ReadResult readFile(File file, const std::string& path);
    int save(File file);

    std::array<std::string, FILE_COUNT> m_paths;
    // Serialises the saves of each file, so the text built last is the text
    // that stays.
    std::array<std::mutex, FILE_COUNT> m_saveLocks;
};
