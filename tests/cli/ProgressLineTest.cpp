// The progress line of harvix-cli extract: its parts, and how often it is drawn.
#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

namespace harvix::cli {
namespace {

TEST(ProgressLine, EachPartOnlyWhenItApplies) {
    struct Case {
        ProgressFacts facts;
        const char* line;
    };
    const Case cases[] = {
        {{-1, 0, 0, ""}, ""},
        {{-1, 0, 0, "Initializing..."}, "Initializing..."},
        // A run without a percentage still shows that it goes on.
        {{-1, 1, 0, ""}, "1 file handled, 0 resources written"},
        {{-1, 25000, 1, ""}, "25000 files handled, 1 resource written"},
        {{42, 1234, 5678, "Remaining time:  2 min"},
         "42% completed  1234 files handled, 5678 resources written  Remaining time:  2 min"},
        {{0, 0, 0, ""}, "0% completed"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProgressLineText(c.facts), c.line);
}

TEST(ProgressLine, CutCountsCharactersNotBytes) {
    EXPECT_EQ(CutToColumns("abcdef", 4), "abcd");
    EXPECT_EQ(CutToColumns("\xC3\xA4\xC3\xB6x", 2), "\xC3\xA4\xC3\xB6");
    EXPECT_EQ(CutToColumns("ab", 10), "ab");
}

TEST(ProgressLine, CountsAloneAreDrawnAtMostOncePerInterval) {
    using namespace std::chrono_literals;
    ProgressPacer pacer;
    const auto t0 = ProgressPacer::Clock::time_point{} + 1h;
    ProgressFacts facts;
    EXPECT_TRUE(pacer.due(facts, t0)); // the first line
    facts.files = 1;
    EXPECT_TRUE(pacer.due(facts, t0 + 1ms)) << "the first counts show the run has begun";
    facts.files = 2;
    EXPECT_FALSE(pacer.due(facts, t0 + 10ms));
    EXPECT_FALSE(pacer.due(facts, t0 + 100ms));
    EXPECT_TRUE(pacer.due(facts, t0 + 101ms));
    EXPECT_FALSE(pacer.due(facts, t0 + 500ms)) << "nothing changed";
    // A new percentage or status is drawn at once.
    facts.percent = 2;
    EXPECT_TRUE(pacer.due(facts, t0 + 501ms));
    facts.status = "Remaining time:  1 min";
    EXPECT_TRUE(pacer.due(facts, t0 + 502ms));
    facts.resources = 7;
    EXPECT_FALSE(pacer.due(facts, t0 + 503ms));
}

} // namespace
} // namespace harvix::cli
