#pragma once

#include "board/GpioModel.h"
#include "board/I2cBusModel.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

// The projector's display controller at 0x1B on "/dev/i2c-0". It answers only
// while its power line (GPIO 30) is high; without power every message fails
// as unanswered (-ENXIO), and a power loss switches the light off and puts
// every register back to its power-up value.
//
// Commands (first byte of a write; 16-bit values little-endian):
//   writes: 0x05 (1 byte), 0x07 (1), 0x10 (8: crop x, y, width, height),
//     0x12 (4: input width, height), 0x1A (1: 1 begins an update, 0 ends it),
//     0x2E (4: display width, height), 0x52 (1: 4 light on, 0 light off),
//     0x54 (6: current block), 0x5C (6: maximum current block),
//     0xEB (1: selects an indirect register), 0xEC (1: writes it);
//   reads (a write of the command, then a read in the same transaction):
//     0x53 (1: 4 while the light is on), 0x55 (6: current block),
//     0x5D (6: maximum current block), 0xD0 (1: show status),
//     0xD2 (4 or 16: version records, each patch (16 bits), minor, major).
// The light's current is bytes 4 and 5 of the block (10 bits). Indirect
// register 2 is the illumination current limit. A command it does not know,
// or a wrong length, is refused as a NAK (-EREMOTEIO).
//
// The light's timeline (machine time, the installed Clock) records every
// switch-on and switch-off; a hook runs at each of them inside the
// transaction that switched, before the caller sees its result, so a hook at
// a switch-on sees the frame that is being exposed. The hook must not use
// the I2C bus.
class DisplayControllerModel : public I2cTarget, public std::enable_shared_from_this<DisplayControllerModel>
{
public:
    static constexpr uint16_t kAddress = 0x1B;
    static constexpr unsigned int kPowerLine = 30;
    static constexpr uint8_t kIllumLimitRegister = 2;

    struct LightEvent
    {
        int64_t timeNs = 0; // machine time
        bool on = false;
        uint16_t current = 0;   // light current (0-1023) at the change
        uint8_t illumLimit = 0; // illumination current limit code at the change
    };

    // One switch-on and the switch-off that ended it.
    struct Exposure
    {
        int64_t onNs = 0;
        int64_t offNs = -1; // -1 while the light is still on
        uint16_t current = 0;
        bool isOpen() const { return offNs < 0; }
        int64_t durationMs() const { return isOpen() ? -1 : (offNs - onNs) / 1000000; }
    };

    struct VideoInput
    {
        uint16_t inputWidth = 0, inputHeight = 0;     // 0x12
        uint16_t displayWidth = 0, displayHeight = 0; // 0x2E
        std::array<uint16_t, 4> crop{};               // 0x10
        uint8_t source = 0;                           // 0x07
        uint8_t port = 0;                             // 0x05
        bool updating = false;                        // between 0x1A 1 and 0x1A 0
    };

    struct Version
    {
        uint8_t major = 0, minor = 0;
        uint16_t patch = 0;
    };
    // Application, API, software, sequencer.
    using Versions = std::array<Version, 4>;

    using LightHook = std::function<void(const LightEvent&)>;

    // Made through here so that the model can follow its power line.
    static std::shared_ptr<DisplayControllerModel> create(std::shared_ptr<GpioModel> gpio,
                                                          unsigned int powerLine = kPowerLine);
    ~DisplayControllerModel() override;

    int transfer(i2c_msg* messages, size_t count) override;

    bool isPowered() const;
    bool isLightOn() const;
    uint16_t current() const;
    uint16_t maxCurrent() const;
    std::array<uint8_t, 6> currentBlock() const;
    uint8_t indirectRegister(uint8_t index) const;
    uint8_t illumLimit() const { return indirectRegister(kIllumLimitRegister); }
    VideoInput videoInput() const;

    void setVersions(const Versions& versions);
    void setShowStatus(uint8_t status);

    std::vector<LightEvent> lightEvents() const;
    std::vector<Exposure> exposures() const;
    void clearTimeline();
    void setLightHook(LightHook hook);

private:
    DisplayControllerModel(std::shared_ptr<GpioModel> gpio, unsigned int powerLine);
    struct Registers
    {
        bool lightOn = false;
        std::array<uint8_t, 6> current{};
        std::array<uint8_t, 6> maxCurrent{{0, 0, 0, 0, 0xFF, 0x03}};
        std::array<uint8_t, 256> indirect{};
        uint8_t selected = 0;
        uint8_t showStatus = 0;
        VideoInput input;
    };

    int write(const uint8_t* bytes, size_t length, LightEvent& event, bool& switched);
    int read(uint8_t command, uint8_t* reply, size_t length);
    void onPower(int level);
    LightEvent recordLocked(bool on);
    void runHook(const LightEvent& event);

    const std::shared_ptr<GpioModel> m_gpio;
    const unsigned int m_powerLine;
    int m_listener = 0;

    mutable std::mutex m_mutex;
    Registers m_registers;
    Versions m_versions{{{5, 1, 0}, {1, 0, 2}, {7, 4, 2}, {2, 0, 1}}};
    std::vector<LightEvent> m_events;
    LightHook m_hook;
};

} // namespace sim
