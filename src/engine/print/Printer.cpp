#include "engine/print/Printer.h"

#include "base/buses/Gpio.h"
#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/platform/ProcessSignals.h"
#include "base/threads/SignalWatch.h"
#include "engine/devices/Board.h"
#include "engine/devices/Buzzer.h"
#include "engine/devices/FPGAControl.h"
#include "engine/devices/MotorControl.h"
#include "engine/devices/PrinterMonitor.h"
#include "engine/devices/ProjectControl.h"
#include "engine/devices/UVLightControl.h"
#include "engine/print/PrintThread.h"
#include "engine/projection/FrameBuffer.h"
#include "engine/projection/ProjectView.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

std::atomic<Printer*> g_printer{nullptr};
std::mutex g_creation;

// How long, in real time, a termination signal waits for the aborted print
// to end before it switches the light off regardless.
constexpr int kSignalStopMs = 10000;

PrinterConfig& machine()
{
    return ConfigStore::instance()->m_printerConfig;
}

} // namespace

Printer* Printer::instance()
{
    Printer* printer = g_printer.load(std::memory_order_acquire);
    if (printer)
        return printer;
    // The hot-plug thread can get here first as well as the GUI thread.
    std::lock_guard<std::mutex> lock(g_creation);
    printer = g_printer.load();
    if (!printer) {
        printer = new Printer;
        g_printer.store(printer, std::memory_order_release);
        atexit(&Printer::destroyAtExit);
    }
    return printer;
}

void Printer::destroyAtExit()
{
    delete g_printer.exchange(nullptr);
}

Printer::Printer()
{
    m_uvLight = std::make_shared<UVLightControl>();
    m_projectControl = std::make_shared<ProjectControl>(board::kDisplayI2c);
    m_frameBuffer = std::make_shared<FrameBuffer>(board::kProjectorFrameBuffer);
    m_projectView = std::make_shared<ProjectView>();
    m_motor = std::make_shared<MotorControl>();
    m_monitor = std::make_shared<PrinterMonitor>(m_motor.get());
    m_printThread = std::make_shared<PrintThread>(this);
    logger()->write(LogInfo, "Enter Printer");
}

Printer::~Printer()
{
    // A signal being answered is answered to its end first.
    m_signalWatch.reset();
    destroy();
    logger()->write(LogInfo, "Leave Printer");
    // The threads go first: they use the view, the motor and the frame buffer.
    m_printThread.reset();
    m_monitor.reset();
    m_projectView.reset();
    m_motor.reset();
    m_frameBuffer.reset();
    m_projectControl.reset();
    m_uvLight.reset();
}

std::string Printer::initialize(const QString& maskPath, const QString& correctionPath)
{
    logger()->write(LogInfo, "Printer Initialize Start");
    ConfigStore* config = ConfigStore::instance();
    if (!maskPath.isEmpty() && m_projectView->setMaskImage(maskPath.toUtf8().toStdString()) != 0) {
        logger()->write(LogError, "Printer set mask failed");
        if (config->m_printerConfig.MaskFlag) {
            config->m_printerConfig.MaskFlag = false;
            config->savePrinterConfig();
            logger()->write(LogWarn, "Close MaskFlag");
        }
    }
    if (!correctionPath.isEmpty())
        m_projectView->setDLPCorrectData(correctionPath.toUtf8().toStdString());

    std::string result = connectDevices();
    if (!result.empty()) {
        logger()->write(LogError, "Printer Open Device Fail: %s", result.c_str());
        return result;
    }
    setPrintStatus(PrintStatus::Ready);
    const PrinterConfig& cfg = machine();
    const int motorResult = m_motor->initialize(nullptr, cfg.Pitch, 128);
    if (motorResult != 0)
        logger()->write(LogError, "Printer motor set-up failed (%d)", motorResult);
    if (m_uvLight->initialize(m_projectControl.get()) != 0)
        result = PrinterError::LightInit;
    m_projectView->setFrameBuffer(m_frameBuffer.get());
    m_uvLight->setDuty(cfg.LightCurrent, cfg.LightCurrentI, cfg.LightCurrentII, cfg.LightCurrentIII);
    m_uvLight->setFrequency(cfg.LightFrequency);
    BasePrinter::setMotorRamp(cfg.MotorParaI);
    m_monitor->addMonitor(Door, 1000);
    m_monitor->addMonitor(AuxInput, 1500);
    m_monitor->start();
    logger()->write(LogInfo, "Open Device Success");
    Buzzer::instance()->beepShort();
    if (result.empty()) {
        m_initialized = true;
        enableScreen(false);
    }
    return result;
}

