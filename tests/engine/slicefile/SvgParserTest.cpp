// The ".svgx" reader: print parameters, the line rules of layers, the caps on
// what one read collects, and the print-time estimate.
#include "engine/slicefile/PrintParams.h"
#include "engine/slicefile/PrintTimeEstimate.h"
#include "engine/slicefile/SvgParser.h"
#include "engine/slicefile/SvgxHead.h"

#include "base/threads/PThread.h"
#include "support/Sanitizers.h"
#include "support/TestSupport.h"
#include "writers/HostileSvg.h"
#include "writers/SvgxWriter.h"

#include "base/log/RootPath.h"

#include <gtest/gtest.h>

#include <QDomDocument>

#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <string>

using namespace testwriters;

namespace {

class SvgParserTest : public testing::Test
{
protected:
    std::string write(const std::string& bytes)
    {
        // A board path: the readers find it under the scratch root.
        const std::string path = "/model" + std::to_string(++m_files) + ".svgx";
        testsupport::writeFile(rootPath(path), bytes);
        return path;
    }
    std::string write(const SvgxFileSpec& spec) { return write(buildSvgx(spec)); }

    static SvgxFileSpec layers(unsigned count)
    {
        SvgxFileSpec spec;
        for (unsigned i = 0; i < count; ++i)
            spec.layers.push_back(layerGroup(i, {squarePathData(i, 0, 5)}));
        return spec;
    }
    static std::string withParams(const std::string& params, const SvgxFileSpec& base = SvgxFileSpec())
    {
        SvgxFileSpec spec = base;
        spec.printParams = params;
        return buildSvgx(spec);
    }

    static long peakResidentKb()
    {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    }

