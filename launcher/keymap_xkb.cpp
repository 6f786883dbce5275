// The translation edge: xkbcommon over its own xcb connection, with a plain
// US table for displays without XKB.
#include "launcher/keymap_xkb.h"

#include <linux/input-event-codes.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace {

constexpr int kX11KeycodeOffset = 8;  // X key code = evdev code + 8 under the evdev rules
constexpr char kOutsideLatin1 = '?';  // the byte for a character above U+00FF

// Set-1 key code (E0-extended keys + 128) -> evdev code.
struct KeyRow {
    uint8_t keyCode;
    uint16_t evdev;
};
constexpr KeyRow kEvdevRows[] = {
    // Set-1 codes 1..83 and 86..88 are the evdev codes themselves; listed
    // here anyway, so that the whole keyboard reads in one place.
    {0x01, KEY_ESC},        {0x02, KEY_1},          {0x03, KEY_2},
    {0x04, KEY_3},          {0x05, KEY_4},          {0x06, KEY_5},
    {0x07, KEY_6},          {0x08, KEY_7},          {0x09, KEY_8},
    {0x0A, KEY_9},          {0x0B, KEY_0},          {0x0C, KEY_MINUS},
    {0x0D, KEY_EQUAL},      {0x0E, KEY_BACKSPACE},  {0x0F, KEY_TAB},
    {0x10, KEY_Q},          {0x11, KEY_W},          {0x12, KEY_E},
    {0x13, KEY_R},          {0x14, KEY_T},          {0x15, KEY_Y},
    {0x16, KEY_U},          {0x17, KEY_I},          {0x18, KEY_O},
    {0x19, KEY_P},          {0x1A, KEY_LEFTBRACE},  {0x1B, KEY_RIGHTBRACE},
    {0x1C, KEY_ENTER},      {0x1D, KEY_LEFTCTRL},   {0x1E, KEY_A},
    {0x1F, KEY_S},          {0x20, KEY_D},          {0x21, KEY_F},
    {0x22, KEY_G},          {0x23, KEY_H},          {0x24, KEY_J},
    {0x25, KEY_K},          {0x26, KEY_L},          {0x27, KEY_SEMICOLON},
    {0x28, KEY_APOSTROPHE}, {0x29, KEY_GRAVE},      {0x2A, KEY_LEFTSHIFT},
    {0x2B, KEY_BACKSLASH},  {0x2C, KEY_Z},          {0x2D, KEY_X},
    {0x2E, KEY_C},          {0x2F, KEY_V},          {0x30, KEY_B},
    {0x31, KEY_N},          {0x32, KEY_M},          {0x33, KEY_COMMA},
    {0x34, KEY_DOT},        {0x35, KEY_SLASH},      {0x36, KEY_RIGHTSHIFT},
    {0x37, KEY_KPASTERISK}, {0x38, KEY_LEFTALT},    {0x39, KEY_SPACE},
    {0x3A, KEY_CAPSLOCK},   {0x3B, KEY_F1},         {0x3C, KEY_F2},
    {0x3D, KEY_F3},         {0x3E, KEY_F4},         {0x3F, KEY_F5},
    {0x40, KEY_F6},         {0x41, KEY_F7},         {0x42, KEY_F8},
    {0x43, KEY_F9},         {0x44, KEY_F10},        {0x45, KEY_NUMLOCK},
    {0x46, KEY_SCROLLLOCK}, {0x47, KEY_KP7},        {0x48, KEY_KP8},
    {0x49, KEY_KP9},        {0x4A, KEY_KPMINUS},    {0x4B, KEY_KP4},
    {0x4C, KEY_KP5},        {0x4D, KEY_KP6},        {0x4E, KEY_KPPLUS},
    {0x4F, KEY_KP1},        {0x50, KEY_KP2},        {0x51, KEY_KP3},
    {0x52, KEY_KP0},        {0x53, KEY_KPDOT},      {0x56, KEY_102ND},
    {0x57, KEY_F11},        {0x58, KEY_F12},
    // F13..F24 and the Japanese, Brazilian and Korean keys.
    {0x64, KEY_F13},        {0x65, KEY_F14},        {0x66, KEY_F15},
    {0x67, KEY_F16},        {0x68, KEY_F17},        {0x69, KEY_F18},
    {0x6A, KEY_F19},        {0x6B, KEY_F20},        {0x6C, KEY_F21},
    {0x6D, KEY_F22},        {0x6E, KEY_F23},        {0x76, KEY_F24},
    {0x70, KEY_KATAKANAHIRAGANA}, {0x73, KEY_RO},   {0x79, KEY_HENKAN},
    {0x7B, KEY_MUHENKAN},   {0x7D, KEY_YEN},        {0x8D, KEY_KPEQUAL},
    {0xB3, KEY_KPCOMMA},    {0xF1, KEY_HANJA},      {0xF2, KEY_HANGEUL},
    // E0-extended keys.
    {0x90, KEY_PREVIOUSSONG}, {0x99, KEY_NEXTSONG}, {0x9C, KEY_KPENTER},
    {0x9D, KEY_RIGHTCTRL},  {0xA0, KEY_MUTE},       {0xA1, KEY_CALC},
    {0xA2, KEY_PLAYPAUSE},  {0xA4, KEY_STOPCD},     {0xAE, KEY_VOLUMEDOWN},
    {0xB0, KEY_VOLUMEUP},   {0xB2, KEY_HOMEPAGE},   {0xB5, KEY_KPSLASH},
    {0xB7, KEY_SYSRQ},      {0xB8, KEY_RIGHTALT},   {0xC5, KEY_PAUSE},
    {0xC7, KEY_HOME},       {0xC8, KEY_UP},         {0xC9, KEY_PAGEUP},
    {0xCB, KEY_LEFT},       {0xCD, KEY_RIGHT},      {0xCF, KEY_END},
    {0xD0, KEY_DOWN},       {0xD1, KEY_PAGEDOWN},   {0xD2, KEY_INSERT},
    {0xD3, KEY_DELETE},     {0xDB, KEY_LEFTMETA},   {0xDC, KEY_RIGHTMETA},
    {0xDD, KEY_COMPOSE},    {0xDE, KEY_POWER},      {0xDF, KEY_SLEEP},
    {0xE3, KEY_WAKEUP},     {0xE5, KEY_SEARCH},     {0xE6, KEY_BOOKMARKS},
    {0xE7, KEY_REFRESH},    {0xE8, KEY_STOP},       {0xE9, KEY_FORWARD},
    {0xEA, KEY_BACK},       {0xEB, KEY_COMPUTER},   {0xEC, KEY_MAIL},
    {0xED, KEY_MEDIA},
};