int Printer::destroy()
{
    switchLightOff();
    saveLampSeconds();
    releaseDevices();
    logger()->write(LogInfo, "Destory Printer");
    return 0;
}

int Printer::stopOnSignals(AfterSignal after)
{
    if (m_signalWatch)
        return 0;
    m_afterSignal = after;
    auto watch = std::make_unique<SignalWatch>([this](int signal) { onTerminationSignal(signal); });
    if (watch->start() != 0)
        return -1;
    m_signalWatch = std::move(watch);
    return 0;
}

int Printer::endProcessOnSignals()
{
    // Against the handler's order (the signal first, then the mode): one of
    // the two sees the other's change.
    m_afterSignal = AfterSignal::EndProcess;
    return m_stopSignal.load();
}

void Printer::onTerminationSignal(int signal)
{
    int none = 0;
    const bool first = m_stopSignal.compare_exchange_strong(none, signal);
    stopSafely(signal);
    if (!first || m_afterSignal == AfterSignal::EndProcess) {
        logger()->write(LogInfo, "Printer stopped: the process ends by signal %d", signal);
        endBySignal(signal);
    }
    logger()->write(LogInfo, "Printer stopped by signal %d", signal);
}

void Printer::stopSafely(int signal)
{
    logger()->write(LogWarn, "Signal %d (%s): the printer stops", signal, strsignal(signal));
    abortForShutdown();
    // Dark at once, whatever the print thread is doing; it switches the
    // light off again and ends the image thread itself as it ends. A print
    // that does not end in time is not waited for.
    switchLightOff();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSignalStopMs);
    while (isPrinting() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (isPrinting())
        logger()->write(LogError, "The print did not end within %d ms of the signal: the light goes off regardless",
                        kSignalStopMs);
    switchLightOff();
    saveLampSeconds();
    m_projectView->stopRenderer();
}

std::string Printer::connectDevices()
{
    for (unsigned int line : board::kOutputLines) {
        gpio_export(line);
        gpio_set_dir(line, "out");
    }
    logger()->write(LogInfo, "Printer Devices Connect Success");
    return std::string();
}

int Printer::releaseDevices()
{
    // The lines stay with the system: a fitted output keeps its last level.
    for (unsigned int line : board::kOutputLines)
        gpio_unexport(line);
    return 0;
}

// ---- Light ----------------------------------------------------------------

int Printer::lightOn()
{
    if (refusedWhilePrinting("Light on"))
        return -1;
    if (!m_uvLight->lightOn()) {
        logger()->write(LogError, "00020001");
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(m_lightLock);
        m_lightStopwatch.start();
        m_lightOnFlag = true;
    }
    logger()->write(LogInfo, "Printer UVLight Is Opened");
    return 0;
}

int Printer::lightOff(int)
{
    if (refusedWhilePrinting("Light off"))
        return -1;
    return switchLightOff();
}

int Printer::switchLightOff()
{
    // An unpowered controller has its light off and answers nothing (the
    // projector is off between prints and at shutdown): a command would only
    // report a light failure that did not happen. Only a line read back as
    // off skips it; a light switched on here had power, so the end of an
    // exposure reads nothing.
    bool switchedOn;
    {
        std::lock_guard<std::mutex> lock(m_lightLock);
        switchedOn = m_lightOnFlag;
    }
    const bool unpowered = !switchedOn && m_projectControl->isPowerOff();
    const int status = unpowered ? 1 : m_uvLight->lightOff(0);
    if (status == 0) {
        logger()->write(LogWarn, "Printer UVLight Status: %d", 0);
        logger()->write(LogError, "00020001");
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(m_lightLock);
        // Every switch-off closes the interval: a second one without a
        // switch-on between adds nothing.
        if (m_lightOnFlag) {
            m_lightOnFlag = false;
            m_unsavedLampSeconds += static_cast<uint32_t>(std::max<int64_t>(0, m_lightStopwatch.elapsedSec()));
            if (m_unsavedLampSeconds > 60)
                saveLampSecondsLocked();
        }
    }
    logger()->write(LogInfo, "Printer UVLight Is Closed, Status: %d", status);
    return 0;
}

void Printer::saveLampSeconds()
{
    std::lock_guard<std::mutex> lock(m_lightLock);
    if (m_unsavedLampSeconds > 0)
        saveLampSecondsLocked();
}

void Printer::saveLampSecondsLocked()
{
    ConfigStore* config = ConfigStore::instance();
    config->m_usedTime.LightTime += m_unsavedLampSeconds;
    config->saveUsedTime();
    m_unsavedLampSeconds = 0;
}

