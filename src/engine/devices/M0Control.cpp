#include "engine/devices/M0Control.h"

#include "base/buses/Gpio.h"
#include "base/log/LogWriter.h"
#include "base/threads/PThread.h"
#include "engine/devices/Board.h"
#include "engine/devices/M0Reply.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// No machine of this system wires the microcontroller's boot and reset lines:
// line 0 is no line, so the pulses only wait. The boot line doubles as the
// control line that selects what M208 and M209 report.
constexpr unsigned int kBootLine = board::kMcuBootLine;
constexpr unsigned int kResetLine = board::kMcuResetLine;
constexpr unsigned int kControlLine = kBootLine;

constexpr int kReplyCapacity = 100;
constexpr int kTimeoutMs = 1000;
constexpr int kConfigTimeoutMs = 2000;

const char kTagReply[] = "<reply>";
const char kTagConfig[] = "<config>";
const char kTagValue[] = "<value>";
const char kTagUvs[] = "<UVS>";
const char kOk[] = "ok";

M0Config g_config;

// The numbers between `tag`s; false when the tags are missing.
bool numbersIn(const char* reply, const char* tag, std::vector<int>* numbers)
{
    std::string text;
    if (!m0Field(reply, tag, &text))
        return false;
    numbers->clear();
    for (const std::string& piece : m0Pieces(text))
        numbers->push_back(static_cast<int>(strtol(piece.c_str(), nullptr, 10)));
    return true;
}

void pulseReset()
{
    gpio_set_value(kBootLine, 0);
    PThread::msleep(50);
    puts("Boot Reset");
    gpio_set_value(kResetLine, 0);
    PThread::msleep(300);
    gpio_set_value(kResetLine, 1);
    PThread::msleep(200);
    puts("Hard Reset");
}

} // namespace

M0Control::M0Control(const char* path) : m_path(path ? path : "")
{
    logger()->write(LogInfo, "Enter M0Control");
    gpio_export(kControlLine);
    gpio_set_dir(kControlLine, "out");
    gpio_set_value(kControlLine, 0);
}

M0Control::~M0Control()
{
    gpio_unexport(kControlLine);
    logger()->write(LogInfo, "Leave M0Control");
}

bool M0Control::openPort()
{
    if (m_uart.open(m_path.c_str(), 115200, 'N', 8, 1) != 0) {
        logger()->write(LogError, "Connect Uart(%s) failed", m_path.c_str());
        return false;
    }
    return true;
}

int M0Control::connect()
{
    MutexLocker lock(m_mutex);
    if (m_uart.isOpen())
        return 0;
    if (!openPort())
        return -1;
    logger()->write(LogInfo, "Connect M0Control Success");
    m_uart.setTimeout(kTimeoutMs);
    return 0;
}

int M0Control::disconnect()
{
    {
        MutexLocker lock(m_mutex);
        m_uart.close();
    }
    gpio_unexport(kBootLine);
    gpio_unexport(kResetLine);
    return 0;
}

void M0Control::hardReset()
{
    for (unsigned int line : {kBootLine, kResetLine}) {
        gpio_export(line);
        gpio_set_dir(line, "out");
    }
    pulseReset();
}

int M0Control::getVersion(std::string& text)
{
    // Under the lock, so that a command and its reply in flight on another
    // thread never take this version line or lose theirs to it.
    MutexLocker lock(m_mutex);
    if (!m_uart.isOpen() && !openPort())
        return -1;
    m_uart.flushInput();
    static const char kLine[] = "M230 \r\n";
    m_reply[0] = '\0';
    if (m_uart.write(kLine, sizeof kLine - 1) != 0)
        return -2;
    m_uart.setTimeout(kTimeoutMs);
    const int n = m_uart.recvLine(m_reply, kReplyCapacity);
    if (n <= 0)
        return -2;
    m_reply[n] = '\0';
    m_version.assign(m_reply, strcspn(m_reply, "\r\n"));
    printf("\n****\nM0 Version: %s\n******\n", m_version.c_str());
    text = m_version;
    return 0;
}

int M0Control::exchange(const char* code, const std::string& argument, int timeoutMs)
{
    MutexLocker lock(m_mutex);
    return exchangeLocked(code, argument, timeoutMs);
}

int M0Control::exchangeLocked(const char* code, const std::string& argument, int timeoutMs)
{
    // Without this, a command that gets no answer would be judged on the
    // previous command's reply, or on a late one left in the port.
    m_reply[0] = '\0';
    if (argument.find_first_of(std::string("\r\n[]\0", 5)) != std::string::npos) {
        logger()->write(LogError, "M0Control: %s refused: its argument holds a line break, a bracket or a NUL", code);
        return -1;
    }
    std::string line = code;
    if (!argument.empty())
        line += " [" + argument + "] ";
    line += " \r\n";
    m_uart.flushInput();
    if (m_uart.write(line.data(), static_cast<int>(line.size())) != 0)
        return -1;
    m_uart.setTimeout(timeoutMs);
    const int n = m_uart.recvLine(m_reply, kReplyCapacity);
    if (n <= 0) {
        m_reply[0] = '\0';
        return -1;
    }
    m_reply[n] = '\0';
    return n;
}

