// The simulator's timeline: one row a exposed layer, counted from 1, and the
// time beyond what was asked for, which is never made of the simulator's own
// work or of a pause; written whole or not at all.
#include "driver/Timeline.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int64_t kMs = 1000000;

PrintRecorder::Layer layer(int n, int64_t onMs, int64_t offMs, int64_t movingMs)
{
    PrintRecorder::Layer l;
    l.layer = n;
    l.settleMs = 1000;
    l.exposureMs = 2000;
    l.releaseMs = 500;
    l.breatheMs = 300;
    l.onNs = onMs * kMs;
    l.offNs = offMs * kMs;
    l.movingNs = movingMs * kMs;
    return l;
}

std::string summary(const Timeline& timeline, bool aborted)
{
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    printTimelineSummary(timeline, aborted, out);
    fclose(out);
    std::string result(text, size);
    free(text);
    return result;
}

} // namespace

TEST(Timeline, LayersFromOneAndTheTimeBeyondLeavesOutCaptureAndPauses)
{
    std::vector<PrintRecorder::Layer> layers;
    layers.push_back(layer(0, 0, 2003, 9000));
    layers.back().captureNs = 40 * kMs; // the simulator held the print taking the frame
    // Release, lift (moving 3000), breathe, drop, settle: 2003 + 500 + 300 + 3000 + 1000 + 150 beyond.
    layers.push_back(layer(1, 6953, 8954, 3000));
    layers.back().pausedAfter = true;
    layers.push_back(layer(2, 60000, 62001, 9000)); // after a pause held for seconds
    layers.push_back(layer(3, 68000, -1, 3000));    // cut short by an abort
    PrintRecorder::Layer unexposed;                 // aborted while it settled
    unexposed.layer = 4;
    unexposed.settleMs = 1000;
    layers.push_back(unexposed);

    const Timeline timeline = buildTimeline(layers);
    ASSERT_EQ(4u, timeline.rows.size());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(i + 1, timeline.rows[i].layer);
    EXPECT_EQ(2000, timeline.rows[0].requestedMs);
    EXPECT_DOUBLE_EQ(2003, timeline.rows[0].actualMs);
    ASSERT_TRUE(timeline.rows[0].beyondMs);
    EXPECT_DOUBLE_EQ(150 - 40, *timeline.rows[0].beyondMs);
    EXPECT_FALSE(timeline.rows[1].beyondMs); // a pause followed
    ASSERT_TRUE(timeline.rows[2].beyondMs);
    EXPECT_DOUBLE_EQ(68000 - 60000 - 2001 - 500 - 300 - 1000 - 3000, *timeline.rows[2].beyondMs);
    EXPECT_FALSE(timeline.rows[3].beyondMs);

    const std::string text = summary(timeline, true);
    EXPECT_NE(std::string::npos, text.find("Layers exposed: 4\n")) << text;
    EXPECT_NE(std::string::npos, text.find("1.000 to 3.000 ms over 3 layers; 0 shorter than requested")) << text;
    EXPECT_NE(std::string::npos,
              text.find("median 1199.0 ms, 110.0 to 1199.0 ms (layers followed by a pause left out)"))
        << text;
}

TEST(Timeline, ATimelineTheDiskCannotTakeWholeIsNotLeftAndSaysSo)
{
    std::vector<PrintRecorder::Layer> layers;
    for (int n = 0; n < 40; ++n)
        layers.push_back(layer(n, n * 10000, n * 10000 + 2001, 3000));
    const Timeline timeline = buildTimeline(layers);
    const std::string dir = testsupport::scratchRoot() + "/full-timeline";
    testsupport::makeDirs(dir);
    testsupport::writeFile(dir + "/marker", "");
    int written = 0;
    // A file-size limit of 1 KiB stands in for a disk that fills: 40 rows need more.
    testsupport::stdoutWithDiskFullPast(dir + "/marker", 1024,
                                        [&] { written = writeTimelineCsv(timeline, dir + "/timeline.csv"); });
    EXPECT_EQ(EFBIG, written);
    struct stat info{};
    EXPECT_NE(0, stat((dir + "/timeline.csv").c_str(), &info)) << "a timeline of " << info.st_size << " bytes was left";
    EXPECT_EQ(0, writeTimelineCsv(timeline, dir + "/timeline.csv"));
    const std::string text = testsupport::readFile(dir + "/timeline.csv");
    EXPECT_EQ(41, std::count(text.begin(), text.end(), '\n')); // with room, the header and every row
}
