#pragma once

#include "base/buses/I2C.h"
#include "base/threads/noncopyable.h"
#include "engine/devices/Board.h"

#include <cstdint>
#include <mutex>
#include <string>

// The projector's display controller: its I2C command protocol at 0x1B on an
// i2c-dev bus, and its power line (GPIO 30). Results are 0 or a negative
// errno unless an operation says otherwise; nothing is sent while the device
// is not open (-EBADF).
//
// Any thread may call it (the print thread switches the light while pages
// ask for its state and versions): each operation has the bus to itself
// from its first message to its last.
class ProjectControl : noncopyable
{
public:
    static constexpr uint16_t kAddress = 0x1B;
    static constexpr unsigned int kPowerLine = board::kProjectorPowerLine;
    static constexpr int kMaxCurrent = 1023;

    explicit ProjectControl(const char* device);
    ~ProjectControl();

    // Opens the device unless it is open: 0 or -1.
    int connect();
    int disconnect();
    bool isConnected() const { return m_i2c.isOpen(); }
    // connect(), then the video input set-up: 0 or -1.
    int initialize();

    // A command with 1 to 63 parameter bytes (a contract: anything else stops the process).
    int i2c_write(uint8_t command, const uint8_t* data, int count);
    // A command, then 1 to 63 reply bytes in the same transaction.
    int i2c_read(uint8_t command, uint8_t* reply, int count);

    // Pulses the power line low, then high (500 ms each); the result of raising it.
    int powerOn();
    int powerOff();
    bool isPowerOn();
    // The power line read back as 0; a failed read is no answer either way.
    bool isPowerOff();

    int lightOn();
    int lightOff();
    bool isLightOn();

    // The light's current, 0 to 1023 (held inside that range), and the
    // current limit that goes with it.
    int setCurrent(int current);
    int setMaxCurrent(int current);
    int getCurrent(uint16_t* current);
    int setIllumLimit(unsigned int current);
    int setVbiasDuration();

    int printVersions(int);
    int getSoftwareVersion();
    int getShowStatus(uint32_t* status);
    int beginUpdate();
    int endUpdate();

private:
    // The steps below run with m_mutex held.
    int connectLocked();
    int sendCommand(uint8_t command, const uint8_t* data, int count);
    int readReply(uint8_t command, uint8_t* reply, int count);
    int setupVideoInput();
    int writeByte(uint8_t command, uint8_t value);
    // Selects an indirect register and writes it, as one step.
    int writeIndirect(uint8_t index, uint8_t value);

    HardwareInterface::I2C m_i2c;
    const std::string m_device;
    // Held for each operation's messages, so that no other caller's come
    // between them (indirect registers, read-modify-write of the current).
    std::mutex m_mutex;
};

// The limit code for a light current.
uint8_t illumLimitCode(unsigned int current);
