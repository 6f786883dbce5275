/* xwatch: the X side of the whole-program benchmarks, on the display named by
 * DISPLAY. Times are CLOCK_MONOTONIC, printed as "key=value" lines.
 *
 *   xwatch title <title> <ref.ppm> <rows> <timeout_ms> <program> [args...]
 *       Starts <program> (in a session of its own, bound to xwatch's life)
 *       and waits until the top-level window titled <title> shows the first
 *       <rows> rows of ref.ppm exactly. The window is found through the root
 *       window's CreateNotify events and its property changes; its pixels are
 *       read only when the DAMAGE extension reports that they changed, so the
 *       watching costs the X server nothing while the program starts. Prints
 *       exec_ns (read in the child just before execvp), window_ns (the window
 *       carries the title), title_ns (the damage event after which the pixels
 *       matched), grabs= (pixel reads), then kills the program's session.
 *       Exit 1: no complete picture before the timeout (the program is killed
 *       all the same).
 *
 *   xwatch band <window> <y> <rows> <count> <interval_ms> <out>
 *       Reads rows y .. y + rows - 1 of the window's client area <count> times,
 *       <interval_ms> apart, into <out>: for each read a line "sample <ns>\n"
 *       (the clock between the request and its answer, halfway) and then
 *       width * rows * 3 bytes of RGB. Prints width=.
 *
 *   xwatch keyup <window> <timeout_ms>
 *       Listens to the key releases that reach <window> (X delivers them to
 *       every client that asks). First measures the server's clock against
 *       CLOCK_MONOTONIC (probe_before_ns, probe_server_ms, probe_after_ns:
 *       the server time of a property change made between the two readings),
 *       then prints "ready", and for the first release: key_time_ms (the
 *       event's server time), keycode=, seen_ns (when xwatch read it).
 *
 * Exit codes: 0 success, 1 timeout, 2 usage, 3 X error or refusal. */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static Display* dpy;
static Window root;
static int lastXError;

static int recordError(Display* d, XErrorEvent* e) {
    (void)d;
    lastXError = e->error_code;
    return 0;
}

static void fail(int code, const char* what) {
    fprintf(stderr, "xwatch: %s\n", what);
    exit(code);
}

static int64_t nowNs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static void openDisplay(void) {
    dpy = XOpenDisplay(NULL);
    if (!dpy) fail(3, "cannot open the display");
    root = DefaultRootWindow(dpy);
    XSetErrorHandler(recordError);
}

/* Waits up to timeoutNs for the X connection to have something to read. */
static void waitForX(int64_t timeoutNs) {
    if (XPending(dpy)) return;
    struct pollfd p = {ConnectionNumber(dpy), POLLIN, 0};
    int ms = (int)((timeoutNs + 999999) / 1000000);
    poll(&p, 1, ms < 0 ? 0 : ms);
}

/* ---- title ---------------------------------------------------------------- */

struct Reference {
    int width, height;
    unsigned char* rgb;
};

static struct Reference readPpm(const char* path) {
    struct Reference r = {0, 0, NULL};
    FILE* f = fopen(path, "rb");
    if (!f) fail(2, "cannot read the reference picture");
    int maxval = 0;
    if (fscanf(f, "P6 %d %d %d", &r.width, &r.height, &maxval) != 3 || maxval != 255 || fgetc(f) == EOF)
        fail(2, "the reference is not a binary 8-bit PPM");
    size_t size = (size_t)r.width * r.height * 3;
    r.rgb = malloc(size);
    if (!r.rgb || fread(r.rgb, 1, size, f) != size) fail(2, "the reference picture is short");
    fclose(f);
    return r;
}

static int hasTitle(Window w, const char* title) {
    int found = 0;
    lastXError = 0;
    char* name = NULL;
    if (XFetchName(dpy, w, &name) && name) {
        found = strcmp(name, title) == 0;
        XFree(name);
    }
    if (!found) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = NULL;
        if (XGetWindowProperty(dpy, w, XInternAtom(dpy, "_NET_WM_NAME", False), 0, 1024, False,
                               XInternAtom(dpy, "UTF8_STRING", False), &type, &format, &count, &after,
                               &data) == Success && data) {
            found = format == 8 && count == strlen(title) && memcmp(data, title, count) == 0;
            XFree(data);
        }
    }
    return found && !lastXError;
}

