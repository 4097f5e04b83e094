#include "engine/print/BasePrinter.h"

#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "engine/devices/MotorControl.h"
#include "engine/devices/PrinterMonitor.h"
#include "engine/print/EngineThread.h"
#include "engine/print/PrintLimits.h"
#include "engine/print/PrintThread.h"
#include "engine/projection/ProjectView.h"
#include "engine/slicefile/PrintFileParser.h"
#include "engine/slicefile/PrintTimeEstimate.h"
#include "engine/slicefile/SvgParser.h"
#include "engine/slicefile/SvgxHead.h"

#include <cmath>
#include <exception>

namespace {

std::string utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

// The model half of a print's work parameters from an ".svgx" file: the
// projection adjustment is stored in percent.
ModelInfo svgModelInfo(const SliceParams& params)
{
    ModelInfo model = toModelInfo(params);
    model.adjustX = params.adjustX / 100;
    model.adjustY = params.adjustY / 100;
    return model;
}

// Runs a facade call; an exception it raises is logged and answered with -1.
template <typename Call>
int guarded(const char* operation, Call&& call)
{
    try {
        return call();
    } catch (const std::exception& e) {
        logger()->write(LogError, "%s failed: %s", operation, e.what());
    } catch (...) {
        logger()->write(LogError, "%s failed", operation);
    }
    return -1;
}

} // namespace

BasePrinter::BasePrinter()
{
    logger()->write(LogInfo, "Enter BasePrinter");
}

BasePrinter::~BasePrinter()
{
    logger()->write(LogInfo, "Leave BasePrinter");
    closeReaders();
    m_printThread.reset();
    m_monitor.reset();
    m_projectView.reset();
    m_motor.reset();
}

bool BasePrinter::refusedWhilePrinting(const char* operation) const
{
    if (!isPrinting() || isEngineThread())
        return false;
    logger()->write(LogWarn, "%s refused: a print is running", operation);
    return true;
}

// ---- Print job ----------------------------------------------------------

int BasePrinter::print(const QString& path)
{
    return guarded("Print", [&] { return printFile(path); });
}

int BasePrinter::printFile(const QString& path)
{
    std::lock_guard<std::mutex> command(m_commandLock);
    if (m_shuttingDown) {
        logger()->write(LogWarn, "Print refused: the printer is shutting down");
        return -1;
    }
    if (printStatus() != PrintStatus::Ready) {
        logger()->write(LogWarn, "Print refused: the printer is not ready (status %d)", m_status.load());
        return -1;
    }
    if (m_homing) {
        logger()->write(LogWarn, "Print refused: the axis is homing");
        return -1;
    }
    const std::string file = utf8(path);
    logger()->write(LogInfo, "Start Print File (%s)", file.c_str());
    closeReaders();

    PrintWorkPara work;
    if (path.endsWith(".svgx", Qt::CaseInsensitive)) {
        auto parser = std::make_unique<SvgParser>(file, 4048);
        const int opened = parser->open();
        const SliceParams params = parser->sliceParams();
        {
            std::lock_guard<std::mutex> lock(m_readerLock);
            m_svgParser = std::move(parser);
        }
        if (opened != 0) {
            logger()->write(LogError, "Parse File(%s) failed.", file.c_str());
            return -1;
        }
        if (params.layerCount == 0) {
            logger()->write(LogError, "Invalid Layer Count (0)");
            return -1;
        }
        work.model = svgModelInfo(params);
        work.printing = getPrintingPara(static_cast<int>(params.printMode));
    } else if (path.endsWith(".qds", Qt::CaseInsensitive)) {
        auto parser = std::make_unique<PrintFileParser>();
        const int checked = parser->checkFile(file, true);
        const PrinterConfig& machine = ConfigStore::instance()->m_printerConfig;
        const int resolution = checked == 0 ? parser->checkResolution(static_cast<int>(machine.XRes),
                                                                       static_cast<int>(machine.YRes))
                                            : 0;
        work = parser->m_workPara;
        {
            std::lock_guard<std::mutex> lock(m_readerLock);
            m_qdsParser = std::move(parser);
        }
        if (checked != 0) {
            logCheck("int BasePrinter::print(const QString&)", 81);
            return -1;
        }
        if (resolution != 0) {
            logger()->write(LogError, "Machine Res(%i*%i)", static_cast<int>(machine.XRes), static_cast<int>(machine.YRes));
            return -2;
        }
    } else {
        logger()->write(LogError, "Invalid Print File Type (%s)\n", file.c_str());
        return -1;
    }

    const char* fault = printParamsFault(work);
    // Only a drawn layer is scaled: a qds raster is the panel's own.
    if (!fault && path.endsWith(".svgx", Qt::CaseInsensitive))
        fault = projectionAdjustFault(work.model);
    if (fault) {
        logger()->write(LogError, "Print refused (%s): %s", file.c_str(), fault);
        closeReaders();
        return -1;
    }
    work.model.printTime = estimatePrintTime(work, 0);
    {
        std::lock_guard<std::mutex> lock(m_infoLock);
        m_info.currentLayer = 0;
        m_info.layerCount = static_cast<int32_t>(std::min<uint32_t>(work.model.layerCount, INT32_MAX));
        m_info.elapsedTime = 0;
        m_info.remainingTime = static_cast<float>(work.model.printTime);
    }
    const int accepted = m_printThread->init(work);
    std::lock_guard<std::mutex> lock(m_infoLock);
    m_printStopwatch.start();
    return accepted;
}

