#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

// An IPv4 address and port, held exactly as the kernel takes it.
class InetAddress
{
public:
    InetAddress();                                   // 0.0.0.0, port 0
    explicit InetAddress(uint16_t port);             // any address
    InetAddress(const std::string& ip, uint16_t port);
    explicit InetAddress(const std::string& ip);     // port 0
    explicit InetAddress(const sockaddr_in& address);

    void setPort(uint16_t port);
    // Parses dotted text into the address and returns it in network order:
    // INADDR_NONE (255.255.255.255) for text that is no address.
    in_addr_t setIp(const std::string& ip);

    std::string toIp() const;
    uint16_t port() const;

    const sockaddr_in& address() const { return m_address; }
    sockaddr_in& address() { return m_address; }
    const sockaddr* sockAddr() const { return reinterpret_cast<const sockaddr*>(&m_address); }
    sockaddr* sockAddr() { return reinterpret_cast<sockaddr*>(&m_address); }

private:
    sockaddr_in m_address;
};
