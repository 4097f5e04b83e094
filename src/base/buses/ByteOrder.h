#pragma once

#include <cstdint>

// Writes value into buffer[0..3]: least significant byte first when
// littleEndian is set, most significant first otherwise.
void putUint32(uint32_t value, unsigned char* buffer, bool littleEndian);
// Reads buffer[0..3] as a big-endian number.
void getUint32BE(uint32_t& value, const unsigned char* buffer);
// The host byte order.
bool isLittleEndian();
