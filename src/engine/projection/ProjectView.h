#pragma once

#include "base/threads/Stopwatch.h"
#include "base/threads/noncopyable.h"
#include "engine/projection/CorrectionTable.h"
#include "engine/projection/LayerRenderer.h"
#include "engine/projection/RowWorkers.h"
#include "engine/slicefile/QdsFormat.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class FrameBuffer;

// Turns every image that is to appear on the light engine into the bytes of
// the projector frame buffer: SVG layers, decoded "qds" layers, test images,
// image files, gray levels and raw pixel buffers. On the way the configuration
// may ask for the projection correction, the mask image, smoothing (sub-pixel
// panels), inversion and one colour channel.
//
// Two panels are supported, told apart by the machine width XRes: a normal
// panel has one frame-buffer pixel per panel pixel, shown as gray; a
// sub-pixel panel is three times as wide as the frame buffer and each
// frame-buffer pixel carries three neighbouring panel pixels, one per byte.
// With any other width nothing is shown.
//
// Every step that changes a shown image works on its gray level, so a
// processed image is reduced to one plane of panel pixels, corrected there
// and written into the frame buffer in one pass, whose rows the calling thread
// shares with row workers when cores are free. SVG layers that paint in
// grays only are drawn on that plane directly; others in colour. On a sub-pixel panel the
// steps work per panel pixel, and channel selection does not apply (the three
// bytes of a frame pixel are three panel pixels).
//
// SVG layers are drawn by the layer renderer, a program of its own (see
// LayerRenderer.h), within a time limit and a memory budget.
//
// Results: 0 success, -1 failure, -EIO only when memory could not be had
// (the slice-file reader's memory failure included); operations are
// serialised by one lock.
class ProjectView : noncopyable
{
public:
    // The longest a layer may take to draw: the print loop's image wait.
    static constexpr int kRenderLimitMs = 15000;

    // Reads the machine geometry (resolution, size, scale, rotation, mirrors)
    // from the configuration once.
    ProjectView();
    ~ProjectView();

    // Attaches the frame buffer once (0 when one is attached already). -1 for
    // a frame buffer the view cannot write safely: not 24 bits per pixel, or
    // rows that do not fit the mapping.
    int setFrameBuffer(FrameBuffer* fb);
    int setCalibrationFactor(float x, float y);
    // Loads a projection correction file (board path): 0; -1 empty path;
    // -3 not readable; -4 too short; -2 or -ENOENT out of memory. A failed
    // load keeps the tables of the last good one.
    int setDLPCorrectData(std::string path);
    // Loads the mask, an 8-bit gray PNG of the machine resolution (board
    // path): 0, or -1 (a file of the wrong depth or size resets the mask to 255).
    int setMaskImage(const std::string& path);

    // One SVG layer document, in millimetres around the panel centre: 0; -1
    // empty, not SVG, refused before rendering (references that fan out or
    // leave the document, see SvgGuard.h), no renderer to be had, or a
    // renderer that ended or answered what cannot be read; -EIO for the
    // reader's failure text "00000005" or when memory ran out (the
    // renderer's budget, or the kernel ended it for want of memory);
    // -ETIMEDOUT when it was not drawn within the render time limit;
    // -ECANCELED once `cancelFd` turned readable. The last two stop the
    // renderer at once.
    int showSvgLayer(const std::string& svg, int cancelFd = -1);
    // Why the last SVG layer was not shown, in words ("its SVG cannot be
    // read ..."); empty after one that was, or was no longer wanted.
    std::string layerFailure();
    // Ends the layer renderer, when one runs; the next SVG layer starts another.
    void stopRenderer();
    // One compressed "qds" raster: 0, the decoder's code, or -1 for another
    // format (after a 16 s wait, so that the print loop's image wait runs out,
    // or until `cancelFd` turns readable) or a panel that has no place for it.
    int decodeImageShow(const std::string& data, ComprFormat format, int cancelFd = -1);
    // A raw 24-bit image of the machine resolution, shown untouched. `size`
    // is the buffer's length; rows are `bytesPerLine` apart (0: packed).
    // -1 when the buffer is too small for the image.
    int transDataImage(const uint8_t* pixels, size_t size, size_t bytesPerLine = 0);
    int showGrayImage(int level);
    // Paints the image at the origin of the panel image, over what was shown
    // last (the last layer, gray level or image; raw buffers do not count),
    // and shows that.
    int drawImage(const QImage& image);
    // The same with an image file (board path); `flag` says whether the
    // correction steps apply.
    int showImage(const std::string& path, uint32_t flag);
    int clearScreen();
    int refresh() { return 0; }

