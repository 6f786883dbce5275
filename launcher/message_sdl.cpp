// The message box edge: SDL's own X11 box (or zenity, which SDL tries).
#include <SDL.h>

#include <cstdio>

#include "launcher/display/sdl_window.h"
#include "launcher/message.h"

void showMessage(const char* caption, const char* text) {
    SDL_Window* owner = sdlLoaderWindow();
    if (owner && SDL_GetKeyboardFocus() != owner) owner = nullptr;
    // Flags 0: no icon.
    if (SDL_ShowSimpleMessageBox(0, caption, text, owner) == 0) return;
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
}