    int m_files = 0;
};

TEST_F(SvgParserTest, PrintParametersRoundTrip)
{
    SvgxPrintParams p;
    p.layerHeight = 0.025f;
    p.volume = 7.5f;
    p.layerCount = 321;
    p.materialName = "Clear \xc3\xa9";
    p.lightIntensity = 87.9f;
    p.printMode = 1;
    p.attachLayers = 3;
    p.transitionLayers = 5;
    p.attachTime = 2.5f;
    p.baseTime = 1.75f;
    p.adjustX = 99.5f;
    p.adjustY = 100.5f;
    p.minX = -1;
    p.minY = -2;
    p.minZ = 0.5f;
    p.maxX = 3;
    p.maxY = 4;
    p.maxZ = 16;
    SvgxFileSpec spec = layers(1);
    spec.printParams = printParamsElement(p, 1);
    spec.tag = "DLP-XYZ";

    SvgParser parser(write(spec), 4048);
    ASSERT_EQ(0, parser.open());
    const SliceParams& s = parser.sliceParams();
    EXPECT_EQ("DLP-XYZ", parser.tag());
    EXPECT_FLOAT_EQ(0.025f, s.layerHeight);
    EXPECT_FLOAT_EQ(7.5f, s.volume);
    EXPECT_EQ(321u, s.layerCount);
    EXPECT_EQ("Clear \xc3\xa9", s.materialName);
    EXPECT_EQ(87u, s.lightIntensity);
    EXPECT_EQ(1u, s.printMode);
    EXPECT_EQ(3u, s.attachLayers);
    EXPECT_EQ(5u, s.transitionLayers);
    EXPECT_EQ(2500u, s.attachExposure);
    EXPECT_EQ(1750u, s.normalExposure);
    EXPECT_FLOAT_EQ(99.5f, s.adjustX);
    EXPECT_FLOAT_EQ(100.5f, s.adjustY);
    EXPECT_FLOAT_EQ(-1, s.minX);
    EXPECT_FLOAT_EQ(-2, s.minY);
    EXPECT_FLOAT_EQ(0.5f, s.minZ);
    EXPECT_FLOAT_EQ(3, s.maxX);
    EXPECT_FLOAT_EQ(4, s.maxY);
    EXPECT_FLOAT_EQ(16, s.maxZ);

    const ModelInfo m = toModelInfo(s);
    EXPECT_EQ(321u, m.layerCount);
    EXPECT_EQ(1u, m.printMode);
    EXPECT_EQ(87u, m.lightIntensity);
}

TEST_F(SvgParserTest, DefaultsWhereTheFileIsSilent)
{
    SvgParser bare(write(withParams("<printparams layercount=\"2\">\n</printparams>")), 4048);
    ASSERT_EQ(0, bare.open());
    const SliceParams& s = bare.sliceParams();
    EXPECT_FLOAT_EQ(0.1f, s.layerHeight);
    EXPECT_EQ(2u, s.layerCount);
    EXPECT_EQ(1u, s.lightIntensity);
    EXPECT_EQ(8u, s.transitionLayers);
    EXPECT_EQ(0u, s.attachExposure);
    EXPECT_FLOAT_EQ(100, s.adjustX); // unscaled
    EXPECT_EQ(0u, s.extraValue1);

    SvgParser noBuildIn(write(withParams("<printparams layercount=\"2\">\n<projectiontime attachtime=\"abc\" basetime=\"3\"/>\n"
                                         "<printrange minx=\"-5\"/>\n</printparams>")),
                        4048);
    ASSERT_EQ(0, noBuildIn.open());
    EXPECT_EQ(8u, noBuildIn.sliceParams().transitionLayers);
    EXPECT_EQ(0u, noBuildIn.sliceParams().attachExposure); // not a number
    EXPECT_EQ(3000u, noBuildIn.sliceParams().normalExposure);
    EXPECT_FLOAT_EQ(-5, noBuildIn.sliceParams().minX);
    EXPECT_FLOAT_EQ(0, noBuildIn.sliceParams().maxX);
}

TEST_F(SvgParserTest, NumbersThatNeverReachAnIntegerConversion)
{
    for (const char* bad : {"nan", "inf", "-inf", "1e39", "-5", "-1e30", "5e9", "1e300"}) {
        const std::string params = std::string("<printparams lightintensity=\"") + bad + "\" layercount=\"" + bad +
                                   "\">\n<projectiontime attachtime=\"" + bad + "\" basetime=\"" + bad +
                                   "\" buildinlayer=\"" + bad + "\"/>\n</printparams>";
        SvgParser parser(write(withParams(params)), 4048);
        ASSERT_EQ(0, parser.open()) << bad;
        const SliceParams& s = parser.sliceParams();
        const bool huge = bad[0] != '-' && std::string(bad) != "nan";
        EXPECT_EQ(huge ? 4294967295u : 0u, s.attachExposure) << bad;
        EXPECT_TRUE(s.lightIntensity == 0 || s.lightIntensity == 4294967295u) << bad;
        EXPECT_EQ(0u, s.layerCount) << bad;
    }
}

TEST_F(SvgParserTest, ParamsElementMustFollowTheLineRules)
{
    SvgParser indented(write(withParams(" <printparams layercount=\"1\">\n</printparams>")), 4048);
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, indented.open());
    EXPECT_EQ("SvgParser: Not Found \"printparams\" Node\n", testing::internal::GetCapturedStdout());

    SvgParser malformed(write(withParams("<printparams layercount=\"1\">\n<projectiontime\n</printparams>")), 4048);
    EXPECT_EQ(-1, malformed.open());

    SvgParser unterminated(write(withParams("<printparams layercount=\"1\">")), 4048);
    EXPECT_EQ(-1, unterminated.open());

    SvgParser missing("/absent.svgx", 4048);
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, missing.open());
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("SvgParser: Fail To Open File ("));

    SvgParser shortHead(write(std::string("DLP-x\0\0\0", 8)), 4048);
    EXPECT_EQ(-1, shortHead.open());
}

TEST_F(SvgParserTest, ModelHeadReadAloneOrNotAtAll)
{
    SvgxPrintParams p;
    p.layerCount = 4;
    p.minX = -7;
    p.maxZ = 42;
    SvgxFileSpec spec = layers(4);
    spec.printParams = printParamsElement(p, 4);
    const std::optional<SliceParams> head = readSvgxParams(write(spec));
    ASSERT_TRUE(head);
    EXPECT_EQ(4u, head->layerCount);
    EXPECT_FLOAT_EQ(-7, head->minX);
    EXPECT_FLOAT_EQ(42, head->maxZ);

    // A head that cannot be read gives nothing, never the values read so far.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(readSvgxParams(write(withParams("<printparams layercount=\"1\">\n<projectiontime\n</printparams>"))));
    EXPECT_FALSE(readSvgxParams("/absent.svgx"));
    testing::internal::GetCapturedStdout();
}

