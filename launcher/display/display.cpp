// The window, the screen and the drawing sessions, above the window system.
#include "launcher/display/display.h"

#include <algorithm>
#include <cstring>

extern const WindowSystem kSdlWindowSystem;  // display_sdl.cpp

namespace {

struct Screen {
    bool open = false;
    uintptr_t window = 0;
    int x = 0, y = 0;            // the area's top-left corner in the client area
    int width = 0, height = 0;   // the area's size, pixels
    bool followWindowSize = false;
    int rightMargin = 0, bottomMargin = 0;
    bool syncToRetrace = false;  // no retrace wait exists on X11's shared-memory framebuffer
    Image* backBuffer = nullptr; // 640 x 480, 32 bits, kept across presentations
    bool needsRepaint = false;   // a repaint request for the area is pending
};

struct Display {
    const WindowSystem* system = &kSdlWindowSystem;
    bool facilityReady = false;
    uintptr_t window = 0;
    bool sizeChangesTaken = false;  // a screen has taken over the window's size changes
    const Image* icon = nullptr;
    Screen screen;
    DrawTarget targets[4];          // a target lives for one session; a few cover every use
    DrawingSession session;
    bool sessionCurrent = false;
};

Display display;

DrawTarget* takeTarget(TargetKind kind, const PixelView& view, int bitsPerPixel) {
    for (DrawTarget& t : display.targets) {
        if (t.inUse) continue;
        t = DrawTarget{kind, view, bitsPerPixel, true};
        return &t;
    }
    return nullptr;
}

void giveBack(DrawTarget* target) {
    if (target) target->inUse = false;
}

// Makes the area follow the client area, keeping its position.
void followWindow(Screen& s) {
    int cw = 0, ch = 0;
    display.system->clientSize(&cw, &ch);
    s.width = std::max(0, cw - s.x - s.rightMargin);
    s.height = std::max(0, ch - s.y - s.bottomMargin);
}

// Copies src into the rectangle (ax, ay, aw, ah) of dst, scaled by nearest
// neighbour when the sizes differ, clipped to dst.
void copyScaled(const Image& src, const PixelView& dst, int ax, int ay, int aw, int ah) {
    if (aw <= 0 || ah <= 0 || dst.bytesPerPixel != 4) return;
    const int x0 = std::max(ax, 0), x1 = std::min(ax + aw, dst.width);
    const int y0 = std::max(ay, 0), y1 = std::min(ay + ah, dst.height);
    if (x0 >= x1 || y0 >= y1) return;
    const bool same = aw == src.width && ah == src.height;
    for (int y = y0; y < y1; ++y) {
        const int sy = same ? y - ay : static_cast<int>(static_cast<int64_t>(y - ay) * src.height / ah);
        const uint8_t* srow = src.pixels + static_cast<size_t>(sy) * src.pitch;
        uint8_t* drow = dst.pixels + static_cast<size_t>(y) * dst.pitch;
        if (same) {
            std::memcpy(drow + x0 * 4, srow + (x0 - ax) * 4, static_cast<size_t>(x1 - x0) * 4);
            continue;
        }
        for (int x = x0; x < x1; ++x) {
            const int sx = static_cast<int>(static_cast<int64_t>(x - ax) * src.width / aw);
            std::memcpy(drow + x * 4, srow + sx * 4, 4);
        }
    }
}

}  // namespace

void setWindowSystem(const WindowSystem* system) {
    display.system = system ? system : &kSdlWindowSystem;
    display.facilityReady = false;
}

bool initScreenFacility() {
    if (display.facilityReady) return true;
    display.facilityReady = display.system->initFacility();
    return display.facilityReady;
}

void releaseScreenFacility() {
    if (!display.facilityReady) return;
    display.system->releaseFacility();
    display.facilityReady = false;
}

void setLoaderWindowIcon(const Image* icon) { display.icon = icon; }

uintptr_t createLoaderWindow(int clientWidth, int clientHeight, const char* title) {
    if (display.window) return display.window;
    display.window = display.system->createWindow(clientWidth, clientHeight, title, display.icon);
    display.sizeChangesTaken = false;
    return display.window;
}

void destroyLoaderWindow() {
    if (!display.window) return;
    display.system->destroyWindow();
    display.window = 0;
    display.sizeChangesTaken = false;
}

