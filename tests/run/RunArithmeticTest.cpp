// The pure pieces of the run: the time text, the priority mapping, the progress
// arithmetic, the limit texts and the per-kind counts.
#include "run/LimitText.h"
#include "run/Priority.h"
#include "run/Progress.h"
#include "run/ResultStats.h"
#include "run/TimeText.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <thread>

namespace harvix {
namespace {

struct TimeCase {
    std::int32_t ms;
    const char* text;
};

class TimeTextTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimeTextTest, FormatsThreeSignificantDigits) {
    EXPECT_EQ(FormatTimeText(GetParam().ms), GetParam().text) << GetParam().ms;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimeTextTest,
    ::testing::Values(TimeCase{45000, " 45 sec"}, TimeCase{83000, " 1 min 23 sec"},
                      TimeCase{1234567, " 20 min 30 sec"}, // 1235 s: 20:35 cut to 20:30
                      TimeCase{3723000, " 1 hr 2 min"},    // 1:02:03, the seconds cut
                      TimeCase{std::numeric_limits<std::int32_t>::max(), " 596 hr"},
                      TimeCase{0, " 0 sec"}, TimeCase{499, " 0 sec"}, TimeCase{500, " 1 sec"},
                      TimeCase{59500, " 1 min"},      // rounds up into the next minute
                      TimeCase{607000, " 10 min"},    // 10:07: the 7 is the fourth digit
                      TimeCase{3600000, " 1 hr"}, TimeCase{45296000, " 12 hr 30 min"},
                      TimeCase{-5, " 0 sec"}));

TEST(PriorityTest, SliderPositionsMapToClassesAndNiceValues) {
    struct Row {
        std::int16_t position;
        std::int32_t priorityClass;
        std::optional<int> nice;
    };
    const Row rows[] = {
        {1, IDLE_PRIORITY_CLASS, 19},         {2, BELOW_NORMAL_PRIORITY_CLASS, 10},
        {3, NORMAL_PRIORITY_CLASS, std::nullopt}, {4, ABOVE_NORMAL_PRIORITY_CLASS, -5},
        {5, HIGH_PRIORITY_CLASS, -10},        {0, 0, std::nullopt},
        {6, 0, std::nullopt},                 {-1, 0, std::nullopt},
    };
    ASSERT_TRUE(IsWin2000OrLater());
    for (const Row& row : rows) {
        EXPECT_EQ(PriorityClassFor(row.position), row.priorityClass) << row.position;
        EXPECT_EQ(NiceValueFor(PriorityClassFor(row.position)), row.nice) << row.position;
    }
}

// Runs `body` in a child process, so that the test process keeps its own priority;
// the child's exit status is the result.
int inChild(int (*body)()) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PriorityTest, ApplyPriorityMovesEveryThreadAndLeavesNormalAlone) {
    errno = 0;
    if (getpriority(PRIO_PROCESS, 0) > 10)
        GTEST_SKIP() << "already below the below-normal priority; lowering the nice value needs a privilege";
    EXPECT_EQ(inChild([] {
                  const int before = getpriority(PRIO_PROCESS, 0);
                  ApplyPriority(3);
                  ApplyPriority(0); // no class: nothing happens
                  return getpriority(PRIO_PROCESS, 0) == before ? 0 : 1;
              }),
              0);
    EXPECT_EQ(inChild([] {
                  int seen = -100;
                  std::thread other([&] {
                      // Started before the change; a nice value is per thread on Linux.
                      usleep(100000);
                      errno = 0;
                      seen = getpriority(PRIO_PROCESS, 0);
                  });
                  ApplyPriority(2);
                  other.join();
                  return getpriority(PRIO_PROCESS, 0) == 10 && seen == 10 ? 0 : 1;
              }),
              0);
}

TEST(ProgressTest, RoundsHalvesToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(2.4999), 2);
    EXPECT_EQ(RoundHalfEven(2.5001), 3);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(-2.6), -3);
}