int M0Control::replyOk() const
{
    std::string text;
    if (!m0Field(m_reply, kTagReply, &text))
        return 0;
    const std::vector<std::string> pieces = m0Pieces(text);
    if (pieces.size() == 1)
        return pieces[0] == kOk ? 1 : 0;
    printf("get M0 Reply error\r");
    return 0;
}

int M0Control::singleValue(const char* tag) const
{
    std::vector<int> numbers;
    if (!numbersIn(m_reply, tag, &numbers))
        return -1;
    if (numbers.empty()) {
        printf("get M0 State error\r");
        return -1;
    }
    return numbers.size() == 1 ? numbers[0] : -1;
}

int M0Control::setCommand(const char* code, const std::string& argument)
{
    MutexLocker lock(m_mutex);
    exchangeLocked(code, argument, kTimeoutMs);
    return replyOk();
}

void M0Control::reboot()
{
    exchange("M301", "");
}

void M0Control::rebootAndReset()
{
    reboot();
    PThread::msleep(50);
    disconnect();
    // disconnect() gave the lines back: they are taken again before the pulse.
    hardReset();
}

int M0Control::setM105(const std::string& argument)
{
    return setCommand("M105", argument);
}

int M0Control::setM106(const std::string& argument)
{
    return setCommand("M106", argument);
}

int M0Control::setM107(const std::string& argument)
{
    return setCommand("M107", argument);
}

int M0Control::setM108(const std::string& argument)
{
    return setCommand("M108", argument);
}

int M0Control::setM111(const std::string& argument)
{
    return setCommand("M111", argument);
}

int M0Control::setM112(const std::string& argument)
{
    return setCommand("M112", argument);
}

int M0Control::setM113(const std::string& argument)
{
    return setCommand("M113", argument);
}

int M0Control::writeConfig(const M0Config& config)
{
    char fields[128];
    snprintf(fields, sizeof fields, "1000,1,1,1,1,%d,%d,%d,%d,%d", config.value[7], config.value[8], config.value[9],
             config.value[10], config.value[11]);
    printf("writeConfig=%s\r\n", fields);
    MutexLocker lock(m_mutex);
    exchangeLocked("M201", fields, kConfigTimeoutMs);
    return replyOk();
}

M0Config* M0Control::getConfig()
{
    MutexLocker lock(m_mutex);
    exchangeLocked("M202", "", kTimeoutMs);
    std::vector<int> numbers;
    if (!numbersIn(m_reply, kTagConfig, &numbers)) {
        printf("analyze M0 config error\r");
    } else if (numbers.empty()) {
        printf("get M0 config error\r");
    } else if (numbers.size() == 10) {
        for (int i = 0; i < 5; ++i) {
            g_config.value[i] = numbers[i];
            g_config.value[7 + i] = numbers[5 + i];
        }
    }
    return &g_config;
}

int M0Control::readValue(const char* code)
{
    MutexLocker lock(m_mutex);
    exchangeLocked(code, "", kTimeoutMs);
    return singleValue(kTagValue);
}

int M0Control::readM204()
{
    return readValue("M204");
}

int M0Control::readM208()
{
    return readValue("M208");
}

int M0Control::readState()
{
    driveControlLine(0);
    m_state = readM208();
    return m_state;
}

int M0Control::readM109(int* first, int* second)
{
    MutexLocker lock(m_mutex);
    exchangeLocked("M109", "", kTimeoutMs);
    std::vector<int> numbers;
    if (!numbersIn(m_reply, kTagValue, &numbers))
        return 0;
    if (numbers.empty())
        printf("get M0 State error\r");
    if (numbers.size() >= 2) {
        *first = numbers[0];
        *second = numbers[1];
    }
    return static_cast<int>(numbers.size());
}

int M0Control::readM209(int* v0, int* v1, int* v2, int* v3)
{
    MutexLocker lock(m_mutex);
    exchangeLocked("M209", "", kTimeoutMs);
    std::vector<int> numbers;
    if (!numbersIn(m_reply, kTagValue, &numbers)) {
        printf("duty srcData:%s\n", m_reply);
        puts("analyze M0 Value error");
        return -1;
    }
    if (numbers.empty()) {
        puts("get M0 State error");
        return -1;
    }
    if (numbers.size() != 4)
        return -1;
    *v0 = numbers[0];
    *v1 = numbers[1];
    *v2 = numbers[2];
    *v3 = numbers[3];
    return 0;
}

int M0Control::checkDuties()
{
    if (driveControlLine(1))
        m_state = 1;
    int v[4] = {};
    if (readM209(&v[0], &v[1], &v[2], &v[3]) != 0)
        v[0] = v[1] = v[2] = v[3] = 0;
    if (v[0] && v[1] && v[2] && v[3])
        return 1;
    logger()->write(LogError, "Duty value: [%d, %d, %d, %d]", v[0], v[1], v[2], v[3]);
    m_state = -1;
    return 0;
}

int M0Control::lastUvsValue()
{
    MutexLocker lock(m_mutex);
    return singleValue(kTagUvs);
}

bool M0Control::driveControlLine(unsigned int level)
{
    return gpio_set_value(kControlLine, level) == 0 || gpio_set_value(kControlLine, level) == 0;
}
