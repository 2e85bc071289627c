// When a read-ahead without a fixed number of readers adds readers: fed the cost of each
// open (wall-clock time, processor time, blocks read from the disk) and the run's waits,
// as the readers measure them.
#include "run/ReaderGrowth.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harvix {
namespace {

using std::chrono::microseconds;
using Cost = ReaderGrowth::OpenCost;

// A read that waited for the disk, one from the page cache, one from the disk that was
// mostly parsing, and one that took long without reading (the thread was preempted).
const Cost kCold{microseconds(400), microseconds(50), 16};
const Cost kWarm{microseconds(30), microseconds(28), 0};
const Cost kDiskButBusy{microseconds(120), microseconds(70), 8};
const Cost kPreempted{microseconds(900), microseconds(30), 0};

struct Phase {
    Cost cost;
    unsigned opens;
    bool runWaits; // the run waits for a reader before each of these opens
};

struct Case {
    std::string name;
    unsigned start;
    unsigned most;
    std::vector<Phase> phases;
    std::vector<unsigned> growth; // the number of readers after each addition
};

TEST(ReaderGrowth, AddsReadersWhileTheyWaitForTheDiskAndTheRunWaitsForThem) {
    const std::vector<Case> cases = {
        // Doubling from one per processor: a decision per sample of max(4, readers) opens.
        {"cold throughout", 2, 16, {{kCold, 40, true}}, {4, 8, 16}},
        {"one processor", 1, 16, {{kCold, 40, true}}, {2, 4, 8, 16}},
        {"the bound is not a power of two", 3, 10, {{kCold, 40, true}}, {6, 10}},
        {"starts at the bound", 16, 16, {{kCold, 40, true}}, {}},
        {"no readers to start with", 0, 16, {{kCold, 40, true}}, {}},
        // The page cache: nothing read from the disk, however long the opens took.
        {"warm", 2, 16, {{kWarm, 200, true}}, {}},
        {"preempted on a busy machine", 2, 16, {{kPreempted, 200, true}}, {}},
        // Reads from the disk that are mostly processor time leave nothing to overlap.
        {"disk, but computing", 2, 16, {{kDiskButBusy, 200, true}}, {}},
        // The readers keep ahead of the run: more would only wait for work.
        {"the run never waits", 2, 16, {{kCold, 200, false}}, {}},
        // Half the sample waiting is not most of it; three of four is.
        {"half cold", 2, 16, {{kCold, 1, true}, {kWarm, 1, true}, {kCold, 1, true}, {kWarm, 1, true}}, {}},
        {"three of four cold", 2, 16, {{kCold, 1, true}, {kWarm, 1, true}, {kCold, 2, true}}, {4}},
        // A warm start does not hold back a cold folder later in the run.
        {"warm, then cold", 2, 16, {{kWarm, 50, true}, {kCold, 40, true}}, {4, 8, 16}},
        // A decision looks at its own sample only: earlier waits do not count.
        {"cold then warm", 2, 16, {{kCold, 4, true}, {kWarm, 40, true}}, {4}},
        // Waits of the run before a warm sample are not carried into the next one.
        {"waits only in an earlier sample", 2, 16, {{kWarm, 4, true}, {kCold, 40, false}}, {}},
    };
    for (const Case& c : cases) {
        ReaderGrowth growth(c.start, c.most);
        EXPECT_EQ(growth.Readers(), c.start) << c.name;
        std::vector<unsigned> seen;
        for (const Phase& phase : c.phases)
            for (unsigned i = 0; i < phase.opens; ++i) {
                if (phase.runWaits)
                    growth.RunWaited();
                const unsigned before = growth.Readers();
                const unsigned added = growth.Opened(phase.cost);
                EXPECT_EQ(growth.Readers(), before + added) << c.name;
                if (added > 0)
                    seen.push_back(growth.Readers());
            }
        EXPECT_EQ(seen, c.growth) << c.name;
        EXPECT_LE(growth.Readers(), std::max(c.start, c.most)) << c.name;
    }
}

TEST(ReaderGrowth, MeasuresEveryOpenUntilALongRunOfCachedOnesThenOneInEight) {
    // How many of `opens` opens of the given cost are measured (each measured one fed back).
    const auto measured = [](ReaderGrowth& growth, const Cost& cost, unsigned opens, bool runWaits = false) {
        unsigned n = 0;
        for (unsigned i = 0; i < opens; ++i)
            if (growth.MeasureNext()) {
                if (runWaits)
                    growth.RunWaited();
                ++n;
                (void)growth.Opened(cost);
            }
        return n;
    };
    ReaderGrowth growth(2, 16);
    EXPECT_EQ(measured(growth, kWarm, ReaderGrowth::kCachedRun), ReaderGrowth::kCachedRun);
    EXPECT_EQ(measured(growth, kWarm, 800), 800 / ReaderGrowth::kSparse);
    // One read from the disk, and every open is measured again.
    EXPECT_EQ(measured(growth, kCold, 8), 1u);
    EXPECT_EQ(measured(growth, kWarm, 10), 10u);
    // Opens from the disk are measured one by one, until the bound is reached.
    ReaderGrowth cold(2, 4);
    EXPECT_EQ(measured(cold, kCold, 100, true), ReaderGrowth::kSample);
    EXPECT_FALSE(cold.CanGrow());
    EXPECT_FALSE(cold.MeasureNext());
}

} // namespace
} // namespace harvix
