// The keyboard reader's logic over a scripted backend: snapshots, held marks,
// attachment states and the released-keys text.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "launcher/keyboard.h"

struct SDL_Window;
SDL_Window* sdlLoaderWindow() { return nullptr; }  // the SDL edge is linked, never driven here

namespace {

// Set-1 key codes used below.
constexpr int kTopRow1 = 2, kTopRow2 = 3, kLeftShift = 42, kF1 = 59, kLastVisited = 254;
constexpr int kKeypad1 = 79, kKeypadMinus = 74, kKeypadEnter = 156, kKeypadMultiply = 55;

struct Script {
    std::array<uint8_t, 256> state{};  // what the next successful read delivers
    bool focus = true;
    bool creates = true;
    bool shiftNow = false;    // the modifier state a beginTranslation would take
    bool shiftTaken = false;  // the one the current releasedKeys call took
    int createCalls = 0, releaseCalls = 0, readCalls = 0, layoutChanges = 0;
    std::vector<std::string> log;  // "begin", then "key N" for every translation
};
Script script;

void press(int key) { script.state[key] = 0x80; }
void lift(int key) { script.state[key] = 0; }

// A fake layout: US-like for the top row, something other than the digit for
// the keypad digits, nothing for modifiers and function keys.
int fakeLayout(int key) {
    switch (key) {
        case kTopRow1: return script.shiftTaken ? '!' : '1';
        case kTopRow2: return script.shiftTaken ? '@' : '2';
        case kKeypad1: return 'x';  // the override must win
        case 80: return 0;          // keypad 2: none, the override must still give "2"
        case kKeypadMinus: return '-';
        case kKeypadMultiply: return '*';
        case kKeypadEnter: return 0x0D;
        case kLastVisited: return 'z';
        case 100: return 300;  // outside one byte: adds nothing
        case 101: return -5;
        case 0xE9: return 0xE9;  // a Latin-1 byte above 127
        default: return 0;
    }
}

const KeyboardBackend kScripted{
    [] {
        ++script.createCalls;
        return script.creates;
    },
    [] { ++script.releaseCalls; },
    [](uint8_t state[256]) {
        ++script.readCalls;
        if (!script.focus) {
            state[kTopRow1] = 0x80;  // a failed read's leftovers must not count
            return false;
        }
        std::copy(script.state.begin(), script.state.end(), state);
        return true;
    },
    [] {
        script.log.push_back("begin");
        script.shiftTaken = script.shiftNow;
    },
    [](int key) {
        script.log.push_back("key " + std::to_string(key));
        return fakeLayout(key);
    },
    [] { ++script.layoutChanges; },
};

// One main-loop pass as the sequence runs it.
std::string pass() {
    snapshotKeyboard();
    return releasedKeys();
}

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override {
        script = Script{};
        setKeyboardBackend(&kScripted);
    }
    void TearDown() override {
        releaseKeyboard();
        setKeyboardBackend(nullptr);
    }
};

// ---- released keys: a table of scripted passes ------------------------------

struct Pass {
    std::vector<int> down;  // keys down (0x80) in this pass's snapshot
    std::string expected;   // the pass's released-keys text
    bool shift = false;     // the modifier state the layout would see
};
struct ReleaseCase {
    const char* name;
    std::vector<Pass> passes;
};

const ReleaseCase kReleaseCases[] = {
    {"OneKey", {{{kTopRow1}, ""}, {{}, "1"}, {{}, ""}}},
    {"TopRow2", {{{kTopRow2}, ""}, {{}, "2"}}},
    {"TwoKeysInOnePassComeInKeyCodeOrder", {{{kTopRow2, kTopRow1}, ""}, {{}, "12"}, {{}, ""}}},
    {"HeldKeyGivesNothingUntilReleased",
     {{{kTopRow1}, ""}, {{kTopRow1}, ""}, {{kTopRow1}, ""}, {{}, "1"}}},
    {"ReleaseOneWhilePressingTheOther", {{{kTopRow1}, ""}, {{kTopRow2}, "1"}, {{}, "2"}}},
    {"Key255IsNeverVisited", {{{255}, ""}, {{}, ""}}},
    {"Key254IsTheLastVisited", {{{kLastVisited}, ""}, {{}, "z"}}},
    {"KeyUpAllAlongGivesNothing", {{{}, ""}, {{}, ""}}},
    {"KeypadDigitsWhateverTheLayoutSays", {{{kKeypad1}, ""}, {{}, "1"}}},
    {"KeypadTwoWhenTheLayoutGivesNothing", {{{80}, ""}, {{}, "2"}}},
    {"AllTwelveKeypadKeysInKeyCodeOrder",
     {{{71, 72, 73, 75, 76, 77, 79, 80, 81, 82, 83, 181}, ""}, {{}, "7894561230./"}}},
    {"OtherKeypadKeysTranslateLikeAnyKey",
     {{{kKeypadMultiply, kKeypadMinus, 78, kKeypadEnter}, ""}, {{}, "*-\r"}}},
    {"KeysWithoutCharacterAddNothing", {{{kLeftShift, kF1, kTopRow1}, ""}, {{}, "1"}}},
    {"OnlyKeysWithoutCharacter", {{{kLeftShift, kF1}, ""}, {{}, ""}}},
    {"ShiftWithTopRow1GivesTheShiftedCharacter", {{{kLeftShift, kTopRow1}, "", true}, {{kLeftShift}, "!", true}}},
    {"ShiftDoesNotReachTheKeypad", {{{kLeftShift, kKeypad1}, "", true}, {{kLeftShift}, "1", true}}},
    {"TranslationOutsideOneByteAddsNothing", {{{100, 101, kTopRow2}, ""}, {{}, "2"}}},
    {"Latin1ByteIsKept", {{{0xE9}, ""}, {{}, "\xE9"}}},
};

