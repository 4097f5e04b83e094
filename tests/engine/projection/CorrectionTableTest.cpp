// Correction tables for a panel larger than this machine can address are
// refused before anything is allocated, and the table in use stays.
#include "engine/projection/CorrectionTable.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <vector>

TEST(CorrectionTable, APanelLargerThanTheMachineCanAddressIsRefused)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(tmpfile(), fclose);
    ASSERT_TRUE(file);
    CorrectionTable table;
    // The identity of a 2 x 2 panel: the table in use.
    const std::vector<uint32_t> x{1000000, 2000000, 1000000, 2000000};
    const std::vector<uint32_t> y{1000000, 1000000, 2000000, 2000000};
    ASSERT_EQ(CorrectionTable::kRead, table.build(x.data(), y.data(), 2, 2));
    const size_t bytes = table.bytes();

    size_t got = 0;
    // More entries than any machine's memory holds (the pixel count alone
    // would wrap a 32-bit size).
    EXPECT_EQ(CorrectionTable::kNoMemory, table.read(file.get(), INT_MAX, INT_MAX, got));
    EXPECT_EQ(CorrectionTable::kNoMemory, table.build(x.data(), y.data(), INT_MAX, INT_MAX));
    if (sizeof(size_t) == 4) {
        // 600 million pixels, 75 million groups of eight: past the largest
        // vector of a 32-bit machine, though the pixel count fits its size_t.
        EXPECT_EQ(CorrectionTable::kNoMemory, table.read(file.get(), 30000, 20000, got));
    }
    EXPECT_TRUE(table.isLoaded());
    EXPECT_EQ(bytes, table.bytes()); // the table in use stays
}