// 28 MB of print parameters, 7 million empty elements: refused before a
// tree is built (which would take gigabytes), and without reading it all.
TEST_F(SvgParserTest, PrintParamsOfMillionsOfElementsAreRefused)
{
    const std::string path = write(withParams(printParamsWithEmptyChildren(1, 7000000), layers(1)));
    const long before = peakResidentKb();
    SvgParser parser(path, 4048);
    EXPECT_EQ(-1, parser.open());
    if (!testsupport::kSanitizerAllocator) {
        EXPECT_LT(peakResidentKb() - before, 256 * 1024);
    }

    // Within the bound, parameters with some unknown children still read.
    SvgParser some(write(withParams(printParamsWithEmptyChildren(1, 3000), layers(1))), 4048);
    EXPECT_EQ(0, some.open());
    EXPECT_EQ(1u, some.sliceParams().layerCount);
    // Short enough to read, too many nodes to build a tree of.
    for (size_t children : {ParamsDocument::kMaxNodes, size_t{200000}}) {
        SvgParser many(write(withParams(printParamsWithEmptyChildren(1, children), layers(1))), 4048);
        EXPECT_EQ(-1, many.open()) << children;
    }
    // The bound is the parameters' own: a long line before them is passed over.
    const std::string longDescription = "<desc>" + std::string(2u << 20, 'x') + "</desc>\n";
    SvgParser after(write(withParams(longDescription + printParamsElement(SvgxPrintParams(), 1), layers(1))), 4048);
    EXPECT_EQ(0, after.open());
    EXPECT_EQ(1u, after.sliceParams().layerCount);
}

TEST_F(SvgParserTest, AttributesOnSeparateLinesStayApart)
{
    // An attribute that starts a line right after the previous closing quote.
    SvgParser parser(write(withParams("<printparams layercount=\"4\"\nlayerheight=\"0.02\">\n</printparams>")), 4048);
    ASSERT_EQ(0, parser.open());
    EXPECT_EQ(4u, parser.sliceParams().layerCount);
    EXPECT_FLOAT_EQ(0.02f, parser.sliceParams().layerHeight);
}

TEST_F(SvgParserTest, LayersInFileOrder)
{
    SvgxFileSpec spec = layers(3);
    spec.layers.insert(spec.layers.begin() + 1, "<g id=\"support\">\n<path d=\"M 0 0\"/>\n</g>");
    // Closed on the same line as its last path: the group goes on to a line starting with "</g>".
    spec.layers.push_back("<g id=\"layer-3\">\n<path d=\"M 1 1\"/></g>\n<path d=\"M 2 2\"/>\n</g>");
    SvgParser parser(write(spec), 4048);
    ASSERT_EQ(0, parser.open());
    for (unsigned i = 0; i < 3; ++i) {
        const std::string layer = parser.nextLayer();
        EXPECT_EQ(SVG_HEAD + layerGroup(i, {squarePathData(i, 0, 5)}) + SVG_TAIL, layer);
        QDomDocument document;
        EXPECT_TRUE(document.setContent(QByteArray::fromStdString(layer))) << i;
    }
    EXPECT_EQ(SVG_HEAD + spec.layers.back() + SVG_TAIL, parser.nextLayer());
    EXPECT_EQ("", parser.nextLayer());
    EXPECT_EQ("", parser.nextLayer());
}

TEST_F(SvgParserTest, LastLineWithoutLineBreakStillCounts)
{
    SvgxFileSpec spec = layers(2);
    spec.withSvgEnd = false;
    spec.finalLineBreak = false;
    SvgParser parser(write(spec), 4048);
    ASSERT_EQ(0, parser.open());
    EXPECT_NE("", parser.nextLayer());
    EXPECT_EQ(SVG_HEAD + spec.layers[1] + SVG_TAIL, parser.nextLayer());
    EXPECT_EQ("", parser.nextLayer());
}