/* True when the window's first `rows` rows equal the reference's. */
static int showsReference(Window w, const struct Reference* ref, int rows) {
    lastXError = 0;
    XImage* image = XGetImage(dpy, w, 0, 0, (unsigned)ref->width, (unsigned)rows, AllPlanes, ZPixmap);
    XSync(dpy, False);
    if (!image || lastXError) {
        if (image) XDestroyImage(image);
        return 0;
    }
    int same = 1;
    for (int y = 0; y < rows && same; ++y) {
        const unsigned char* want = ref->rgb + (size_t)y * ref->width * 3;
        for (int x = 0; x < ref->width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            if ((unsigned char)(p >> 16) != want[3 * x] || (unsigned char)(p >> 8) != want[3 * x + 1] ||
                (unsigned char)p != want[3 * x + 2]) {
                same = 0;
                break;
            }
        }
    }
    XDestroyImage(image);
    return same;
}

static pid_t startProgram(char** argv, int64_t* execNs) {
    int fds[2];
    if (pipe(fds) != 0) fail(3, "pipe failed");
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) fail(3, "fork failed");
    if (pid == 0) {
        close(fds[0]);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(126);
        setsid();
        int64_t t = nowNs();
        if (write(fds[1], &t, sizeof t) != (ssize_t)sizeof t) _exit(126);
        close(fds[1]);
        execvp(argv[0], argv);
        _exit(127);
    }
    close(fds[1]);
    ssize_t n;
    while ((n = read(fds[0], execNs, sizeof *execNs)) < 0 && errno == EINTR) {
    }
    close(fds[0]);
    if (n != (ssize_t)sizeof *execNs) fail(3, "the program was not started");
    return pid;
}

static void endProgram(pid_t pid) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    while (waitpid(pid, NULL, 0) < 0 && errno == EINTR) {
    }
}

static int cmdTitle(int argc, char** argv) {
    if (argc < 5) fail(2, "usage: title <title> <ref.ppm> <rows> <timeout_ms> <program> [args...]");
    const char* title = argv[0];
    struct Reference ref = readPpm(argv[1]);
    int rows = atoi(argv[2]);
    int64_t timeoutNs = (int64_t)atol(argv[3]) * 1000000;
    if (rows <= 0 || rows > ref.height) fail(2, "rows out of range");

    openDisplay();
    int damageEvent, damageError;
    if (!XDamageQueryExtension(dpy, &damageEvent, &damageError)) fail(3, "no DAMAGE extension");
    XSelectInput(dpy, root, SubstructureNotifyMask);
    XSync(dpy, False);

    int64_t execNs = 0;
    pid_t pid = startProgram(argv + 4, &execNs);
    const int64_t deadline = execNs + timeoutNs;

    Window target = 0;
    Damage damage = 0;
    int64_t windowNs = 0, titleNs = 0;
    long grabs = 0;
    while (!titleNs && nowNs() < deadline) {
        waitForX(deadline - nowNs());
        while (!titleNs && XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            const int64_t at = nowNs();
            Window candidate = 0;
            if (e.type == CreateNotify && !target) {
                /* Listen to its property changes first, then look: a title set
                 * in between is seen either way. */
                lastXError = 0;
                XSelectInput(dpy, e.xcreatewindow.window, PropertyChangeMask);
                XSync(dpy, False);
                if (!lastXError) candidate = e.xcreatewindow.window;
            } else if (e.type == PropertyNotify && !target &&
                       (e.xproperty.atom == XA_WM_NAME ||
                        e.xproperty.atom == XInternAtom(dpy, "_NET_WM_NAME", False))) {
                candidate = e.xproperty.window;
            } else if (e.type == damageEvent + XDamageNotify && target) {
                XDamageSubtract(dpy, damage, None, None);
                ++grabs;
                if (showsReference(target, &ref, rows)) titleNs = at;
            }
            if (candidate && hasTitle(candidate, title)) {
                target = candidate;
                windowNs = at;
                damage = XDamageCreate(dpy, target, XDamageReportNonEmpty);
                XSync(dpy, False);
                /* What it drew before the damage object existed. */
                ++grabs;
                if (showsReference(target, &ref, rows)) titleNs = nowNs();
            }
        }
    }
    endProgram(pid);
    printf("exec_ns=%lld\nwindow_ns=%lld\ntitle_ns=%lld\ngrabs=%ld\n", (long long)execNs,
           (long long)windowNs, (long long)titleNs, grabs);
    if (!titleNs) {
        fprintf(stderr, "xwatch: %s within the timeout\n",
                target ? "the window never showed the reference" : "no window with that title");
        return 1;
    }
    return 0;
}

/* ---- band ------------------------------------------------------------------ */

static void sleepUntil(int64_t ns) {
    struct timespec t = {(time_t)(ns / 1000000000LL), (long)(ns % 1000000000LL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, NULL) == EINTR) {
    }
}

