// SVG layers through the projection, as the image thread shows them (on a
// stack of its size): the check before rendering, the gray and the colour
// ways, the outline offset, the image steps and an image drawn over the
// layer, on a normal and a sub-pixel panel.
// Input: one byte of options, then the document.
#include "SvgLayerInput.h"

#include "base/config/ConfigStore.h"
#include "base/threads/PThread.h"
#include "base/platform/SysIo.h"
#include "board/FrameBufferModel.h"
#include "board/GuiApplication.h"
#include "board/SimBoard.h"
#include "engine/projection/FrameBuffer.h"
#include "engine/projection/ProjectView.h"
#include "engine/slicefile/SvgParser.h"

#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr uint32_t kPanelW = 48;
constexpr uint32_t kPanelH = 24;

// One frame buffer per panel kind, with a view made for it.
struct Panel
{
    explicit Panel(sim::SimBoard& board, const std::string& path, uint32_t fbWidth)
    {
        PrinterConfig& c = ConfigStore::instance()->m_printerConfig;
        c.XRes = kPanelW;
        c.YRes = kPanelH;
        c.Width = kPanelW / 2.0f;
        c.Height = kPanelH / 2.0f;
        board.attach(path, std::make_shared<sim::FrameBufferModel>(sim::FrameBufferModel::Geometry{fbWidth, kPanelH, 24, 0, 0}));
        fb = std::make_unique<FrameBuffer>(path.c_str());
        view = std::make_unique<ProjectView>();
        if (view->setFrameBuffer(fb.get()) != 0)
            abort();
    }
    std::unique_ptr<FrameBuffer> fb;
    std::unique_ptr<ProjectView> view;
};

struct Machine
{
    Machine()
        : io(&board), normal(board, "/dev/fb2", kPanelW), subPixel(board, "/dev/fb3", kPanelW / 3)
    {
    }
    sim::SimBoard board;
    ScopedSysIo io;
    Panel normal;
    Panel subPixel;
};

Machine* g_machine = nullptr;

// The image thread's body: one layer, then a picture over it.
class ImageThread : public PThread
{
public:
    ImageThread(ProjectView& view, const std::string& svg, bool drawOver) : m_view(view), m_svg(svg), m_drawOver(drawOver) {}

protected:
    void* threadMain() override
    {
        m_view.showSvgLayer(m_svg);
        if (m_drawOver) {
            QImage picture(5, 3, QImage::Format_RGB32);
            picture.fill(qRgb(90, 90, 90));
            m_view.drawImage(picture);
        }
        return nullptr;
    }

private:
    ProjectView& m_view;
    const std::string& m_svg;
    bool m_drawOver;
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
    g_machine = new Machine;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const SvgLayerInput input = SvgLayerInput::parse(data, size);
    PrinterConfig& c = ConfigStore::instance()->m_printerConfig;
    c.OutlineGrayOffset = input.outlineOffsetUm;
    c.Reverse = input.reverse;
    c.MaskFlag = input.mask;
    c.ImageChannel = input.channel;
    const std::string svg = input.wrapAsLayer ? SVG_HEAD + input.document + SVG_TAIL : input.document;
    Panel& panel = input.subPixel ? g_machine->subPixel : g_machine->normal;
    ImageThread thread(*panel.view, svg, input.drawOver);
    if (thread.start(false, 1 << 20) != 0)
        abort();
    thread.join();
    return 0;
}
