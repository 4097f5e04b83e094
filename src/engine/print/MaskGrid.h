#pragma once

#include "base/threads/noncopyable.h"

#include <QImage>
#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>

// One cell of the mask grid: the pixel at its centre and its gray level
// (0 black, 255 white; seeds may lie outside and are kept as they are).
struct MaskCell
{
    int32_t x = 0;
    int32_t y = 0;
    float value = 0;
};

// The service tool behind the light engine's uniformity mask. A remote
// service client divides the panel into cells, lights them one at a time at
// chosen gray levels, shows the whole grid as smoothed blocks or as a
// bilinear surface through the cell centres, and finally stores that surface
// as the machine's mask image (an 8-bit gray PNG, "mask-" + serial + ".png").
//
// Images reach the panel through the printer singleton and are refused while
// a print runs or is paused. Gray levels become pixels clamped to 0..255.
// Used from the remote link's command thread only; no lock.
class MaskGrid : noncopyable
{
public:
    // A grid over a panel of width x height pixels; depth 24 (the panel's
    // RGB images) or 8. No cells and no image until setGridSize.
    MaskGrid(int width, int height, int depth);
    ~MaskGrid();

    // Once per grid: `columns` from 1 to the width, `rows` from 1 to the
    // height. Makes the (black) image, places the cells and gives them seed
    // levels from a counter shared by all grids of the process. 0 or -1.
    int setGridSize(int columns, int rows);
    // Stores a cell's level and shows that cell alone: the panel's result.
    // -1, changing nothing, without a 24-bit image, for a cell outside the
    // grid, or while a print runs or is paused.
    int setCellValue(int column, int row, unsigned value);
    // Shows every cell as a block of its level, softened by a 3 x 3 blur:
    // the panel's result, or -1 without a 24-bit image.
    int drawBlocks();
    // Shows the bilinear surface through the cell centres, continued to the
    // edges: the panel's result, or -1 without a 24-bit image.
    int showOnPanel();
    // The levels row by row, each followed by a blank, a line feed after each row.
    QString cellsToText() const;
    // Writes the image last drawn, as 8-bit gray, to the mask file on the USB
    // disk or in the configuration folder ("/data/etc"), replacing the old
    // file at once. 0, or -1 when no disk is mounted, there is no 24-bit
    // image or the file was not written.
    int saveMaskImage(bool toUsb);

    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    const QVector<MaskCell>& cells() const { return m_cells; }
    // The grid image (null until setGridSize).
    const QImage* image() const { return m_image.get(); }

private:
    bool hasPanelImage(const char* operation) const;
    // Whether the printer would show an image now.
    bool panelFree(const char* operation) const;
    int send();
    // Fills the cell's rectangle with its level.
    void fillCell(int column, int row, float value);
    void seedCells();

    static void smoothImage(QImage& image);
    static void interpolate(QImage& image, const QVector<MaskCell>& cells, int columns, int rows);

    std::unique_ptr<QImage> m_image;
    int32_t m_columns = 0;
    int32_t m_rows = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_depth = 0;
    QVector<MaskCell> m_cells;
};
