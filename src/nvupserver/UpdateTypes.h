#pragma once

#include <boost/function.hpp>

#include <ctime>
#include <string>
#include <vector>

namespace nvupserver {

enum PackageType { PACKAGE_KERNEL = 0, PACKAGE_CONTROL = 1, PACKAGE_LIBRARY = 2, PACKAGE_SOFTWARE = 3 };
const int PACKAGE_TYPE_COUNT = 4;

struct PkgVersionInfo
{
    PackageType type = PACKAGE_KERNEL;
    int major = 0;
    int minor = 0;
    int patch = 0;
    time_t buildTime = 0;
};

struct ClientInfo
{
    std::string sn;
    std::string vid;
    std::string pid;
    std::string name;
    std::string oemName;
    PkgVersionInfo hardwareVersion;
    std::vector<PkgVersionInfo> packageVersions;
};

// One package the service offers.
struct PackageUpdateItem
{
    PackageType type = PACKAGE_KERNEL;
    time_t buildTime = 0;
    std::string version;
    std::string md5; // hexadecimal, as the service gives it
    std::string url;
};

typedef std::vector<PackageUpdateItem> PackageInfoList;

struct PackageUpdateInfo
{
    int result = 0;
    std::string message;
    std::string sessionId;
    PackageInfoList packages;
};

// One package to fetch and the file to write it to; md5 is the digest the
// finished file must have (from the check answer).
struct PackageInfo
{
    PackageType type = PACKAGE_KERNEL;
    std::string version;
    std::string url;
    std::string path;
    std::string md5;
};

struct DownloadInfo
{
    std::string vid;
    std::string pid;
    std::string sessionId;
    std::vector<PackageInfo> packages;
};

// Bounds of each package a download fetches.
struct DownloadLimits
{
    int attempts = 50;                      // every attempt counts, those that brought bytes too
    int attemptSeconds = 60;                // one attempt as a whole
    int packageSeconds = 50 * 60;           // all attempts of one package and the pauses between them
    long long maxPackageBytes = 1LL << 30;  // a larger package is refused; 0: no bound
    long long reserveBytes = 32LL << 20;    // left free on the file system of the package folder
};

typedef boost::function<void(int code, const std::string& message)> ErrorCallback;
typedef boost::function<void(PackageUpdateInfo)> UpdateInfoCallback;
typedef boost::function<void(int result, const std::string& message)> DownloadResultCallback;
typedef boost::function<void(PackageType type, double total, double now)> ProgressCallback;

} // namespace nvupserver
