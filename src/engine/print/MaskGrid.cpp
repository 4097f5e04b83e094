#include "engine/print/MaskGrid.h"

#include "base/config/MaskImage.h"
#include "base/config/PathManager.h"
#include "base/config/SystemState.h"
#include "base/files/DurableFile.h"
#include "base/log/LogWriter.h"
#include "engine/print/Printer.h"
#include "engine/projection/MaskPixels.h"

#include <QBuffer>
#include <QDebug>

#include <algorithm>
#include <climits>
#include <mutex>
#include <new>
#include <stdexcept>

namespace {

// A side longer than this is no panel of this machine.
constexpr int kMaxSide = 32768;

// The seed levels run on from grid to grid for the whole process.
std::mutex g_seedLock;
int32_t g_seed = 240;

// Steps the seed counter, stopping at the ends of its range.
int32_t stepSeed(int32_t seed, int32_t delta)
{
    return static_cast<int32_t>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, int64_t{seed} + delta)));
}

// The printer that shows the grid, when it may show an image now.
Printer* panelPrinter(const char* operation)
{
    Printer* printer = nullptr;
    try {
        printer = Printer::instance();
    } catch (const std::exception& e) {
        logger()->write(LogError, "MaskGrid %s: no printer: %s", operation, e.what());
        return nullptr;
    }
    if (printer->isPrinting()) {
        logger()->write(LogWarn, "MaskGrid %s refused: a print is running", operation);
        return nullptr;
    }
    return printer;
}

} // namespace

MaskGrid::MaskGrid(int width, int height, int depth) : m_width(width), m_height(height), m_depth(depth)
{
    logger()->write(LogInfo, "Enter MaskGrid");
}

MaskGrid::~MaskGrid()
{
    logger()->write(LogInfo, "Leave MaskGrid");
}

int MaskGrid::setGridSize(int columns, int rows)
{
    if (m_image) {
        logger()->write(LogWarn, "MaskGrid: the grid size is set already (%d x %d)", m_columns, m_rows);
        return -1;
    }
    if (m_depth != 24 && m_depth != 8) {
        logger()->write(LogError, "MaskGrid: depth %d is neither 24 nor 8", m_depth);
        return -1;
    }
    if (m_width < 1 || m_height < 1 || m_width > kMaxSide || m_height > kMaxSide || columns < 1 || rows < 1 ||
        columns > m_width || rows > m_height) {
        logger()->write(LogError, "MaskGrid: %d x %d cells do not fit a panel of %d x %d pixels", columns, rows, m_width,
                   m_height);
        return -1;
    }
    try {
        auto image = std::make_unique<QImage>(m_width, m_height,
                                              m_depth == 24 ? QImage::Format_RGB888 : QImage::Format_Indexed8);
        if (image->isNull())
            throw std::bad_alloc();
        image->fill(0);
        m_cells.fill(MaskCell(), columns * rows);
        m_image = std::move(image);
    } catch (const std::bad_alloc&) {
        m_cells.clear();
        logger()->write(LogError, "MaskGrid: no memory for %d x %d cells on %d x %d pixels", columns, rows, m_width,
                   m_height);
        return -1;
    }
    m_columns = columns;
    m_rows = rows;
    if (m_depth == 24)
        seedCells();
    return 0;
}

void MaskGrid::seedCells()
{
    const float cw = static_cast<float>(m_width / m_columns);
    const float ch = static_cast<float>(m_height / m_rows);
    std::lock_guard<std::mutex> lock(g_seedLock);
    int32_t seed = g_seed;
    for (int r = 0; r < m_rows; ++r) {
        seed = stepSeed(seed, -30);
        for (int c = 0; c < m_columns; ++c) {
            // The previous cell's level is the counter itself.
            if (c > 0 && c % 2 == 0)
                seed = stepSeed(seed, -30);
            if (r % 2 == 1)
                seed = stepSeed(seed, 30);
            MaskCell& cell = m_cells[r * m_columns + c];
            cell.x = static_cast<int32_t>(static_cast<float>(static_cast<int32_t>(cw * 0.5f)) + cw * c);
            cell.y = static_cast<int32_t>(static_cast<float>(static_cast<int32_t>(ch * 0.5f)) + ch * r);
            cell.value = static_cast<float>(seed);
        }
    }
    g_seed = seed;
}

