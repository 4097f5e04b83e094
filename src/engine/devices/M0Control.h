#pragma once

#include "base/buses/Uart.h"
#include "base/threads/Mutex.h"
#include "base/threads/noncopyable.h"

#include <atomic>
#include <cstdint>
#include <string>

// The microcontroller's configuration: values 0 to 4 and 7 to 11 hold the ten
// fields of its configuration line; 5 and 6 are unused.
struct M0Config
{
    int32_t value[12] = {};
};

// The link to the secondary microcontroller: one M-code line out, one tagged
// reply line back, over a UART; and its boot and reset lines for a hard reset.
// The M-codes' meanings are the microcontroller's, so the operations are
// named by their codes.
class M0Control : noncopyable
{
public:
    explicit M0Control(const char* path);
    ~M0Control();

    // 0 when open (already, or now); -1 when the port cannot be opened.
    int connect();
    // Closes the port and gives both control lines back; 0.
    int disconnect();
    // Pulses the boot and reset lines.
    static void hardReset();

    // M230: the firmware's version line. 0; -1 port unusable; -2 no reply.
    int getVersion(std::string& text);
    // M301, reply read and ignored.
    void reboot();
    // M301, then disconnect and the reset pulse.
    void rebootAndReset();

    // Set operations: 1 when the reply is "ok", else 0. Arguments holding a
    // line break, a bracket or a NUL are refused unsent (0): they would
    // smuggle in commands of their own.
    int setM105(const std::string& argument);
    int setM106(const std::string& argument);
    int setM107(const std::string& argument);
    int setM108(const std::string& argument);
    int setM111(const std::string& argument);
    int setM112(const std::string& argument);
    int setM113(const std::string& argument);

    // M201 with values 7 to 11 (the first five fields go as 1000,1,1,1,1); 1 on "ok", else 0.
    int writeConfig(const M0Config& config);
    // M202: fills the process-wide record from a reply of exactly ten
    // fields, else leaves it as it was; the record in every case.
    M0Config* getConfig();

    // The single "<value>" number, or -1.
    int readM204();
    int readM208();
    // M208's value, kept as the state.
    int readState();
    // The count of "<value>" numbers; with two or more, the first two.
    int readM109(int* first, int* second);
    // 0 with exactly four "<value>" numbers; -1 otherwise, also for a reply without the tags.
    int readM209(int* v0, int* v1, int* v2, int* v3);
    // 1 when the four M209 values are all non-zero, else 0 (state -1).
    int checkDuties();

    // The single "<UVS>" number of the last reply, or -1.
    int lastUvsValue();
    int state() const { return m_state.load(); }

private:
    // Sends one M-code line and reads one reply line into m_reply (cleared
    // first, stale input dropped); the reply's length, or -1.
    int exchange(const char* code, const std::string& argument, int timeoutMs = 1000);
    // Lock held: the same exchange.
    int exchangeLocked(const char* code, const std::string& argument, int timeoutMs);
    int setCommand(const char* code, const std::string& argument);
    // A command without argument answered by a single "<value>" number, or -1.
    int readValue(const char* code);
    // "<reply>ok<reply>" in m_reply: 1, else 0.
    int replyOk() const;
    // The single number between `tag`s in m_reply, or -1.
    int singleValue(const char* tag) const;
    bool openPort();
    // Drives the control line, trying once more when the write fails.
    static bool driveControlLine(unsigned int level);

    std::string m_path;
    HardwareInterface::Uart m_uart;
    std::atomic<int> m_state{0};
    char m_reply[1024] = {};
    std::string m_version;
    Mutex m_mutex;
};
