// The microcontroller's reply lines: every tag's field cut into pieces and
// read as numbers, as the link does with whatever the peer sends.
#include "engine/devices/M0Reply.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The link keeps at most 100 bytes of a reply, NUL-terminated.
    const std::string reply(reinterpret_cast<const char*>(data), size < 1023 ? size : 1023);
    for (const char* tag : {"<reply>", "<config>", "<value>", "<UVS>"}) {
        std::string text;
        if (!m0Field(reply.c_str(), tag, &text))
            continue;
        for (const std::string& piece : m0Pieces(text))
            strtol(piece.c_str(), nullptr, 10);
    }
    return 0;
}
