// The keyboard's edges against a private Xvfb: SDL's key state renumbered to
// set-1 codes, and characters from the server's own keymap and live
// modifiers through xkbcommon-x11. Keys are pressed with xdotool; layouts are
// changed with setxkbmap.
#include <gtest/gtest.h>

#include <SDL.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/keyboard.h"
#include "launcher/keymap_xkb.h"

extern char** environ;

namespace {

SDL_Window* testWindow = nullptr;

}  // namespace

SDL_Window* sdlLoaderWindow() { return testWindow; }

namespace {

bool onPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

// Runs a program to its end with the test's environment; its exit status.
int run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A private X server on a display number it picks itself among the free ones.
struct PrivateServer {
    pid_t pid = -1;
    std::string display;
    std::string savedDisplay;
    bool hadDisplay = false;

    bool start() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // The write end goes to the server as descriptor 3, without close-on-exec.
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>("Xvfb"), const_cast<char*>("-displayfd"), const_cast<char*>("3"),
                        const_cast<char*>("-screen"), const_cast<char*>("0"), const_cast<char*>("1024x768x24"),
                        const_cast<char*>("-nolisten"), const_cast<char*>("tcp"),
                        // Without it the server resets whenever its last client leaves.
                        const_cast<char*>("-noreset"), nullptr};
        const int spawned = posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (spawned != 0) {
            pid = -1;
            close(fds[0]);
            return false;
        }
        // The server writes its display number once it accepts connections.
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
        close(fds[0]);
        if (number.empty()) return false;
        display = ":" + number;

        if (const char* old = std::getenv("DISPLAY")) {
            hadDisplay = true;
            savedDisplay = old;
        }
        setenv("DISPLAY", display.c_str(), 1);
        return true;
    }

    void stop() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
        if (hadDisplay)
            setenv("DISPLAY", savedDisplay.c_str(), 1);
        else
            unsetenv("DISPLAY");
    }
};

PrivateServer server;
bool serverUp = false;

class KeyboardX11 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (onPath("Xvfb")) serverUp = server.start();
    }
    static void TearDownTestSuite() {
        if (serverUp) server.stop();
        serverUp = false;
    }
    void SetUp() override {
        if (!onPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(serverUp) << "the private X server did not start";
        ASSERT_TRUE(onPath("xdotool") && onPath("setxkbmap")) << "xdotool and setxkbmap come with the X tools";
        ASSERT_EQ(run({"setxkbmap", "-display", server.display, "us"}), 0);
        releaseXkb();
    }
    void TearDown() override {
        releaseXkb();
        if (serverUp) {
            run({"xdotool", "keyup", "shift", "1", "ampersand"});
        }
    }
};

// ---- the server's keymap and live modifiers ---------------------------------

TEST_F(KeyboardX11, TranslatesWithTheServersKeymapAndLiveShift) {
    ASSERT_TRUE(beginXkbTranslation());
    EXPECT_EQ(translateXkb(0x02), '1');
    EXPECT_EQ(translateXkb(0x1E), 'a');

    ASSERT_EQ(run({"xdotool", "keydown", "shift"}), 0);
    EXPECT_EQ(translateXkb(0x02), '1') << "the state is the one taken when the translation began";
    ASSERT_TRUE(beginXkbTranslation());
    EXPECT_EQ(translateXkb(0x02), '!');
    ASSERT_EQ(run({"xdotool", "keyup", "shift"}), 0);

    ASSERT_TRUE(beginXkbTranslation());
    EXPECT_EQ(translateXkb(0x02), '1');
}

TEST_F(KeyboardX11, LiveCapsLock) {
    ASSERT_EQ(run({"xdotool", "key", "Caps_Lock"}), 0);
    ASSERT_TRUE(beginXkbTranslation());
    const int withCaps = translateXkb(0x1E);
    ASSERT_EQ(run({"xdotool", "key", "Caps_Lock"}), 0);
    EXPECT_EQ(withCaps, 'A');
    ASSERT_TRUE(beginXkbTranslation());
    EXPECT_EQ(translateXkb(0x1E), 'a');
}