TEST_F(SvgParserTest, GetLayerSearchesFromTheTop)
{
    SvgxFileSpec spec = layers(12);
    SvgParser parser(write(spec), 2024);
    ASSERT_EQ(0, parser.open());
    EXPECT_EQ(SVG_HEAD + spec.layers[10] + SVG_TAIL, parser.getlayer(10));
    EXPECT_EQ(SVG_HEAD + spec.layers[1] + SVG_TAIL, parser.getlayer(1));
    testing::internal::CaptureStdout();
    EXPECT_EQ("", parser.getlayer(12));
    EXPECT_EQ("layer(12) > layerCount", testing::internal::GetCapturedStdout());

    SvgxFileSpec gap = layers(3);
    gap.layers.erase(gap.layers.begin() + 1);
    gap.printParams = printParamsElement(SvgxPrintParams(), 3);
    SvgParser withGap(write(gap), 2024);
    ASSERT_EQ(0, withGap.open());
    EXPECT_EQ("", withGap.getlayer(1));
    EXPECT_NE("", withGap.getlayer(2));
}

TEST_F(SvgParserTest, ReadFailuresAreReported)
{
    {
        SvgxFileSpec spec = layers(1); // a group cut off by the end of the file
        spec.layers.push_back("<g id=\"layer-1\">\n<path d=\"M 0 0 L 1 1\"/>");
        spec.withSvgEnd = false;
        SvgParser parser(write(spec), 4048);
        ASSERT_EQ(0, parser.open());
        EXPECT_NE("", parser.nextLayer());
        EXPECT_EQ(SvgParser::Failure::None, parser.lastFailure());
        EXPECT_EQ("00000005", parser.nextLayer());
        EXPECT_EQ(SvgParser::Failure::File, parser.lastFailure()); // a damaged file, not memory
    }
    {
        // An endless line inside a group.
        const std::string bytes = buildSvgx(layers(1)) + "<g id=\"layer-1\">\n<path d=\"" +
                                  std::string(SvgParser::kMaxLineLength + 10, '1') + "\"/>\n</g>\n";
        SvgParser parser(write(bytes), 4048);
        ASSERT_EQ(0, parser.open());
        EXPECT_NE("", parser.nextLayer());
        EXPECT_EQ("00000005", parser.nextLayer());
        EXPECT_EQ(SvgParser::Failure::File, parser.lastFailure()); // a damaged file, not memory
    }
    {
        // A group that never closes within the cap.
        std::string bytes = buildSvgx(layers(0)) + "<g id=\"layer-0\">\n";
        const std::string line = "<path d=\"" + std::string(1 << 20, '2') + "\"/>\n";
        while (bytes.size() < SvgParser::kMaxNodeLength + (2u << 20))
            bytes += line;
        bytes += "</g>\n";
        SvgParser parser(write(bytes), 4048);
        ASSERT_EQ(0, parser.open());
        EXPECT_EQ("00000005", parser.nextLayer());
        EXPECT_EQ(SvgParser::Failure::File, parser.lastFailure()); // a damaged file, not memory
    }
    {
        // Printparams past the cap: a read failure, not a file of defaults.
        std::string params = "<printparams layercount=\"1\">\n";
        while (params.size() < SvgParser::kMaxNodeLength + 10)
            params += "<x a=\"" + std::string(1 << 20, 'a') + "\"/>\n";
        SvgParser parser(write(withParams(params + "</printparams>")), 4048);
        EXPECT_EQ(-1, parser.open());
    }
}

namespace {

// A layer group whose text (lines joined by "\n") is `length` bytes long.
std::string groupOfLength(size_t length)
{
    const std::string first = "<g id=\"layer-0\">";
    const std::string last = "</g>";
    std::string group = first;
    size_t left = length - first.size() - 1 - last.size();
    while (left > 0) {
        const size_t line = std::min<size_t>(left - 1, 1u << 20);
        group += '\n' + std::string(line, '3');
        left -= line + 1;
    }
    return group + '\n' + last;
}

} // namespace