// The fallback US layout by set-1 key code: unshifted and shifted character,
// 0 for none. It types what xkbcommon's "us" keymap types (Shift+Tab is
// ISO_Left_Tab there, which has no character).
struct UsRow {
    uint8_t keyCode;
    char plain, shifted;
};
constexpr UsRow kUsRows[] = {
    {0x01, 0x1B, 0x1B}, {0x02, '1', '!'},   {0x03, '2', '@'},   {0x04, '3', '#'},
    {0x05, '4', '$'},   {0x06, '5', '%'},   {0x07, '6', '^'},   {0x08, '7', '&'},
    {0x09, '8', '*'},   {0x0A, '9', '('},   {0x0B, '0', ')'},   {0x0C, '-', '_'},
    {0x0D, '=', '+'},   {0x0E, 0x08, 0x08}, {0x0F, 0x09, 0},    {0x10, 'q', 'Q'},
    {0x11, 'w', 'W'},   {0x12, 'e', 'E'},   {0x13, 'r', 'R'},   {0x14, 't', 'T'},
    {0x15, 'y', 'Y'},   {0x16, 'u', 'U'},   {0x17, 'i', 'I'},   {0x18, 'o', 'O'},
    {0x19, 'p', 'P'},   {0x1A, '[', '{'},   {0x1B, ']', '}'},   {0x1C, 0x0D, 0x0D},
    {0x1E, 'a', 'A'},   {0x1F, 's', 'S'},   {0x20, 'd', 'D'},   {0x21, 'f', 'F'},
    {0x22, 'g', 'G'},   {0x23, 'h', 'H'},   {0x24, 'j', 'J'},   {0x25, 'k', 'K'},
    {0x26, 'l', 'L'},   {0x27, ';', ':'},   {0x28, '\'', '"'},  {0x29, '`', '~'},
    {0x2B, '\\', '|'},  {0x2C, 'z', 'Z'},   {0x2D, 'x', 'X'},   {0x2E, 'c', 'C'},
    {0x2F, 'v', 'V'},   {0x30, 'b', 'B'},   {0x31, 'n', 'N'},   {0x32, 'm', 'M'},
    {0x33, ',', '<'},   {0x34, '.', '>'},   {0x35, '/', '?'},   {0x37, '*', '*'},
    {0x39, ' ', ' '},   {0x4A, '-', '-'},   {0x4E, '+', '+'},   {0x56, '<', '>'},
    {0x8D, '=', '='},   {0xB3, '.', '.'},   {0x9C, 0x0D, 0x0D}, {0xD3, 0x7F, 0x7F},
    // The keypad digits, decimal point and divide: Num Lock on.
    {0x47, '7', '7'},   {0x48, '8', '8'},   {0x49, '9', '9'},   {0x4B, '4', '4'},
    {0x4C, '5', '5'},   {0x4D, '6', '6'},   {0x4F, '1', '1'},   {0x50, '2', '2'},
    {0x51, '3', '3'},   {0x52, '0', '0'},   {0x53, '.', '.'},   {0xB5, '/', '/'},
};