class ReleasedKeys : public Keyboard, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(ReleasedKeys, GivesTheExpectedTextPassByPass) {
    ASSERT_TRUE(initKeyboard());
    int number = 0;
    for (const Pass& p : GetParam().passes) {
        script.state.fill(0);
        for (int key : p.down) press(key);
        script.shiftNow = p.shift;
        EXPECT_EQ(pass(), p.expected) << "pass " << number;
        ++number;
    }
    for (const std::string& entry : script.log) EXPECT_NE(entry, "key 255");
}

INSTANTIATE_TEST_SUITE_P(Cases, ReleasedKeys, ::testing::ValuesIn(kReleaseCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- translation is begun once per call, and only for a release ------------

TEST_F(Keyboard, LayoutIsTakenOncePerCallAtTheFirstReleasedKey) {
    ASSERT_TRUE(initKeyboard());
    press(kLeftShift);
    press(kTopRow1);
    press(kTopRow2);
    press(kKeypad1);
    EXPECT_EQ(pass(), "");
    EXPECT_TRUE(script.log.empty()) << "no release, no layout";

    script.state.fill(0);
    EXPECT_EQ(pass(), "121");
    const std::vector<std::string> expected{"begin", "key 2", "key 3", "key 42", "key 79"};
    EXPECT_EQ(script.log, expected);

    script.log.clear();
    EXPECT_EQ(pass(), "");
    EXPECT_TRUE(script.log.empty());
}

TEST_F(Keyboard, ModifiersAreThoseOfTheCallsOwnStart) {
    ASSERT_TRUE(initKeyboard());
    press(kTopRow1);
    pass();
    lift(kTopRow1);
    script.shiftNow = true;
    EXPECT_EQ(pass(), "!");
    press(kTopRow1);
    pass();
    lift(kTopRow1);
    script.shiftNow = false;
    EXPECT_EQ(pass(), "1") << "the shift taken by the previous call is not kept";
}

// ---- attachment and held marks ---------------------------------------------

TEST_F(Keyboard, HeldMarksSurvivePassesWithoutFocus) {
    ASSERT_TRUE(initKeyboard());
    press(kTopRow1);
    EXPECT_EQ(pass(), "");

    script.focus = false;
    lift(kTopRow1);  // released while another window has the focus
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(snapshotKeyboard());
        EXPECT_EQ(releasedKeys(), "");
        EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::Created);
    }

    script.focus = true;
    EXPECT_EQ(pass(), "1") << "reported at the first pass with the focus back";
    EXPECT_EQ(pass(), "");
}

TEST_F(Keyboard, KeyPressedAndReleasedWithoutFocusIsNeverSeen) {
    ASSERT_TRUE(initKeyboard());
    EXPECT_EQ(pass(), "");
    script.focus = false;
    press(kTopRow1);
    EXPECT_EQ(pass(), "");
    lift(kTopRow1);
    EXPECT_EQ(pass(), "");
    script.focus = true;
    EXPECT_EQ(pass(), "");
}

TEST_F(Keyboard, FailedSnapshotDetachesAndTheNextAttachesAgain) {
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::NotCreated);
    ASSERT_TRUE(initKeyboard());
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::Created);
    EXPECT_TRUE(snapshotKeyboard());
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::Attached);
    script.focus = false;
    EXPECT_FALSE(snapshotKeyboard());
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::Created);
    script.focus = true;
    EXPECT_TRUE(snapshotKeyboard());
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::Attached);
    EXPECT_EQ(script.readCalls, 3);
}

TEST_F(Keyboard, IsKeyDownIsFalseWhileNotAttached) {
    ASSERT_TRUE(initKeyboard());
    press(KeyEscape);
    EXPECT_FALSE(isKeyDown(KeyEscape)) << "created, never read";
    ASSERT_TRUE(snapshotKeyboard());
    EXPECT_TRUE(isKeyDown(KeyEscape));
    script.focus = false;
    EXPECT_FALSE(snapshotKeyboard());
    EXPECT_FALSE(isKeyDown(KeyEscape)) << "the last good snapshot still has it down";
    EXPECT_FALSE(isKeyDown(kTopRow1)) << "a failed read's bytes are never used";
}

