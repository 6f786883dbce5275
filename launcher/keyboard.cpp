// The keyboard reader's logic: snapshot, held marks, attachment state and the
// released-keys text. Everything platform-bound goes through the backend table.
#include "launcher/keyboard.h"

#include <cstring>

extern const KeyboardBackend kSdlKeyboardBackend;  // keyboard_sdl.cpp

namespace {

constexpr int kKeyCodes = 256;
constexpr uint8_t kDownBit = 0x80;
constexpr int kLastVisitedKey = 254;  // 255 is never looked at for releases

struct KeyboardReader {
    KeyboardAttachment attachment = KeyboardAttachment::NotCreated;
    uint8_t snapshot[kKeyCodes] = {};  // latest successful read, set-1 numbering
    bool held[kKeyCodes] = {};         // seen down by releasedKeys, release not yet reported
};

KeyboardReader reader;
const KeyboardBackend* backend = &kSdlKeyboardBackend;

bool attached() { return reader.attachment == KeyboardAttachment::Attached; }

}  // namespace

void setKeyboardBackend(const KeyboardBackend* b) {
    releaseKeyboard();
    backend = b ? b : &kSdlKeyboardBackend;
}

bool initKeyboard() {
    if (reader.attachment != KeyboardAttachment::NotCreated) return true;
    if (!backend->createDevice()) return false;
    reader = KeyboardReader{};
    reader.attachment = KeyboardAttachment::Created;
    return true;
}

bool snapshotKeyboard() {
    if (reader.attachment == KeyboardAttachment::NotCreated) return false;
    // Attaching needs nothing from the backend: the reader counts as attached
    // until a read fails.
    reader.attachment = KeyboardAttachment::Attached;

    // Read into a scratch buffer so that a failed read leaves the latest good
    // snapshot as it was.
    uint8_t state[kKeyCodes] = {};
    if (!backend->readState(state)) {
        reader.attachment = KeyboardAttachment::Created;
        return false;
    }
    std::memcpy(reader.snapshot, state, sizeof state);
    return true;
}

std::string releasedKeys() {
    std::string text;
    if (!attached()) return text;

    bool translating = false;  // layout and modifiers are taken at the first release only
    for (int key = 0; key <= kLastVisitedKey; ++key) {
        if (reader.snapshot[key] & kDownBit) {
            reader.held[key] = true;
            continue;
        }
        if (!reader.held[key]) continue;
        reader.held[key] = false;

        if (!translating) {
            backend->beginTranslation();
            translating = true;
        }
        int character = backend->translateKey(key);
        if (const char forced = keypadOverride(key)) character = static_cast<unsigned char>(forced);
        if (character > 0 && character < 256) text.push_back(static_cast<char>(character));
    }
    return text;
}

bool isKeyDown(int keyCode) {
    if (!attached() || keyCode < 0 || keyCode >= kKeyCodes) return false;
    return (reader.snapshot[keyCode] & kDownBit) != 0;
}

void releaseKeyboard() {
    if (reader.attachment == KeyboardAttachment::NotCreated) return;
    backend->releaseDevice();
    reader = KeyboardReader{};
}

void keyboardLayoutChanged() { backend->layoutChanged(); }

KeyboardAttachment keyboardAttachment() { return reader.attachment; }

char keypadOverride(int keyCode) {
    switch (keyCode) {
        case 82: return '0';
        case 79: return '1';
        case 80: return '2';
        case 81: return '3';
        case 75: return '4';
        case 76: return '5';
        case 77: return '6';
        case 71: return '7';
        case 72: return '8';
        case 73: return '9';
        case 181: return '/';  // keypad divide, E0 35
        case 83: return '.';   // keypad decimal point, whatever the layout's separator
        default: return 0;
    }
}
