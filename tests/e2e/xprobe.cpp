// xprobe: a small X11 helper for the end-to-end tests. It looks at and pokes
// real windows on the display named by DISPLAY, the way a window manager or a
// user would, and prints plain "key=value" lines for the Python harness.
//
//   find <title> [timeout_ms]       first viewable top-level client window whose
//                                   WM_NAME or _NET_WM_NAME is exactly <title>;
//                                   prints its id (decimal); waits up to the
//                                   timeout (default 0: look once)
//   list <title>                    every top-level client with that title, one
//                                   "id map_state" line each (none: no output)
//   geometry <win>                  client area on the root, frame extents,
//                                   outer frame (see printGeometry)
//   title <win>                     wm_name= and net_wm_name= lines
//   wmhints <win>                   min/max size from WM_NORMAL_HINTS
//   protocols <win>                 the atoms listed in WM_PROTOCOLS
//   capture <win> <out.ppm>         the client area's pixels as binary PPM (P6)
//   watch-first <win> <out.ppm> [timeout_ms] [rrggbb]
//                                   polls the client area until some pixel
//                                   differs from the colour (default 000000),
//                                   then writes that picture
//   close <win>                     WM_DELETE_WINDOW client message, as a close
//                                   box sends it
//   focus <win>                     XSetInputFocus, then checks it took
//   activate <win> [timeout_ms]     _NET_ACTIVE_WINDOW request to the window
//                                   manager; waits until the focus is there
//   getfocus                        prints the focus window's id
//   exists <win>                    exists=0|1 and map_state=
//   wm-check [timeout_ms]           waits until a window manager announces
//                                   itself through _NET_SUPPORTING_WM_CHECK,
//                                   then until it manages a window of xprobe's
//                                   own (openbox announces itself before it
//                                   handles map requests, and drops the early ones)
//   modstate                        locked and latched modifiers, numlock=on|off
//   keylog <seconds>                opens a focused window of its own and
//                                   prints every key event it receives
//
// Exit codes: 0 success, 1 timeout or not found, 2 usage, 3 X error or refusal.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

Display* dpy = nullptr;
Window root = 0;
int lastXError = 0;  // error code of the latest failed request, 0 when none

int recordError(Display*, XErrorEvent* e) {
    lastXError = e->error_code;
    return 0;
}

[[noreturn]] void fail(int code, const char* what) {
    std::fprintf(stderr, "xprobe: %s\n", what);
    std::exit(code);
}

long nowMs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

void sleepMs(long ms) {
    timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

long parseNumber(const char* text, const char* what) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 0);
    if (errno || end == text || *end) {
        std::fprintf(stderr, "xprobe: bad %s '%s'\n", what, text);
        std::exit(2);
    }
    return value;
}

Window parseWindow(const char* text) {
    long id = parseNumber(text, "window id");
    if (id <= 0) fail(2, "window id must be positive");
    return static_cast<Window>(id);
}

Atom atom(const char* name) { return XInternAtom(dpy, name, False); }

// Raw property bytes; empty when absent. `type` and `format` report what came.
std::vector<unsigned char> property(Window w, Atom name, Atom* type, int* format,
                                    unsigned long* items) {
    Atom gotType = None;
    int gotFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned char> bytes;
    if (XGetWindowProperty(dpy, w, name, 0, 1 << 20, False, AnyPropertyType, &gotType, &gotFormat,
                           &count, &after, &data) == Success &&
        data) {
        size_t unit = gotFormat == 8 ? 1 : gotFormat == 16 ? sizeof(short) : sizeof(long);
        bytes.assign(data, data + count * unit);
        XFree(data);
    }
    if (type) *type = gotType;
    if (format) *format = gotFormat;
    if (items) *items = count;
    return bytes;
}

bool textProperty(Window w, Atom name, std::string* out) {
    Atom type;
    int format;
    unsigned long items;
    std::vector<unsigned char> bytes = property(w, name, &type, &format, &items);
    if (type == None || format != 8) return false;
    *out = std::string(bytes.begin(), bytes.end());
    return true;
}