TEST_F(Keyboard, IsKeyDownReadsBit7Exactly) {
    struct Byte {
        uint8_t value;
        bool down;
    };
    const Byte bytes[] = {{0x00, false}, {0x01, false}, {0x7F, false}, {0x80, true}, {0x81, true}, {0xFF, true}};
    ASSERT_TRUE(initKeyboard());
    for (const Byte& b : bytes) {
        script.state[KeyEscape] = b.value;
        script.state[255] = b.value;
        ASSERT_TRUE(snapshotKeyboard());
        EXPECT_EQ(isKeyDown(KeyEscape), b.down) << "byte " << int(b.value);
        EXPECT_EQ(isKeyDown(255), b.down) << "key 255 is read like any other";
    }
    EXPECT_FALSE(isKeyDown(-1));
    EXPECT_FALSE(isKeyDown(256));
}

TEST_F(Keyboard, OnlyBit7MakesAKeyHeld) {
    ASSERT_TRUE(initKeyboard());
    script.state[kTopRow1] = 0x7F;
    EXPECT_EQ(pass(), "");
    script.state[kTopRow1] = 0;
    EXPECT_EQ(pass(), "") << "0x7F is up: never held, never released";
}

// ---- start and end -----------------------------------------------------------

TEST_F(Keyboard, ReleasedKeysAndSnapshotBeforeInitGiveNothing) {
    press(kTopRow1);
    EXPECT_FALSE(snapshotKeyboard());
    EXPECT_EQ(releasedKeys(), "");
    EXPECT_FALSE(isKeyDown(kTopRow1));
    EXPECT_EQ(script.readCalls, 0);
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::NotCreated);
}

TEST_F(Keyboard, SecondInitChangesNothing) {
    ASSERT_TRUE(initKeyboard());
    press(kTopRow1);
    EXPECT_EQ(pass(), "");
    EXPECT_TRUE(initKeyboard());
    EXPECT_EQ(script.createCalls, 1);
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::Attached);
    EXPECT_TRUE(isKeyDown(kTopRow1));
    lift(kTopRow1);
    EXPECT_EQ(pass(), "1") << "the held mark is kept";
}

TEST_F(Keyboard, InitFailsWithoutAKeyboard) {
    script.creates = false;
    EXPECT_FALSE(initKeyboard());
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::NotCreated);
    EXPECT_FALSE(snapshotKeyboard());
    EXPECT_EQ(script.readCalls, 0);
    script.creates = true;
    EXPECT_TRUE(initKeyboard()) << "a failed start can be tried again";
    EXPECT_EQ(script.createCalls, 2);
}

TEST_F(Keyboard, ReleaseEndsReadingAndANewStartHasClearMarks) {
    ASSERT_TRUE(initKeyboard());
    press(kTopRow1);
    EXPECT_EQ(pass(), "");
    releaseKeyboard();
    EXPECT_EQ(script.releaseCalls, 1);
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::NotCreated);
    EXPECT_FALSE(isKeyDown(kTopRow1));
    releaseKeyboard();
    EXPECT_EQ(script.releaseCalls, 1) << "nothing left to release";

    ASSERT_TRUE(initKeyboard());
    lift(kTopRow1);
    EXPECT_EQ(pass(), "") << "the key held before the release is forgotten";
}

TEST_F(Keyboard, SwitchingBackendsReleasesTheDeviceOfTheOldOne) {
    ASSERT_TRUE(initKeyboard());
    setKeyboardBackend(&kScripted);
    EXPECT_EQ(script.releaseCalls, 1);
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::NotCreated);
}

TEST_F(Keyboard, LayoutChangeIsPassedToTheBackend) {
    keyboardLayoutChanged();
    ASSERT_TRUE(initKeyboard());
    keyboardLayoutChanged();
    EXPECT_EQ(script.layoutChanges, 2);
    EXPECT_TRUE(script.log.empty()) << "a layout change translates nothing by itself";
}

// ---- the override table itself ----------------------------------------------

TEST(KeypadOverride, TwelveKeysAndNoOther) {
    const std::pair<int, char> table[] = {{82, '0'}, {79, '1'}, {80, '2'}, {81, '3'}, {75, '4'}, {76, '5'},
                                          {77, '6'}, {71, '7'}, {72, '8'}, {73, '9'}, {181, '/'}, {83, '.'}};
    int overridden = 0;
    for (int key = -1; key <= 256; ++key) {
        char expected = 0;
        for (const auto& [code, character] : table)
            if (code == key) expected = character;
        EXPECT_EQ(keypadOverride(key), expected) << "key " << key;
        if (keypadOverride(key)) ++overridden;
    }
    EXPECT_EQ(overridden, 12);
}

}  // namespace
