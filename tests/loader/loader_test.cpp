// The start-up sequence and the main-loop pass, driven in-process with a
// scripted keyboard, scripted window messages and a window in memory.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <array>
#include <cstdlib>
#include <deque>

#include "launcher/events.h"
#include "launcher/keyboard.h"
#include "launcher/loader.h"
#include "launcher/loader_state.h"
#include "launcher/title/clock.h"
#include "tests/support/fake_window.h"

namespace {

// Set-1 key codes used below.
constexpr int kTopRow1 = 2, kTopRow2 = 3, kKeypad1 = 79, kLeftShift = 42;

struct Keys {
    std::array<uint8_t, 256> state{};
    bool focus = true;
    bool works = true;
    void down(int key) { state[key] = 0x80; }
    void up(int key) { state[key] = 0; }
};
Keys keys;

// A US layout for the keys the tests press.
int translate(int key) {
    const bool shift = keys.state[kLeftShift] & 0x80;
    switch (key) {
        case kTopRow1: return shift ? '!' : '1';
        case kTopRow2: return shift ? '@' : '2';
        case KeyEscape: return 0x1B;
        default: return 0;
    }
}

const KeyboardBackend kScriptedKeyboard{
    [] { return keys.works; },
    [] {},
    [](uint8_t state[256]) {
        if (!keys.focus) return false;
        std::copy(keys.state.begin(), keys.state.end(), state);
        return true;
    },
    [] {},
    translate,
    [] {},
};

std::deque<WindowMessage> messages;
int waits = 0;
const MessageSource kScriptedMessages{[](int32_t, WindowMessage* out) {
    ++waits;
    if (messages.empty()) return false;
    *out = messages.front();
    messages.pop_front();
    return true;
}};

int32_t now = 0;
const ClockSource kScriptedClock{
    [] { return static_cast<uint64_t>(static_cast<uint32_t>(now)); },
    [] { return uint64_t{1000}; },
    [] { return static_cast<uint32_t>(now); },
};

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        // No box may reach a developer's display: without one, messages go to stderr.
        unsetenv("DISPLAY");
        keys = Keys{};
        messages.clear();
        waits = 0;
        now = 1000;
        fake::window() = fake::Window{};
        setWindowSystem(&fake::system());
        setKeyboardBackend(&kScriptedKeyboard);
        setMessageSource(&kScriptedMessages);
        setClockSource(&kScriptedClock);
    }
    void TearDown() override {
        releaseProgram();
        setKeyboardBackend(nullptr);
        setMessageSource(nullptr);
        setClockSource(nullptr);
        setWindowSystem(nullptr);
    }

    // Start-up, then one pass that drains the first repaint.
    void startAndSettle() {
        ASSERT_TRUE(startUp());
        ASSERT_EQ(mainLoopPass(), PassOutcome::Continue);
    }
};

TEST_F(Loader, StartsWithTheWindowTheScreenAndTheTitleShownInTheFirstDrain) {
    ASSERT_TRUE(startUp());
    EXPECT_EQ(fake::window().created, 1);
    EXPECT_TRUE(screenIsOpen());
    EXPECT_EQ(loader.playerArguments, "-soundvolume 60 117.sid");
    EXPECT_EQ(loader.player, nullptr) << "no vsid.exe here: the title runs without the tune";
    EXPECT_EQ(loader.scrollX, 640);
    EXPECT_TRUE(fake::window().pushes.empty()) << "nothing reaches the window before the first drain";

    ASSERT_EQ(mainLoopPass(), PassOutcome::Continue);
    ASSERT_FALSE(fake::window().pushes.empty());
    EXPECT_EQ(fake::window().pushes.front().height, 480) << "the first picture is the whole title";
}

TEST_F(Loader, NoScreenFacilityShowsTheErrorAndStartsNothing) {
    fake::window().facilityWorks = false;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(startUp());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Can't open screen & sprite environment!\n");
    EXPECT_EQ(fake::window().created, 0);
    EXPECT_TRUE(loader.playerArguments.empty()) << "the tune player is not even prepared";
}

TEST_F(Loader, NoKeyboardShowsTheSameError) {
    keys.works = false;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(startUp());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Can't open screen & sprite environment!\n");
    EXPECT_EQ(fake::window().created, 0);
}

