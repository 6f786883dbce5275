// Translation of released keys into characters through the X server's
// keyboard layout: set-1 key code -> Linux evdev code -> X key code (evdev + 8)
// -> the first character that an XKB keymap and modifier state give.
//
// Texts are byte strings, so a character becomes one byte: code points 1..255
// (ASCII and Latin-1) are that byte, anything above 255 becomes '?'. Such a
// key still adds one byte, so Shift and a key that types, say, a Cyrillic
// letter can never leave "1" or "2" behind. Control characters (Escape 0x1B,
// Return 0x0D, BackSpace 0x08, Tab 0x09, Delete 0x7F) are kept, as the PC's
// own layouts type them too; a key typing nothing (modifier, function key,
// cursor key, dead key) gives 0.
#pragma once
#include <cstdint>

struct xkb_state;

int evdevKeyCode(int keyCode);                    // 0 for a key code with no evdev key
int characterByte(uint32_t codePoint);            // 0 for none, else 1..255 as above
int firstCharacterByte(const char* utf8);         // characterByte of the text's first code point
int xkbCharacter(xkb_state* state, int keyCode);  // the key's character under that keymap and state

// The fallback for a display without XKB: the plain US layout, Shift and
// Caps Lock only (Caps Lock shifts the letters alone).
int usLayoutCharacter(int keyCode, bool shift, bool capsLock);

// The X server's current keymap and live state, on a connection of our own to
// $DISPLAY. The keymap is fetched when a key first goes down (or at the first
// translation, whichever comes first) and again only
// after xkbLayoutChanged: a fetch costs about 2 ms.
void prepareXkbTranslation();   // connects and fetches the keymap ahead of the first translation
bool beginXkbTranslation();     // takes the live modifier state; false when XKB is unavailable
int translateXkb(int keyCode);  // xkbCharacter under the state the latest beginXkbTranslation took
void xkbLayoutChanged();        // the next beginXkbTranslation fetches the keymap again
void releaseXkb();              // frees state and keymap and closes the connection
