#pragma once

#include "base/config/ConfigStore.h"
#include "base/config/SystemState.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "board/FrameBufferModel.h"
#include "board/GuiApplication.h"
#include "board/SimBoard.h"
#include "engine/projection/FrameBuffer.h"
#include "engine/projection/ProjectView.h"
#include "support/TestSupport.h"
#include "writers/QdsWriter.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

using Rgb = std::array<uint8_t, 3>;

// A tiny machine on the simulated board: the projector frame buffer as a
// device model, the printer configuration of the panel, and a view on both.
class ProjectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::ensureGuiApplication();
        // Tests change the machine and the disk freely: each starts from the
        // defaults, also when all of them run in one process.
        ConfigStore::instance()->m_printerConfig = PrinterConfig();
        SystemState::instance()->setUsbPath(QString());
        makeDirs(rootPath("/data/var"));
        LogWriter::instance()->init("/data/var", "TalvikS", 0, 1 << 24, 2, false);
        m_logStart = readFile(rootPath("/data/var/TalvikS.log")).size();
        m_io = std::make_unique<ScopedPlatform>(&board);
    }

    // What this test logged.
    std::string logText() const { return readFile(rootPath("/data/var/TalvikS.log")).substr(m_logStart); }

    // Decodes and shows an 8-bit layer of the machine's size.
    int showLayer(const std::vector<uint8_t>& pixels)
    {
        return view->decodeImageShow(testwriters::makeRasterBlock(pixels), ComprFormat::ZlibRle);
    }

    PrinterConfig& config() { return ConfigStore::instance()->m_printerConfig; }

    // A panel of xres x yres pixels over widthMm x heightMm, with the channel
    // step off so that gray levels arrive as they are.
    void setPanel(uint32_t xres, uint32_t yres, float widthMm, float heightMm)
    {
        config().XRes = xres;
        config().YRes = yres;
        config().Width = widthMm;
        config().Height = heightMm;
        config().ImageChannel = 0;
    }

    // Attaches a frame buffer of this geometry and creates the view (after
    // the configuration is final: the view reads it once).
    void attach(const sim::FrameBufferModel::Geometry& geometry)
    {
        fbModel = std::make_shared<sim::FrameBufferModel>(geometry);
        board.attach(sim::FrameBufferModel::kPath, fbModel);
        fb = std::make_unique<FrameBuffer>(sim::FrameBufferModel::kPath);
        view = std::make_unique<ProjectView>();
        ASSERT_EQ(0, view->setFrameBuffer(fb.get()));
    }

    // A normal panel whose frame buffer has the panel's size.
    void normalMachine(uint32_t xres, uint32_t yres, float widthMm, float heightMm)
    {
        setPanel(xres, yres, widthMm, heightMm);
        attach({xres, yres, 24, 0, 0});
    }

    Rgb pixel(int x, int y) const
    {
        const auto& g = fbModel->geometry();
        const uint8_t* p = fbModel->data() + size_t(y) * g.lineLength + size_t(x) * 3;
        return {p[0], p[1], p[2]};
    }

    // Every pixel of the frame as gray (asserting three equal bytes).
    std::vector<int> grayFrame() const
    {
        const auto& g = fbModel->geometry();
        std::vector<int> gray;
        for (uint32_t y = 0; y < g.yres; ++y)
            for (uint32_t x = 0; x < g.xres; ++x) {
                const Rgb p = pixel(int(x), int(y));
                EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "pixel " << x << "," << y << " is not gray";
                gray.push_back(p[0]);
            }
        return gray;
    }

    sim::SimBoard board;
    std::shared_ptr<sim::FrameBufferModel> fbModel;
    std::unique_ptr<FrameBuffer> fb;
    std::unique_ptr<ProjectView> view;

private:
    std::unique_ptr<ScopedPlatform> m_io;
    size_t m_logStart = 0;
};

} // namespace testsupport
