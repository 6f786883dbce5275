// The window system edge: SDL's video subsystem on its X11 driver, drawing
// straight into the window surface (X11's shared-memory framebuffer).
#include <SDL.h>
// Xlib's own `Font` would clash with the launcher's font record.
#define Font XlibFont
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#undef Font

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "launcher/display/display.h"
#include "launcher/display/sdl_window.h"

namespace {

SDL_Window* sdlWindow = nullptr;
SDL_Surface* sdlIcon = nullptr;

// The face colour of dialogs and buttons, shown until the screen's first
// presentation, per channel.
constexpr unsigned short kFaceGrey = 240;

// How long to wait for a window manager to say how large its frame will be.
constexpr Uint32 kFrameExtentsWaitMs = 200;

bool countsAsScreenFormat(Uint32 format) {
    return format == SDL_PIXELFORMAT_RGB555 || format == SDL_PIXELFORMAT_RGB565 ||
           format == SDL_PIXELFORMAT_RGB888;
}

// X errors about requests that failed are not the launcher's concern: SDL
// itself sends a wake-up event that can reach the server after its window has
// gone, and Xlib's default handler would end the process with code 1.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

// The X server has gone, and the window with it: nothing can be drawn or
// read any more, so the launcher ends as it always does, with code 0. The
// tune player is bound to the launcher's life and goes with it.
int endWithServer(Display*) { std::_Exit(0); }

bool initFacility() {
    // Ask for X11 explicitly: without a display SDL would otherwise fall back
    // to its invisible offscreen driver and succeed.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Before SDL starts: SDL keeps the handler it finds and puts it back when
    // it shuts down, which is when a late error is reported.
    XSetErrorHandler(ignoreXError);
    XSetIOErrorHandler(endWithServer);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    int modes = 0;
    if (driver && std::strcmp(driver, "x11") == 0) {
        const int n = SDL_GetNumDisplayModes(0);
        for (int i = 0; i < n; ++i) {
            SDL_DisplayMode mode;
            if (SDL_GetDisplayMode(0, i, &mode) == 0 && countsAsScreenFormat(mode.format)) ++modes;
        }
    }
    if (modes == 0) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    return true;
}

void releaseFacility() { SDL_QuitSubSystem(SDL_INIT_VIDEO); }

bool x11Handles(SDL_Window* window, Display** display, Window* xwindow) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
    *display = info.info.x11.display;
    *xwindow = info.info.x11.window;
    return true;
}

// A title bar with menu and close box, a fixed border, no minimise or
// maximise box, and only moving and closing offered.
void askForFixedFrame(Display* display, Window xwindow) {
    enum : unsigned long { FuncMove = 4, FuncClose = 32, DecorBorder = 2, DecorTitle = 8, DecorMenu = 16 };
    const unsigned long hints[5] = {1 | 2, FuncMove | FuncClose, DecorBorder | DecorTitle | DecorMenu, 0, 0};
    const Atom motif = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(display, xwindow, motif, motif, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(hints), 5);
}

bool windowManagerRuns(Display* display) {
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == None) return false;
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False,
                                          XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
                       data && count == 1;
    if (data) XFree(data);
    return found;
}

bool readFrameExtents(Display* display, Window xwindow, long extents[4]) {
    const Atom atom = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    bool found = XGetWindowProperty(display, xwindow, atom, 0, 4, False, XA_CARDINAL, &type, &format,
                                    &count, &after, &data) == Success &&
                 data && format == 32 && count == 4;
    if (found) std::memcpy(extents, data, sizeof(long) * 4);
    if (data) XFree(data);
    return found;
}

// The frame a window manager will put around the still hidden window:
// left, right, top, bottom. Zero without a window manager.
void frameExtents(SDL_Window* window, int* left, int* right, int* top, int* bottom) {
    *left = *right = *top = *bottom = 0;
    Display* display;
    Window xwindow;
    if (!x11Handles(window, &display, &xwindow) || !windowManagerRuns(display)) return;
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = xwindow;
    request.xclient.message_type = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
    request.xclient.format = 32;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &request);
    long extents[4];
    const Uint32 start = SDL_GetTicks();
    while (true) {
        XSync(display, False);
        if (readFrameExtents(display, xwindow, extents)) break;
        if (SDL_GetTicks() - start > kFrameExtentsWaitMs) return;
        SDL_Delay(1);
    }
    *left = static_cast<int>(extents[0]);
    *right = static_cast<int>(extents[1]);
    *top = static_cast<int>(extents[2]);
    *bottom = static_cast<int>(extents[3]);
}

