#include "nvsdk/Logger.h"

#include "nvsdk/Mutex.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace nvsdk {

namespace {

Mutex g_instanceLock; // ready before main: the first user may be any thread
std::atomic<Logger*> g_instance{nullptr};

void closeAtExit()
{
    Logger::instance()->close();
}

} // namespace

Logger* Logger::instance()
{
    Logger* logger = g_instance.load(std::memory_order_acquire);
    if (logger)
        return logger;
    MutexLocker lock(&g_instanceLock);
    logger = g_instance.load(std::memory_order_relaxed);
    if (!logger) {
        // Never deleted: threads still logging at exit keep a valid object;
        // the file is closed at exit.
        logger = new Logger;
        g_instance.store(logger, std::memory_order_release);
        atexit(closeAtExit);
    }
    return logger;
}

std::shared_ptr<LogWrite> Logger::writer() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_writer;
}

void Logger::setWriter(std::shared_ptr<LogWrite> writer)
{
    std::shared_ptr<LogWrite> old;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        old = std::move(m_writer);
        m_writer = std::move(writer);
    }
    // `old` goes here unless a writing thread still holds it; the last holder closes it.
}

int Logger::log(int level, const char* format, ...)
{
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    return log(level, std::string(message));
}

int Logger::log(int level, const std::string& message)
{
    const std::shared_ptr<LogWrite> current = writer();
    if (current)
        return current->write(level, message);
    if (level > 0)
        printf("%s", message.c_str());
    return -1;
}

int Logger::close()
{
    const std::shared_ptr<LogWrite> current = writer();
    if (!current)
        return -1;
    current->close();
    return 0;
}

int initLog(const std::string& dir, const std::string& name, int level, int maxSize, int fileCount, bool console)
{
    auto writer = std::make_shared<LogWrite>();
    const int result = writer->init(dir, name, level, maxSize, fileCount, console);
    Logger::instance()->setWriter(std::move(writer));
    return result;
}

} // namespace nvsdk
