#pragma once

#include "base/config/MotorPara.h"
#include "base/threads/Stopwatch.h"
#include "base/threads/noncopyable.h"
#include "engine/print/PrintMachine.h"
#include "engine/records/PrintRecords.h"
#include "engine/slicefile/ModelInfo.h"
#include "engine/slicefile/QdsFormat.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class MotorControl;
class PrintFileParser;
class PrintThread;
class PrinterMonitor;
class ProjectView;
class SvgParser;

// The one interface through which the rest of the system drives the print
// engine: print, pause, resume and abort; status, progress and slice-file
// details; Z motion and homing; images on the panel. The concrete Printer
// supplies the light and creates the controllers.
//
// Callers are the GUI thread, the remote link, the print, image and homing
// threads. The status and the progress are published atomically or under a
// lock and handed out as copies. While a print runs or is paused, commands
// that would move the axis, home it, or change the panel or the light are
// refused (-1) unless they come from the print itself; two callers starting
// a print at once cannot both succeed, and a print and a homing from outside
// it never run together (whichever comes second is refused). No call lets an
// exception out: a file or a shortage of memory that raises one fails the
// call (-1), not the program.
class BasePrinter : public PrintMachine, noncopyable
{
public:
    BasePrinter();
    virtual ~BasePrinter();

    // The facade's switch-off; the argument carries nothing. The print loop
    // reaches it through PrintMachine's lightOff().
    virtual int lightOff(int unused) = 0;
    int lightOff() final { return lightOff(0); }
    virtual bool isLightOn() = 0;

    // Print job.
    // 0 when the print thread accepted the file; -1 for a file that cannot
    // be printed or a printer that is not Ready; -2 for a resolution mismatch.
    int print(const QString& path);
    int pausePrint();
    int resumePrint();
    int abortPrint();
    // For a process about to end: aborts the running print, if any, and
    // refuses every later one.
    void abortForShutdown();

    // Status (any thread).
    PrintStatus printStatus() const { return static_cast<PrintStatus>(m_status.load()); }
    void setPrintStatus(const PrintStatus& status) override;
    bool isPrinting() const override;
    bool isPausing() const;
    bool isPaused() const;
    bool isAborting() const;
    bool isPrintFinished() const;
    // The result of the print that ended last: "0", an 8-digit error code,
    // or null after an abort (or before any print ended). Never waits for a
    // print that runs.
    const char* getPrintExitValue();
    uint32_t lastPrintTime() const { return m_lastPrintTime.load(); }

    // Progress and file details.
    PrintInfo getPrintInfo();
    int getModelInfo(const QString& path, ModelInfo& info);
    PrintingPara& getPrintingPara(int mode);
    void setPrintMode(int mode);

    // Motion.
    int move(float mm, bool relative, bool wait);
    int moveWait(float mm, bool relative) override { return move(mm, relative, true); }
    int move(float mm, bool relative) override { return move(mm, relative, false); }
    int stopMove();
    int setMotorRamp(const MotorPara& ramp) override;
    int setMotorRamps(const MotorPara ramps[2]) override;
    int getPosition(float& mm) override;
    float getMaxPosition() override;
    int resetPosition();
    int reloadMotorPara();
    int startHoming(int, int, bool setStatus);

    // Panel images.
    int showImage(const QString& path, uint32_t flag);
    int showGrayImage(uint32_t level);
    int clearScreen();

    // For the print, image and homing threads.
    // Reads the next layer and shows its image: readNextLayer, then showLayer.
    int setNextLayerData();
    // Advances the open reader by one layer; 0, or -1 with no reader open or
    // a layer the file does not hold whole.
    int readNextLayer(NextLayer& next) override;
    // Shows a layer read by readNextLayer; 0, -5 when it could not be made.
    int showLayer(const NextLayer& next) override;
    int updateWorkPara(PrintWorkPara& para);
    void closeSvgFile();
    void closeQdsFile();
    int resetPrintInfo() override;
    // Homing and a waited move that a stop after `generation` cancels.
    unsigned int motorStopGeneration() const override;
    int startHomingSince(unsigned int generation, bool setStatus) override;
    int moveWaitSince(float mm, bool relative, unsigned int generation) override;

    ProjectView* projectView() const { return m_projectView.get(); }
    PrinterMonitor* monitor() const { return m_monitor.get(); }
    PrintThread* printThread() const { return m_printThread.get(); }

protected:
    // True (and logged) when a caller outside the print may not act now.
    bool refusedWhilePrinting(const char* operation) const;
    // Builds the work parameters of the open reader; false with none open.
    bool workParaFromReader(PrintWorkPara& work);
    void closeReaders();

    std::shared_ptr<MotorControl> m_motor;
    std::shared_ptr<ProjectView> m_projectView;
    std::shared_ptr<PrinterMonitor> m_monitor;
    std::shared_ptr<PrintThread> m_printThread;

    std::atomic<int> m_status{static_cast<int>(PrintStatus::None)};
    std::atomic<int> m_printMode{0};
    std::atomic<uint32_t> m_lastPrintTime{0};

    // Lamp-time accounting of the concrete printer's light operations.
    std::mutex m_lightLock;
    bool m_lightOnFlag = false;
    uint32_t m_unsavedLampSeconds = 0;
    Stopwatch m_lightStopwatch;

private:
    // The print's and the homing thread's stop, never refused; reached only
    // through PrintMachine. Everyone else stops through stopMove.
    void stopMotor() override;

    int printFile(const QString& path);
    int readModelInfo(const QString& path, ModelInfo& info);
    PrintInfo refreshPrintInfo();

    // Serialises print, pause, resume, abort and the start and end of a
    // homing from the pages and the remote link: each status change that
    // depends on the current status is checked and made under it.
    std::mutex m_commandLock;
    bool m_homing = false; // a homing from outside the print holds the axis
    bool m_shuttingDown = false; // no print starts any more
    // Runs between a homing's check and its claim of the axis, under the
    // command lock; set only by tests (HomingClaimProbe), which hold that
    // moment open for a racing caller.
    friend struct HomingClaimProbe;
    static std::atomic<void (*)()> s_beforeHomingClaim;

    std::mutex m_infoLock; // guards m_info and m_printStopwatch
    PrintInfo m_info;
    Stopwatch m_printStopwatch;

    // The reader of the file being printed; the image thread advances it
    // while the pages read its details.
    std::mutex m_readerLock;
    std::unique_ptr<SvgParser> m_svgParser;
    std::unique_ptr<PrintFileParser> m_qdsParser;
};