TEST_F(Loader, NoWindowEndsWithoutAMessage) {
    fake::window().windowWorks = false;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(startUp());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(Loader, ReleasedKeyDecidesTheEmulatorsArguments) {
    const struct {
        int key;
        const char* arguments;
    } cases[] = {
        {kTopRow1, "-cartcrt joltrak16k.crt -fullscreen -cartreset"},
        {kKeypad1, "-cartcrt joltrak16k.crt -fullscreen -cartreset"},
        {kTopRow2, "-cartcrt joltrak16k.crt -cartreset"},
    };
    for (const auto& c : cases) {
        keys = Keys{};
        releaseProgram();
        startAndSettle();
        keys.down(c.key);
        ASSERT_EQ(mainLoopPass(), PassOutcome::Continue) << "held: nothing yet";
        keys.up(c.key);
        EXPECT_EQ(mainLoopPass(), PassOutcome::End);
        EXPECT_EQ(loader.keyString.size(), 1u);
        EXPECT_EQ(loader.emulatorArguments, c.arguments);
    }
}

TEST_F(Loader, KeyDecisionComesBeforeTheDrain) {
    startAndSettle();
    keys.down(kTopRow2);
    mainLoopPass();
    keys.up(kTopRow2);
    keys.down(KeyEscape);
    messages.push_back(WindowMessage::CloseRequest);
    waits = 0;
    EXPECT_EQ(mainLoopPass(), PassOutcome::End);
    EXPECT_EQ(loader.emulatorArguments, "-cartcrt joltrak16k.crt -cartreset");
    EXPECT_EQ(waits, 0) << "the game starts before any wait";
}

TEST_F(Loader, TwoKeysReleasedInOnePassStartNothing) {
    startAndSettle();
    keys.down(kTopRow1);
    keys.down(kTopRow2);
    mainLoopPass();
    keys.up(kTopRow1);
    keys.up(kTopRow2);
    EXPECT_EQ(mainLoopPass(), PassOutcome::Continue);
    EXPECT_EQ(loader.keyString, "12");
    EXPECT_TRUE(loader.emulatorArguments.empty());
    EXPECT_EQ(mainLoopPass(), PassOutcome::Continue) << "both releases are used up";
    EXPECT_TRUE(loader.keyString.empty());
}

TEST_F(Loader, ShiftWithTopRow1StartsNothing) {
    startAndSettle();
    keys.down(kLeftShift);
    keys.down(kTopRow1);
    mainLoopPass();
    keys.up(kTopRow1);
    EXPECT_EQ(mainLoopPass(), PassOutcome::Continue);
    EXPECT_EQ(loader.keyString, "!");
}

TEST_F(Loader, EscapeEndsAfterTheFirstWaitWhateverItReturned) {
    startAndSettle();
    keys.down(KeyEscape);
    messages.assign({WindowMessage::Other, WindowMessage::Other, WindowMessage::Other});
    waits = 0;
    EXPECT_EQ(mainLoopPass(), PassOutcome::End);
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_TRUE(loader.emulatorArguments.empty()) << "no game";
}

TEST_F(Loader, CloseRequestEndsTheLauncherThroughTheQueue) {
    startAndSettle();
    messages.assign({WindowMessage::Other, WindowMessage::CloseRequest, WindowMessage::Other});
    EXPECT_EQ(mainLoopPass(), PassOutcome::End);
    EXPECT_EQ(loader.lastEvent, CloseRequested);
    EXPECT_EQ(messages.size(), 1u) << "the close request's event is taken before the next message";
    EXPECT_TRUE(loader.emulatorArguments.empty());
    EXPECT_TRUE(screenIsOpen()) << "the window and the screen stay until the end of program";
}

TEST_F(Loader, KeysWithoutFocusAreReportedWhenItReturns) {
    startAndSettle();
    keys.down(kTopRow2);
    mainLoopPass();
    keys.focus = false;
    keys.up(kTopRow2);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(mainLoopPass(), PassOutcome::Continue);
        EXPECT_TRUE(loader.keyString.empty());
    }
    keys.down(KeyEscape);  // Escape does nothing without focus either
    EXPECT_EQ(mainLoopPass(), PassOutcome::Continue);
    keys.up(KeyEscape);
    keys.focus = true;
    EXPECT_EQ(mainLoopPass(), PassOutcome::End);
    EXPECT_EQ(loader.emulatorArguments, "-cartcrt joltrak16k.crt -cartreset");
}

TEST_F(Loader, TheDrainGoesOnWhileMessagesArriveAndTheTickerWaits) {
    startAndSettle();
    const int32_t x = loader.scrollX;
    now += 100;
    messages.assign(50, WindowMessage::Other);
    waits = 0;
    EXPECT_EQ(mainLoopPass(), PassOutcome::Continue);
    EXPECT_EQ(waits, 51) << "the drain ends after the first wait that brings nothing";
    EXPECT_EQ(loader.scrollX, x - 1) << "then the ticker steps once";
}

TEST_F(Loader, RepaintAndSizeChangePresentInsideTheWait) {
    startAndSettle();
    fake::window().pushes.clear();
    messages.assign({WindowMessage::Repaint});
    mainLoopPass();
    ASSERT_FALSE(fake::window().pushes.empty());
    EXPECT_EQ(fake::window().pushes.front().height, 480);

    fake::window().pushes.clear();
    messages.assign({WindowMessage::SizeChanged});
    waits = 0;
    EXPECT_EQ(mainLoopPass(), PassOutcome::Continue);
    EXPECT_EQ(fake::window().pushes.front().height, 480);
    EXPECT_EQ(waits, 2) << "the size change's own event is taken in between, without a message";
}

TEST(EventWait, QueuedEventsComeFirstInOrder) {
    std::deque<WindowMessage>& m = messages;
    m.assign({WindowMessage::SizeChanged, WindowMessage::CloseRequest, WindowMessage::CloseRequest});
    setMessageSource(&kScriptedMessages);
    clearWindowEvents();
    EXPECT_EQ(waitForEvent(1), MessageDispatched);
    EXPECT_EQ(waitForEvent(1), WindowSizeChanged);
    EXPECT_EQ(waitForEvent(1), MessageDispatched);
    EXPECT_EQ(waitForEvent(1), CloseRequested);
    EXPECT_EQ(waitForEvent(1), MessageDispatched);
    EXPECT_EQ(waitForEvent(1), CloseRequested);
    EXPECT_EQ(waitForEvent(1), NothingArrived);
    EXPECT_EQ(waitForEvent(0), NothingArrived);
    setMessageSource(nullptr);
}

}  // namespace
