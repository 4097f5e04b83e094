// The FPGA link's checksums. The libraries keep their tables themselves,
// built once and safely, whichever thread asks first.
#include "engine/devices/FPGAControl.h"

#include <boost/crc.hpp>
#include <zlib.h>

uint16_t FPGAControl::crc16(const uint8_t* bytes, size_t count)
{
    boost::crc_optimal<16, 0x1021, 0, 0, false, false> crc; // XMODEM
    crc.process_bytes(bytes, count);
    return crc.checksum();
}

uint32_t FPGAControl::crc32(const uint8_t* bytes, size_t count, uint32_t initial, uint32_t xorOut)
{
    // zlib inverts the register on the way in and out; undo both so that
    // `initial` is the raw register and `xorOut` the only final XOR.
    if (count == 0)
        return initial ^ xorOut;
    const uint32_t raw = ~static_cast<uint32_t>(crc32_z(~initial, bytes, count));
    return raw ^ xorOut;
}
