#include "board/MicrocontrollerPeer.h"

namespace sim {

namespace {

const char kOk[] = "<reply>ok<reply>";

bool isSetCommand(const std::string& code)
{
    for (const char* set : {"M105", "M106", "M107", "M108", "M111", "M112", "M113", "M301"})
        if (code == set)
            return true;
    return false;
}

} // namespace

MicrocontrollerPeer::MicrocontrollerPeer()
{
    start();
}

MicrocontrollerPeer::~MicrocontrollerPeer()
{
    stop();
}

void MicrocontrollerPeer::setVersion(const std::string& version)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_version = version;
}

void MicrocontrollerPeer::setValues(const std::string& code, const std::string& values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values[code] = values;
}

void MicrocontrollerPeer::setReply(const std::string& code, const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies[code] = line;
}

void MicrocontrollerPeer::setSilent(const std::string& code, bool silent)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silent[code] = silent;
}

void MicrocontrollerPeer::setDelayMs(const std::string& code, int ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delays[code] = ms;
}

std::vector<std::string> MicrocontrollerPeer::lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

std::string MicrocontrollerPeer::argument(const std::string& code) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_arguments.find(code);
    return it == m_arguments.end() ? std::string() : it->second;
}

int MicrocontrollerPeer::repliesSent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sent;
}

std::string MicrocontrollerPeer::answer(const std::string& line)
{
    const std::string code = line.substr(0, line.find_first_of(" \r\n"));
    const size_t open = line.find('[');
    const size_t close = line.rfind(']');
    const std::string argument =
        open != std::string::npos && close != std::string::npos && close > open ? line.substr(open + 1, close - open - 1)
                                                                               : std::string();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.push_back(line);
    m_arguments[code] = argument;
    if (m_silent[code])
        return std::string();
    const auto scripted = m_replies.find(code);
    if (scripted != m_replies.end())
        return scripted->second;
    if (isSetCommand(code))
        return kOk;
    if (code == "M201") {
        m_config = argument;
        return kOk;
    }
    if (code == "M202")
        return "<config>" + m_config + "<config>";
    if (code == "M230")
        return m_version;
    if (code == "M109" || code == "M204" || code == "M208" || code == "M209") {
        const auto values = m_values.find(code);
        return "<value>" + (values == m_values.end() ? std::string("0") : values->second) + "<value>";
    }
    return "<reply>error<reply>";
}

void MicrocontrollerPeer::received(const char* bytes, size_t count)
{
    m_pending.append(bytes, count);
    for (size_t end = m_pending.find('\n'); end != std::string::npos; end = m_pending.find('\n')) {
        const std::string line = m_pending.substr(0, end + 1);
        m_pending.erase(0, end + 1);
        const std::string reply = answer(line);
        if (reply.empty())
            continue;
        int delay = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            delay = m_delays[line.substr(0, line.find_first_of(" \r\n"))];
        }
        if (delay > 0 && !sleepPeerMs(delay))
            return;
        send(reply + "\r\n");
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_sent;
    }
}

} // namespace sim