TEST(ProgressTest, BarValueCaptionAndEstimate) {
    EXPECT_EQ(BarValueFor(3, 11), 14);  // 13.64
    EXPECT_EQ(BarValueFor(11, 11), 50);
    EXPECT_EQ(BarValueFor(1, 4), 12);   // 12.5 goes to the even 12
    EXPECT_EQ(BarValueFor(3, 4), 38);   // 37.5 goes to the even 38
    EXPECT_EQ(BarValueFor(22, 11), 100);
    EXPECT_EQ(ProgressCaption(21), "Harvix - 42% completed");
    EXPECT_EQ(RemainingMilliseconds(20, 100, 10001), 40004);
    EXPECT_EQ(RemainingMilliseconds(120, 100, 20000), -3333);
    // No overflow for a huge tree seen after a long time.
    EXPECT_GT(RemainingMilliseconds(1, std::numeric_limits<std::int32_t>::max(), 0xFFFFFFFFu),
              std::int64_t{std::numeric_limits<std::int32_t>::max()});
}

TEST(LimitTextTest, ReadsRangesAndRefusesMalformedOnes) {
    struct Good {
        const char* text;
        LimitRange range;
    };
    const Good good[] = {{"8-32", {8, 32}},   {"0-3000", {0, 3000}}, {"8-32-64", {8, 32}},
                         {" 1 - 100 ", {1, 100}}, {"8-8", {8, 8}},
                         {"0-2147483647", {0, 2147483647}}};
    for (const Good& g : good) {
        auto r = ParseLimitText(g.text);
        ASSERT_TRUE(r) << g.text;
        EXPECT_EQ(*r, g.range) << g.text;
    }
    for (const char* bad : {"", "8", "8-", "-32", "a-b", "8-3x", "8.5-32", "0-2147483648", "-", "32-8", "9-8"}) {
        auto r = ParseLimitText(bad);
        ASSERT_FALSE(r) << bad;
        EXPECT_NE(r.error().message.find(std::string("'") + bad + "'"), std::string::npos);
    }
    // A number too large says which end it is, and the range a limit must lie in.
    EXPECT_EQ(ParseLimitText("0-2147483648", "the width limit").error().message,
              "the maximum 2147483648 of the width limit '0-2147483648' is out of range: a limit "
              "is a whole number from 0 to 2147483647");
    // A range upside down names both ends.
    EXPECT_EQ(ParseLimitText("32-8", "the colour depth limit").error().message,
              "the minimum 32 of the colour depth limit '32-8' is above its maximum 8");
}

TEST(LimitTextTest, ReadsThreeLimitsOfARow) {
    auto set = ParseLimitSet("8-24;0-1000;1-100");
    ASSERT_TRUE(set);
    EXPECT_EQ(*set, (LimitSet{{8, 24}, {0, 1000}, {1, 100}}));
    EXPECT_EQ(LimitSetText(DefaultLimits(ResourceKind::Bitmap)), "8-32;0-3000;16-48");
    EXPECT_EQ(LimitSetText(DefaultLimits(ResourceKind::Icon)), "8-32;16-32;16-32");
    EXPECT_FALSE(ParseLimitSet("8-32;16-48"));
    EXPECT_FALSE(ParseLimitSet("8-32;16-48;1-2;3-4"));
    EXPECT_FALSE(ParseLimitSet("8-32;x;1-2"));
}

TEST(ResultStatsTest, RowsForChosenKindsOnlyAndCountsPerKind) {
    ResultStats stats;
    stats.FillStatsList({false, true, false, false, false, true});
    ASSERT_EQ(stats.rows().size(), 2u);
    EXPECT_EQ(stats.rows()[0].caption, "Icon");
    EXPECT_EQ(stats.rows()[0].key, "ICON");
    EXPECT_EQ(stats.rows()[0].imageIndex, 2);
    EXPECT_EQ(stats.rows()[1].caption, "Web page");
    EXPECT_EQ(stats.rows()[1].countText(), "0");

    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(stats.ResFound(1), 0);
    EXPECT_EQ(stats.rows()[0].countText(), "10");
    // Kinds without a row and indices outside the six change nothing.
    EXPECT_EQ(stats.ResFound(0), -1);
    EXPECT_EQ(stats.ResFound(6), -1);
    EXPECT_EQ(stats.ResFound(-1), -1);
    EXPECT_EQ(stats.countOf(1), 10);
    EXPECT_EQ(stats.countOf(5), 0);
}

} // namespace
} // namespace harvix
