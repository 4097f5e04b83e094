#include "base/buses/I2C.h"

#include "base/platform/Platform.h"
#include "base/threads/Assert.h"
#include "base/threads/Mutex.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>

namespace HardwareInterface {

namespace {

// The descriptors of the open bus nodes, shared by every I2C object.
class OpenDeviceTable
{
public:
    static OpenDeviceTable& instance()
    {
        // Never destroyed: objects that outlive static destruction may still let go.
        static OpenDeviceTable* table = new OpenDeviceTable;
        return *table;
    }

    int acquire(const std::string& path)
    {
        MutexLocker locker(m_mutex);
        for (Record& record : m_records) {
            if (record.path != path)
                continue;
            if (record.fd > 0) {
                ++record.count;
                printf("I2C Device(%s Ref Count: %i\n", path.c_str(), record.count);
                printf("I2C Device Handle: %i\n", record.fd);
                return record.fd;
            }
            break;
        }
        const int fd = platform().io().open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 1) {
            const int error = errno;
            printf("Unable to Open Device(%s)\n", path.c_str());
            errno = error;
            return -1;
        }
        printf("Open Device(%s) Success\n", path.c_str());
        m_records.push_back(Record{path, fd, 1});
        printf("I2C Device Handle: %i\n", fd);
        return fd;
    }

    void release(int fd)
    {
        MutexLocker locker(m_mutex);
        printf("Close Handle: %i\n", fd);
        if (fd < 1)
            return;
        for (auto it = m_records.begin(); it != m_records.end(); ++it) {
            if (it->fd != fd)
                continue;
            --it->count;
            printf("Close Device Ref Count: %i\n", it->count);
            if (it->count > 0)
                return;
            printf("Close I2C Device Handle: %i\n", fd);
            platform().io().close(fd);
            m_records.erase(it);
            return;
        }
    }

private:
    struct Record
    {
        std::string path;
        int fd;
        int count;
    };

    Mutex m_mutex;
    std::list<Record> m_records;
};

} // namespace

I2C::I2C() = default;

I2C::~I2C()
{
    if (m_fd != 0)
        OpenDeviceTable::instance().release(m_fd);
}

int I2C::open(const std::string& path, uint16_t address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd != 0)
        OpenDeviceTable::instance().release(m_fd);
    m_address = address;
    const int fd = OpenDeviceTable::instance().acquire(path);
    m_fd = fd > 0 ? fd : 0;
    return fd;
}

int I2C::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd != 0)
        OpenDeviceTable::instance().release(m_fd);
    m_fd = 0;
    return 0;
}

int I2C::transact(i2c_msg* messages, uint32_t count, const char* failure)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (uint32_t i = 0; i < count; ++i)
        messages[i].addr = m_address;
    const int fd = m_fd;
    i2c_rdwr_ioctl_data data{messages, count};
    if (fd <= 0 || platform().io().ioctl(fd, I2C_RDWR, &data) < 0) {
        const int error = fd > 0 ? errno : EBADF;
        printf(failure, error, strerror(error));
        return -error;
    }
    return 0;
}

int I2C::read(const uint8_t* txBuf, uint16_t txLength, uint8_t* rxBuf, uint16_t rxLength)
{
    TALVIKS_ASSERT(txBuf && rxBuf);
    i2c_msg messages[2]{};
    messages[0].buf = const_cast<uint8_t*>(txBuf); // the kernel only reads a write message
    messages[0].len = txLength;
    messages[1].flags = I2C_M_RD;
    messages[1].buf = rxBuf;
    messages[1].len = rxLength;
    return transact(messages, 2, "I2C Read Fail: ERRNO (%i), MSG(%s)");
}

int I2C::write(const uint8_t* buf, int count)
{
    TALVIKS_ASSERT(buf && count > 0 && count < 64);
    i2c_msg message{};
    message.buf = const_cast<uint8_t*>(buf);
    message.len = static_cast<uint16_t>(count);
    return transact(&message, 1, "I2C Write Fail: ERRNO (%i), MSG(%s)");
}

int I2C::writeCommand(uint8_t command, const uint8_t* data, int count)
{
    TALVIKS_ASSERT(data && count > 0 && count < 64);
    uint8_t buffer[64];
    buffer[0] = command;
    memcpy(buffer + 1, data, static_cast<size_t>(count));
    i2c_msg message{};
    message.buf = buffer;
    message.len = static_cast<uint16_t>(count + 1);
    return transact(&message, 1, "I2C Write Fail: ERRNO (%i), MSG(%s)");
}

} // namespace HardwareInterface