bool windowProperty(Window w, Atom name, Window* out) {
    Atom type;
    int format;
    unsigned long items;
    std::vector<unsigned char> bytes = property(w, name, &type, &format, &items);
    if (type != XA_WINDOW || format != 32 || items < 1) return false;
    *out = static_cast<Window>(reinterpret_cast<const long*>(bytes.data())[0]);
    return true;
}

const char* mapStateName(int state) {
    return state == IsViewable ? "viewable" : state == IsUnviewable ? "unviewable" : "unmapped";
}

struct Client {
    Window id;
    int mapState;
};

// A top-level client is a child of the root (no window manager) or a window
// that carries WM_STATE (a reparenting window manager sets it on clients only).
void collectClients(Window w, Window parent, const std::string& title, std::vector<Client>* out) {
    Atom wmState = atom("WM_STATE");
    bool topLevel = parent == root;
    if (!topLevel && w != root) {
        Atom type;
        int format;
        unsigned long items;
        property(w, wmState, &type, &format, &items);
        topLevel = type != None;
    }
    if (topLevel) {
        std::string name;
        bool named = (textProperty(w, XA_WM_NAME, &name) && name == title) ||
                     (textProperty(w, atom("_NET_WM_NAME"), &name) && name == title);
        XWindowAttributes a;
        if (named && XGetWindowAttributes(dpy, w, &a)) out->push_back({w, a.map_state});
    }
    Window r, p, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy, w, &r, &p, &children, &count)) return;
    std::vector<Window> kids(children, children + count);
    if (children) XFree(children);
    for (Window child : kids) collectClients(child, w, title, out);
}

std::vector<Client> clientsTitled(const std::string& title) {
    std::vector<Client> found;
    collectClients(root, 0, title, &found);
    XSync(dpy, False);
    lastXError = 0;  // windows that vanished during the walk do not count
    return found;
}

XWindowAttributes attributesOf(Window w) {
    XWindowAttributes a;
    lastXError = 0;
    if (!XGetWindowAttributes(dpy, w, &a) || lastXError) fail(3, "no such window");
    return a;
}

// The ancestor of `w` that is a child of the root: the window manager's frame,
// or `w` itself when nothing reparented it.
Window topAncestor(Window w) {
    for (;;) {
        Window r, parent, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(dpy, w, &r, &parent, &children, &count)) fail(3, "XQueryTree failed");
        if (children) XFree(children);
        if (parent == root || parent == 0) return w;
        w = parent;
    }
}

int cmdFind(int argc, char** argv) {
    if (argc < 1) fail(2, "usage: find <title> [timeout_ms]");
    long timeout = argc > 1 ? parseNumber(argv[1], "timeout") : 0;
    long until = nowMs() + timeout;
    for (;;) {
        for (const Client& c : clientsTitled(argv[0])) {
            if (c.mapState == IsViewable) {
                std::printf("%lu\n", c.id);
                return 0;
            }
        }
        if (nowMs() >= until) break;
        sleepMs(10);
    }
    std::fprintf(stderr, "xprobe: no viewable window titled '%s'\n", argv[0]);
    return 1;
}

int cmdList(int argc, char** argv) {
    if (argc < 1) fail(2, "usage: list <title>");
    for (const Client& c : clientsTitled(argv[0]))
        std::printf("%lu %s\n", c.id, mapStateName(c.mapState));
    return 0;
}

