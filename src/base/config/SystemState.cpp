#include "base/config/SystemState.h"

#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"

namespace {

// A string that shares its characters with no other: readers on other
// threads get their own, and nothing a caller keeps points into the state.
QString ownCopy(const QString& text)
{
    return QString(text.constData(), text.size());
}

} // namespace

void registerNetMetaTypes()
{
    qRegisterMetaType<NetResult>("NetResult");
    qRegisterMetaType<NetType>("NetType");
    qRegisterMetaType<NetStatus>("NetStatus");
}

SystemState* SystemState::instance()
{
    // Never destroyed: threads still running at exit may read the state.
    static SystemState* const state = new SystemState;
    return state;
}

SystemState::SystemState()
    : m_codePage("437"), m_language(QString::fromStdString(ConfigStore::instance()->m_general.Language))
{
    registerNetMetaTypes();
    logger()->write(LogInfo, "Enter SystemState");
}

SystemState::~SystemState()
{
    logger()->write(LogInfo, "Leave SystemState");
}

QString SystemState::usbPath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return ownCopy(m_usbPath);
}

QString SystemState::language() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return ownCopy(m_language);
}

QString SystemState::codePage() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return ownCopy(m_codePage);
}

void SystemState::setUsbPath(const QString& path)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (path == m_usbPath)
            return;
        m_usbPath = ownCopy(path);
    }
    emit sig_usbPathChanged(path);
}

void SystemState::setCodePage(const QString& codePage)
{
    QString copy = ownCopy(codePage);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_codePage.swap(copy);
}

void SystemState::setLanguage(const QString& language)
{
    QString copy = ownCopy(language);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_language.swap(copy);
}

NetStatus SystemState::exchangeNetStatus(NetStatus status)
{
    return m_netStatus.exchange(status, std::memory_order_acq_rel);
}
