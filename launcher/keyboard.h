// The keyboard reader: polled snapshots of all 256 key codes, and the text of
// the keys released since the previous snapshot.
//
//   initKeyboard      creates the reader (created, not attached); true on success;
//                     a second call after a success changes nothing and succeeds
//   snapshotKeyboard  attaches the reader if needed and reads all 256 key codes;
//                     fails, and detaches, when the launcher's window lacks the focus
//   releasedKeys      the characters of the keys that were down at an earlier
//                     valid snapshot and are up in this one, in key-code order;
//                     empty, with the held marks kept, while not attached
//   isKeyDown         bit 7 of the key's byte in the latest valid snapshot;
//                     false while not attached and for codes outside 0..255
//   releaseKeyboard   stops reading and releases the device (end of program)
//   keyboardLayoutChanged  the user's layout changed; re-read it before the next translation
//
// Key codes are PC set-1 scan codes with 128 added for the extended
// (E0-prefixed) keys: Escape 1, top-row 1 is 2, keypad 1 is 79, keypad divide 181.
// Key code 255 is never reported as released.
#pragma once
#include <cstdint>
#include <string>

constexpr int KeyEscape = 1;

enum class KeyboardAttachment { NotCreated, Created, Attached };

// Where snapshots and characters come from: SDL and xkbcommon in the
// launcher, a script in tests. Every entry must be set.
struct KeyboardBackend {
    bool (*createDevice)();                // false when no keyboard can be read
    void (*releaseDevice)();
    bool (*readState)(uint8_t state[256]);  // set-1 numbering, 0x80 = down; false without focus
    void (*beginTranslation)();            // take layout and modifier state, once per releasedKeys call
    int (*translateKey)(int keyCode);      // the key's first character (1..255), or 0 for none
    void (*layoutChanged)();
};

// nullptr restores the launcher's own backend. A reader created through the
// previous backend is released through it first.
void setKeyboardBackend(const KeyboardBackend* backend);

bool initKeyboard();
bool snapshotKeyboard();
std::string releasedKeys();
bool isKeyDown(int keyCode);
void releaseKeyboard();
void keyboardLayoutChanged();
KeyboardAttachment keyboardAttachment();

// The character that the twelve keypad keys always give, whatever Num Lock
// says; 0 for every other key.
char keypadOverride(int keyCode);