bool createScreen(uintptr_t window, int x, int y, int width, int height,
                  bool followWindowSize, int rightMargin, int bottomMargin, bool syncToRetrace) {
    destroyScreen();
    if (window == 0 || window != display.window || !display.facilityReady) return false;
    if (width <= 0 || height <= 0) return false;
    Screen s;
    s.window = window;
    s.x = x;
    s.y = y;
    s.width = width;
    s.height = height;
    s.followWindowSize = followWindowSize;
    s.rightMargin = rightMargin;
    s.bottomMargin = bottomMargin;
    s.syncToRetrace = syncToRetrace;
    if (followWindowSize) followWindow(s);
    // The back buffer has the display's 32-bit layout (B, G, R, unused) and
    // is cleared to black by createImage.
    s.backBuffer = createImage(width, height, 32);
    if (!s.backBuffer) return false;
    // A new, visible area needs painting: its first repaint request, served
    // at the next event wait.
    s.needsRepaint = true;
    s.open = true;
    display.sizeChangesTaken = true;
    display.screen = s;
    return true;
}

void destroyScreen() {
    Screen& s = display.screen;
    if (!s.open) return;
    destroyImage(s.backBuffer);
    s = Screen{};
}

void presentScreen() {
    const Screen& s = display.screen;
    if (!s.open) return;
    PixelView client;
    if (!display.system->clientPixels(&client)) return;
    copyScaled(*s.backBuffer, client, s.x, s.y, s.width, s.height);
    display.system->showClientRect(s.x, s.y, s.width, s.height);
}

bool screenAreaNeedsRepaint() { return display.screen.open && display.screen.needsRepaint; }

void serveScreenRepaint() {
    if (!display.screen.open) return;
    display.screen.needsRepaint = false;  // acknowledged: the area counts as repainted
    presentScreen();
}

void serveWindowSizeChange() {
    Screen& s = display.screen;
    if (!s.open || !display.sizeChangesTaken) return;
    if (s.followWindowSize) followWindow(s);
    presentScreen();
}

DrawTarget* screenTarget() {
    const Screen& s = display.screen;
    if (!s.open) return nullptr;
    return takeTarget(TargetKind::Screen, viewOf(s.backBuffer), 32);
}

DrawTarget* windowTarget() {
    if (!display.window) return nullptr;
    PixelView client;
    if (!display.system->clientPixels(&client)) return nullptr;
    return takeTarget(TargetKind::Window, client, client.bytesPerPixel * 8);
}

DrawTarget* imageTarget(Image* image) {
    if (!image || !image->pixels) return nullptr;
    return takeTarget(TargetKind::Image, viewOf(image), image->bitsPerPixel);
}

bool beginSession(DrawTarget* target) {
    if (!target) return false;
    if (display.sessionCurrent || !target->view.pixels) {
        giveBack(target);
        return false;
    }
    display.session = DrawingSession{};
    display.session.target = target;
    display.sessionCurrent = true;
    return true;
}

void endSession() {
    if (!display.sessionCurrent) return;
    DrawingSession& s = display.session;
    // What was drawn on the window becomes visible now: push the touched rectangle.
    if (s.target->kind == TargetKind::Window && s.dirtyX0 < s.dirtyX1 && s.dirtyY0 < s.dirtyY1)
        display.system->showClientRect(s.dirtyX0, s.dirtyY0, s.dirtyX1 - s.dirtyX0, s.dirtyY1 - s.dirtyY0);
    giveBack(s.target);
    s = DrawingSession{};
    display.sessionCurrent = false;
}

DrawingSession* currentSession() { return display.sessionCurrent ? &display.session : nullptr; }

void sessionTouched(int x, int y, int width, int height) {
    if (!display.sessionCurrent || width <= 0 || height <= 0) return;
    DrawingSession& s = display.session;
    if (s.dirtyX0 >= s.dirtyX1) {
        s.dirtyX0 = x;
        s.dirtyY0 = y;
        s.dirtyX1 = x + width;
        s.dirtyY1 = y + height;
        return;
    }
    s.dirtyX0 = std::min(s.dirtyX0, x);
    s.dirtyY0 = std::min(s.dirtyY0, y);
    s.dirtyX1 = std::max(s.dirtyX1, x + width);
    s.dirtyY1 = std::max(s.dirtyY1, y + height);
}

const Image* screenBackBuffer() { return display.screen.open ? display.screen.backBuffer : nullptr; }

ScreenArea screenArea() {
    const Screen& s = display.screen;
    if (!s.open) return {0, 0, 0, 0};
    return {s.x, s.y, s.width, s.height};
}

bool screenIsOpen() { return display.screen.open; }

uintptr_t loaderWindowHandle() { return display.window; }