// client_x/_y: the client area's top-left pixel on the root; client_w/_h its
// size; border: the client window's own X border; net_extents: left right
// top bottom from _NET_FRAME_EXTENTS, or "none"; frame: the top-level
// ancestor; outer_x/_y/_w/_h: that ancestor's outer rectangle including its
// X border (the client's own when nothing reparented it).
int cmdGeometry(int argc, char** argv) {
    if (argc < 1) fail(2, "usage: geometry <win>");
    Window w = parseWindow(argv[0]);
    XWindowAttributes a = attributesOf(w);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(dpy, w, root, 0, 0, &x, &y, &child);
    std::printf("client_x=%d\nclient_y=%d\nclient_w=%d\nclient_h=%d\nborder=%d\nmap_state=%s\n", x,
                y, a.width, a.height, a.border_width, mapStateName(a.map_state));
    Atom type;
    int format;
    unsigned long items;
    std::vector<unsigned char> ext = property(w, atom("_NET_FRAME_EXTENTS"), &type, &format, &items);
    if (type == XA_CARDINAL && format == 32 && items == 4) {
        const long* e = reinterpret_cast<const long*>(ext.data());
        std::printf("net_extents=%ld %ld %ld %ld\n", e[0], e[1], e[2], e[3]);
    } else {
        std::printf("net_extents=none\n");
    }
    Window frame = topAncestor(w);
    XWindowAttributes f = attributesOf(frame);
    std::printf("frame=%lu\nouter_x=%d\nouter_y=%d\nouter_w=%d\nouter_h=%d\n", frame, f.x, f.y,
                f.width + 2 * f.border_width, f.height + 2 * f.border_width);
    XWindowAttributes r = attributesOf(root);
    std::printf("screen_w=%d\nscreen_h=%d\n", r.width, r.height);
    return lastXError ? 3 : 0;
}

int cmdTitle(int argc, char** argv) {
    if (argc < 1) fail(2, "usage: title <win>");
    Window w = parseWindow(argv[0]);
    attributesOf(w);
    std::string name;
    if (textProperty(w, XA_WM_NAME, &name)) std::printf("wm_name=%s\n", name.c_str());
    if (textProperty(w, atom("_NET_WM_NAME"), &name)) std::printf("net_wm_name=%s\n", name.c_str());
    return 0;
}

int cmdWmHints(int argc, char** argv) {
    if (argc < 1) fail(2, "usage: wmhints <win>");
    Window w = parseWindow(argv[0]);
    attributesOf(w);
    XSizeHints hints;
    long supplied = 0;
    if (!XGetWMNormalHints(dpy, w, &hints, &supplied)) {
        std::printf("min=none\nmax=none\n");
        return 0;
    }
    if (hints.flags & PMinSize) std::printf("min=%dx%d\n", hints.min_width, hints.min_height);
    else std::printf("min=none\n");
    if (hints.flags & PMaxSize) std::printf("max=%dx%d\n", hints.max_width, hints.max_height);
    else std::printf("max=none\n");
    return 0;
}

int cmdProtocols(int argc, char** argv) {
    if (argc < 1) fail(2, "usage: protocols <win>");
    Window w = parseWindow(argv[0]);
    attributesOf(w);
    Atom* list = nullptr;
    int count = 0;
    if (XGetWMProtocols(dpy, w, &list, &count)) {
        for (int i = 0; i < count; ++i) {
            char* name = XGetAtomName(dpy, list[i]);
            std::printf("%s\n", name ? name : "?");
            if (name) XFree(name);
        }
        XFree(list);
    }
    return 0;
}

