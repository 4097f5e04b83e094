#pragma once

#include <QString>

class QByteArray;
class QColor;
class QPixmap;

#include <cstdint>
#include <ctime>
#include <string>

// Helpers shared by the pages and services: static functions only, no state.
// Paths are board paths ("/data/model/x.qds", "/media/sda1/..."): they reach
// the file system under the root prefix, converted to UTF-8.
class Utils
{
public:
    Utils() = delete;

    // The file-system path of a board path (UTF-8, under the root prefix).
    static std::string fsPath(const QString& boardPath);

    // --- Path tests and names ---
    static bool isFile(const QString& path);
    static bool isDir(const QString& path);
    // Prints "stat" with the cause when the path cannot be examined.
    static void statPath(const QString& path);
    // As above; the time is not applied to the file.
    static void statPath(const QString& path, time_t time);
    // Last access time in seconds since the epoch, or 0.
    static time_t fileAccessTime(const QString& path);
    // dir, a separator, name (no check for a separator already there).
    static QString joinPath(const QString& dir, const QString& name);
    // Whether a ".svgx" file was written to its end: "</svg>" in its last 512 bytes.
    static bool isSvgxComplete(const QString& path);

    // --- Disk and time ---
    // Size and free space (blocks free to the super-user) of the file system
    // holding `path`, in bytes: 0, or a negative errno (logged).
    static int getDiskInfo(const std::string& path, uint64_t& total, uint64_t& free);
    static void secondsToHourMin(int seconds, int& hours, int& minutes);
    static void secondsToHourMinSec(int seconds, int& hours, int& minutes, int& secs);
    // Today, 12:00:00 local time, in seconds since the epoch.
    static qint64 todayNoonTime();

    // --- File changes: each reaches the storage before it returns ---
    // True when nothing is left at the path (also when nothing was there).
    static bool removeFile(const QString& path);

    enum CopyResult {
        COPY_OK = 0,
        COPY_NO_SOURCE = 2,      // source missing, unreadable or not a regular file
        COPY_NO_DESTINATION = 3, // destination not creatable, a folder, or the source itself
        COPY_READ_ERROR = 4,
        COPY_WRITE_ERROR = 5,    // also a failed flush or rename; the old destination stays
    };
    // Copies a file through a temporary file beside the destination, renamed
    // over it only when the whole copy reached the storage: a failed copy
    // leaves the old destination as it was. A CopyResult.
    static int copyFile(const QString& source, const QString& destination);
    // Renames a file, replacing a destination file; across file systems it
    // copies and removes the source. The rename's result.
    static bool moveFile(const QString& source, const QString& destination);
    // Removes a folder tree. Symbolic links inside are removed, never
    // followed; hidden entries stay, but for the temporary files that
    // interrupted copies and rewrites left. False for an empty path or when
    // the folder is still there (it held hidden entries); true when no such
    // folder exists.
    static bool removeDir(const QString& path);

    // --- Lookups ---
    // The first "*.corbin" file of a folder in name order, joined to the
    // folder; empty when there is none.
    static QString findCorbinFile(const QString& dir);
    // The greatest (byte-wise) name of the subfolders of `dir` that do not
    // start with "." and hold two or more dots; empty when there is none.
    // `name` is untouched when the folder cannot be read.
    static void latestVersionDir(const std::string& dir, std::string& name);
    static bool hasMultipleDots(const std::string& text);

    // --- Processes ---
    // Runs a command line through the shell seam: 1 for an empty command,
    // else the raw wait status, or -1 when it could not be run.
    static int runShell(const std::string& command);

    // --- Colours and fonts ---
    // The controls' colour for a role number: 1 blue, 3 dark grey, 4 and 7
    // black, 5 red, 6 light blue, 8 transparent; every other role white.
    static QColor getColor(int role);
    static QString getFontFamily();

    // --- Pixmaps ---
    // The image at a board path, scaled to exactly width x height (smooth).
    static QPixmap loadPixmap(const QString& path, int width, int height);
    // The image in `data` with its black pixels made transparent, scaled to
    // width x height; null when the data is no image. GUI thread only: the
    // result is one pixmap shared by all calls, overwritten by the next one.
    static QPixmap& maskedPixmap(const QByteArray& data, int width, int height);
    // Renders `text` as a QR code with the encoder command `tool` (program
    // and options) into "/tmp/qrcode.png" and loads it; `pixmap` is null when
    // the encoder failed. The text reaches the encoder as one argument.
    static void getQRCode(const QString& tool, const QString& text, QPixmap& pixmap);

    // --- Model thumbnails and paths ---
    // Whether a path is the USB disk's folder or lies below it.
    static bool isUsbPath(const QString& path);
    // The thumbnail folder of a model file (USB disk or internal store);
    // empty when the model is not a regular file.
    static QString thumbDir(const QString& modelPath);
    // The model's thumbnail (base name + ".png") / small thumbnail (base name
    // + "_thumb.png"), extracted from the model when missing or made from
    // another model of that name (each thumbnail records the size and time
    // of the model it shows); empty when the model is no ".svgx" file or
    // holds no usable preview.
    static QString getThumb(const QString& modelPath);
    static QString getThumbnail(const QString& modelPath);
    // Removes a model and its thumbnails: whether the model was removed.
    static bool removeModel(const QString& modelPath);
    // Writes both thumbnails of a ".svgx" model from its preview image: 0 or -1.
    static int extractThumb(const QString& modelPath);
    // Saves an image with its pure black pixels transparent: 0 or -1.
    static int saveThumb(const QString& target, const QByteArray& data);
    // The uniformity mask image of this machine in `dir`.
    static QString maskImagePath(const QString& dir);

    // --- Network services (through the shell seam) ---
    static int disableWiFi();
    static int disableWiFiAP();
    static int disableEth();
    static void restartEth();
    // The IPv4 address of an interface that is up, as dotted text; empty when
    // it is down, missing or its first address is not IPv4.
    static QString getIP(const QString& interfaceName);
    static QString getEthIP();
    static QString getWlanIP();
};
