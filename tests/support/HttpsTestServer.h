#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// The HTTPS peer of the update client: https_server.py run as a child
// process on an ephemeral port of 127.0.0.1 (or 127.0.0.2, another host), with a certificate authority and
// a server certificate made by openssl when it starts. Killed on destruction.
class HttpsTestServer
{
public:
    // dir: a folder of its own (certificates, routes, request log); caDir:
    // where the authority is made or, when already there, reused (so two
    // servers can share one). impostor: a certificate nobody signed.
    // address: the loopback address to listen on.
    HttpsTestServer(const std::string& dir, const std::string& caDir, bool impostor = false,
                    const std::string& address = "127.0.0.1");
    ~HttpsTestServer();
    HttpsTestServer(const HttpsTestServer&) = delete;
    HttpsTestServer& operator=(const HttpsTestServer&) = delete;

    // False (with the reason in error()) when the server did not come up.
    bool running() const { return m_port > 0; }
    const std::string& error() const { return m_error; }
    int port() const { return m_port; }
    std::string baseUrl() const;
    std::string caFile() const;

    // The routes as a JSON object text (see https_server.py); replaced at once.
    void setRoutes(const std::string& json);
    // One JSON object text per request received so far, oldest first.
    std::vector<std::string> requests() const;

private:
    std::string m_dir;
    std::string m_caDir;
    std::string m_address;
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_error;
};

} // namespace testsupport
