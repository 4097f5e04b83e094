// A layer too large for the memory left: the print ends with the memory
// failure instead of the process dying. This binary replaces the global
// operator new so that the SVG renderer can be refused memory on the print's
// threads, as it is on a machine whose memory runs out mid-render.
#include "engine/print/PrinterHarness.h"

#include "base/log/RootPath.h"
#include "engine/print/EngineThread.h"
#include "engine/print/PrintThread.h"
#include "support/TestSupport.h"
#include "writers/SvgxWriter.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<bool> g_refuseRenderer{false};
std::atomic<int> g_refused{0};

bool calledFromSvgRenderer(void* caller)
{
    Dl_info info{};
    return dladdr(caller, &info) != 0 && info.dli_fname && strstr(info.dli_fname, "Qt5Svg");
}

void* allocate(size_t size, void* caller)
{
    if (g_refuseRenderer.load(std::memory_order_relaxed) && isEngineThread() && calledFromSvgRenderer(caller)) {
        ++g_refused;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

} // namespace

void* operator new(size_t size)
{
    return allocate(size, __builtin_return_address(0));
}

void* operator new[](size_t size)
{
    return allocate(size, __builtin_return_address(0));
}

// The forms without exceptions must come from the same heap as the deletes below.
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size ? size : 1);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size ? size : 1);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, size_t) noexcept
{
    std::free(block);
}

TEST(LayerMemory, ALayerTooLargeForMemoryEndsThePrintWithTheMemoryFailure)
{
#ifdef __arm__
    // Debian's armhf Qt5Svg is built without unwind tables: an exception
    // cannot leave the renderer, and the process ends there instead.
    GTEST_SKIP() << "a bad_alloc cannot cross Qt5Svg's frames on 32-bit ARM";
#endif
    Printer* printer = harness::startPrinter();
    testwriters::SvgxFileSpec spec;
    spec.printParams = testwriters::printParamsElement(testwriters::SvgxPrintParams(), 3);
    for (int n = 0; n < 3; ++n)
        spec.layers.push_back("<g id=\"layer-" + std::to_string(n) + "\" fill=\"white\">\n<path d=\"" +
                              testwriters::squarePathData(-1, -1, 2) + "\"/>\n</g>");
    testsupport::writeFile(rootPath("/data/large.svgx"), testwriters::buildSvgx(spec));
    ASSERT_EQ(0, printer->print("/data/large.svgx"));
    // Layer 0 is rendered; the memory runs out in the render of layer 1.
    ASSERT_TRUE(harness::waitForState(printer, waitExpose));
    g_refuseRenderer = true;
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    g_refuseRenderer = false;
    const char* exit = printer->getPrintExitValue();
    ASSERT_NE(nullptr, exit);
    EXPECT_STREQ("00000005", exit);
    EXPECT_GT(g_refused.load(), 0);
    EXPECT_EQ(1u, harness::machine().board().display().exposures().size());
    EXPECT_FALSE(harness::machine().board().display().isLightOn());
}