    // The work image's pixels: the packed image on a sub-pixel panel. Its
    // length is imageBytes(); null when there is no memory for it.
    uint8_t* imageBits();
    size_t imageBytes() const;

    int width() const { return m_width; }
    int height() const { return m_height; }
    // The render time limit (kRenderLimitMs; tests shorten it).
    void setRenderTimeLimit(int ms);

private:
    enum class Panel { Normal, SubPixel, Other };
    Panel panel() const;
    bool imagesReady() const;
    // The colour render image and the work image are made on first use:
    // false when memory ran out.
    bool ensureRenderImage();
    bool ensureWorkImage();
    // The answer of a show without its images: -EIO when memory was short.
    int unavailable() const;

    int renderSvgLayer(const std::string& svg, int cancelFd);
    // The pixels of a drawn layer, from the renderer to the panel.
    int showGrayLayer();
    int showColourLayer(const layerrender::ReplyHead& reply);
    // Logs why the renderer gave no layer; the layer's result.
    int renderFailed(int error);
    // The last step of every show: the image reaches the frame buffer.
    // Outside `content` the image is black. A layer drawn in the render
    // image stays there, or moves to the gray plane when the steps need it.
    int sendImageData(const QImage& image, const QRect& content, bool consumeLayer = false);
    void toGrayPlane(const QImage& image, const QRect& content, bool consumeLayer);
    // Paints a part of the render image black.
    void clearRenderImage(const QRect& area);
    int sendGrayPlane();
    // The steps and the frame write in one pass over the rows (normal panel).
    int sendProcessedRows();
    // Correction, mask, smoothing and inversion of the gray plane, which is
    // left as it was: the plane that holds the result.
    const uint8_t* correctGrayPlane(bool subPixel);
    // The correction into the second plane: false when no table is loaded.
    bool correctionStep();
    // The fewest rows worth handing to another thread.
    int minRowsPerPiece(bool correcting) const;
    // Images are drawn over the last layer shown: one that lives on the gray
    // plane moves into the render image first.
    // False when there was no memory for the render image.
    bool keepLayerInRenderImage();
    int imageChannel() const;
    void saveShownImage(bool subPixel);

    int m_width = 0;
    int m_height = 0;
    float m_calibrationX = 1.0f;
    float m_calibrationY = 1.0f;
    CorrectionTable m_correction;
    int m_mirrorX = 1;
    int m_mirrorY = 1;
    float m_pixelsPerMmX = 0;
    float m_pixelsPerMmY = 0;
    float m_machineScaleX = 1;
    float m_machineScaleY = 1;
    float m_rotationDegrees = 0;

    FrameBuffer* m_fb = nullptr;
    uint8_t* m_frameBits = nullptr;
    size_t m_frameStride = 0;
    QImage m_renderImage; // panel-sized: layers and test images are drawn here
    QRect m_renderContent; // the part of the render image that may not be black
    QImage m_workImage;   // gray at first; frame-buffer-sized once attached
    std::vector<uint8_t> m_gray;    // the panel's gray plane, with slack for the correction's reads
    bool m_layerOnGrayPlane = false; // the last layer shown is on m_gray, not in m_renderImage
    std::vector<uint8_t> m_grayOut; // second plane for the steps that read neighbours
    std::vector<uint8_t> m_mask; // empty: all 255
    std::vector<uint8_t> m_scratch; // the layer decoder's
    RowWorkers m_workers; // started on the first frame that needs them, then reused
    std::vector<uint8_t> m_rowScratch; // a row for each of the workers' slots
    Stopwatch m_stopwatch;
    bool m_processImage = false;
    LayerRenderer m_renderer;
    std::string m_layerFailure;
    int m_renderLimitMs = kRenderLimitMs;
    std::mutex m_mutex;
};
