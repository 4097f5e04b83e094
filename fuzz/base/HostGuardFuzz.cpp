// Command lines carry names and passwords from users and peers: the host
// guard's reading of them must never crash, hang or loop whatever they hold.
#include "base/HostGuard.h"
#include "base/Shell.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The guard reads only under a scratch root; this one is never written to.
    setenv("TALVIKS_ROOT", "/nonexistent/talviks-fuzz-root", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string why;
    hostGuardAllowsCommand(text, &why);
    const std::vector<std::string> argv = splitCommandLine(text);
    hostGuardAllowsProgram(argv, &why);
    return 0;
}
