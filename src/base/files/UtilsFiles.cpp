// Utils: file changes. Each one reaches the storage before it returns (the
// USB disk may be pulled at any time): the files and folders it touched are
// flushed, rather than every file system of the machine.
#include "base/files/Utils.h"

#include "base/files/DurableFile.h"
#include "base/files/RegularFile.h"
#include "base/log/LogWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char kCopySignature[] = "static int Utils::copyFile(const QString&, const QString&)";

enum class CopyStep { Done, ReadFailed, WriteFailed };

// Copies the rest of `in` to `out` with read and write; tells which side failed.
CopyStep copyByBuffer(int in, int out, int* error)
{
    constexpr size_t kChunk = 256 * 1024;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
        const ssize_t n = read(in, buffer.get(), kChunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return CopyStep::ReadFailed;
        }
        if (n == 0)
            return CopyStep::Done;
        const int written = durable::writeAll(out, buffer.get(), static_cast<size_t>(n));
        if (written < 0) {
            *error = -written;
            return CopyStep::WriteFailed;
        }
    }
}

// The kernel copies without passing the data through this process; where it
// cannot, or fails midway, the buffer copy takes over from the same offsets and
// reports the failing side exactly.
CopyStep copyContents(int in, int out, int* error)
{
    constexpr size_t kStep = 64u << 20;
    bool kernelCopy = true;
    while (kernelCopy) {
        const ssize_t n = copy_file_range(in, nullptr, out, nullptr, kStep, 0);
        if (n == 0)
            return CopyStep::Done;
        if (n < 0 && errno != EINTR)
            kernelCopy = false;
    }
    for (bool sendCopy = true; sendCopy;) {
        const ssize_t n = sendfile(out, in, nullptr, kStep);
        if (n == 0)
            return CopyStep::Done;
        if (n < 0 && errno != EINTR)
            sendCopy = false;
    }
    return copyByBuffer(in, out, error);
}

QString fsQPath(const QString& boardPath)
{
    return QString::fromStdString(Utils::fsPath(boardPath));
}

// Removes the tree under an existing folder (a file-system path), never
// following a symbolic link; then the folder itself. Hidden entries stay,
// except the temporary files of writes that never finished: nobody else would
// ever remove them.
bool removeTree(const QString& folder)
{
    QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::Drives | QDir::System | QDir::NoDotAndDotDot);
    const QFileInfoList hidden = QDir(folder).entryInfoList(QDir::Files | QDir::System | QDir::Hidden);
    for (const QFileInfo& entry : hidden)
        if (durable::isTemporaryName(entry.fileName().toStdString()) && !entry.isDir())
            entries.append(entry);
    for (const QFileInfo& entry : entries) {
        const QByteArray path = entry.absoluteFilePath().toUtf8();
        if (entry.isDir() && !entry.isSymLink())
            removeTree(entry.absoluteFilePath());
        else
            unlink(path.constData());
    }
    const QByteArray path = QDir(folder).absolutePath().toUtf8();
    const bool removed = rmdir(path.constData()) == 0;
    // Flush the parent once the folder is gone, else the folder's own removals.
    durable::syncParentFolder(removed ? path.toStdString() : path.toStdString() + "/.");
    return removed;
}

} // namespace

bool Utils::removeFile(const QString& path)
{
    const std::string file = fsPath(path);
    if (remove(file.c_str()) == 0)
        durable::syncParentFolder(file);
    struct stat info{};
    return lstat(file.c_str(), &info) != 0 && errno == ENOENT;
}

int Utils::copyFile(const QString& source, const QString& destination)
{
    LogWriter* log = logger();
    logCheck(kCopySignature, __LINE__);
    const std::string from = fsPath(source);
    const std::string to = fsPath(destination);

    // The source is opened before anything touches the destination.
    const int in = openRegularFile(from);
    if (in < 0) {
        if (errno == EINVAL || errno == EISDIR)
            log->write(LogError, "copyFile: %s is not a regular file", source.toUtf8().constData());
        else
            perror("open file1");
        return COPY_NO_SOURCE;
    }
    struct stat sourceInfo{};
    if (fstat(in, &sourceInfo) != 0) {
        perror("open file1");
        close(in);
        return COPY_NO_SOURCE;
    }
    struct stat destinationInfo{};
    if (stat(to.c_str(), &destinationInfo) == 0) {
        if (destinationInfo.st_dev == sourceInfo.st_dev && destinationInfo.st_ino == sourceInfo.st_ino) {
            log->write(LogError, "copyFile: %s is %s itself", destination.toUtf8().constData(), source.toUtf8().constData());
            close(in);
            return COPY_NO_DESTINATION;
        }
        if (S_ISDIR(destinationInfo.st_mode)) {
            log->write(LogError, "copyFile: %s is a folder", destination.toUtf8().constData());
            close(in);
            return COPY_NO_DESTINATION;
        }
    }

    std::string temporary;
    const int out = durable::openTemporary(to, &temporary);
    if (out < 0) {
        errno = -out;
        perror("open file2");
        close(in);
        return COPY_NO_DESTINATION;
    }
    printf("copyFile %s size %lld\n", source.toUtf8().constData(), static_cast<long long>(sourceInfo.st_size));

    int error = 0;
    const CopyStep step = copyContents(in, out, &error);
    close(in);
    if (step != CopyStep::Done) {
        durable::discardTemporary(out, temporary);
        perror(step == CopyStep::ReadFailed ? "read" : "write");
        log->write(LogError, "%s, %d: %s", "copyFile", __LINE__, strerror(error));
        return step == CopyStep::ReadFailed ? COPY_READ_ERROR : COPY_WRITE_ERROR;
    }
    const int committed = durable::commitTemporary(out, temporary, to);
    if (committed < 0) {
        log->write(LogError, "%s, %d: %s", "copyFile", __LINE__, strerror(-committed));
        return COPY_WRITE_ERROR;
    }
    logCheck(kCopySignature, __LINE__);
    return COPY_OK;
}

bool Utils::moveFile(const QString& source, const QString& destination)
{
    const std::string from = fsPath(source);
    const std::string to = fsPath(destination);
    // rename() replaces a destination file in one step.
    if (rename(from.c_str(), to.c_str()) == 0) {
        durable::syncParentFolder(to);
        durable::syncParentFolder(from);
        return true;
    }
    if (errno != EXDEV)
        return false;
    return copyFile(source, destination) == COPY_OK && removeFile(source);
}

bool Utils::removeDir(const QString& path)
{
    if (path.isEmpty())
        return false;
    const std::string folder = fsPath(path);
    struct stat info{};
    if (lstat(folder.c_str(), &info) != 0)
        return true;
    if (S_ISLNK(info.st_mode)) {
        // The link is the entry asked for; what it points to is not ours to remove.
        const bool pointsToFolder = QFileInfo(QString::fromStdString(folder)).isDir();
        if (!pointsToFolder)
            return true;
        return removeFile(path);
    }
    if (!S_ISDIR(info.st_mode))
        return true;
    return removeTree(fsQPath(path));
}
