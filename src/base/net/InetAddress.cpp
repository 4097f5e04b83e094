#include "base/net/InetAddress.h"

#include <arpa/inet.h>

#include <cstring>

InetAddress::InetAddress()
{
    memset(&m_address, 0, sizeof m_address);
    m_address.sin_family = AF_INET;
    m_address.sin_addr.s_addr = htonl(INADDR_ANY);
}

InetAddress::InetAddress(uint16_t port) : InetAddress()
{
    setPort(port);
}

InetAddress::InetAddress(const std::string& ip, uint16_t port) : InetAddress()
{
    setIp(ip);
    setPort(port);
}

InetAddress::InetAddress(const std::string& ip) : InetAddress()
{
    setIp(ip);
}

InetAddress::InetAddress(const sockaddr_in& address) : m_address(address) {}

void InetAddress::setPort(uint16_t port)
{
    m_address.sin_port = htons(port);
}

in_addr_t InetAddress::setIp(const std::string& ip)
{
    m_address.sin_addr.s_addr = inet_addr(ip.c_str());
    return m_address.sin_addr.s_addr;
}

std::string InetAddress::toIp() const
{
    char text[INET_ADDRSTRLEN] = {};
    // inet_ntop rather than inet_ntoa: no buffer shared between threads.
    inet_ntop(AF_INET, &m_address.sin_addr, text, sizeof text);
    return text;
}

uint16_t InetAddress::port() const
{
    return ntohs(m_address.sin_port);
}
