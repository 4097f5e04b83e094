#pragma once

#include "engine/print/BasePrinter.h"
#include "engine/slicefile/QdsFormat.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class FPGAControl;
class FrameBuffer;
class ProjectControl;
class SignalWatch;
class UVLightControl;

// The engine's single entry object: creates and owns every controller, brings
// the devices up at start-up, switches the UV light (keeping the lamp-time
// count), and forwards the pages', the remote link's and the print loop's
// calls to the controllers.
//
// The simulated board, where one stands in for the machine, must stay
// installed until the process exits: the printer lives until then.
class Printer : public BasePrinter
{
public:
    // The printer, created on first use (throws std::runtime_error when the
    // projector frame buffer cannot be mapped; a later call tries again).
    static Printer* instance();

    ~Printer() override;

    // Brings the devices up; "" on success, "00020016" when the light failed.
    std::string initialize(const QString& maskPath, const QString& correctionPath);
    bool isInitialized() const { return m_initialized.load(); }
    int destroy();
    std::string connectDevices();
    int releaseDevices();
    void cleanup() {}

    // What follows the safe stop of a termination signal.
    enum class AfterSignal {
        EndProcess,      // the process ends by the signal
        ReturnToProgram, // the program finishes by itself; a later signal ends the process
    };
    // Makes SIGTERM, SIGINT and SIGHUP stop the machine safely, on a thread
    // of the printer's: the running print is aborted and no other starts,
    // the light is switched off and its time saved, the layer renderer is
    // ended; then `after`. catchTerminationSignals() must have run first in
    // main. 0; -1 (logged) when none of the signals is caught (they act as
    // they always did) or the thread could not be started (they stay caught,
    // unanswered).
    int stopOnSignals(AfterSignal after = AfterSignal::EndProcess);
    // The signal that stopped the machine; 0 while none has.
    int stopSignal() const { return m_stopSignal.load(); }
    // For a program that has finished by itself: from now on a signal ends
    // the process once the machine is safe. The signal taken before, if any
    // (a signal comes either before this, and is returned, or after, and ends
    // the process).
    int endProcessOnSignals();

    int lightOn() override;
    using BasePrinter::lightOff;
    int lightOff(int unused) override;
    bool isLightOn() override;

    int getLightDuty(uint32_t* duty0, uint32_t* duty1, uint32_t* duty2, uint32_t* duty3);
    int setLightDuty(uint32_t duty0, uint32_t duty1, uint32_t duty2, uint32_t duty3);
    int getLightValue();
    int applyLightDuty(uint32_t frequency);
    int enableScreen(bool on) override;
    int printProjectorVersions(int);
    int setDLPCorrectData(const QString& path);
    int setCalibrationFactor(float x, float y) override;
    int showSvgLayer(const std::string& svg);
    int decodeImageShow(const std::string& data, ComprFormat format);
    // A raw image of `size` bytes: refused when too small for the panel.
    int transDataImage(const uint8_t* pixels, size_t size) override;
    uint8_t* getImageBits();
    // A 24-bit RGB image of exactly the machine resolution (rows may be
    // padded), shown untouched: the panel's result, or -1 for any other image.
    int transDataImage(const QImage& image);

    // Test patterns for the projector test page: 0 when shown; -1 while a
    // print runs or is paused, or when the resolution is no panel. The first
    // three are also saved on the USB disk, when one is mounted.
    int showBlackImage();                     // grid of lines, "/black.png"
    int showGridImage(bool whiteBackground);  // labelled frame, "/ABC.png"
    int showTestImage();                      // stripe stair, "/test.png"
    int showRectImage();                      // centre marker
    int showBlockImage();                     // 280 blocks
    void disableMotorLocator(bool disable) override;
    bool isZLimitTriggered();
    bool isDoorClosed();
    bool getAuxInput();
    void setDoorMonitor(bool) {}
    void setOutputHigh() override;
    void setOutputLow() override;
    bool isExistUdisk() const { return m_isExistUdisk.load(); }
    void setIsExistUdisk(bool present);
    // The FPGA's version text; "ERR" and 0 when the machine has no FPGA link.
    int getFpgaVersion(std::string& text);

    UVLightControl* uvLight() const { return m_uvLight.get(); }
    ProjectControl* projectControl() const { return m_projectControl.get(); }
    FrameBuffer* frameBuffer() const { return m_frameBuffer.get(); }

private:
    Printer();
    static void destroyAtExit();
    void onTerminationSignal(int signal);
    void stopSafely(int signal);
    int switchLightOff();
    // Adds the lamp seconds not yet counted to the used time and saves it.
    void saveLampSeconds();
    void saveLampSecondsLocked(); // with m_lightLock held
    void setOutputs(int value);
    int showPattern(const char* name, void (*build)(QImage&));

    std::shared_ptr<UVLightControl> m_uvLight;
    std::shared_ptr<ProjectControl> m_projectControl;
    std::shared_ptr<FrameBuffer> m_frameBuffer;
    // No machine of this system fits an FPGA: the slot stays empty.
    std::shared_ptr<FPGAControl> m_fpga;
    std::atomic<bool> m_isExistUdisk{false};
    std::atomic<bool> m_initialized{false};
    std::unique_ptr<SignalWatch> m_signalWatch;
    std::atomic<AfterSignal> m_afterSignal{AfterSignal::EndProcess};
    std::atomic<int> m_stopSignal{0};
};
