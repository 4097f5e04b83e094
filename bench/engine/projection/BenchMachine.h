#pragma once

#include "base/platform/Platform.h"
#include "board/FrameBufferModel.h"
#include "board/SimBoard.h"
#include "engine/projection/FrameBuffer.h"
#include "engine/projection/ProjectView.h"

#include <memory>
#include <string>
#include <vector>

// The machine the projection benchmarks show layers on: the simulated
// board's frame buffer and a view over it, as the printer sets them up.
namespace benchmachine {

// The Qt application, a scratch /data and the log, once per process.
void ensureApplication();

struct Machine
{
    // A panel of width x height; with `correctAndMask`, a projector's
    // correction file and a mask image loaded and both steps on.
    Machine(int width, int height, bool correctAndMask);

    sim::SimBoard board;
    std::shared_ptr<sim::FrameBufferModel> model;
    std::unique_ptr<ScopedPlatform> io;
    std::unique_ptr<FrameBuffer> fb;
    std::unique_ptr<ProjectView> view;
};

// Several different layers of a model as compressed blocks, shown in turn so
// that no layer is still in the cache when it comes round again.
const std::vector<std::string>& layerBlocks(int width, int height);
size_t meanBlockBytes(const std::vector<std::string>& blocks);

} // namespace benchmachine
