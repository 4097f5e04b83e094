#pragma once

#include <QString>

#include <array>
#include <ctime>

// The fixed folders and files of the system; nothing else spells a path.
enum PathId {
    PATH_APP_DIR,
    PATH_BIN_DIR,
    PATH_MODEL,
    PATH_IMAGE,
    PATH_VAR,
    PATH_LOG,
    PATH_TMP,
    PATH_PACKAGE,
    PATH_KERNEL,
    PATH_KERNEL_FILE,
    PATH_CONTROL,
    PATH_CONTROL_FILE,
    PATH_LIBRARY,
    PATH_PROJECT,
    PATH_SOFTWARE,
    PATH_TIMESTAMP,
    PATH_DATA_ETC,
    PATH_CONFIG,
    PATH_UDISK,
    PATH_CONFIG_FILE,
    PATH_WIFI_CFG,
    PATH_SYS_CONFIG,
    PATH_WIFI_PASS,
    PATH_SERIAL,
    PATH_THUMB_INTERNAL,
    PATH_THUMB_UDISK,
    _PATH_COUNT
};

// The path table. Values are board paths; they never change after
// construction. Building the table also prepares the file system for a run:
// it makes the data folders, makes "/tmp/.thumb" its own (afresh when another
// user or a link had its place; when it cannot, PATH_THUMB_UDISK is empty and
// there are no USB thumbnails), empties the package and thumbnail folders,
// touches the time stamp file and sets the wall clock to the build time plus
// ten years (through the clock seam).
class PathManager
{
public:
    typedef std::array<QString, _PATH_COUNT> Table;

    // The table of the process, built on first call for the program's folder.
    static PathManager* instance();

    // Builds a table for a program in `appDir` and prepares the file system.
    explicit PathManager(const QString& appDir);

    QString get(const PathId& id);
    // Makes a folder (board path) and its parents when it does not exist,
    // each 0755 whatever the umask.
    void mkpath(const QString& path);
    // Creates the file (0644) when missing, keeping its content, and sets the
    // clock from the build time.
    void makeTimeStamp(const QString& path);

    // The values for a program in `appDir`, with no effect on anything.
    static Table pathsFor(const QString& appDir);
    // The program's build time from the compiler's date ("Jun  5 2023") and
    // time ("19:30:49") texts, read as local time; sets the wall clock to ten
    // years after it. Answers the build time.
    static time_t setClockFromBuildTime(const char* date, const char* time);

private:
    void initPaths(const QString& appDir);

    Table m_paths;
};
