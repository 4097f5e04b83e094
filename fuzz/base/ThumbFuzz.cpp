// Thumbnail extraction from a ".svgx" file as it may come on a USB disk:
// any head, any preview bytes. Never a crash, a hang or a huge allocation.
#include "base/config/PathManager.h"
#include "base/files/Utils.h"
#include "base/images/ImageUtils.h"
#include "base/log/LogWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kModel[] = "/data/model/fuzz.svgx";
int g_fd = -1;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A scratch root of its own before any singleton reads it.
    char root[] = "/tmp/talviks-fuzz-thumb.XXXXXX";
    if (!mkdtemp(root))
        return 1;
    setenv("TALVIKS_ROOT", root, 1);
    PathManager::instance(); // the model and thumbnail folders
    // Every refused file logs an error: keep them out of the run.
    logger()->init("/data/var", "fuzz", LogTest, 1 << 20, 1, false);
    g_fd = open(Utils::fsPath(kModel).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return g_fd < 0 ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (ftruncate(g_fd, 0) != 0 || pwrite(g_fd, data, size, 0) != static_cast<ssize_t>(size))
        abort();
    if (Utils::extractThumb(kModel) == 0 && Utils::getThumbnail(kModel).isEmpty())
        abort(); // what was extracted must be found again
    return 0;
}
