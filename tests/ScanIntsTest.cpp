#include "devices/ScanInts.h"

#include <gtest/gtest.h>
#include <vector>

namespace {
struct ScanCase {
    const char* text;
    const char* format;
    std::vector<int> values;
};
class Scanning : public testing::TestWithParam<ScanCase> {};

TEST_P(Scanning, ReadsLikeScanf)
{
    const ScanCase& c = GetParam();
    int out[8] = {};
    const int n = ScanInts(c.text, c.format, out, 8);
    ASSERT_EQ(n, static_cast<int>(c.values.size())) << c.text;
    for (int i = 0; i < n; ++i) EXPECT_EQ(out[i], c.values[i]) << c.text << " #" << i;
}

const char* kMainForm = "%d,%d,%d,%d,%d,%d,%d,%d";
const char* kDate = "%d.%d.%d %d:%d:%d";

INSTANTIATE_TEST_SUITE_P(
    Cases, Scanning,
    testing::Values(
        ScanCase{"10,20,700,500,1,165,0,1", kMainForm, {10, 20, 700, 500, 1, 165, 0, 1}},
        ScanCase{"100,50,800,600", kMainForm, {100, 50, 800, 600}},
        ScanCase{" -8, +3,x", kMainForm, {-8, 3}}, ScanCase{"1 ,2", kMainForm, {1}},
        ScanCase{"", kMainForm, {}}, ScanCase{"abc", kMainForm, {}},
        ScanCase{"27.07.2015 11:24:18", kDate, {27, 7, 2015, 11, 24, 18}},
        ScanCase{"27.07.2015    11:24:18 trailing", kDate, {27, 7, 2015, 11, 24, 18}},
        ScanCase{"27.07.201511:24:18", kDate, {27, 7, 201511}},
        ScanCase{"27-07-2015 11:24:18", kDate, {27}},
        ScanCase{"99999999999,1", "%d,%d", {2147483647, 1}},
        ScanCase{"-99999999999", "%d", {-2147483647 - 1}}));

TEST(Scanning, NeverStoresBeyondCapacity)
{
    int out[3] = {0, 0, 77};
    EXPECT_EQ(ScanInts("1,2,3", "%d,%d,%d", out, 2), 2);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 77);
}
}  // namespace
