// Reading qds files made by the test writer: every field, the machine-value
// rule, the checks, the layer walk and damaged offsets.
#include "engine/slicefile/PrintFileParser.h"

#include "base/config/ConfigStore.h"
#include "support/TestSupport.h"
#include "writers/LayerImages.h"
#include "writers/QdsWriter.h"

#include "base/log/RootPath.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <string>

using namespace testwriters;

namespace {

class QdsReaderTest : public testing::Test
{
protected:
    std::string write(const QdsFileSpec& spec, QdsLayout* layout = nullptr)
    {
        return writeBytes(buildQds(spec, layout));
    }
    std::string writeBytes(const std::string& bytes)
    {
        // A board path: the readers find it under the scratch root.
        const std::string path = "/model" + std::to_string(++m_files) + ".qds";
        testsupport::writeFile(rootPath(path), bytes);
        return path;
    }
    static QdsFileSpec threeLayers()
    {
        QdsFileSpec spec;
        for (int i = 0; i < 3; ++i)
            spec.layers.push_back({makeRasterBlock(shapesLayer(64, 32, i, 3)), std::nullopt});
        spec.general.xRes = 64;
        spec.general.yRes = 32;
        return spec;
    }

    int m_files = 0;
};

TEST_F(QdsReaderTest, GeneralDataReachesModelInfoAndPrintingSet)
{
    QdsFileSpec spec = threeLayers();
    QdsGeneralValues& g = spec.general;
    g.adjustX = 98.5f;
    g.adjustY = 101.25f;
    g.materialName = "Tough Blue";
    g.volume = 12.5f;
    g.layerHeight = 0.03f;
    g.liftV = 150;
    g.dropV = 250;
    g.bottomExposure = 4000;
    g.bottomLayers = 5;
    g.transitionLayers = 6;
    g.layerCount = 77;
    g.liftI = {110, 120};
    g.liftII = {210, 220};
    g.dropI = {310, 320};
    g.dropII = {410, 420};
    g.settleTime = 12;
    g.releaseTime = 34;
    g.breatheTime = 56;
    g.exposure = 275;
    g.lightIntensity = 9;
    g.extraValue1 = 7;
    g.extraValue2 = 8;

    PrintingPara& machine = ConfigStore::instance()->m_printingPara;
    machine.PauseOverLift = 42;
    machine.LiftI.A = 3.5f;

    PrintFileParser parser;
    ASSERT_EQ(0, parser.checkFile(write(spec), true));
    const ModelInfo& m = parser.m_workPara.model;
    EXPECT_EQ("Tough Blue", m.materialName);
    EXPECT_FLOAT_EQ(0.03f, m.layerHeight);
    EXPECT_FLOAT_EQ(12.5f, m.volume);
    EXPECT_EQ(77u, m.layerCount);
    EXPECT_EQ(5u, m.attachLayers);
    EXPECT_EQ(6u, m.transitionLayers);
    EXPECT_EQ(40000u, m.attachExposure);
    EXPECT_EQ(2750u, m.normalExposure);
    EXPECT_EQ(90u, m.lightIntensity);
    EXPECT_EQ(70u, m.extraValue1);
    EXPECT_EQ(80u, m.extraValue2);
    EXPECT_FLOAT_EQ(98.5f, m.adjustX);
    EXPECT_FLOAT_EQ(101.25f, m.adjustY);
    EXPECT_EQ(0u, m.printMode);
    EXPECT_EQ(0u, m.printTime);

    const PrintingPara& p = parser.m_workPara.printing;
    EXPECT_EQ(".nv", p.Name);
    EXPECT_DOUBLE_EQ(1.5, p.Lift_V);
    EXPECT_DOUBLE_EQ(2.5, p.Drop_V);
    EXPECT_FLOAT_EQ(1.1f, p.LiftI.X);
    EXPECT_FLOAT_EQ(1.2f, p.LiftI.V);
    EXPECT_FLOAT_EQ(2.1f, p.LiftII.X);
    EXPECT_FLOAT_EQ(2.2f, p.LiftII.V);
    EXPECT_FLOAT_EQ(3.1f, p.DropI.X);
    EXPECT_FLOAT_EQ(3.2f, p.DropI.V);
    EXPECT_FLOAT_EQ(4.1f, p.DropII.X);
    EXPECT_FLOAT_EQ(4.2f, p.DropII.V);
    EXPECT_EQ(120u, p.SettleTime);
    EXPECT_EQ(340u, p.ReleaseTime);
    EXPECT_EQ(560u, p.BreatheTime);
    // What the file does not carry comes from the machine's normal set.
    EXPECT_EQ(42u, p.PauseOverLift);
    EXPECT_FLOAT_EQ(3.5f, p.LiftI.A);
    EXPECT_EQ(machine.BaseSettleTime, p.BaseSettleTime);
}

TEST_F(QdsReaderTest, MachineValueRuleTakesTheNormalSet)
{
    PrintingPara& machine = ConfigStore::instance()->m_printingPara;
    machine.SettleTime = 1000;
    machine.ReleaseTime = 205;
    machine.BreatheTime = 99;
    machine.Lift_V = 0.75;
    machine.Drop_V = 1.25;
    machine.LiftI = {1, 1, 2.5f, 3.25f};
    machine.DropII = {1, 1, 700.0f, -4.0f}; // past 16 bits and negative: clamped, never wrapped
    machine.LiftII = {1, 1, 0.29f, 0.29f};  // a float product: 29, where a double one gives 28

    QdsFileSpec spec = threeLayers();
    QdsGeneralValues& g = spec.general;
    g.settleTime = g.releaseTime = g.breatheTime = kMachineValue;
    g.liftV = g.dropV = kMachineValue;
    g.liftI = {kMachineValue, kMachineValue};
    g.dropII = {kMachineValue, kMachineValue};
    g.liftII = {kMachineValue, 40};

    PrintFileParser parser;
    ASSERT_EQ(0, parser.checkFile(write(spec), true));
    const QdsGeneralData& resolved = parser.generalData();
    EXPECT_EQ(100, resolved.settleTime);
    EXPECT_EQ(20, resolved.releaseTime);
    EXPECT_EQ(9, resolved.breatheTime);
    EXPECT_EQ(75, resolved.liftV);
    EXPECT_EQ(125, resolved.dropV);
    EXPECT_EQ(325, resolved.liftI.x);
    EXPECT_EQ(250, resolved.liftI.v);
    EXPECT_EQ(29, resolved.liftII.x);
    EXPECT_EQ(40, resolved.liftII.v);
    EXPECT_EQ(0, resolved.dropII.x);
    EXPECT_EQ(65535, resolved.dropII.v);

    const PrintingPara& p = parser.m_workPara.printing;
    EXPECT_EQ(1000u, p.SettleTime);
    EXPECT_EQ(200u, p.ReleaseTime);
    EXPECT_EQ(90u, p.BreatheTime);
    EXPECT_DOUBLE_EQ(0.75, p.Lift_V);
    EXPECT_FLOAT_EQ(3.25f, p.LiftI.X);
    EXPECT_FLOAT_EQ(2.5f, p.LiftI.V);
    EXPECT_FLOAT_EQ(655.35f, p.DropII.V);
}

TEST_F(QdsReaderTest, HeaderChecks)
{
    PrintFileParser missing;
    EXPECT_EQ(ENOENT, missing.checkFile("/none.qds", false));

    std::string bytes = buildQds(threeLayers());
    PrintFileParser shortFile;
    EXPECT_EQ(-1, shortFile.checkFile(writeBytes(bytes.substr(0, 111)), false));

    for (const char* magic : {"NW\0\0", "NV\0\1", "nv\0\0"}) {
        std::string damaged = bytes;
        damaged.replace(0, 4, magic, 4);
        PrintFileParser parser;
        EXPECT_EQ(-ENOENT, parser.checkFile(writeBytes(damaged), false)) << magic;
    }

    QdsLayout layout;
    bytes = buildQds(threeLayers(), &layout);
    PrintFileParser cut;
    EXPECT_EQ(0, cut.checkFile(writeBytes(bytes.substr(0, layout.generalData + 435)), false));
    EXPECT_EQ(-ENOENT, cut.readGeneralData());
}

TEST_F(QdsReaderTest, VersionAndResolutionChecks)
{
    struct Row
    {
        uint8_t version[4];
        int supported;
    };
    for (const Row& row : {Row{{0, 1, 1, 0}, 1}, Row{{0, 1, 0, 9}, 1}, Row{{0, 0, 9, 9}, 1}, Row{{0, 1, 2, 0}, 0},
                           Row{{0, 2, 0, 0}, 0}, Row{{0, 1, 1, 1}, 0}}) {
        QdsFileSpec spec = threeLayers();
        std::copy(row.version, row.version + 4, spec.version);
        PrintFileParser parser;
        ASSERT_EQ(0, parser.checkFile(write(spec), false));
        EXPECT_EQ(row.supported, parser.checkVersion()) << int(row.version[1]) << int(row.version[2]);
    }

    struct Res
    {
        uint32_t fileX, fileY;
        int expected;
    };
    for (const Res& r : {Res{1920, 1080, 0}, Res{0, 1080, -1}, Res{1920, 0, -1}, Res{3840, 2400, -ENOENT},
                         Res{1080, 1920, -ENOENT}}) {
        QdsFileSpec spec = threeLayers();
        spec.general.xRes = r.fileX;
        spec.general.yRes = r.fileY;
        PrintFileParser parser;
        ASSERT_EQ(0, parser.checkFile(write(spec), true));
        EXPECT_EQ(r.expected, parser.checkResolution(1920, 1080)) << r.fileX << "x" << r.fileY;
    }
}

TEST_F(QdsReaderTest, LayerWalkKeepsSpecialDataUntilTheNextBlock)
{
    ConfigStore::instance()->m_printingPara.SettleTime = 1000;
    QdsFileSpec spec = threeLayers();
    spec.general.exposure = 250;
    spec.general.settleTime = kMachineValue;
    spec.general.liftI = {1000, 500};
    for (int i = 0; i < 3; ++i)
        spec.layers.push_back({makeRasterBlock(shapesLayer(64, 32, 10 + i, 2)), std::nullopt});
    QdsSpecialValues special;
    special.layerHeight = 0.1f;
    special.exposure = 400;
    special.liftI.v = 300;
    special.releaseTime = 7;
    spec.layers[1].special = special;
    QdsSpecialValues ignored = special;
    ignored.layerHeight = 0; // a block without layer height does not apply
    ignored.exposure = 999;
    spec.layers[3].special = ignored;
    QdsSpecialValues allGeneral;
    allGeneral.layerHeight = 0.05f; // every other field keeps the general value
    spec.layers[4].special = allGeneral;

    PrintFileParser parser;
    ASSERT_EQ(0, parser.checkFile(write(spec), true));
    const ModelInfo& m = parser.m_workPara.model;
    const PrintingPara& p = parser.m_workPara.printing;
    struct Step
    {
        float height;
        uint32_t exposure, settle, release;
        float liftV;
    };
    const Step expected[] = {
        {0.05f, 2500, 1000, 200, 5.0f}, {0.1f, 4000, 1000, 70, 3.0f}, {0.1f, 4000, 1000, 70, 3.0f},
        {0.1f, 4000, 1000, 70, 3.0f},   {0.05f, 2500, 1000, 200, 5.0f}, {0.05f, 2500, 1000, 200, 5.0f},
    };
    for (int layer = 0; layer < 6; ++layer) {
        ASSERT_EQ(layer, parser.getNextPrintParam());
        EXPECT_FLOAT_EQ(expected[layer].height, m.layerHeight) << layer;
        EXPECT_EQ(expected[layer].exposure, m.normalExposure) << layer;
        EXPECT_EQ(expected[layer].settle, p.SettleTime) << layer;
        EXPECT_EQ(expected[layer].release, p.ReleaseTime) << layer;
        EXPECT_FLOAT_EQ(expected[layer].liftV, p.LiftI.V) << layer;
        EXPECT_EQ(spec.layers[layer].raster, parser.getLayerData(layer)) << layer;
    }
    EXPECT_EQ(-ENOENT, parser.getNextPrintParam()); // past the table: the bytes after it are no record
    EXPECT_EQ(6, parser.currentLayer());
    EXPECT_TRUE(parser.getLayerData(6).empty());
    EXPECT_TRUE(parser.getLayerData(static_cast<unsigned>(-1)).empty());
}

// A 32-bit machine holds no block of 4 GiB or more (the size would wrap), nor
// one past its largest string (about 1 GiB): refused, not cut or thrown.
TEST_F(QdsReaderTest, RastersLargerThanTheMachineCanHoldAreRefused)
{
    if (sizeof(size_t) > 4)
        GTEST_SKIP() << "a 64-bit machine holds a raster of any size a file has";
    QdsFileSpec wide = threeLayers();
    wide.general.xRes = wide.general.yRes = 0xFFFFFFFF; // a resolution that allows huge blocks
    QdsLayout layout;
    const std::string bytes = buildQds(wide, &layout);
    for (uint64_t size : {(uint64_t{4} << 30) + 16, uint64_t{3} << 29}) {
        std::string file = bytes;
        putU64(file, layout.layerTable + 80 + 16, size);
        const std::string path = writeBytes(file);
        // As long as the block claims, but sparse.
        ASSERT_EQ(0, truncate(rootPath(path).c_str(), off_t(layout.raster[1] + size + 1)));
        PrintFileParser parser;
        ASSERT_EQ(0, parser.checkFile(path, true));
        EXPECT_TRUE(parser.getLayerData(1).empty()) << size;
    }
}

TEST_F(QdsReaderTest, SerialNumberMismatchChangesNothing)
{
    QdsLayout layout;
    QdsFileSpec spec = threeLayers();
    QdsSpecialValues special;
    special.exposure = 900;
    spec.layers[2].special = special;
    std::string bytes = buildQds(spec, &layout);
    putU64(bytes, layout.layerTable + 80 * 2, 5);

    PrintFileParser parser;
    ASSERT_EQ(0, parser.checkFile(writeBytes(bytes), true));
    EXPECT_EQ(-ENOENT, parser.getPrintParam(2));
    EXPECT_EQ(2500u, parser.m_workPara.model.normalExposure);
    EXPECT_TRUE(parser.getLayerData(2).empty());
}

TEST_F(QdsReaderTest, OffsetsAndSizesPastTheFileAreRefused)
{
    QdsLayout layout;
    QdsFileSpec spec = threeLayers();
    spec.layers[1].special = QdsSpecialValues();
    const std::string good = buildQds(spec, &layout);
    const size_t record1 = layout.layerTable + 80;

    {
        std::string bytes = good; // special data starting 10 bytes before the end
        putU64(bytes, record1 + 8, bytes.size() - 10);
        PrintFileParser parser;
        ASSERT_EQ(0, parser.checkFile(writeBytes(bytes), true));
        EXPECT_EQ(-ESRCH, parser.getPrintParam(1));
    }
    {
        std::string bytes = good; // only the low 32 bits of an offset count
        putU64(bytes, record1 + 8, (uint64_t{7} << 32) | layout.special[1]);
        putU64(bytes, record1 + 24, (uint64_t{1} << 40) | layout.raster[1]);
        PrintFileParser parser;
        ASSERT_EQ(0, parser.checkFile(writeBytes(bytes), true));
        EXPECT_EQ(1, parser.getPrintParam(1));
        EXPECT_EQ(spec.layers[1].raster, parser.getLayerData(1));
    }
    for (uint64_t size : {uint64_t{1} << 62, uint64_t{0xFFFFFFFF}, uint64_t{good.size()}}) {
        std::string bytes = good; // raster sizes past the file's end or any valid block
        putU64(bytes, record1 + 16, size);
        PrintFileParser parser;
        ASSERT_EQ(0, parser.checkFile(writeBytes(bytes), true));
        EXPECT_TRUE(parser.getLayerData(1).empty()) << size;
    }
    {
        QdsFileSpec wide = spec; // a resolution that allows huge blocks: the file's end still bounds them
        wide.general.xRes = wide.general.yRes = 0xFFFFFFFF;
        QdsLayout wideLayout;
        std::string bytes = buildQds(wide, &wideLayout);
        putU64(bytes, wideLayout.layerTable + 80 + 16, uint64_t{0x34} << 32);
        PrintFileParser parser;
        ASSERT_EQ(0, parser.checkFile(writeBytes(bytes), true));
        EXPECT_TRUE(parser.getLayerData(1).empty());
    }
    {
        std::string bytes = good;
        putU64(bytes, record1 + 24, bytes.size() - 3);
        PrintFileParser parser;
        ASSERT_EQ(0, parser.checkFile(writeBytes(bytes), true));
        EXPECT_TRUE(parser.getLayerData(1).empty());
    }
    {
        std::string bytes = good; // a layer table near the 4 GiB mark: no wrap-around
        putU32(bytes, 28, 0xFFFFFFF0u);
        PrintFileParser parser;
        ASSERT_EQ(0, parser.checkFile(writeBytes(bytes), true));
        EXPECT_EQ(-1, parser.getPrintParam(0));
        EXPECT_EQ(-1, parser.getPrintParam(0x3FFFFFFu));
        EXPECT_TRUE(parser.getLayerData(0).empty());
    }
    {
        std::string bytes = good; // general data past the end
        putU32(bytes, 24, static_cast<uint32_t>(bytes.size() - 100));
        PrintFileParser parser;
        EXPECT_EQ(-ENOENT, parser.checkFile(writeBytes(bytes), true));
    }
}

TEST_F(QdsReaderTest, Thumbnails)
{
    QdsFileSpec spec = threeLayers();
    spec.smallThumbnail = std::string("\x89PNG small", 10);
    spec.normalThumbnail = std::string(5000, 'n');
    QdsLayout layout;
    const std::string good = buildQds(spec, &layout);

    PrintFileParser parser;
    ASSERT_EQ(0, parser.checkFile(writeBytes(good), false));
    QByteArray image;
    EXPECT_EQ(0, parser.getSmallThumbnail(image));
    EXPECT_EQ(QByteArray::fromStdString(spec.smallThumbnail), image);
    EXPECT_EQ(0, parser.getNormalThumbnail(image));
    EXPECT_EQ(QByteArray::fromStdString(spec.normalThumbnail), image);

    spec.withThumbnails = false;
    PrintFileParser none;
    ASSERT_EQ(0, none.checkFile(write(spec), false));
    EXPECT_EQ(-1, none.getSmallThumbnail(image));
    EXPECT_EQ(-1, none.getNormalThumbnail(image));

    std::string bytes = good;
    putU32(bytes, 20, static_cast<uint32_t>(bytes.size() - 8)); // table cut by the end
    PrintFileParser cutTable;
    ASSERT_EQ(0, cutTable.checkFile(writeBytes(bytes), false));
    EXPECT_EQ(-ENOENT, cutTable.getSmallThumbnail(image));

    bytes = good;
    putU32(bytes, layout.thumbnailTable, 0xFFFFFFF0u); // a size no file holds
    putU32(bytes, layout.thumbnailTable + 12, static_cast<uint32_t>(bytes.size() - 10));
    PrintFileParser badSizes;
    ASSERT_EQ(0, badSizes.checkFile(writeBytes(bytes), false));
    EXPECT_EQ(-ESRCH, badSizes.getSmallThumbnail(image));
    EXPECT_TRUE(image.isEmpty());
    EXPECT_EQ(-ESRCH, badSizes.getNormalThumbnail(image));
}

TEST_F(QdsReaderTest, MaterialNameStaysWithinItsSpace)
{
    QdsFileSpec spec = threeLayers();
    spec.general.materialName = std::string(300, 'x'); // fills its 256 bytes, no terminator
    spec.general.volume = 3.0f;
    PrintFileParser parser;
    ASSERT_EQ(0, parser.checkFile(write(spec), true));
    EXPECT_EQ(std::string(256, 'x'), parser.m_workPara.model.materialName);
    EXPECT_FLOAT_EQ(3.0f, parser.m_workPara.model.volume);
}

TEST_F(QdsReaderTest, EachParserOwnsItsRasterBuffer)
{
    QdsFileSpec first = threeLayers();
    QdsFileSpec second = threeLayers();
    second.layers[0].raster = makeRasterBlock(shapesLayer(64, 32, 99, 5));
    PrintFileParser a, b;
    ASSERT_EQ(0, a.checkFile(write(first), true));
    ASSERT_EQ(0, b.checkFile(write(second), true));
    const std::string& fromA = a.getLayerData(0);
    b.getLayerData(0);
    EXPECT_EQ(first.layers[0].raster, fromA);
}

} // namespace