bool MaskGrid::hasPanelImage(const char* operation) const
{
    if (m_image && m_depth == 24)
        return true;
    logger()->write(LogWarn, "MaskGrid %s: %s", operation, m_image ? "an 8-bit grid cannot be shown" : "no grid size set");
    return false;
}

int MaskGrid::send()
{
    Printer* printer = panelPrinter("show");
    return printer ? printer->transDataImage(*m_image) : -1;
}

void MaskGrid::fillCell(int column, int row, float value)
{
    const int cw = m_width / m_columns;
    const int ch = m_height / m_rows;
    maskpixels::fillRect(*m_image, QRect(cw * column, ch * row, cw, ch), maskpixels::grayByte(value));
}

int MaskGrid::setCellValue(int column, int row, unsigned value)
{
    if (!hasPanelImage("setCellValue"))
        return -1;
    if (column < 0 || column >= m_columns || row < 0 || row >= m_rows) {
        logger()->write(LogWarn, "MaskGrid: no cell %d, %d in a grid of %d x %d", column, row, m_columns, m_rows);
        return -1;
    }
    if (!panelPrinter("setCellValue"))
        return -1;
    const float cw = static_cast<float>(m_width / m_columns);
    const float ch = static_cast<float>(m_height / m_rows);
    MaskCell& cell = m_cells[row * m_columns + column];
    cell.x = static_cast<int32_t>(cw * column + cw * 0.5f);
    cell.y = static_cast<int32_t>(ch * row + ch * 0.5f);
    cell.value = static_cast<float>(value);

    m_image->fill(0);
    fillCell(column, row, cell.value);
    return send();
}

int MaskGrid::drawBlocks()
{
    if (!hasPanelImage("drawBlocks") || !panelPrinter("drawBlocks"))
        return -1;
    m_image->fill(0);
    for (int r = 0; r < m_rows; ++r)
        for (int c = 0; c < m_columns; ++c)
            fillCell(c, r, m_cells[r * m_columns + c].value);
    smoothImage(*m_image);
    return send();
}

int MaskGrid::showOnPanel()
{
    if (!hasPanelImage("showOnPanel") || !panelPrinter("showOnPanel"))
        return -1;
    interpolate(*m_image, m_cells, m_columns, m_rows);
    return send();
}

QString MaskGrid::cellsToText() const
{
    QString text;
    for (int r = 0; r < m_rows; ++r) {
        for (int c = 0; c < m_columns; ++c)
            text += QString("%1 ").arg(static_cast<double>(m_cells[r * m_columns + c].value));
        text += "\n";
    }
    return text;
}

int MaskGrid::saveMaskImage(bool toUsb)
{
    if (!hasPanelImage("saveMaskImage"))
        return -1;
    QString dir;
    if (toUsb) {
        dir = SystemState::instance()->usbPath();
        if (dir.isEmpty()) {
            logger()->write(LogWarn, "MaskGrid: no USB disk for the mask image");
            return -1;
        }
    } else {
        dir = PathManager::instance()->get(PATH_CONFIG);
    }
    const QString path = Utils::maskImagePath(dir);

    QByteArray png;
    QBuffer buffer(&png);
    int rc = -1;
    if (buffer.open(QIODevice::WriteOnly) && maskpixels::grayImage(*m_image).save(&buffer, "PNG"))
        rc = durable::replaceFile(path.toUtf8().toStdString(), png.constData(), static_cast<size_t>(png.size()));
    else
        logger()->write(LogError, "MaskGrid: the mask image could not be encoded");
    qDebug() << path << "," << (rc == 0 ? 1 : 0);
    return rc == 0 ? 0 : -1;
}