// The live X server connection and what was taken from it.
struct XkbLink {
    bool tried = false;           // a connection was attempted; not retried after a failure
    xcb_connection_t* connection = nullptr;
    int32_t deviceId = -1;        // the core keyboard
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;  // nullptr until fetched, and after a layout change
    xkb_state* state = nullptr;    // taken by the latest beginXkbTranslation
    bool prepared = false;         // prepareXkbTranslation ran since the last layout change
};
XkbLink server;

bool connectOnce() {
    if (server.tried) return server.connection != nullptr;
    server.tried = true;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) ||
        !xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr,
                                     nullptr)) {
        xcb_disconnect(c);
        return false;
    }
    // The keymap comes compiled from the server: no include paths, no
    // layout names from the environment.
    server.context = xkb_context_new(static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES |
                                                                    XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!server.context) {
        xcb_disconnect(c);
        return false;
    }
    server.connection = c;
    return true;
}

bool fetchKeymapIfNeeded() {
    if (server.keymap) return true;
    server.deviceId = xkb_x11_get_core_keyboard_device_id(server.connection);
    if (server.deviceId < 0) return false;
    server.keymap = xkb_x11_keymap_new_from_device(server.context, server.connection, server.deviceId,
                                                 XKB_KEYMAP_COMPILE_NO_FLAGS);
    return server.keymap != nullptr;
}

void dropState() {
    xkb_state_unref(server.state);
    server.state = nullptr;
}

}  // namespace

int evdevKeyCode(int keyCode) {
    for (const KeyRow& row : kEvdevRows)
        if (row.keyCode == keyCode) return row.evdev;
    return 0;
}

int characterByte(uint32_t codePoint) {
    if (codePoint == 0) return 0;
    return codePoint <= 0xFF ? static_cast<int>(codePoint) : kOutsideLatin1;
}

int firstCharacterByte(const char* utf8) {
    const auto* s = reinterpret_cast<const unsigned char*>(utf8);
    const unsigned lead = s[0];
    if (lead < 0x80) return characterByte(lead);
    // Only two-byte sequences can stay within Latin-1; a broken sequence
    // still stands for one typed character.
    if ((lead & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80)
        return characterByte(((lead & 0x1Fu) << 6) | (s[1] & 0x3Fu));
    return kOutsideLatin1;
}

int xkbCharacter(xkb_state* state, int keyCode) {
    const int evdev = evdevKeyCode(keyCode);
    if (!state || evdev == 0) return 0;
    char text[64];
    const int length = xkb_state_key_get_utf8(state, static_cast<xkb_keycode_t>(evdev + kX11KeycodeOffset),
                                              text, sizeof text);
    if (length <= 0) return 0;
    return firstCharacterByte(text);
}

int usLayoutCharacter(int keyCode, bool shift, bool capsLock) {
    for (const UsRow& row : kUsRows) {
        if (row.keyCode != keyCode) continue;
        const bool letter = row.plain >= 'a' && row.plain <= 'z';
        const bool upper = letter ? shift != capsLock : shift;
        return static_cast<unsigned char>(upper ? row.shifted : row.plain);
    }
    return 0;
}

bool beginXkbTranslation() {
    dropState();
    if (!connectOnce() || xcb_connection_has_error(server.connection) || !fetchKeymapIfNeeded()) return false;
    server.state = xkb_x11_state_new_from_device(server.keymap, server.connection, server.deviceId);
    return server.state != nullptr;
}

void prepareXkbTranslation() {
    if (server.prepared) return;
    server.prepared = true;
    if (connectOnce() && !xcb_connection_has_error(server.connection)) fetchKeymapIfNeeded();
}

int translateXkb(int keyCode) { return xkbCharacter(server.state, keyCode); }

void xkbLayoutChanged() {
    dropState();
    server.prepared = false;
    xkb_keymap_unref(server.keymap);
    server.keymap = nullptr;
}

void releaseXkb() {
    dropState();
    xkb_keymap_unref(server.keymap);
    xkb_context_unref(server.context);
    if (server.connection) xcb_disconnect(server.connection);
    server = XkbLink{};
}
