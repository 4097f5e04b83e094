#include "base/config/ConfigStore.h"

#include <unistd.h>

PrintingPara PrintingPara::normalSet(float zLength)
{
    PrintingPara para;
    // A 32-bit float product truncated: 75 for the default Z travel of 150 mm.
    para.PauseOverLift = static_cast<uint32_t>(zLength * 0.5f);
    para.FinishOverLift = static_cast<uint32_t>(zLength * 0.5f);
    return para;
}

PrintingPara PrintingPara::fastSet(float zLength)
{
    PrintingPara para = normalSet(zLength);
    para.Name = "fast_mode";
    para.BaseSettleTime = 1000;
    para.BaseSettleLayer = 0;
    para.LiftI = {0.1f, 0.1f, 3.0f, 1.0f};
    para.LiftII = {4, 5, 10, 2};
    para.DropI = {4, 5, 10, 2};
    para.DropII = {0.5f, 0.5f, 3.0f, 1.0f};
    return para;
}

ConfigStore* ConfigStore::instance()
{
    // Never destroyed: threads still running at exit may read the settings.
    static ConfigStore* const store = new ConfigStore;
    return store;
}

ConfigStore::ConfigStore()
    : m_printingPara(PrintingPara::normalSet(m_printerConfig.ZLength)),
      m_printingParaFast(PrintingPara::fastSet(m_printerConfig.ZLength))
{
}

const char* ConfigStore::fileName(File file)
{
    static const char* const names[FILE_COUNT] = {
        "General.json",      "PrinterConfig.json",     "UsedTime.json",  "PrintingPara.json",
        "PrintingPara_Fast.json", "Serial",            "WiFiConfig.json", "LightIntensitySTA.json",
    };
    return file >= 0 && file < FILE_COUNT ? names[file] : "";
}

void ConfigStore::syncDisk()
{
    sync();
    sync();
}

void ConfigStore::clearLightTable()
{
    m_lightTable.Duty.clear();
    m_lightTable.Lux.clear();
}