int BasePrinter::pausePrint()
{
    std::lock_guard<std::mutex> command(m_commandLock);
    if (printStatus() != PrintStatus::Printing) {
        logger()->write(LogInfo, "Printer Pause Print failed");
        return -1;
    }
    logger()->write(LogInfo, "Printer Pause Print");
    return m_printThread->pause();
}

int BasePrinter::resumePrint()
{
    std::lock_guard<std::mutex> command(m_commandLock);
    if (printStatus() != PrintStatus::Paused)
        return -1;
    logger()->write(LogInfo, "Printer Resume Print");
    return m_printThread->resume();
}

int BasePrinter::abortPrint()
{
    std::lock_guard<std::mutex> command(m_commandLock);
    if (!isPrinting()) {
        logger()->write(LogInfo, "Printer Abort Print failed");
        return -1;
    }
    logger()->write(LogInfo, "Printer Abort Print");
    return m_printThread->cancel();
}

void BasePrinter::abortForShutdown()
{
    std::lock_guard<std::mutex> command(m_commandLock);
    m_shuttingDown = true;
    if (!isPrinting())
        return;
    logger()->write(LogInfo, "Printer Abort Print");
    m_printThread->cancel();
}

// ---- Status -------------------------------------------------------------

void BasePrinter::setPrintStatus(const PrintStatus& status)
{
    const int value = static_cast<int>(status);
    if (m_status.exchange(value) != value)
        logger()->write(LogInfo, "PrintStatus (%i)", value);
}

bool BasePrinter::isPrinting() const
{
    const PrintStatus status = printStatus();
    return status == PrintStatus::Printing || status == PrintStatus::Paused;
}

bool BasePrinter::isPausing() const
{
    return printStatus() == PrintStatus::Printing && m_printThread->isPauseRequested();
}

bool BasePrinter::isPaused() const
{
    return printStatus() == PrintStatus::Paused && m_printThread->isResumeMoving();
}

bool BasePrinter::isAborting() const
{
    return printStatus() == PrintStatus::Printing && m_printThread->isCancelled();
}

bool BasePrinter::isPrintFinished() const
{
    return printStatus() == PrintStatus::Ready && m_printThread->isFinished();
}

const char* BasePrinter::getPrintExitValue()
{
    return m_printThread->exitValue();
}

// ---- Progress and details -------------------------------------------------

PrintInfo BasePrinter::getPrintInfo()
{
    PrintInfo info;
    if (guarded("Print progress", [&] {
            info = refreshPrintInfo();
            return 0;
        }) != 0) {
        std::lock_guard<std::mutex> lock(m_infoLock);
        return m_info; // as last refreshed
    }
    return info;
}

PrintInfo BasePrinter::refreshPrintInfo()
{
    std::lock_guard<std::mutex> lock(m_infoLock);
    if (!isPrinting()) {
        m_info.currentLayer = 0;
        m_info.layerCount = 1;
        return m_info;
    }
    const int layer = m_printThread->currentLayer();
    if (layer == m_info.currentLayer && layer != 0)
        return m_info;
    m_info.currentLayer = layer;
    PrintWorkPara work;
    if (!workParaFromReader(work)) {
        work.printing = getPrintingPara(0);
        work.model.layerCount = 0;
    }
    m_info.layerCount = static_cast<int32_t>(std::min<uint32_t>(work.model.layerCount, INT32_MAX));
    m_info.elapsedTime = static_cast<float>(m_printStopwatch.elapsedSec());
    m_info.remainingTime = static_cast<float>(estimatePrintTime(work, static_cast<unsigned>(layer)));
    return m_info;
}

bool BasePrinter::workParaFromReader(PrintWorkPara& work)
{
    std::lock_guard<std::mutex> lock(m_readerLock);
    if (m_svgParser) {
        const SliceParams& params = m_svgParser->sliceParams();
        work.model = svgModelInfo(params);
        work.printing = getPrintingPara(static_cast<int>(params.printMode));
        return true;
    }
    if (m_qdsParser) {
        work = m_qdsParser->m_workPara;
        return true;
    }
    return false;
}

