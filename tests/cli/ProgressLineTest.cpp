// The progress line of harvix-cli extract: its parts, and how often it is drawn.
#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

namespace harvix {
namespace {

TEST(ProgressLine, EachPartOnlyWhenItApplies) {
    struct Case {
        ProgressFacts facts; // files handled, total, resources, status
        const char* line;
    };
    const Case cases[] = {
        {{0, 0, 0, ""}, ""},
        {{0, 0, 0, "Initializing..."}, "Initializing..."},
        // The total is known as soon as the count is over.
        {{0, 30000, 0, ""}, "0 % - 0 of 30,000 files - 0 resources written"},
        {{13502, 30000, 3104, ""}, "45 % - 13,502 of 30,000 files - 3,104 resources written"},
        {{13502, 30000, 3104, "Remaining time:  2 min"},
         "45 % - 13,502 of 30,000 files - 3,104 resources written - Remaining time: 2 min"},
        {{1, 1, 1, ""}, "100 % - 1 of 1 file - 1 resource written"},
        {{29999, 30000, 0, ""}, "99 % - 29,999 of 30,000 files - 0 resources written"},
        // A tree that grew since it was counted stays at 100 %.
        {{7, 5, 2, ""}, "100 % - 7 of 5 files - 2 resources written"},
        // A run that could not count (a list on standard input) still shows it goes on.
        {{1, 0, 0, ""}, "1 file handled - 0 resources written"},
        {{1234567, 0, 1, ""}, "1,234,567 files handled - 1 resource written"},
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
    // The total, a new percentage or a new status is drawn at once.
    facts.total = 200;
    EXPECT_TRUE(pacer.due(facts, t0 + 501ms));
    facts.files = 3;
    EXPECT_FALSE(pacer.due(facts, t0 + 502ms)) << "still 1 %";
    facts.files = 4;
    EXPECT_TRUE(pacer.due(facts, t0 + 503ms)) << "2 %";
    facts.status = "Remaining time:  1 min";
    EXPECT_TRUE(pacer.due(facts, t0 + 504ms));
    facts.resources = 7;
    EXPECT_FALSE(pacer.due(facts, t0 + 505ms));
}

} // namespace
} // namespace harvix