bool Printer::isLightOn()
{
    return m_uvLight->isLightOn() != 0;
}

int Printer::getLightDuty(uint32_t* duty0, uint32_t* duty1, uint32_t* duty2, uint32_t* duty3)
{
    m_uvLight->getDuty(duty0, duty1, duty2, duty3);
    return 0;
}

int Printer::setLightDuty(uint32_t duty0, uint32_t duty1, uint32_t duty2, uint32_t duty3)
{
    if (refusedWhilePrinting("Light duty"))
        return -1;
    return m_uvLight->setDuty(duty0, duty1, duty2, duty3);
}

int Printer::getLightValue()
{
    return m_uvLight->value();
}

int Printer::applyLightDuty(uint32_t frequency)
{
    if (refusedWhilePrinting("Light frequency"))
        return -1;
    m_uvLight->setFrequency(frequency);
    return 0;
}

int Printer::enableScreen(bool on)
{
    if (refusedWhilePrinting("Projector power"))
        return -1;
    if (!m_projectControl->isConnected()) {
        logger()->write(LogError, "Project Is Not Connect");
        return -1;
    }
    if (!on) {
        logger()->write(LogInfo, "%s : %s", "enableScreen", "False");
        m_projectControl->powerOff();
        return 0;
    }
    logger()->write(LogInfo, "%s : %s", "enableScreen", "True");
    m_projectControl->powerOn();
    m_projectControl->initialize();
    const PrinterConfig& cfg = machine();
    m_uvLight->setDuty(cfg.LightCurrent, cfg.LightCurrentI, cfg.LightCurrentII, cfg.LightCurrentIII);
    m_uvLight->setFrequency(cfg.LightFrequency);
    return 0;
}

int Printer::printProjectorVersions(int)
{
    if (m_projectControl->isConnected())
        m_projectControl->printVersions(0);
    return 0;
}

// ---- Panel ----------------------------------------------------------------

int Printer::setDLPCorrectData(const QString& path)
{
    if (path.isEmpty())
        return -1;
    if (refusedWhilePrinting("Correction data"))
        return -1;
    return m_projectView->setDLPCorrectData(path.toUtf8().toStdString());
}

int Printer::setCalibrationFactor(float x, float y)
{
    if (refusedWhilePrinting("Calibration"))
        return -1;
    return m_projectView->setCalibrationFactor(x, y);
}

int Printer::showSvgLayer(const std::string& svg)
{
    if (refusedWhilePrinting("Show layer"))
        return -1;
    return m_projectView->showSvgLayer(svg);
}

int Printer::decodeImageShow(const std::string& data, ComprFormat format)
{
    if (refusedWhilePrinting("Show layer"))
        return -1;
    return m_projectView->decodeImageShow(data, format);
}

int Printer::transDataImage(const uint8_t* pixels, size_t size)
{
    if (refusedWhilePrinting("Show raw image"))
        return -1;
    const int rc = m_projectView->transDataImage(pixels, size);
    m_projectView->refresh();
    return rc == 0 ? 0 : rc;
}

uint8_t* Printer::getImageBits()
{
    return m_projectView->imageBits();
}

// ---- Inputs and outputs ------------------------------------------------------

void Printer::disableMotorLocator(bool disable)
{
    logger()->write(LogInfo, "%s : %s", "disableMotorLocator", disable ? "T" : "F");
    m_motor->disableLocator(disable);
}

bool Printer::isZLimitTriggered()
{
    m_motor->readLimitSwitch();
    return m_motor->isLimitTriggered();
}

bool Printer::isDoorClosed()
{
    return !m_monitor->isDoorInputLow();
}

bool Printer::getAuxInput()
{
    return m_monitor->getAuxInput();
}

void Printer::setOutputs(int value)
{
    for (unsigned int line : board::kOutputLines)
        gpio_set_value(line, value);
}

void Printer::setOutputHigh()
{
    setOutputs(1);
}

void Printer::setOutputLow()
{
    setOutputs(0);
}

void Printer::setIsExistUdisk(bool present)
{
    logger()->write(LogInfo, "setIsExistUdisk :%d", present ? 1 : 0);
    m_isExistUdisk = present;
    if (isPrinting() && !present)
        Buzzer::instance()->beepLong();
}

int Printer::getFpgaVersion(std::string& text)
{
    if (!m_fpga) {
        text = "ERR";
        return 0;
    }
    return m_fpga->getVersion(text) > 0 ? 0 : -1;
}

PrintMachine* machineOf(Printer* printer)
{
    return printer;
}
