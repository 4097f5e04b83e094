#pragma once

#include "board/DeviceModel.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace sim {

// The JTAG driver's node with an FPGA on its chain: it reads the chip's id
// and status register and reprograms it from its configuration memory. A
// reprogramming can be made to fix the status after a number of attempts, or
// never; failing calls come from the board's fault injector.
class JtagModel : public DeviceModel, public std::enable_shared_from_this<JtagModel>
{
public:
    // The driver's requests: two reading a u32, one without argument.
    static constexpr unsigned long kGetId = 0x80046A0B;
    static constexpr unsigned long kGetStatusRegister = 0x80046A0C;
    static constexpr unsigned long kReprogram = 0x6A08;
    // Bits 12-15 set: configured and running.
    static constexpr uint32_t kStatusGood = 0x0000F3C1;
    static constexpr uint32_t kStatusUnconfigured = 0x00000301;

    void setId(uint32_t id);
    void setStatus(uint32_t status);
    // The status turns good with the n-th reprogramming from now (0: never).
    void fixAfterReprograms(int n);
    int reprograms() const;
    int statusReads() const;

    int open(const std::string& path, int flags, std::shared_ptr<OpenFile>& file) override;

private:
    class File;
    int ioctl(unsigned long request, void* arg);

    mutable std::mutex m_mutex;
    uint32_t m_id = 0x1100481B;
    uint32_t m_status = kStatusGood;
    int m_fixAfter = 0;
    int m_reprograms = 0;
    int m_statusReads = 0;
};

} // namespace sim
