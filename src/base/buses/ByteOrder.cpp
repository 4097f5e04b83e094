#include "base/buses/ByteOrder.h"

void putUint32(uint32_t value, unsigned char* buffer, bool littleEndian)
{
    for (int i = 0; i < 4; ++i) {
        const int shift = littleEndian ? 8 * i : 8 * (3 - i);
        buffer[i] = static_cast<unsigned char>(value >> shift);
    }
}

void getUint32BE(uint32_t& value, const unsigned char* buffer)
{
    value = static_cast<uint32_t>(buffer[0]) << 24 | static_cast<uint32_t>(buffer[1]) << 16 |
            static_cast<uint32_t>(buffer[2]) << 8 | buffer[3];
}

bool isLittleEndian()
{
    return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
}
