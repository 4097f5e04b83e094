// The FPGA's JTAG side: identification, status and reprogramming through the
// JTAG driver, and programming a bitstream with the external tool.
#include "engine/devices/FPGAControl.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "base/platform/Shell.h"
#include "base/threads/PThread.h"

#include <fcntl.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <sstream>
#include <vector>

namespace {

// The JTAG driver's requests.
constexpr unsigned long kJtagGetId = 0x80046A0B;             // reads a u32
constexpr unsigned long kJtagGetStatusRegister = 0x80046A0C; // reads a u32
constexpr unsigned long kJtagReprogram = 0x6A08;

constexpr uint32_t kAcceptedIds[] = {0x1100581B, 0x1100481B};
// Status bits 12-15 all set: the FPGA is configured and running.
constexpr uint32_t kStatusGoodMask = 0xF000;
constexpr int kReprogramAttempts = 3;
constexpr int kProgramAttempts = 3;

bool statusGood(uint32_t status)
{
    return (status & kStatusGoodMask) == kStatusGoodMask;
}

// Closes the JTAG node on every way out.
class JtagNode
{
public:
    explicit JtagNode(const std::string& path) : m_fd(platform().io().open(path.c_str(), O_RDWR | O_CLOEXEC)) {}
    ~JtagNode()
    {
        if (m_fd >= 0)
            platform().io().close(m_fd);
    }
    JtagNode(const JtagNode&) = delete;
    JtagNode& operator=(const JtagNode&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int ioctl(unsigned long request, void* arg) { return platform().io().ioctl(m_fd, request, arg); }

private:
    int m_fd;
};

// The first line of a command's output, at most 99 bytes, without its line end.
std::string firstLineOf(const std::string& command)
{
    std::string output;
    platform().shell().capture(command, &output);
    std::string line = output.substr(0, output.find('\n'));
    return line.substr(0, 99);
}

} // namespace

int FPGAControl::checkJtag()
{
    JtagNode node(m_paths.jtag);
    if (!node.isOpen()) {
        printf("open jtag device error,--%d\n", 1192);
        return -1;
    }
    uint32_t id = 0;
    if (node.ioctl(kJtagGetId, &id) < 0) {
        perror("JTAG_GET_ID error:");
        return -1;
    }
    printf("FPGA ID Code: %x\n", id);
    if (id != kAcceptedIds[0] && id != kAcceptedIds[1])
        return -2;
    uint32_t status = 0;
    for (int pass = 0; pass <= kReprogramAttempts; ++pass) {
        if (node.ioctl(kJtagGetStatusRegister, &status) < 0) {
            perror("JTAG_GET_STATUS_REGISTER error:");
            return -3;
        }
        printf("FPGA Status Register: %x\n", status);
        if (statusGood(status))
            return 0;
        // The last pass only checks what the last reprogramming achieved.
        if (pass == kReprogramAttempts)
            break;
        if (node.ioctl(kJtagReprogram, nullptr) < 0) {
            perror("JTAG_FPGA_REPROGRAM error:");
            return -11;
        }
        puts("reprogram FPGA");
    }
    logger()->write(LogError, "FPGAControl::checkJtag: status register %x still bad after %d reprogramming attempts", status,
                    kReprogramAttempts);
    return -4;
}

int FPGAControl::upgradeFirmware(const std::string& tool, const std::string& file)
{
    // Tool and bitstream paths may come from a disk: they reach the shell quoted.
    const std::string quotedTool = shellQuote(rootPath(tool));
    const std::string id = firstLineOf(quotedTool + " -I | awk  '{print $4}' ");
    printf("get FPGA ID Code: [%s]\n", id.c_str());
    if (id.compare(0, 8, "1100481b") != 0 && id.compare(0, 8, "1100581b") != 0)
        return -1;
    for (int attempt = 0; attempt < kProgramAttempts; ++attempt) {
        platform().shell().run(quotedTool + " -D /dev/jtag -V -F " + shellQuote(rootPath(file)));
        PThread::msleep(1000);
        const std::string status = firstLineOf(quotedTool + " -S | awk  '{print $4}' ");
        if (status.size() >= 2 && status[1] == 'f')
            return 0;
        logger()->write(LogError, "%s error status code %s", "upgradeFirmware", status.c_str());
    }
    return -2;
}

int FPGAControl::runTool(const std::string& tool, const std::string& argument)
{
    std::vector<std::string> args;
    std::istringstream words(argument);
    for (std::string word; words >> word;)
        args.push_back(word);
    return platform().shell().exec(rootPath(tool), args);
}
