// The translation core over keymaps compiled from layout names, as the X
// server would hand them out: no display needed.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "launcher/keyboard.h"
#include "launcher/keymap_xkb.h"

namespace {

// Set-1 key codes.
constexpr int kTopRow1 = 0x02, kTopRow2 = 0x03, kQ = 0x10, kA = 0x1E, kLeftBracket = 0x1A;
constexpr int kKeypad1 = 0x4F, kKeypadDecimal = 0x53, kKeypadDivide = 0xB5;

enum Mods : unsigned { None = 0, Shift = 1, Caps = 2, NumLock = 4, AltGr = 8 };

struct KeymapDeleter {
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
struct StateDeleter {
    void operator()(xkb_state* s) const { xkb_state_unref(s); }
};
using Keymap = std::unique_ptr<xkb_keymap, KeymapDeleter>;
using State = std::unique_ptr<xkb_state, StateDeleter>;

xkb_context* context() {
    static xkb_context* c = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    return c;
}

Keymap keymapFor(const char* layout) {
    xkb_rule_names names{"evdev", "pc105", layout, "", ""};
    return Keymap(xkb_keymap_new_from_names(context(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

void tap(xkb_state* state, int evdev) {
    xkb_state_update_key(state, evdev + 8, XKB_KEY_DOWN);
    xkb_state_update_key(state, evdev + 8, XKB_KEY_UP);
}

// A state with the modifiers set the way a user sets them: by the keys.
State stateWith(xkb_keymap* keymap, unsigned mods) {
    State state(xkb_state_new(keymap));
    if (mods & Caps) tap(state.get(), KEY_CAPSLOCK);
    if (mods & NumLock) tap(state.get(), KEY_NUMLOCK);
    if (mods & Shift) xkb_state_update_key(state.get(), KEY_LEFTSHIFT + 8, XKB_KEY_DOWN);
    if (mods & AltGr) xkb_state_update_key(state.get(), KEY_RIGHTALT + 8, XKB_KEY_DOWN);
    return state;
}

// ---- one key under one layout and modifier state ----------------------------

struct LayoutCase {
    const char* name;
    const char* layout;
    unsigned mods;
    int keyCode;
    int expected;  // the byte, or 0 for no character
};

const LayoutCase kLayoutCases[] = {
    {"UsTopRow1", "us", None, kTopRow1, '1'},
    {"UsShiftTopRow1", "us", Shift, kTopRow1, '!'},
    {"UsShiftTopRow2", "us", Shift, kTopRow2, '@'},
    {"FrTopRow1", "fr", None, kTopRow1, '&'},
    {"FrShiftTopRow1", "fr", Shift, kTopRow1, '1'},
    {"FrTopRow2IsLatin1", "fr", None, kTopRow2, 0xE9},
    {"FrShiftTopRow2", "fr", Shift, kTopRow2, '2'},
    {"FrQPositionTypesA", "fr", None, kQ, 'a'},
    {"UsA", "us", None, kA, 'a'},
    {"UsCapsA", "us", Caps, kA, 'A'},
    {"UsCapsShiftA", "us", Caps | Shift, kA, 'a'},
    {"UsCapsTopRow1StaysADigit", "us", Caps, kTopRow1, '1'},
    {"DeAltGrQ", "de", AltGr, kQ, '@'},
    {"DeUmlautIsLatin1", "de", None, kLeftBracket, 0xFC},
    {"RuLetterOutsideLatin1", "ru", None, kA, '?'},
    {"RuShiftTopRow1", "ru", Shift, kTopRow1, '!'},
    {"UsEscape", "us", None, KeyEscape, 0x1B},
    {"UsReturn", "us", None, 0x1C, 0x0D},
    {"UsBackspace", "us", None, 0x0E, 0x08},
    {"UsTab", "us", None, 0x0F, 0x09},
    {"UsKeypadEnter", "us", None, 0x9C, 0x0D},
    {"UsF1", "us", None, 0x3B, 0},
    {"UsLeftShift", "us", None, 0x2A, 0},
    {"UsHome", "us", None, 0xC7, 0},
    {"UsLeftWindows", "us", None, 0xDB, 0},
    {"UsUnusedKeyCode", "us", None, 0x54, 0},
    {"FrKeypad1NumLockOff", "fr", None, kKeypad1, 0},
    {"FrKeypad1NumLockOn", "fr", NumLock, kKeypad1, '1'},
    {"UsKeypadDivide", "us", None, kKeypadDivide, '/'},
};

class LayoutCharacter : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutCharacter, IsTheFirstCharacterAsOneByte) {
    const LayoutCase& c = GetParam();
    const Keymap keymap = keymapFor(c.layout);
    ASSERT_TRUE(keymap) << "layout " << c.layout;
    const State state = stateWith(keymap.get(), c.mods);
    EXPECT_EQ(xkbCharacter(state.get(), c.keyCode), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, LayoutCharacter, ::testing::ValuesIn(kLayoutCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LayoutCharacter, NoStateGivesNothing) { EXPECT_EQ(xkbCharacter(nullptr, kTopRow1), 0); }

// The keypad decimal point types the layout's separator; the reader's
// override makes it "." all the same.
TEST(LayoutCharacter, GermanKeypadDecimalIsAComma) {
    const Keymap keymap = keymapFor("de");
    ASSERT_TRUE(keymap);
    const State state = stateWith(keymap.get(), NumLock);
    EXPECT_EQ(xkbCharacter(state.get(), kKeypadDecimal), ',');
    EXPECT_EQ(keypadOverride(kKeypadDecimal), '.');
}

// ---- UTF-8 to one byte --------------------------------------------------------

TEST(CharacterByte, FirstCodePointBecomesOneByte) {
    const struct {
        const char* utf8;
        int expected;
    } cases[] = {
        {"", 0},
        {"a", 'a'},
        {"ab", 'a'},
        {"\x1B", 0x1B},
        {"\x7F", 0x7F},
        {"\xC2\x80", 0x80},
        {"\xC3\xA9", 0xE9},
        {"\xC3\xBF", 0xFF},
        {"\xC4\x80", '?'},          // U+0100, the first code point outside Latin-1
        {"\xE2\x82\xAC", '?'},      // the euro sign
        {"\xF0\x9F\x98\x80", '?'},  // outside the basic plane
        {"\xC3", '?'},              // a broken sequence still stands for a character
        {"\x80", '?'},
    };
    for (const auto& c : cases) EXPECT_EQ(firstCharacterByte(c.utf8), c.expected) << c.utf8;
    EXPECT_EQ(characterByte(0), 0);
    EXPECT_EQ(characterByte(0xFF), 0xFF);
    EXPECT_EQ(characterByte(0x100), '?');
}

// ---- the key-code tables ------------------------------------------------------

TEST(EvdevKeyCode, ExtendedKeysAndGaps) {
    const std::pair<int, int> cases[] = {
        {KeyEscape, KEY_ESC}, {kTopRow1, KEY_1},          {kKeypad1, KEY_KP1},      {0x56, KEY_102ND},
        {0x9C, KEY_KPENTER},  {0x9D, KEY_RIGHTCTRL},      {kKeypadDivide, KEY_KPSLASH}, {0xB8, KEY_RIGHTALT},
        {0xC8, KEY_UP},       {0xD3, KEY_DELETE},         {0xDB, KEY_LEFTMETA},     {0xDC, KEY_RIGHTMETA},
        {0, 0},               {0x54, 0},                  {255, 0},                 {-1, 0},
    };
    for (const auto& [keyCode, evdev] : cases) EXPECT_EQ(evdevKeyCode(keyCode), evdev) << "key " << keyCode;
}

TEST(EvdevKeyCode, NoTwoKeysShareAnEvdevCode) {
    std::set<int> seen;
    for (int key = 0; key < 256; ++key) {
        const int evdev = evdevKeyCode(key);
        if (evdev == 0) continue;
        EXPECT_TRUE(seen.insert(evdev).second) << "key " << key << " repeats evdev " << evdev;
    }
    EXPECT_GE(seen.size(), 100u);
}

// The fallback table types what xkbcommon's own "us" layout types, for every
// key and every combination of Shift and Caps Lock; the twelve keypad keys
// are overridden anyway.
TEST(UsFallback, AgreesWithTheUsKeymap) {
    const Keymap keymap = keymapFor("us");
    ASSERT_TRUE(keymap);
    for (unsigned mods : {0u, unsigned{Shift}, unsigned{Caps}, Shift | Caps}) {
        const State state = stateWith(keymap.get(), mods);
        for (int key = 0; key < 256; ++key) {
            if (keypadOverride(key)) continue;
            EXPECT_EQ(usLayoutCharacter(key, mods & Shift, mods & Caps), xkbCharacter(state.get(), key))
                << "key " << key << " mods " << mods;
        }
    }
}

TEST(UsFallback, KeypadDigitsIgnoreShift) {
    EXPECT_EQ(usLayoutCharacter(kKeypad1, false, false), '1');
    EXPECT_EQ(usLayoutCharacter(kKeypad1, true, true), '1');
    EXPECT_EQ(usLayoutCharacter(kKeypadDivide, true, false), '/');
}

// ---- the reader over a real keymap: the override wins -------------------------

// A backend with scripted snapshots and the translation core over an
// injected keymap and state.
xkb_state* injected = nullptr;
uint8_t scripted[256];
const KeyboardBackend kInjected{
    [] { return true; },
    [] {},
    [](uint8_t state[256]) {
        std::copy(scripted, scripted + 256, state);
        return true;
    },
    [] {},
    [](int key) { return xkbCharacter(injected, key); },
    [] {},
};

std::string pressAndRelease(std::initializer_list<int> keys) {
    std::fill(scripted, scripted + 256, 0);
    for (int key : keys) scripted[key] = 0x80;
    snapshotKeyboard();
    releasedKeys();
    std::fill(scripted, scripted + 256, 0);
    snapshotKeyboard();
    return releasedKeys();
}

TEST(ReaderOverKeymap, FrenchLayoutWithNumLockOff) {
    const Keymap keymap = keymapFor("fr");
    ASSERT_TRUE(keymap);
    setKeyboardBackend(&kInjected);
    ASSERT_TRUE(initKeyboard());

    const State plain = stateWith(keymap.get(), None);
    injected = plain.get();
    EXPECT_EQ(pressAndRelease({kTopRow1}), "&") << "top-row 1 alone starts nothing on this layout";
    EXPECT_EQ(pressAndRelease({kKeypad1}), "1") << "keypad 1 types nothing with Num Lock off";
    EXPECT_EQ(pressAndRelease({kKeypadDecimal}), ".");
    EXPECT_EQ(pressAndRelease({kKeypadDivide}), "/");

    const State shifted = stateWith(keymap.get(), Shift);
    injected = shifted.get();
    EXPECT_EQ(pressAndRelease({kTopRow1}), "1") << "Shift and that key give the digit";
    EXPECT_EQ(pressAndRelease({0x2A, kTopRow2}), "2") << "Shift itself types nothing";

    const State ru = stateWith(keymapFor("ru").get(), None);  // the state keeps its keymap alive
    injected = ru.get();
    EXPECT_EQ(pressAndRelease({kA, kTopRow1}), "1?") << "a Cyrillic letter still counts as one byte";

    releaseKeyboard();
    setKeyboardBackend(nullptr);
    injected = nullptr;
}

}  // namespace
