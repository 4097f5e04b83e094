// The check answer comes from the network: whatever it holds, parsing ends
// in a verdict, never a crash, an exception or a huge allocation.
#include "nvupserver/PackageUrl.h"
#include "nvupserver/UpdateJson.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    nvupserver::CheckAnswer answer;
    std::string why;
    if (nvupserver::parseCheckAnswer(text, answer, why)) {
        for (const nvupserver::PackageUpdateItem& item : answer.packages) {
            const std::string name = nvupserver::packageFileName(item.url);
            if (name == "." || name == ".." || name.find('/') != std::string::npos)
                __builtin_trap();
        }
    }
    nvupserver::ServiceAnswer service;
    nvupserver::parseServiceAnswer(text, service, why);
    return 0;
}
