// Fuzz target: the keyboard reader's snapshots and released-keys text over a
// scripted backend, against a model of the reader kept here.
//
// The input is a script of steps. Each step begins with one control byte:
//   bits 0-1  0: a snapshot with focus, the next 256 bytes as the key states
//                (missing bytes are 0);
//             1: a snapshot with focus that changes a few keys of the previous
//                script state: a count byte (0-15), then (key code, byte) pairs;
//             2: a snapshot without focus: the read fails;
//             3: no snapshot; bit 2: the layout changes, bit 3: initKeyboard
//                again (which must change nothing), bit 4: releasedKeys once
//                more, without a new snapshot.
//   bits 4-7  for snapshots: the layout the fake translation uses from the
//             next releasedKeys call on.
// Every snapshot step is followed by releasedKeys, as in a main-loop pass.
//
// Checked after every step: the snapshot's result and the attachment, the
// released-keys text (key-code order, key 255 never, the keypad's twelve
// fixed characters, keys without a character left out, held marks kept
// through passes without focus), isKeyDown for all 256 codes (bit 7 only),
// the layout taken at most once per call and before any translation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher/keyboard.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

// ---- the scripted backend -------------------------------------------------

struct Script {
    uint8_t state[256];       // what the next successful read delivers
    bool focus;               // whether the next read succeeds
    int layout;               // the layout the next beginTranslation takes
    int takenLayout;          // the layout of the current releasedKeys call; -1 before it is taken
    int beginCalls;           // beginTranslation calls since the counter was cleared
    int translateCalls;
    int createCalls;
    int readCalls;
};
Script script;

bool scriptCreate() {
    ++script.createCalls;
    return true;
}
void scriptRelease() {}
bool scriptRead(uint8_t state[256]) {
    ++script.readCalls;
    if (!script.focus) return false;
    std::memcpy(state, script.state, 256);
    return true;
}
void scriptBegin() {
    ++script.beginCalls;
    script.takenLayout = script.layout;
}

// A fake layout: a character from the key code and the layout, none for
// about one key in five; characters above 127 included.
int fakeCharacter(int keyCode, int layout) {
    const int value = (keyCode * 37 + layout * 11 + 5) % 256;
    return value % 5 == 0 ? 0 : value;
}
int scriptTranslate(int keyCode) {
    ++script.translateCalls;
    require(script.takenLayout >= 0);  // the layout is taken before any translation
    require(keyCode >= 0 && keyCode < 255);
    return fakeCharacter(keyCode, script.takenLayout);
}
void scriptLayoutChanged() {}

const KeyboardBackend kScripted = {scriptCreate, scriptRelease, scriptRead,
                                   scriptBegin, scriptTranslate, scriptLayoutChanged};

// ---- the model --------------------------------------------------------------

// The keypad keys that give a fixed character whatever Num Lock says.
char keypadCharacter(int keyCode) {
    switch (keyCode) {
        case 0x52: return '0';
        case 0x4F: return '1';
        case 0x50: return '2';
        case 0x51: return '3';
        case 0x4B: return '4';
        case 0x4C: return '5';
        case 0x4D: return '6';
        case 0x47: return '7';
        case 0x48: return '8';
        case 0x49: return '9';
        case 0xB5: return '/';
        case 0x53: return '.';
        default: return 0;
    }
}

struct Model {
    bool attached;
    uint8_t snapshot[256];  // the latest successful read
    bool held[256];
};
Model model;

// What releasedKeys must return, updating the held marks; sets *released to
// whether any key was released (so the layout must have been taken) and
// *translated to whether one without a fixed keypad character was.
std::string expectedReleased(bool* released, bool* translated) {
    *released = *translated = false;
    std::string text;
    if (!model.attached) return text;
    for (int k = 0; k < 255; ++k) {
        if (model.snapshot[k] & 0x80) {
            model.held[k] = true;
        } else if (model.held[k]) {
            model.held[k] = false;
            *released = true;
            char c = keypadCharacter(k);
            if (c == 0) {
                *translated = true;
                c = static_cast<char>(fakeCharacter(k, script.layout));
            }
            if (c != 0) text += c;
        }
    }
    return text;
}

void checkReleased() {
    script.beginCalls = script.translateCalls = 0;
    script.takenLayout = -1;
    bool released, translated;
    const std::string want = expectedReleased(&released, &translated);
    const std::string got = releasedKeys();
    require(got == want);
    require(got.size() <= 255);
    require(script.beginCalls <= 1);
    if (!released) require(script.beginCalls == 0 && script.translateCalls == 0);
    if (translated) require(script.beginCalls == 1);
}

void checkKeysDown() {
    for (int k = 0; k < 256; ++k)
        require(isKeyDown(k) == (model.attached && (model.snapshot[k] & 0x80) != 0));
    require(keyboardAttachment() ==
            (model.attached ? KeyboardAttachment::Attached : KeyboardAttachment::Created));
}

void checkKeypadTable() {
    for (int k = 0; k < 256; ++k) require(keypadOverride(k) == keypadCharacter(k));
}

void snapshotStep() {
    const int readsBefore = script.readCalls;
    const bool ok = snapshotKeyboard();
    require(script.readCalls == readsBefore + 1);
    require(ok == script.focus);
    model.attached = ok;
    if (ok) std::memcpy(model.snapshot, script.state, 256);
    checkKeysDown();
    checkReleased();
    checkKeysDown();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setKeyboardBackend(&kScripted);
    // Each input starts from a new reader: released, then created again.
    releaseKeyboard();
    require(keyboardAttachment() == KeyboardAttachment::NotCreated);
    script = Script{};
    script.takenLayout = -1;
    model = Model{};
    require(initKeyboard());
    require(script.createCalls == 1);
    checkKeysDown();
    checkKeypadTable();

    size_t at = 0;
    while (at < size) {
        const uint8_t control = data[at++];
        const int op = control & 3;
        if (op == 3) {
            if (control & 4) keyboardLayoutChanged();
            if (control & 8) {
                require(initKeyboard());
                require(script.createCalls == 1);  // a second call creates nothing
                checkKeysDown();
            }
            if (control & 16) checkReleased();
            continue;
        }
        script.layout = control >> 4;
        script.focus = op != 2;
        if (op == 0) {
            const size_t n = size - at < 256 ? size - at : 256;
            std::memset(script.state, 0, sizeof script.state);
            std::memcpy(script.state, data + at, n);
            at += n;
        } else if (op == 1 && at < size) {
            int pairs = data[at++] & 15;
            for (; pairs > 0 && at + 1 < size; --pairs, at += 2) script.state[data[at]] = data[at + 1];
        }
        snapshotStep();
    }

    releaseKeyboard();
    require(keyboardAttachment() == KeyboardAttachment::NotCreated);
    return 0;
}