TEST_F(SvgParserTest, ElementCapHoldsAtItsExactBoundary)
{
    constexpr size_t kCap = SvgParser::kMaxNodeLength;
    const struct
    {
        size_t length;
        bool accepted;
    } cases[] = {
        {kCap, true},
        {kCap + 1, false},
        {kCap + 5, false}, // exactly the cap before the closing line
    };
    for (const auto& c : cases) {
        SvgxFileSpec spec;
        spec.layers = {groupOfLength(c.length)};
        SvgParser parser(write(spec), 4048);
        ASSERT_EQ(0, parser.open());
        const std::string layer = parser.nextLayer();
        if (c.accepted)
            EXPECT_EQ(strlen(SVG_HEAD) + c.length + strlen(SVG_TAIL), layer.size()) << c.length;
        else
            EXPECT_EQ("00000005", layer.substr(0, 64)) << c.length << ": " << layer.size() << " bytes";
    }
}

TEST_F(SvgParserTest, DeepNestingIsRefusedOnTheImageThreadStack)
{
    std::string deep = "<g id=\"layer-0\">\n";
    for (int i = 0; i < 100000; ++i)
        deep += "<g>";
    for (int i = 0; i < 100000; ++i)
        deep += "</g>";
    deep += "\n</g>";
    SvgxFileSpec spec;
    spec.layers = {deep, layerGroup(1, {squarePathData(0, 0, 1)})};

    struct Reader : PThread
    {
        std::string path, first, second, single;
        void* threadMain() override
        {
            SvgParser parser(path, 4048);
            if (parser.open() == 0) {
                first = parser.nextLayer();
                second = parser.nextLayer();
                single = parser.getlayer(0);
            }
            return nullptr;
        }
    } reader;
    reader.path = write(spec);
    ASSERT_EQ(0, reader.start(false, 1 << 20)); // the image thread's stack
    reader.join();
    EXPECT_EQ("00000005", reader.first);
    EXPECT_NE(std::string::npos, reader.second.find("layer-1"));
    EXPECT_EQ("", reader.single);

    EXPECT_TRUE(ParamsDocument(QByteArray::fromStdString("<root>" + deep.substr(17, 3000) + "</root>"))
                    .root()
                    .isNull());
}

TEST(PrintTimeEstimateTest, FromTheParameters)
{
    setMeasuredLayerTime(-1.0f);
    PrintWorkPara work;
    work.model.layerCount = 100;
    work.model.attachLayers = 4;
    work.model.transitionLayers = 8;
    work.model.attachExposure = 80000;
    work.model.normalExposure = 2500;
    work.printing.SettleTime = 1000;
    work.printing.ReleaseTime = 200;
    work.printing.BreatheTime = 100;
    EXPECT_EQ(1564u, estimatePrintTime(work, 0));
    EXPECT_EQ(724u, estimatePrintTime(work, 20));
    EXPECT_EQ(0u, estimatePrintTime(work, 100));
    EXPECT_EQ(0u, estimatePrintTime(work, 150));

    // Past the attach layers, inside the transition: 8 - 2 = 6 transition layers left.
    const double o = 1.3 + 5.26084;
    const double expected = (6 + 88) * o + 88 * 2.5 + 6 * 2.5 + 77.5 * 7 / 2;
    EXPECT_EQ(static_cast<uint32_t>(expected), estimatePrintTime(work, 6));

    work.model.printMode = 1;
    EXPECT_EQ(static_cast<uint32_t>(80 * (1.3 + 2.32962) + 80 * 2.5), estimatePrintTime(work, 20));
    work.model.printMode = 7;
    EXPECT_EQ(static_cast<uint32_t>(80 * 1.3 + 80 * 2.5), estimatePrintTime(work, 20));

    work.model.layerCount = 4000000000u; // saturates rather than wraps
    work.model.normalExposure = 4000000000u;
    EXPECT_EQ(4294967295u, estimatePrintTime(work, 0));
}

TEST(PrintTimeEstimateTest, FromTheMeasuredLayerTime)
{
    PrintWorkPara work;
    work.model.layerCount = 100;
    setMeasuredLayerTime(3.0f);
    EXPECT_EQ(180u, estimatePrintTime(work, 40));
    EXPECT_EQ(0u, estimatePrintTime(work, 100));
    EXPECT_EQ(0u, estimatePrintTime(work, 120));
    setMeasuredLayerTime(0.0f);
    EXPECT_EQ(0u, estimatePrintTime(work, 0));
    setMeasuredLayerTime(-1.0f);
    EXPECT_FLOAT_EQ(-1.0f, measuredLayerTime());
}

} // namespace
