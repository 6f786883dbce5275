// The event wait: the launcher's own queue of window events first, then one
// window-system message, dispatched.
//
//   waitForEvent      the oldest queued window event's code; else takes one
//                     message (waiting up to timeoutMs for it), dispatches it
//                     and returns a non-zero code; 0 when nothing arrived
//   clearWindowEvents drops every queued window event (the window is gone)
//
// Dispatching serves the screen's repaints and the window's size changes, and
// turns every request to close the window into one queued CloseRequested.
#pragma once
#include <cstdint>

enum EventCode : int32_t {
    NothingArrived = 0,
    MessageDispatched = 1,   // a window-system message was handled
    WindowSizeChanged = 5,   // queued after the screen has followed a size change
    CloseRequested = 13116,  // the user asked to close the launcher's window
};

enum class WindowMessage {
    Repaint,        // the window system asks for the screen's area to be painted
    SizeChanged,    // the client area's size changed
    CloseRequest,   // close box, Alt+F4, window menu, or the application quit request
    KeymapChanged,  // the user's keyboard layout changed
    Other,          // anything else: dispatched, nothing to do
};

// Where messages come from: SDL in the launcher, a script in tests.
struct MessageSource {
    // Takes one pending message; with none pending and timeoutMs > 0, waits up
    // to timeoutMs for one. False when nothing arrived.
    bool (*next)(int32_t timeoutMs, WindowMessage* out);
};

// nullptr restores the launcher's own SDL message source.
void setMessageSource(const MessageSource* source);

int32_t waitForEvent(int32_t timeoutMs);
void clearWindowEvents();