TEST_F(KeyboardX11, KeepsItsKeymapUntilTheLayoutChangeIsReported) {
    ASSERT_TRUE(beginXkbTranslation());
    EXPECT_EQ(translateXkb(0x02), '1');

    ASSERT_EQ(run({"setxkbmap", "-display", server.display, "fr"}), 0);
    ASSERT_TRUE(beginXkbTranslation());
    EXPECT_EQ(translateXkb(0x02), '1') << "the keymap is not fetched again on every translation";

    xkbLayoutChanged();
    ASSERT_TRUE(beginXkbTranslation());
    EXPECT_EQ(translateXkb(0x02), '&');
    EXPECT_EQ(translateXkb(0x10), 'a');
}

TEST_F(KeyboardX11, NoServerMeansNoXkb) {
    unsetenv("DISPLAY");
    EXPECT_FALSE(beginXkbTranslation());
    EXPECT_EQ(translateXkb(0x02), 0);
    releaseXkb();
    setenv("DISPLAY", server.display.c_str(), 1);
    EXPECT_TRUE(beginXkbTranslation()) << "a released link connects anew";
}

// ---- the whole reader: SDL's key state and the server's layout -----------------

class ReaderX11 : public KeyboardX11 {
protected:
    void SetUp() override {
        KeyboardX11::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
        // SDL's video start asks for the session bus; with no address set,
        // libdbus tries to launch one and keeps its read buffer for good.
        // The test has no business with any bus: point it at none.
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        savedBus = bus ? bus : "";
        hadBus = bus != nullptr;
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        testWindow = SDL_CreateWindow("keyboard", 0, 0, 64, 64, SDL_WINDOW_SHOWN);
        ASSERT_NE(testWindow, nullptr) << SDL_GetError();
        // No window manager: give the window the input focus ourselves.
        for (int i = 0; i < 2000 && SDL_GetKeyboardFocus() != testWindow; ++i) {
            SDL_SetWindowInputFocus(testWindow);
            SDL_PumpEvents();
            SDL_Delay(1);
        }
        ASSERT_EQ(SDL_GetKeyboardFocus(), testWindow);
        setKeyboardBackend(nullptr);
        ASSERT_TRUE(initKeyboard());
    }
    void TearDown() override {
        releaseKeyboard();
        if (testWindow) SDL_DestroyWindow(testWindow);
        testWindow = nullptr;
        SDL_Quit();
        if (hadBus)
            setenv("DBUS_SESSION_BUS_ADDRESS", savedBus.c_str(), 1);
        else
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        KeyboardX11::TearDown();
    }

    std::string savedBus;
    bool hadBus = false;

    // Pumps SDL's events until the snapshot shows `keyCode` as wanted; false
    // when it never does.
    static bool settle(int keyCode, bool down) {
        for (int i = 0; i < 2000; ++i) {
            SDL_PumpEvents();
            if (snapshotKeyboard() && isKeyDown(keyCode) == down) return true;
            SDL_Delay(1);
        }
        return false;
    }
};

// Keys are pressed by X key code (evdev code + 8), that is by position:
// xdotool given a modifier's name would press the modifier's first key too.
// A one-digit number is a digit's name to xdotool, so Escape (9) goes by name.
TEST_F(ReaderX11, KeysArriveUnderTheirSetOneCodes) {
    const struct {
        const char* name;
        int xKeycode;
        int keyCode;
    } keys[] = {
        {"Escape", 9, 0x01},      {"1", 10, 0x02},          {"0", 19, 0x0B},          {"BackSpace", 22, 0x0E},
        {"Tab", 23, 0x0F},        {"Return", 36, 0x1C},     {"Control_L", 37, 0x1D},  {"a", 38, 0x1E},
        {"grave", 49, 0x29},      {"Shift_L", 50, 0x2A},    {"backslash", 51, 0x2B},  {"Shift_R", 62, 0x36},
        {"KP_Multiply", 63, 0x37}, {"Alt_L", 64, 0x38},     {"space", 65, 0x39},      {"F1", 67, 0x3B},
        {"Scroll_Lock", 78, 0x46}, {"KP_7", 79, 0x47},      {"KP_Subtract", 82, 0x4A}, {"KP_Add", 86, 0x4E},
        {"KP_1", 87, 0x4F},       {"KP_0", 90, 0x52},       {"KP_Decimal", 91, 0x53}, {"less", 94, 0x56},
        {"F12", 96, 0x58},        {"KP_Enter", 104, 0x9C},  {"Control_R", 105, 0x9D}, {"KP_Divide", 106, 0xB5},
        {"Print", 107, 0xB7},     {"Alt_R", 108, 0xB8},     {"Home", 110, 0xC7},      {"Up", 111, 0xC8},
        {"Prior", 112, 0xC9},     {"Left", 113, 0xCB},      {"Right", 114, 0xCD},     {"End", 115, 0xCF},
        {"Down", 116, 0xD0},      {"Next", 117, 0xD1},      {"Insert", 118, 0xD2},    {"Delete", 119, 0xD3},
        {"Pause", 127, 0xC5},     {"Super_L", 133, 0xDB},   {"Super_R", 134, 0xDC},   {"Menu", 135, 0xDD},
    };
    for (const auto& k : keys) {
        const std::string keycode = k.xKeycode < 10 ? k.name : std::to_string(k.xKeycode);
        ASSERT_EQ(run({"xdotool", "keydown", keycode}), 0);
        EXPECT_TRUE(settle(k.keyCode, true)) << k.name;
        std::string down;
        for (int code = 0; code < 256; ++code)
            if (isKeyDown(code)) down += " " + std::to_string(code);
        EXPECT_EQ(down, " " + std::to_string(k.keyCode)) << k.name << " shows as exactly its own key";
        ASSERT_EQ(run({"xdotool", "keyup", keycode}), 0);
        EXPECT_TRUE(settle(k.keyCode, false)) << k.name;
        releasedKeys();
    }
}