uintptr_t createWindow(int clientWidth, int clientHeight, const char* title, const Image* icon) {
    sdlWindow = SDL_CreateWindow(title, 0, 0, clientWidth, clientHeight, SDL_WINDOW_HIDDEN);
    if (!sdlWindow) return 0;
    if (icon && icon->bitsPerPixel == 32) {
        sdlIcon = SDL_CreateRGBSurfaceWithFormatFrom(icon->pixels, icon->width, icon->height, 32,
                                                     icon->pitch, SDL_PIXELFORMAT_ARGB8888);
        if (sdlIcon) SDL_SetWindowIcon(sdlWindow, sdlIcon);
    }
    Display* display;
    Window xwindow;
    if (x11Handles(sdlWindow, &display, &xwindow)) {
        askForFixedFrame(display, xwindow);
        // The server itself paints the face colour wherever the window is
        // shown before the screen's first presentation.
        XColor face{};
        face.red = face.green = face.blue = kFaceGrey * 257;
        if (XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &face))
            XSetWindowBackground(display, xwindow, face.pixel);
    }

    // Centre the outer frame on the primary display's full bounds.
    int left, right, top, bottom;
    frameExtents(sdlWindow, &left, &right, &top, &bottom);
    SDL_Rect bounds{0, 0, 0, 0};
    SDL_GetDisplayBounds(0, &bounds);
    const int ow = clientWidth + left + right, oh = clientHeight + top + bottom;
    const int x = (bounds.w - std::min(ow, bounds.w)) / 2;
    const int y = (bounds.h - std::min(oh, bounds.h)) / 2;
    // The frame goes where the window asks to be; SDL does not know the
    // frame yet, so this moves the frame's top-left corner.
    SDL_SetWindowPosition(sdlWindow, bounds.x + x, bounds.y + y);

    SDL_ShowWindow(sdlWindow);
    SDL_RaiseWindow(sdlWindow);
    return reinterpret_cast<uintptr_t>(sdlWindow);
}

void destroyWindow() {
    if (sdlWindow) SDL_DestroyWindow(sdlWindow);
    sdlWindow = nullptr;
    if (sdlIcon) SDL_FreeSurface(sdlIcon);
    sdlIcon = nullptr;
}

bool clientPixels(PixelView* out) {
    if (!sdlWindow) return false;
    SDL_Surface* surface = SDL_GetWindowSurface(sdlWindow);
    // Drawing works on B, G, R, X bytes: the X11 framebuffer at depth 24 and 32.
    if (!surface || !surface->pixels || surface->format->BytesPerPixel != 4 ||
        surface->format->Rmask != 0xFF0000 || surface->format->Gmask != 0xFF00 ||
        surface->format->Bmask != 0xFF)
        return false;
    *out = {static_cast<uint8_t*>(surface->pixels), surface->w, surface->h, surface->pitch, 4};
    return true;
}

void showClientRect(int x, int y, int width, int height) {
    if (!sdlWindow) return;
    SDL_Surface* surface = SDL_GetWindowSurface(sdlWindow);
    if (!surface) return;
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + width, surface->w), y1 = std::min(y + height, surface->h);
    if (x0 >= x1 || y0 >= y1) return;
    const SDL_Rect rect{x0, y0, x1 - x0, y1 - y0};
    SDL_UpdateWindowSurfaceRects(sdlWindow, &rect, 1);
}

void clientSize(int* width, int* height) {
    *width = *height = 0;
    if (sdlWindow) SDL_GetWindowSize(sdlWindow, width, height);
}

}  // namespace

extern const WindowSystem kSdlWindowSystem;
const WindowSystem kSdlWindowSystem{initFacility, releaseFacility, createWindow, destroyWindow, clientPixels, showClientRect,
                                    clientSize};

SDL_Window* sdlLoaderWindow() { return sdlWindow; }