// The client area as packed RGB, row by row; fails on an X error.
std::vector<unsigned char> grab(Window w, int* width, int* height) {
    XWindowAttributes a = attributesOf(w);
    lastXError = 0;
    XImage* img = XGetImage(dpy, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    XSync(dpy, False);
    if (!img || lastXError) fail(3, "XGetImage failed (window not viewable or not on screen?)");
    auto shiftOf = [](unsigned long mask) {
        int s = 0;
        while (mask && !(mask & 1)) mask >>= 1, ++s;
        return s;
    };
    auto bitsOf = [](unsigned long mask) {
        int n = 0;
        for (; mask; mask >>= 1) n += mask & 1;
        return n;
    };
    unsigned long masks[3] = {img->red_mask, img->green_mask, img->blue_mask};
    int shifts[3], bits[3];
    for (int c = 0; c < 3; ++c) shifts[c] = shiftOf(masks[c]), bits[c] = bitsOf(masks[c]);
    if (!bits[0] || !bits[1] || !bits[2]) fail(3, "visual without colour masks");
    std::vector<unsigned char> rgb(static_cast<size_t>(a.width) * a.height * 3);
    size_t at = 0;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            unsigned long p = XGetPixel(img, x, y);
            for (int c = 0; c < 3; ++c) {
                unsigned long v = (p & masks[c]) >> shifts[c];
                unsigned long top = (1UL << bits[c]) - 1;
                rgb[at++] = static_cast<unsigned char>((v * 255 + top / 2) / top);
            }
        }
    }
    XDestroyImage(img);
    *width = a.width;
    *height = a.height;
    return rgb;
}

void writePpm(const char* path, int width, int height, const std::vector<unsigned char>& rgb) {
    std::string part = std::string(path) + ".part";
    FILE* out = std::fopen(part.c_str(), "wb");
    if (!out) fail(3, "cannot write the picture");
    std::fprintf(out, "P6\n%d %d\n255\n", width, height);
    bool ok = std::fwrite(rgb.data(), 1, rgb.size(), out) == rgb.size();
    if (std::fclose(out) != 0 || !ok || std::rename(part.c_str(), path) != 0)
        fail(3, "cannot write the picture");
}

int cmdCapture(int argc, char** argv) {
    if (argc < 2) fail(2, "usage: capture <win> <out.ppm>");
    int width = 0, height = 0;
    std::vector<unsigned char> rgb = grab(parseWindow(argv[0]), &width, &height);
    writePpm(argv[1], width, height, rgb);
    return 0;
}

int cmdWatchFirst(int argc, char** argv) {
    if (argc < 2) fail(2, "usage: watch-first <win> <out.ppm> [timeout_ms] [rrggbb]");
    Window w = parseWindow(argv[0]);
    long timeout = argc > 2 ? parseNumber(argv[2], "timeout") : 5000;
    unsigned long bg = 0;
    if (argc > 3) {
        std::string hex = std::string("0x") + argv[3];
        bg = static_cast<unsigned long>(parseNumber(hex.c_str(), "colour"));
    }
    unsigned char want[3] = {static_cast<unsigned char>(bg >> 16),
                             static_cast<unsigned char>(bg >> 8), static_cast<unsigned char>(bg)};
    long start = nowMs();
    for (long polls = 1;; ++polls) {
        int width = 0, height = 0;
        std::vector<unsigned char> rgb = grab(w, &width, &height);
        for (size_t i = 0; i < rgb.size(); i += 3) {
            if (rgb[i] != want[0] || rgb[i + 1] != want[1] || rgb[i + 2] != want[2]) {
                writePpm(argv[1], width, height, rgb);
                std::printf("polls=%ld\nelapsed_ms=%ld\n", polls, nowMs() - start);
                return 0;
            }
        }
        if (nowMs() - start >= timeout) break;
        sleepMs(1);
    }
    std::fprintf(stderr, "xprobe: the client area stayed plain for %ld ms\n", timeout);
    return 1;
}

int cmdClose(int argc, char** argv) {
    if (argc < 1) fail(2, "usage: close <win>");
    Window w = parseWindow(argv[0]);
    attributesOf(w);
    Atom protocols = atom("WM_PROTOCOLS"), del = atom("WM_DELETE_WINDOW");
    Atom* list = nullptr;
    int count = 0;
    bool listed = false;
    if (XGetWMProtocols(dpy, w, &list, &count)) {
        for (int i = 0; i < count; ++i) listed = listed || list[i] == del;
        XFree(list);
    }
    // A window manager kills a client that does not list the protocol instead.
    if (!listed) fail(3, "the window does not list WM_DELETE_WINDOW in WM_PROTOCOLS");
    XEvent e;
    std::memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = protocols;
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(del);
    e.xclient.data.l[1] = CurrentTime;
    lastXError = 0;
    if (!XSendEvent(dpy, w, False, NoEventMask, &e)) fail(3, "XSendEvent failed");
    XSync(dpy, False);
    return lastXError ? 3 : 0;
}

