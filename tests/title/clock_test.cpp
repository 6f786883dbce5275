// The millisecond clock: counter over counts per millisecond, reduced to 32
// bits, with the tick count as fallback.
#include <gtest/gtest.h>

#include "launcher/title/clock.h"

namespace {

struct Script {
    uint64_t counter = 0;
    uint64_t frequency = 0;
    uint32_t ticks = 0;
    int frequencyReads = 0;
};
Script script;

const ClockSource kScripted{
    [] { return script.counter; },
    [] {
        ++script.frequencyReads;
        return script.frequency;
    },
    [] { return script.ticks; },
};

class Clock : public ::testing::Test {
protected:
    void SetUp() override {
        script = Script{};
        setClockSource(&kScripted);
    }
    void TearDown() override { setClockSource(nullptr); }
};

TEST_F(Clock, DividesTheCounterByWholeCountsPerMillisecond) {
    script.frequency = 3579545;  // counts per second: 3579 per millisecond, the rest dropped
    script.counter = 3579 * 1234 + 3578;
    EXPECT_EQ(clockMs(), 1234);
    script.counter = 3579 * 1235;
    EXPECT_EQ(clockMs(), 1235);
    EXPECT_EQ(script.frequencyReads, 1) << "the frequency is read once";
}

TEST_F(Clock, ReducesReadingsToSigned32Bits) {
    script.frequency = 1000;  // one count per millisecond
    script.counter = 0x7FFFFFFFull;
    EXPECT_EQ(clockMs(), INT32_MAX);
    script.counter = 0x80000000ull;
    EXPECT_EQ(clockMs(), INT32_MIN);
    script.counter = 0x1'0000'0005ull;
    EXPECT_EQ(clockMs(), 5);
}

TEST_F(Clock, FallsBackToTicksUntilACounterIsUsableAndRetries) {
    script.frequency = 999;  // under one count per millisecond: unusable
    script.ticks = 4242;
    script.counter = 123456789;
    EXPECT_EQ(clockMs(), 4242);
    script.frequency = 0;  // no counter at all
    script.ticks = 4243;
    EXPECT_EQ(clockMs(), 4243);
    EXPECT_EQ(script.frequencyReads, 2) << "tried again at each reading";
    script.frequency = 2000;
    script.counter = 10000;
    EXPECT_EQ(clockMs(), 5000);
    script.counter = 10002;
    EXPECT_EQ(clockMs(), 5001);
    EXPECT_EQ(script.frequencyReads, 3);
}

TEST(SdlClock, CountsForward) {
    setClockSource(nullptr);
    const int32_t a = clockMs();
    const int32_t b = clockMs();
    EXPECT_GE(static_cast<int32_t>(static_cast<uint32_t>(b) - static_cast<uint32_t>(a)), 0);
}

}  // namespace
