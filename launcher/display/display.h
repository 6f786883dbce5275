// The launcher's window, the screen inside it, and drawing sessions.
//
//   initScreenFacility   checks once that screens can be made; true on success
//   releaseScreenFacility  lets go of the window system (end of program)
//   createLoaderWindow   makes the fixed-size window, centred and shown; its handle, or 0
//   createScreen         opens the screen in the window's client area; true when open
//   destroyScreen        closes the screen, if one is open
//   destroyLoaderWindow  destroys the window, if it exists
//   presentScreen        shows the back buffer in the screen's area (only the
//                        repaint and size-change rules call it)
//   screenTarget         a target on the back buffer, or nullptr
//   windowTarget         a target on the window's client area, or nullptr
//   imageTarget          a target on an off-screen image, or nullptr
//   beginSession         makes a session on the target current; false when it cannot
//   endSession           ends the current session; the window shows what it drew
//
// Drawing on the back buffer shows only at the next presentation; drawing on
// the window shows at once and stays until a presentation paints over it.
// Presentations happen only while the event wait serves the window system:
// screenAreaNeedsRepaint / serveScreenRepaint / serveWindowSizeChange.
#pragma once
#include <cstdint>
#include "launcher/display/font.h"
#include "launcher/display/image.h"

enum class TargetKind { Image, Screen, Window };

// What a session draws on. Obtained right before a session and given back
// when it ends (or at once, when it cannot begin).
struct DrawTarget {
    TargetKind kind = TargetKind::Image;
    PixelView view;          // the pixels the session draws on
    int bitsPerPixel = 0;    // the image's depth, the back buffer's, or the display's
    bool inUse = false;      // taken from the pool
};

enum class TextBackground { Opaque, Transparent };

using Colour = uint32_t;  // red + 256 * green + 65536 * blue

// The state of one session; every session begins with these values.
struct DrawingSession {
    DrawTarget* target = nullptr;
    Colour textColour = 0xFFFFFF;       // white
    Colour backgroundColour = 0x000000; // black
    TextBackground textBackground = TextBackground::Opaque;
    const Font* font = nullptr;         // the default font: none here, so text draws nothing
    // Rows and columns touched so far, half-open; empty when x0 >= x1.
    int dirtyX0 = 0, dirtyY0 = 0, dirtyX1 = 0, dirtyY1 = 0;
};

// The window system underneath: SDL on X11 in the launcher, memory in tests.
struct WindowSystem {
    bool (*initFacility)();                                   // true when screens can be made
    void (*releaseFacility)();                                // undoes initFacility
    uintptr_t (*createWindow)(int clientWidth, int clientHeight, const char* title, const Image* icon);
    void (*destroyWindow)();
    bool (*clientPixels)(PixelView* out);                     // the client area, drawn on directly
    void (*showClientRect)(int x, int y, int width, int height);  // make drawn pixels visible
    void (*clientSize)(int* width, int* height);
};

// nullptr restores the launcher's own SDL window system.
void setWindowSystem(const WindowSystem* system);

bool initScreenFacility();
void releaseScreenFacility();  // end of program, after the window is gone
uintptr_t createLoaderWindow(int clientWidth, int clientHeight, const char* title);
bool createScreen(uintptr_t window, int x, int y, int width, int height,
                  bool followWindowSize, int rightMargin, int bottomMargin, bool syncToRetrace);
void destroyScreen();
void destroyLoaderWindow();
void presentScreen();

DrawTarget* screenTarget();
DrawTarget* windowTarget();
DrawTarget* imageTarget(Image* image);
bool beginSession(DrawTarget* target);
void endSession();

// The current session, or nullptr. Drawing operations act on it.
DrawingSession* currentSession();
// Records that the current session changed a rectangle of its target
// (already clipped to the target).
void sessionTouched(int x, int y, int width, int height);

// The icon that createLoaderWindow gives the window (the caller keeps it alive).
void setLoaderWindowIcon(const Image* icon);

// Served by the event wait: the screen's area needs painting (a new screen,
// or the window system asked), and the window's size changed.
bool screenAreaNeedsRepaint();
void serveScreenRepaint();
void serveWindowSizeChange();

// For tests: the screen's back buffer and area, or nullptr / zeros when closed.
const Image* screenBackBuffer();
struct ScreenArea { int x, y, width, height; };
ScreenArea screenArea();
bool screenIsOpen();
uintptr_t loaderWindowHandle();