int BasePrinter::getModelInfo(const QString& path, ModelInfo& info)
{
    return guarded("Model details", [&] { return readModelInfo(path, info); });
}

int BasePrinter::readModelInfo(const QString& path, ModelInfo& info)
{
    info.layerHeight = 0.05f;
    info.volume = 0;
    info.layerCount = 0;
    info.printTime = 0;
    const std::string file = utf8(path);
    if (path.endsWith(".svgx", Qt::CaseInsensitive)) {
        const std::optional<SliceParams> params = readSvgxParams(file);
        if (!params) {
            logger()->write(LogError, "Parse File(%s) failed.", file.c_str());
            return -1;
        }
        if (params->layerCount == 0)
            return -1;
        const ModelInfo model = toModelInfo(*params);
        const float adjustX = info.adjustX, adjustY = info.adjustY;
        const auto table1 = info.layerTable1, table2 = info.layerTable2;
        info = model;
        info.adjustX = adjustX;
        info.adjustY = adjustY;
        info.layerTable1 = table1;
        info.layerTable2 = table2;
        PrintWorkPara work{info, getPrintingPara(static_cast<int>(params->printMode))};
        info.printTime = estimatePrintTime(work, 0);
        return 0;
    }
    if (path.endsWith(".qds", Qt::CaseInsensitive)) {
        PrintFileParser parser;
        if (parser.checkFile(file, true) != 0) {
            logger()->write(LogError, "Parse File(%s) failed.", file.c_str());
            return -1;
        }
        info = parser.m_workPara.model;
        info.printTime = estimatePrintTime(parser.m_workPara, 0);
        return 0;
    }
    return 0;
}

PrintingPara& BasePrinter::getPrintingPara(int mode)
{
    ConfigStore* config = ConfigStore::instance();
    return mode == 1 ? config->m_printingParaFast : config->m_printingPara;
}

void BasePrinter::setPrintMode(int mode)
{
    m_printMode = mode > 2 ? 3 : mode;
    logger()->write(LogInfo, "Printer Set Print Mode(%i)", mode);
}

// ---- Motion ---------------------------------------------------------------

int BasePrinter::move(float mm, bool relative, bool wait)
{
    if (refusedWhilePrinting("Move"))
        return -1;
    logger()->write(LogInfo, "Move(%fmm), relative(%s), wait(%s)", static_cast<double>(mm), relative ? "Y" : "N",
                    wait ? "Y" : "N");
    return m_motor->move(mm, wait, relative);
}

int BasePrinter::moveWaitSince(float mm, bool relative, unsigned int generation)
{
    logger()->write(LogInfo, "Move(%fmm), relative(%s), wait(%s)", static_cast<double>(mm), relative ? "Y" : "N", "Y");
    return m_motor->moveWaitSince(mm, relative, generation);
}

int BasePrinter::stopMove()
{
    if (refusedWhilePrinting("Stop move"))
        return -1;
    return m_motor->stop();
}

unsigned int BasePrinter::motorStopGeneration() const
{
    return m_motor->stopGeneration();
}

void BasePrinter::stopMotor()
{
    m_motor->stop();
}

int BasePrinter::setMotorRamp(const MotorPara& ramp)
{
    if (refusedWhilePrinting("Motor ramp"))
        return -1;
    return m_motor->setRamp(ramp);
}

int BasePrinter::setMotorRamps(const MotorPara ramps[2])
{
    if (refusedWhilePrinting("Motor ramps"))
        return -1;
    return m_motor->setTwoStageRamp(ramps[0], ramps[1]);
}

int BasePrinter::getPosition(float& mm)
{
    return m_motor->getPosition(&mm);
}

float BasePrinter::getMaxPosition()
{
    return m_motor->getMaxPosition();
}

int BasePrinter::resetPosition()
{
    if (refusedWhilePrinting("Reset position"))
        return -1;
    m_motor->setHome();
    return 0;
}

int BasePrinter::reloadMotorPara()
{
    m_motor->reloadPara();
    return 0;
}

std::atomic<void (*)()> BasePrinter::s_beforeHomingClaim{nullptr};

int BasePrinter::startHoming(int, int, bool setStatus)
{
    return startHomingSince(motorStopGeneration(), setStatus);
}