static int cmdBand(int argc, char** argv) {
    if (argc < 6) fail(2, "usage: band <window> <y> <rows> <count> <interval_ms> <out>");
    Window w = (Window)strtoul(argv[0], NULL, 0);
    int y = atoi(argv[1]), rows = atoi(argv[2]), count = atoi(argv[3]);
    int64_t interval = (int64_t)atol(argv[4]) * 1000000;
    if (rows <= 0 || count <= 0 || interval < 0) fail(2, "band: bad numbers");
    openDisplay();
    XWindowAttributes attributes;
    lastXError = 0;
    if (!XGetWindowAttributes(dpy, w, &attributes) || lastXError) fail(3, "no such window");
    const int width = attributes.width;
    FILE* out = fopen(argv[5], "wb");
    if (!out) fail(3, "cannot write the samples");
    unsigned char* rgb = malloc((size_t)width * rows * 3);
    if (!rgb) fail(3, "out of memory");
    const int64_t start = nowNs();
    for (int i = 0; i < count; ++i) {
        sleepUntil(start + i * interval);
        int64_t before = nowNs();
        lastXError = 0;
        XImage* image = XGetImage(dpy, w, 0, y, (unsigned)width, (unsigned)rows, AllPlanes, ZPixmap);
        int64_t after = nowNs();
        if (!image || lastXError) fail(3, "cannot read the window's pixels");
        for (int r = 0; r < rows; ++r)
            for (int x = 0; x < width; ++x) {
                unsigned long p = XGetPixel(image, x, r);
                unsigned char* o = rgb + ((size_t)r * width + x) * 3;
                o[0] = (unsigned char)(p >> 16);
                o[1] = (unsigned char)(p >> 8);
                o[2] = (unsigned char)p;
            }
        XDestroyImage(image);
        fprintf(out, "sample %lld\n", (long long)(before + (after - before) / 2));
        fwrite(rgb, 1, (size_t)width * rows * 3, out);
    }
    if (fclose(out) != 0) fail(3, "cannot write the samples");
    printf("width=%d\n", width);
    return 0;
}

/* ---- keyup ----------------------------------------------------------------- */

/* The server's time of a property change on a window of our own, with the
 * monotonic clock read just before and just after. */
static void probeServerClock(void) {
    Window own = XCreateSimpleWindow(dpy, root, 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(dpy, own, PropertyChangeMask);
    Atom atom = XInternAtom(dpy, "QUORBEL_BENCH_PROBE", False);
    XSync(dpy, False);
    int64_t before = nowNs();
    XChangeProperty(dpy, own, atom, XA_STRING, 8, PropModeReplace, (const unsigned char*)"x", 1);
    XEvent e;
    XWindowEvent(dpy, own, PropertyChangeMask, &e);
    int64_t after = nowNs();
    printf("probe_before_ns=%lld\nprobe_server_ms=%lu\nprobe_after_ns=%lld\n", (long long)before,
           (unsigned long)e.xproperty.time, (long long)after);
    XDestroyWindow(dpy, own);
}

static int cmdKeyup(int argc, char** argv) {
    if (argc < 2) fail(2, "usage: keyup <window> <timeout_ms>");
    Window w = (Window)strtoul(argv[0], NULL, 0);
    int64_t deadline = nowNs() + (int64_t)atol(argv[1]) * 1000000;
    openDisplay();
    probeServerClock();
    lastXError = 0;
    XSelectInput(dpy, w, KeyReleaseMask);
    XSync(dpy, False);
    if (lastXError) fail(3, "cannot listen to the window's key releases");
    printf("ready\n");
    fflush(stdout);
    while (nowNs() < deadline) {
        waitForX(deadline - nowNs());
        while (XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            if (e.type != KeyRelease) continue;
            int64_t seen = nowNs();
            printf("key_time_ms=%lu\nkeycode=%u\nseen_ns=%lld\n", (unsigned long)e.xkey.time, e.xkey.keycode,
                   (long long)seen);
            return 0;
        }
    }
    fprintf(stderr, "xwatch: no key release within the timeout\n");
    return 1;
}

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "title") == 0) return cmdTitle(argc - 2, argv + 2);
    if (argc >= 2 && strcmp(argv[1], "band") == 0) return cmdBand(argc - 2, argv + 2);
    if (argc >= 2 && strcmp(argv[1], "keyup") == 0) return cmdKeyup(argc - 2, argv + 2);
    fprintf(stderr, "usage: xwatch title ... | band ... | keyup ...\n");
    return 2;
}
