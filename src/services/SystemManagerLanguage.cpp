// The user-interface language and the model-range check.
#include "services/SystemManager.h"

#include "base/config/ConfigStore.h"
#include "base/config/PathManager.h"
#include "base/config/SystemState.h"
#include "base/files/Utils.h"
#include "base/log/LogWriter.h"
#include "engine/slicefile/SvgxHead.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QTranslator>

#include <memory>

int SystemManager::loadLanguage(const QString& locale)
{
    const QString codePage = m_codePages.value(locale, "437");
    if (locale == "en_US") {
        // English needs no translator.
        if (m_translator)
            QCoreApplication::removeTranslator(m_translator);
        delete m_translator;
        m_translator = nullptr;
        useLanguage(locale, codePage);
        return 0;
    }

    const QString file = PathManager::instance()->get(PATH_BIN_DIR) + QDir::separator() + "dureVOR_" + locale + ".qm";
    if (!Utils::isFile(file)) {
        logger()->write(LogWarn, "Translate File Not Exist");
        return -1;
    }
    // Loaded aside first: a missing or broken file leaves the current
    // translation and its code page in force.
    std::unique_ptr<QTranslator> translator(new QTranslator);
    if (!translator->load(QString::fromStdString(Utils::fsPath(file)))) {
        qDebug() << "Load QM File Fail";
        logger()->write(LogWarn, "Load QM File Fail");
        return -1;
    }
    if (m_translator)
        QCoreApplication::removeTranslator(m_translator);
    delete m_translator;
    m_translator = translator.release();
    QCoreApplication::installTranslator(m_translator);
    useLanguage(locale, codePage);
    return 0;
}

void SystemManager::useLanguage(const QString& locale, const QString& codePage)
{
    SystemState::instance()->setCodePage(codePage);
    logger()->write(LogInfo, "CodePage: %s", toStdString(codePage).c_str());
    SystemState::instance()->setLanguage(locale);
}

bool SystemManager::isModelOutOfRange(const QString& path)
{
    // All 0 when the file cannot be read.
    const SliceParams range = readSvgxParams(path.toUtf8().toStdString()).value_or(SliceParams());

    const ConfigStore* config = ConfigStore::instance();
    const float halfWidth = config->m_printerConfig.Width / 2;
    const float halfHeight = config->m_printerConfig.Height / 2;
    const float top = config->m_printerConfig.ZLength + config->m_printerConfig.ZOffset
                      - (config->m_printingPara.LiftI.X + config->m_printingPara.LiftII.X);
    return range.minX < -halfWidth || range.minY < -halfHeight || range.minZ < 0 || range.maxX > halfWidth
           || range.maxY > halfHeight || range.maxZ > top;
}
