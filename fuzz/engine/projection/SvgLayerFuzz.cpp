// SVG layers as the layer renderer draws them, in this process so that a
// fault is seen (the printer runs the renderer as a program of its own): the
// check before rendering, the outline offset, the gray and the colour ways,
// on a normal and a sub-pixel panel's geometry, on a stack of the image
// thread's size. What the projection does with the pixels afterwards is a
// fixed pass over the planes, tested on its own.
// Input: one byte of options, then the document.
#include "SvgLayerInput.h"

#include "base/threads/PThread.h"
#include "board/GuiApplication.h"
#include "engine/projection/LayerPainter.h"
#include "engine/slicefile/SvgParser.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace {

constexpr int kPanelW = 48;
constexpr int kPanelH = 24;

class PaintThread : public PThread
{
public:
    PaintThread(const std::string& svg, const layerrender::Geometry& geometry) : m_svg(svg), m_geometry(geometry) {}

protected:
    void* threadMain() override
    {
        try {
            const PaintedLayer layer = paintLayer(QByteArray::fromStdString(m_svg), m_geometry);
            // A drawn layer's pixels are all there.
            if (layer.outcome == layerrender::Outcome::Drawn && layer.plane == layerrender::Plane::Gray &&
                layer.gray.size() != size_t(kPanelW) * kPanelH)
                abort();
        } catch (const std::bad_alloc&) {
            // The renderer answers a shortage as such.
        }
        return nullptr;
    }

private:
    const std::string& m_svg;
    layerrender::Geometry m_geometry;
};

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!freopen("/dev/null", "w", stdout))
        return 1;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qInstallMessageHandler(quiet); // the renderer's warnings on bad documents
    sim::ensureGuiApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const SvgLayerInput input = SvgLayerInput::parse(data, size);
    layerrender::Geometry geometry;
    // Two pixels a millimetre; a sub-pixel panel is three times as wide as tall a pixel.
    geometry.width = kPanelW;
    geometry.height = kPanelH;
    geometry.scaleX = input.subPixel ? 6.0f : 2.0f;
    geometry.scaleY = input.mirror ? -2.0f : 2.0f;
    geometry.offsetUm = input.outlineOffsetUm;
    const std::string svg = input.wrapAsLayer ? SVG_HEAD + input.document + SVG_TAIL : input.document;
    PaintThread thread(svg, geometry);
    if (thread.start(false, 1 << 20) != 0)
        abort();
    thread.join();
    return 0;
}
