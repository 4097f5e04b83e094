// Memory that runs out: in the layer renderer, a layer too large for its
// budget ends the print with the memory failure instead of the process; in
// the printer's own calls, a shortage fails the call, not the program. This
// binary replaces the global operator new so that a test can refuse large
// blocks to its own thread, as a machine whose memory runs out would.
#include "engine/print/PrinterHarness.h"

#include "base/log/RootPath.h"
#include "support/Sanitizers.h"
#include "support/TestSupport.h"
#include "writers/HostileSvg.h"
#include "writers/SvgxWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

// Blocks of at least this size are refused to the thread that set it (0: none).
thread_local size_t t_refuseFrom = 0;
thread_local int t_refused = 0;

void* allocate(size_t size)
{
    if (t_refuseFrom != 0 && size >= t_refuseFrom) {
        ++t_refused;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

// While one lives, this thread gets no block of `bytes` or more.
struct ShortOfMemory
{
    explicit ShortOfMemory(size_t bytes)
    {
        t_refuseFrom = bytes;
        t_refused = 0;
    }
    ~ShortOfMemory() { t_refuseFrom = 0; }
};

std::string soundLayer(unsigned n)
{
    return "<g id=\"layer-" + std::to_string(n) + "\" fill=\"white\">\n<path d=\"" +
           testwriters::squarePathData(-1, -1, 2) + "\"/>\n</g>";
}

} // namespace

void* operator new(size_t size)
{
    return allocate(size);
}

void* operator new[](size_t size)
{
    return allocate(size);
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

// 300,000 small paths: 9 MB of text, over a gigabyte in the renderer.
TEST(LayerMemory, ALayerTooLargeForTheRenderersBudgetEndsThePrintWithTheMemoryFailure)
{
    if (testsupport::kSanitizerAllocator)
        GTEST_SKIP() << "the sanitizer's allocator replaces the renderer's budget";
    Printer* printer = harness::startPrinter();
    testwriters::SvgxFileSpec spec;
    spec.printParams = testwriters::printParamsElement(testwriters::SvgxPrintParams(), 3);
    spec.layers = {soundLayer(0), testwriters::smallPathsLayer(1, 300000), soundLayer(2)};
    testsupport::writeFile(rootPath("/data/large.svgx"), testwriters::buildSvgx(spec));
    ASSERT_EQ(0, printer->print("/data/large.svgx"));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    const char* exit = printer->getPrintExitValue();
    ASSERT_NE(nullptr, exit);
    EXPECT_STREQ("00000005", exit);
    EXPECT_EQ(1u, harness::logLines("Memory Not Enough").size());
    EXPECT_EQ(1u, harness::machine().board().display().exposures().size());
    EXPECT_FALSE(harness::machine().board().display().isLightOn());

    // The printer goes on: the next print runs to its end.
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("after", 2, 0, 0, 1, 1))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_STREQ("0", printer->getPrintExitValue());
}

// A details page or a print started while memory is short: -1, and the
// printer is as it was.
TEST(LayerMemory, PrinterCallsShortOfMemoryFailTheCallNotTheProgram)
{
    Printer* printer = harness::startPrinter();
    const QString file = QString::fromStdString(harness::writeSvgx("model", 2, 0, 0, 1, 1));
    ModelInfo info;
    int details = 0, print = 0, refused = 0;
    {
        // The reader's line buffer alone is larger.
        ShortOfMemory shortage(32 * 1024);
        details = printer->getModelInfo(file, info);
        print = printer->print(file);
        refused = t_refused;
    }
    EXPECT_EQ(-1, details);
    EXPECT_EQ(-1, print);
    EXPECT_GT(refused, 0);
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
    EXPECT_EQ(1u, harness::logLines("Model details failed").size());
    EXPECT_EQ(1u, harness::logLines("Print failed").size());

    EXPECT_EQ(0, printer->getModelInfo(file, info));
    EXPECT_EQ(2u, info.layerCount);
    ASSERT_EQ(0, printer->print(file));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_STREQ("0", printer->getPrintExitValue());
}
