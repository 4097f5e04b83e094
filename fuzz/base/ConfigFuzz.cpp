// Configuration text from outside: reading never crashes, and whatever was
// read is written back as text that reads again.
#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Warnings about bad keys are expected by the thousand: keep the log to errors, in a scratch folder.
const bool g_logReady = [] {
    char folder[] = "/tmp/talviks-fuzz.XXXXXX";
    if (mkdtemp(folder))
        logger()->init(folder, "fuzz", LogError, 1 << 20, 1, false);
    return true;
}();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const auto file = static_cast<ConfigStore::File>(data[0] % ConfigStore::FILE_COUNT);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    ConfigStore store;
    if (store.readText(file, text, "fuzz") == 0) {
        const std::string written = store.fileText(file);
        ConfigStore again;
        if (again.readText(file, written, "fuzz") != 0 || again.fileText(file) != written)
            abort();
    }
    return 0;
}