TEST_F(ReaderX11, ReleasedTopRowKeysThroughTheServersLayout) {
    ASSERT_TRUE(settle(0x02, false));
    EXPECT_EQ(releasedKeys(), "");

    ASSERT_EQ(run({"xdotool", "keydown", "1"}), 0);
    ASSERT_TRUE(settle(0x02, true));
    EXPECT_EQ(releasedKeys(), "");
    ASSERT_EQ(run({"xdotool", "keyup", "1"}), 0);
    ASSERT_TRUE(settle(0x02, false));
    EXPECT_EQ(releasedKeys(), "1");

    ASSERT_EQ(run({"xdotool", "keydown", "shift", "keydown", "1"}), 0);
    ASSERT_TRUE(settle(0x02, true));
    EXPECT_EQ(releasedKeys(), "");
    ASSERT_EQ(run({"xdotool", "keyup", "1"}), 0);
    ASSERT_TRUE(settle(0x02, false));
    EXPECT_EQ(releasedKeys(), "!");
    ASSERT_EQ(run({"xdotool", "keyup", "shift"}), 0);
    ASSERT_TRUE(settle(0x2A, false));
    EXPECT_EQ(releasedKeys(), "") << "Shift alone types nothing";
}

TEST_F(ReaderX11, FrenchLayoutAfterTheChangeIsReported) {
    ASSERT_EQ(run({"setxkbmap", "-display", server.display, "fr"}), 0);
    keyboardLayoutChanged();

    ASSERT_EQ(run({"xdotool", "keydown", "ampersand"}), 0);
    ASSERT_TRUE(settle(0x02, true)) << "the French & sits on the top-row 1 position";
    releasedKeys();
    ASSERT_EQ(run({"xdotool", "keyup", "ampersand"}), 0);
    ASSERT_TRUE(settle(0x02, false));
    EXPECT_EQ(releasedKeys(), "&");

    ASSERT_EQ(run({"xdotool", "keydown", "shift", "keydown", "ampersand"}), 0);
    ASSERT_TRUE(settle(0x02, true));
    releasedKeys();
    ASSERT_EQ(run({"xdotool", "keyup", "ampersand"}), 0);
    ASSERT_TRUE(settle(0x02, false));
    EXPECT_EQ(releasedKeys(), "1");
    ASSERT_EQ(run({"xdotool", "keyup", "shift"}), 0);
}

TEST_F(ReaderX11, NoFocusNoSnapshot) {
    SDL_Window* other = SDL_CreateWindow("other", 100, 0, 64, 64, SDL_WINDOW_SHOWN);
    ASSERT_NE(other, nullptr);
    for (int i = 0; i < 2000 && SDL_GetKeyboardFocus() != other; ++i) {
        SDL_SetWindowInputFocus(other);
        SDL_PumpEvents();
        SDL_Delay(1);
    }
    ASSERT_EQ(SDL_GetKeyboardFocus(), other);
    EXPECT_FALSE(snapshotKeyboard());
    EXPECT_EQ(keyboardAttachment(), KeyboardAttachment::Created);
    SDL_DestroyWindow(other);
}

}  // namespace
