#pragma once

#include <QImage>
#include <QRect>

#include <cstddef>
#include <cstdint>
#include <functional>

class RowWorkers;

// Moves images into 24-bit frame memory (three bytes per pixel, rows
// `stride` bytes apart). Each writer fills the rows and columns that the
// source and the frame have in common and leaves the rest of the frame alone.

struct FrameTarget
{
    uint8_t* bits = nullptr;
    size_t stride = 0; // bytes from one row to the next
    int width = 0;     // pixels
    int height = 0;    // rows
};

// Which bytes of a frame pixel carry the gray level: all three, or one
// channel (1 to 3: the first to third byte) with the other two zero.
enum : int { kAllChannels = 0 };

// Gray plane (width x height) to frame pixels.
void writeGrayPlane(const uint8_t* plane, int width, int height, const FrameTarget& frame, int channel);
// How rows are shared out: the threads, the fewest rows worth a piece, and
// one scratch row of the image's width per slot of `workers`.
struct RowSplit
{
    RowWorkers& workers;
    int minRows;
    uint8_t* scratch;
};

// Gray rows to frame pixels, the rows split among the workers: row(y,
// scratch) gives row y, in `scratch` (a row of `width` bytes of the thread's
// own) or elsewhere. Each row goes from the cache straight into the frame.
void writeGrayRows(int width, int height, const FrameTarget& frame, int channel, const RowSplit& split,
                   const std::function<const uint8_t*(int y, uint8_t* scratch)>& row);
// A 24-bit image (RGB32 or RGB888; the first byte of a pixel is its red) to
// frame pixels, keeping all three bytes or only one channel. Pixels outside
// `content` are known to be black and are not read.
void writeRgbImage(const QImage& image, const QRect& content, const FrameTarget& frame, int channel);
// The first byte (red) of every pixel of a 24-bit image into a plane of its
// size; pixels outside `content` are known to be black.
void grayFromRgb(const QImage& image, const QRect& content, uint8_t* plane);

// The same for an RGB32 image that is to be black again afterwards: each row
// is cleared right after it was read, while it is still in the cache, which
// costs far less than painting the whole image black before the next use.
void moveGrayFromRgb(QImage& image, const QRect& content, uint8_t* plane);
// Three neighbouring panel pixels to each frame pixel, in reverse order: frame
// byte b of pixel k takes panel pixel 3k + 2 - b of the same row.
void packSubPixels(const uint8_t* plane, int width, int height, const FrameTarget& frame);
