#pragma once

#include "board/PtyResponder.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// The secondary microcontroller on its UART: it takes M-code lines ("M113
// [5]  \r\n") and answers each with one tagged line. Set commands (M105 to
// M113) and M301 keep their argument and answer "<reply>ok<reply>"; M201
// keeps the configuration that M202 answers between "<config>" tags; value
// reads (M109, M204, M208, M209) answer "<value>" tags around the values set
// for them; M230 answers the version line. Any answer can be scripted per
// code, left out, or sent late.
class MicrocontrollerPeer : public PtyResponder
{
public:
    MicrocontrollerPeer();
    ~MicrocontrollerPeer() override;

    void setVersion(const std::string& version);
    // The text between the "<value>" tags of a read's answer.
    void setValues(const std::string& code, const std::string& values);
    // Answers `code` with exactly this line (its line end added).
    void setReply(const std::string& code, const std::string& line);
    void setSilent(const std::string& code, bool silent);
    // Answers `code` only after `ms`, counted as the system counts its time-out
    // (machine time, and at least as much real time).
    void setDelayMs(const std::string& code, int ms);

    // Every line received, line end included.
    std::vector<std::string> lines() const;
    // The argument of the latest `code` line, without its brackets.
    std::string argument(const std::string& code) const;
    // Answers sent so far.
    int repliesSent() const;

protected:
    void received(const char* bytes, size_t count) override;

private:
    // The answer to one line; empty for none.
    std::string answer(const std::string& line);

    mutable std::mutex m_mutex;
    std::string m_pending;
    std::string m_version = "M0 V1.2.3";
    std::string m_config = "0,0,0,0,0,0,0,0,0,0";
    std::map<std::string, std::string> m_values;
    std::map<std::string, std::string> m_replies;
    std::map<std::string, std::string> m_arguments;
    std::map<std::string, bool> m_silent;
    std::map<std::string, int> m_delays;
    std::vector<std::string> m_lines;
    int m_sent = 0;
};

} // namespace sim
