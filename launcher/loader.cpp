#include "launcher/loader.h"

#include <cstdlib>

#include "launcher/assets/embedded.h"
#include "launcher/assets/fonts.h"
#include "launcher/assets/icon.h"
#include "launcher/assets/images.h"
#include "launcher/children/children.h"
#include "launcher/display/display.h"
#include "launcher/events.h"
#include "launcher/keyboard.h"
#include "launcher/loader_state.h"
#include "launcher/message.h"
#include "launcher/title/ticker.h"
#include "launcher/title/title.h"

namespace {

constexpr int kClientWidth = 640;   // pixels
constexpr int kClientHeight = 480;  // pixels
constexpr int kDrainWaitMs = 1;     // each wait of the event drain; the loop's only pacing

Image* windowIcon = nullptr;  // lives as long as the window

// The two failure ends after the tune player has started stop it too, so that
// no tune plays on once the launcher is gone.
bool endStartUp() {
    stopProgram(loader.player);
    return false;
}

void startEmulator(const char* arguments) {
    stopProgram(loader.player);
    loader.emulatorArguments = arguments;
    startProgram(kEmulatorFile, loader.emulatorArguments.c_str());
}

}  // namespace

bool startUp() {
    clearLoaderState();

    // The keyboard is only tried once the screen facility works.
    if (!initScreenFacility() || !initKeyboard()) {
        showMessage(kErrorCaption, kNoScreenText);
        return false;
    }

    // Steps whose results nothing depends on: a missing picture or font only
    // means less is drawn.
    registerPngDecoder();
    registerJpegDecoder();
    const EmbeddedBlock face = embeddedFace();
    registerFontData(face.data, face.length);
    const EmbeddedBlock backdrop = embeddedBackdrop();
    decodeImage(BackdropImageNumber, backdrop.data, backdrop.length);
    const EmbeddedBlock overlay = embeddedOverlay();
    decodeImage(OverlayImageNumber, overlay.data, overlay.length);
    openFont(TickerFontNumber, "cbm", 12);
    openFont(MenuFontNumber, "cbm", 9);
    prepareTicker();

    loader.playerArguments = kPlayerArguments;
    loader.player = reinterpret_cast<ChildProgram*>(
        startProgram(kPlayerFile, loader.playerArguments.c_str(), "", Hidden | KeepHandle));

    const EmbeddedBlock icon = embeddedIcon();
    windowIcon = decodeIcon(icon.data, icon.length);
    setLoaderWindowIcon(windowIcon);
    const uintptr_t window = createLoaderWindow(kClientWidth, kClientHeight, kWindowTitle);
    if (!window) return endStartUp();
    if (!createScreen(window, 0, 0, kClientWidth, kClientHeight, true, 0, 0, true)) {
        showMessage(kErrorCaption, kScreenFailedText);
        return endStartUp();
    }

    composeTitle();
    return true;
}

PassOutcome mainLoopPass() {
    snapshotKeyboard();
    loader.keyString = releasedKeys();

    // The key decision comes first: a released 1 or 2 starts the game even
    // with Escape held or a close request queued.
    if (loader.keyString == "1") {
        startEmulator(kFullScreenArguments);
        return PassOutcome::End;
    }
    if (loader.keyString == "2") {
        startEmulator(kWindowedArguments);
        return PassOutcome::End;
    }

    // Drain the window's events until a wait brings nothing. Escape is judged
    // on this pass's snapshot, after every wait.
    do {
        loader.lastEvent = waitForEvent(kDrainWaitMs);
        if (loader.lastEvent == CloseRequested || isKeyDown(KeyEscape)) {
            stopProgram(loader.player);
            return PassOutcome::End;
        }
    } while (loader.lastEvent != NothingArrived);

    tickerStep();
    return PassOutcome::Continue;
}

void releaseProgram() {
    releaseKeyboard();
    destroyScreen();
    destroyLoaderWindow();
    clearWindowEvents();
    setLoaderWindowIcon(nullptr);
    destroyImage(windowIcon);
    windowIcon = nullptr;
    deleteAllFonts();
    deleteAllImages();
    releaseScreenFacility();
}

void endProgram() {
    // Started programs are left alone: the emulator runs on by design.
    releaseProgram();
    std::exit(0);
}

void runLauncher() {
    if (!startUp()) endProgram();
    while (mainLoopPass() == PassOutcome::Continue) {
    }
    endProgram();
}
