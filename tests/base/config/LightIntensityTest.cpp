// Duty to intensity and back through the light calibration table.
#include "base/config/ConfigStore.h"
#include "base/config/LightIntensity.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

class LightIntensity : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ConfigStore::instance()->m_lightTable.Duty = {"10", "20", "30"};
        ConfigStore::instance()->m_lightTable.Lux = {"100", "300", "600"};
    }
};

int luxOf(int duty)
{
    int lux = -12345;
    EXPECT_EQ(0, getLuxFromDuty(duty, &lux)) << duty;
    return lux;
}

int dutyOf(int lux)
{
    int duty = -12345;
    EXPECT_EQ(0, getDutyFromLux(lux, &duty)) << lux;
    return duty;
}

} // namespace

TEST_F(LightIntensity, ExactRowsAndStraightLinesBetween)
{
    EXPECT_EQ(300, luxOf(20));
    EXPECT_EQ(100, luxOf(10));
    EXPECT_EQ(600, luxOf(30));
    EXPECT_EQ(200, luxOf(15));
    EXPECT_EQ(450, luxOf(25));
    EXPECT_EQ(15, dutyOf(200));
    EXPECT_EQ(20, dutyOf(300));
    EXPECT_EQ(29, dutyOf(599)); // 20 + 9.97, truncated
}

TEST_F(LightIntensity, OutsideTheTableNothingIsStored)
{
    int lux = 7;
    EXPECT_EQ(-ENOENT, getLuxFromDuty(5, &lux));
    EXPECT_EQ(-ENOENT, getLuxFromDuty(31, &lux));
    EXPECT_EQ(7, lux);
    EXPECT_EQ(-EINVAL, getLuxFromDuty(20, nullptr));

    ConfigStore::instance()->m_lightTable.Duty = {"10"};
    ConfigStore::instance()->m_lightTable.Lux = {"100"};
    EXPECT_EQ(-1, getLuxFromDuty(10, &lux));
    EXPECT_EQ(-1, getDutyFromLux(100, &lux));
    EXPECT_EQ(7, lux);
}

TEST_F(LightIntensity, OnlyCompleteRowsCount)
{
    // Hand-made files may hold columns of different lengths.
    LightIntensityTable& table = ConfigStore::instance()->m_lightTable;
    table.Duty = {"10", "20"};
    table.Lux = {"100", "300", "600", "900"};
    int value = 0;
    EXPECT_EQ(-ENOENT, getDutyFromLux(600, &value));
    EXPECT_EQ(300, luxOf(20));
    table.Lux.clear();
    EXPECT_EQ(-1, getLuxFromDuty(15, &value));
}

TEST_F(LightIntensity, OddEntriesNeverCrash)
{
    const std::vector<std::string> keys = {" 5", "x", "99999999999999", "40abc"};
    const std::vector<std::string> values = {"-2147483648", "2147483647", "1", "0"};
    int value = 0;
    for (int x : {-2147483647 - 1, -1, 0, 3, 5, 6, 39, 40, 2147483647})
        lookupLightTable(keys, values, x, &value);
    // The extremes of the entries' range interpolate without overflow.
    for (int x : {0, 1, 2, 3})
        EXPECT_EQ(0, lookupLightTable({"0", "3"}, {"-2147483648", "2147483647"}, x, &value));
    EXPECT_EQ(2147483647, value);
}