Window focusWindow() {
    Window f = 0;
    int revert = 0;
    XGetInputFocus(dpy, &f, &revert);
    return f;
}

int cmdFocus(int argc, char** argv) {
    if (argc < 1) fail(2, "usage: focus <win>");
    Window w = parseWindow(argv[0]);
    attributesOf(w);
    lastXError = 0;
    XSetInputFocus(dpy, w, RevertToPointerRoot, CurrentTime);
    XSync(dpy, False);
    if (lastXError) fail(3, "XSetInputFocus failed (window not viewable?)");
    if (focusWindow() != w) fail(3, "the focus did not move to the window");
    return 0;
}

int cmdActivate(int argc, char** argv) {
    if (argc < 1) fail(2, "usage: activate <win> [timeout_ms]");
    Window w = parseWindow(argv[0]);
    long timeout = argc > 1 ? parseNumber(argv[1], "timeout") : 2000;
    attributesOf(w);
    XEvent e;
    std::memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = atom("_NET_ACTIVE_WINDOW");
    e.xclient.format = 32;
    e.xclient.data.l[0] = 2;  // source: a pager, which window managers obey
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    XSync(dpy, False);
    long until = nowMs() + timeout;
    while (focusWindow() != w) {
        if (nowMs() >= until) fail(1, "the window manager did not focus the window");
        sleepMs(5);
    }
    return 0;
}

int cmdGetFocus(int, char**) {
    std::printf("%lu\n", focusWindow());
    return 0;
}

int cmdExists(int argc, char** argv) {
    if (argc < 1) fail(2, "usage: exists <win>");
    Window w = parseWindow(argv[0]);
    XWindowAttributes a;
    lastXError = 0;
    bool ok = XGetWindowAttributes(dpy, w, &a) && !lastXError;
    std::printf("exists=%d\n", ok ? 1 : 0);
    if (ok) std::printf("map_state=%s\n", mapStateName(a.map_state));
    return 0;
}

int cmdWmCheck(int argc, char** argv) {
    long timeout = argc > 0 ? parseNumber(argv[0], "timeout") : 0;
    long until = nowMs() + timeout;
    Atom check = atom("_NET_SUPPORTING_WM_CHECK");
    for (;;) {
        Window w = 0, self = 0;
        lastXError = 0;
        if (windowProperty(root, check, &w) && windowProperty(w, check, &self) && self == w &&
            !lastXError) {
            std::string name;
            textProperty(w, atom("_NET_WM_NAME"), &name);
            std::printf("wm=%s\n", name.c_str());
            break;
        }
        if (nowMs() >= until) {
            std::fprintf(stderr, "xprobe: no window manager announced itself\n");
            return 1;
        }
        sleepMs(10);
    }
    // A window manager handles map requests once it reparents a new window;
    // a request it dropped is not repeated, so each try uses a fresh window.
    for (int tries = 1;; ++tries) {
        Window probe = XCreateSimpleWindow(dpy, root, 0, 0, 10, 10, 0, 0, 0);
        XStoreName(dpy, probe, "xprobe wm-check");
        XMapWindow(dpy, probe);
        XSync(dpy, False);
        bool managed = false;
        for (long tryUntil = nowMs() + 300; !managed && nowMs() < tryUntil; sleepMs(5)) {
            Window r, parent, *children = nullptr;
            unsigned int count = 0;
            if (XQueryTree(dpy, probe, &r, &parent, &children, &count)) managed = parent != root;
            if (children) XFree(children);
        }
        XDestroyWindow(dpy, probe);
        XSync(dpy, False);
        if (managed) {
            std::printf("tries=%d\n", tries);
            return 0;
        }
        if (nowMs() >= until) break;
    }
    std::fprintf(stderr, "xprobe: the window manager does not manage new windows\n");
    return 1;
}

