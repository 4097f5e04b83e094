#include "engine/slicefile/SliceFileOpen.h"

#include "base/files/RegularFile.h"

#include <unistd.h>

#include <cerrno>

FILE* openSliceFile(const std::string& path)
{
    const int fd = openRegularFile(path);
    if (fd < 0) {
        // The slice readers report a folder like any other non-file.
        if (errno == EISDIR)
            errno = EINVAL;
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}
