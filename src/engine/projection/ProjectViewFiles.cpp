// The files the layer projection loads: the projection correction and the mask.
#include "engine/projection/ProjectView.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "engine/projection/ProjectViewConfig.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

using projectview::kSourcePath;

int ProjectView::setDLPCorrectData(std::string path)
{
    logger()->write(LogInfo, "%s %s", kSourcePath, "setDLPCorrectData");
    if (path.empty())
        return -1;
    logger()->write(LogInfo, "load correct File %s", path.c_str());
    const char* const signature = "int ProjectView::setDLPCorrectData(std::string)";

    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(rootPath(path).c_str(), "rbe"), fclose);
    if (!file) {
        logger()->write(LogInfo, "open correct file failed, %s", path.c_str());
        return -3;
    }
    // The new table is built beside the one in use, which a failed load keeps.
    CorrectionTable table;
    size_t got = 0;
    switch (table.read(file.get(), m_width, m_height, got)) {
    case CorrectionTable::kRead:
        break;
    case CorrectionTable::kShortX:
        logger()->write(LogError, "read %i correctX", static_cast<int>(got));
        return -4;
    case CorrectionTable::kShortY:
        logger()->write(LogError, "read %i correctY", static_cast<int>(got));
        return -4;
    case CorrectionTable::kTooLong: {
        struct stat st{};
        const long long size = fstat(fileno(file.get()), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
        logger()->write(LogError,
                        "correct file %s is not for this panel: %lld bytes, not the %llu of two tables of %d x %d",
                        path.c_str(), size, 8ull * unsigned(m_width) * unsigned(m_height), m_width, m_height);
        return -4;
    }
    case CorrectionTable::kNoMemory:
        logCheck(signature, __LINE__);
        return -ENOENT;
    case CorrectionTable::kTooSmall:
        logCheck(signature, __LINE__);
        return -2;
    }
    file.reset();

    std::lock_guard<std::mutex> lock(m_mutex);
    m_correction = std::move(table);
    logger()->write(LogInfo, "%s successed", "setDLPCorrectData");
    return 0;
}

int ProjectView::setMaskImage(const std::string& path)
{
    QImage image;
    if (!image.load(QString::fromStdString(rootPath(path)), "PNG")) {
        logger()->write(LogError, "Mask Image Load Fail: %s", path.c_str());
        return -1;
    }
    if (image.format() == QImage::Format_Indexed8)
        image = image.convertToFormat(QImage::Format_Grayscale8);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (image.depth() != 8) {
        logger()->write(LogError, "Invalid Mask Image: Not 8 Bit Depth (%i)", image.depth());
        std::vector<uint8_t>().swap(m_mask);
        return -1;
    }
    if (image.width() != m_width || image.height() != m_height) {
        logger()->write(LogError, "Invalid Mask Image: width height");
        std::vector<uint8_t>().swap(m_mask);
        return -1;
    }
    try {
        m_mask.resize(size_t(m_width) * size_t(m_height));
    } catch (const std::bad_alloc&) {
        logger()->write(LogError, "Mask Image Load Fail: %s", path.c_str());
        return -1;
    }
    // Image rows are padded; the mask's are not.
    for (int y = 0; y < m_height; ++y)
        memcpy(m_mask.data() + size_t(m_width) * y, image.constScanLine(y), size_t(m_width));
    logger()->write(LogInfo, "Load Mask Image(%s)", path.c_str());
    return 0;
}