int BasePrinter::startHomingSince(unsigned int generation, bool setStatus)
{
    // The print homes as its first step; anyone else claims the axis first,
    // so that a print and another homing never drive it together.
    const bool claim = !isEngineThread();
    {
        std::lock_guard<std::mutex> command(m_commandLock);
        if (claim) {
            if (refusedWhilePrinting("Homing"))
                return -1;
            if (m_homing) {
                logger()->write(LogWarn, "Homing refused: a homing is running");
                return -1;
            }
            if (void (*pause)() = s_beforeHomingClaim.load())
                pause();
            m_homing = true;
        }
        if (setStatus)
            setPrintStatus(PrintStatus::Homing);
    }
    logger()->write(LogInfo, "Printer Start Homing ...");
    const int result = m_motor->homeSince(generation);
    std::lock_guard<std::mutex> command(m_commandLock);
    if (claim)
        m_homing = false;
    // Back to Ready, unless the status has moved on meanwhile.
    if (setStatus && printStatus() == PrintStatus::Homing)
        setPrintStatus(PrintStatus::Ready);
    return result;
}

// ---- Panel ----------------------------------------------------------------

int BasePrinter::showImage(const QString& path, uint32_t flag)
{
    if (refusedWhilePrinting("Show image"))
        return -1;
    return guarded("Show image", [&] {
        m_projectView->showImage(utf8(path), flag);
        return 0;
    });
}

int BasePrinter::showGrayImage(uint32_t level)
{
    if (refusedWhilePrinting("Show gray image"))
        return -1;
    logger()->write(LogInfo, "Printer Show Gray Image, Level (%i)", static_cast<int>(level));
    if (level < 256)
        m_projectView->showGrayImage(static_cast<int>(level));
    return 0;
}

int BasePrinter::clearScreen()
{
    if (refusedWhilePrinting("Clear screen"))
        return -1;
    return m_projectView->clearScreen();
}

// ---- For the print and image threads ---------------------------------------

int BasePrinter::setNextLayerData()
{
    NextLayer next;
    const int rc = readNextLayer(next);
    return rc == 0 ? showLayer(next) : rc;
}

int BasePrinter::readNextLayer(NextLayer& next)
{
    std::lock_guard<std::mutex> lock(m_readerLock);
    if (m_svgParser) {
        next.source = NextLayer::Source::Svg;
        next.data = m_svgParser->nextLayer();
        // A damaged file is no shortage of memory.
        if (next.data == PrinterError::Memory && m_svgParser->lastFailure() == SvgParser::Failure::File) {
            logger()->write(LogError, "The next layer cannot be read from the file");
            return -1;
        }
        return 0;
    }
    if (m_qdsParser) {
        next.source = NextLayer::Source::Qds;
        // A failure is logged by the reader; the print thread ends the print on it.
        if (m_qdsParser->getNextPrintParam() >= 0)
            next.params = m_qdsParser->m_workPara;
        const int current = m_qdsParser->currentLayer();
        next.data = m_qdsParser->getLayerData(static_cast<unsigned>(current));
        next.format = static_cast<ComprFormat>(m_qdsParser->header().comprFormat);
        return 0;
    }
    logCheck("int BasePrinter::setNextLayerData()", 416);
    return -1;
}

int BasePrinter::showLayer(const NextLayer& next)
{
    switch (next.source) {
    case NextLayer::Source::Svg:
        return m_projectView->showSvgLayer(next.data, next.cancelFd);
    case NextLayer::Source::Qds:
        return m_projectView->decodeImageShow(next.data, next.format, next.cancelFd);
    case NextLayer::Source::None:
        break;
    }
    return 0;
}

int BasePrinter::updateWorkPara(PrintWorkPara& para)
{
    std::lock_guard<std::mutex> lock(m_readerLock);
    if (m_qdsParser) {
        para = m_qdsParser->m_workPara;
        return 0;
    }
    if (!m_svgParser)
        logCheck("int BasePrinter::updateWorkPara(PrintWorkPara&)", 441);
    return 0;
}

void BasePrinter::closeSvgFile()
{
    std::lock_guard<std::mutex> lock(m_readerLock);
    m_svgParser.reset();
}

void BasePrinter::closeQdsFile()
{
    std::lock_guard<std::mutex> lock(m_readerLock);
    m_qdsParser.reset();
}

void BasePrinter::closeReaders()
{
    closeSvgFile();
    closeQdsFile();
}

int BasePrinter::resetPrintInfo()
{
    closeReaders();
    std::lock_guard<std::mutex> lock(m_infoLock);
    m_info.currentLayer = -1;
    m_info.elapsedTime = 0;
    m_info.remainingTime = 0;
    m_info.layerCount = 0;
    m_lastPrintTime = static_cast<uint32_t>(std::max<int64_t>(0, m_printStopwatch.elapsedSec()));
    setMeasuredLayerTime(-1.0f);
    return 0;
}
