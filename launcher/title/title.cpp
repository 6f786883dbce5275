#include "launcher/title/title.h"

#include "launcher/assets/fonts.h"
#include "launcher/assets/images.h"
#include "launcher/display/draw.h"

namespace {
constexpr Colour kHeading = rgb(108, 94, 180);  // light violet-blue
constexpr Colour kChoice = rgb(183, 198, 111);  // pale yellow-green
constexpr Colour kDetail = rgb(112, 164, 177);  // greyish cyan
constexpr Colour kWhite = rgb(255, 255, 255);
constexpr int kOverlayOpacity = 100;
}  // namespace

const MenuLine kMenuLines[7] = {
    {"START THE GAME IN:", 225, 252, kHeading},
    {"FULLSCREEN PRESS >1<", 213, 280, kChoice},
    {"DESKTOPSCREEN PRESS >2<", 195, 295, kDetail},
    {"KEYS IN THE GAME:", 231, 340, kHeading},
    {"FULL- OR DESKTOPSCREEN PRESS ALT-D", 121, 365, kChoice},
    {"EXIT ON GAME PRESS ALT-X", 187, 380, kDetail},
    {"USE JOYPAD OR JOYSTICK", 195, 410, kWhite},
};

void composeTitle() {
    beginSession(screenTarget());
    pasteImage(imageByNumber(BackdropImageNumber), 0, 0);
    endSession();

    beginSession(screenTarget());
    setTextBackground(TextBackground::Transparent);
    selectFont(fontByNumber(MenuFontNumber));
    for (const MenuLine& line : kMenuLines) {
        setTextColour(line.colour);
        putText(line.x, line.y, line.text);
    }
    endSession();

    beginSession(screenTarget());
    blendImage(imageByNumber(OverlayImageNumber), 0, 0, kOverlayOpacity);
    endSession();
}