int cmdModState(int, char**) {
    XkbStateRec s;
    if (XkbGetState(dpy, XkbUseCoreKbd, &s) != Success) fail(3, "XkbGetState failed");
    unsigned int numMask = XkbKeysymToModifiers(dpy, XK_Num_Lock);
    std::printf("locked_mods=0x%x\nlatched_mods=0x%x\nbase_mods=0x%x\n", s.locked_mods,
                s.latched_mods, s.base_mods);
    std::printf("numlock=%s\n", numMask && (s.locked_mods & numMask) ? "on" : "off");
    return 0;
}

int cmdKeyLog(int argc, char** argv) {
    long seconds = argc > 0 ? parseNumber(argv[0], "seconds") : 5;
    Window w = XCreateSimpleWindow(dpy, root, 0, 0, 200, 100, 0, 0, 0);
    XStoreName(dpy, w, "xprobe keylog");
    XSelectInput(dpy, w, KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask);
    XMapWindow(dpy, w);
    for (;;) {
        XEvent e;
        XNextEvent(dpy, &e);
        if (e.type == MapNotify) break;
    }
    XSetInputFocus(dpy, w, RevertToPointerRoot, CurrentTime);
    XSync(dpy, False);
    std::printf("ready %lu\n", w);
    std::fflush(stdout);
    long until = nowMs() + seconds * 1000;
    int fd = ConnectionNumber(dpy);
    while (nowMs() < until) {
        while (XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            if (e.type != KeyPress && e.type != KeyRelease) continue;
            KeySym sym = XkbKeycodeToKeysym(dpy, static_cast<KeyCode>(e.xkey.keycode), 0, 0);
            char text[8] = {0};
            KeySym typed = 0;
            XLookupString(&e.xkey, text, sizeof text - 1, &typed, nullptr);
            const char* base = XKeysymToString(sym);
            const char* got = XKeysymToString(typed);
            std::printf("%s keycode=%u state=0x%x time=%lu base=%s keysym=%s\n",
                        e.type == KeyPress ? "press" : "release", e.xkey.keycode, e.xkey.state,
                        e.xkey.time, base ? base : "none", got ? got : "none");
            std::fflush(stdout);
        }
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval tv = {0, 20000};
        select(fd + 1, &set, nullptr, nullptr, &tv);
    }
    return 0;
}

struct Command {
    const char* name;
    int (*run)(int, char**);
};

const Command commands[] = {
    {"find", cmdFind},         {"list", cmdList},
    {"geometry", cmdGeometry}, {"title", cmdTitle},
    {"wmhints", cmdWmHints},   {"protocols", cmdProtocols},
    {"capture", cmdCapture},   {"watch-first", cmdWatchFirst},
    {"close", cmdClose},       {"focus", cmdFocus},
    {"activate", cmdActivate}, {"getfocus", cmdGetFocus},
    {"exists", cmdExists},     {"wm-check", cmdWmCheck},
    {"modstate", cmdModState}, {"keylog", cmdKeyLog},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: xprobe <command> [arguments]; commands:");
        for (const Command& c : commands) std::fprintf(stderr, " %s", c.name);
        std::fprintf(stderr, "\n");
        return 2;
    }
    const Command* chosen = nullptr;
    for (const Command& c : commands)
        if (std::strcmp(c.name, argv[1]) == 0) chosen = &c;
    if (!chosen) fail(2, "unknown command");
    dpy = XOpenDisplay(nullptr);
    if (!dpy) fail(3, "cannot open the display named by DISPLAY");
    root = DefaultRootWindow(dpy);
    XSetErrorHandler(recordError);
    int code = chosen->run(argc - 2, argv + 2);
    std::fflush(stdout);
    XCloseDisplay(dpy);
    return code;
}
