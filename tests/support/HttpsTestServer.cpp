#include "support/HttpsTestServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace {

// The script sits beside this file in the source tree.
std::string scriptPath()
{
    std::string here = __FILE__;
    return here.substr(0, here.rfind('/') + 1) + "https_server.py";
}

long long nowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

} // namespace

HttpsTestServer::HttpsTestServer(const std::string& dir, const std::string& caDir, bool impostor,
                                 const std::string& address)
    : m_dir(dir), m_caDir(caDir), m_address(address)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        m_error = strerror(errno);
        return;
    }
    const std::string script = scriptPath();
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == 0) {
        // Dies with the test process, even when that one crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(out[1], STDOUT_FILENO);
        const char* argv[] = {"python3", script.c_str(), "--dir", dir.c_str(), "--ca", caDir.c_str(),
                              "--address", address.c_str(), impostor ? "--impostor" : nullptr, nullptr};
        execvp("python3", const_cast<char* const*>(argv));
        _exit(127);
    }
    close(out[1]);
    if (m_pid < 0) {
        m_error = strerror(errno);
        close(out[0]);
        return;
    }
    // Certificates first, then the port: allow for a slow, busy machine.
    std::string line;
    const long long deadline = nowMs() + 30000;
    while (line.find('\n') == std::string::npos) {
        pollfd wait = {out[0], POLLIN, 0};
        const long long left = deadline - nowMs();
        if (left <= 0 || poll(&wait, 1, static_cast<int>(left)) <= 0)
            break;
        char block[64];
        const ssize_t got = read(out[0], block, sizeof block);
        if (got <= 0)
            break;
        line.append(block, static_cast<size_t>(got));
    }
    close(out[0]);
    if (sscanf(line.c_str(), "PORT %d", &m_port) != 1 || m_port <= 0) {
        m_port = 0;
        m_error = "the HTTPS test server did not start: '" + line + "'";
    }
}

HttpsTestServer::~HttpsTestServer()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

std::string HttpsTestServer::baseUrl() const
{
    return "https://" + m_address + ":" + std::to_string(m_port);
}

std::string HttpsTestServer::caFile() const
{
    return m_caDir + "/ca.pem";
}

void HttpsTestServer::setRoutes(const std::string& json)
{
    // Renamed into place: the server never reads half a file.
    const std::string path = m_dir + "/routes.json";
    {
        std::ofstream out(path + ".tmp", std::ios::trunc);
        out << json;
    }
    rename((path + ".tmp").c_str(), path.c_str());
}

std::vector<std::string> HttpsTestServer::requests() const
{
    std::vector<std::string> lines;
    std::ifstream in(m_dir + "/requests.log");
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

} // namespace testsupport
