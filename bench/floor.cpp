// The floors of the whole-program figures: the least an SDL program on X11
// does for each of them, with the launcher's settings (the X11 driver, no
// framebuffer acceleration, drawing into the window surface) and its pacing
// (waits of 1 ms for window events).
//
//   quorbel_floor picture        a 640 x 480 window showing one picture (drawn
//                                into the window surface at once and again on
//                                every repaint request), then 1 ms waits
//   quorbel_floor idle           a 640 x 480 window, nothing drawn, 1 ms waits
//   quorbel_floor band           as picture, and after every wait that brought
//                                nothing the bottom 640 x 20 rows are shown
//                                again (SDL_UpdateWindowSurfaceRects), as the
//                                ticker does at least once per pass
//   quorbel_floor key <program>  as picture; when the top-row 2 is released,
//                                starts <program> in a session of its own and
//                                ends at once
//
// Without arguments the mode (and program) come from QUORBEL_FLOOR, as in
// "key /path/to/program", for starters that pass no arguments. The window's
// title is "Quorbel floor". It ends on a close request, or when killed.
#include <SDL.h>
#include <spawn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace {

constexpr int kWidth = 640, kHeight = 480;

// A picture that no earlier state of the window can look like.
void drawPicture(SDL_Window* window) {
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    if (!surface || surface->format->BytesPerPixel != 4) return;
    for (int y = 0; y < surface->h; ++y) {
        Uint32* row = reinterpret_cast<Uint32*>(static_cast<Uint8*>(surface->pixels) + y * surface->pitch);
        for (int x = 0; x < surface->w; ++x)
            row[x] = SDL_MapRGB(surface->format, static_cast<Uint8>(x), static_cast<Uint8>(y),
                                static_cast<Uint8>(x ^ y));
    }
    SDL_UpdateWindowSurface(window);
}

bool startProgram(const char* program) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    char* argv[] = {const_cast<char*>(program), nullptr};
    pid_t pid;
    const int error = posix_spawnp(&pid, program, nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) std::fprintf(stderr, "quorbel_floor: cannot start %s: %s\n", program, std::strerror(error));
    return error == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string fromEnvironment[2];
    if (argc < 2) {
        const char* floor = std::getenv("QUORBEL_FLOOR");
        const std::string text = floor ? floor : "";
        const size_t space = text.find(' ');
        fromEnvironment[0] = text.substr(0, space);
        if (space != std::string::npos) fromEnvironment[1] = text.substr(space + 1);
    }
    const char* mode = argc > 1 ? argv[1] : fromEnvironment[0].c_str();
    const char* given = nullptr;
    if (argc > 2)
        given = argv[2];
    else if (argc < 2 && !fromEnvironment[1].empty())
        given = fromEnvironment[1].c_str();
    const bool band = std::strcmp(mode, "band") == 0;
    const bool picture = std::strcmp(mode, "picture") == 0 || std::strcmp(mode, "key") == 0 || band;
    const char* program = std::strcmp(mode, "key") == 0 ? given : nullptr;
    if (!picture && std::strcmp(mode, "idle") != 0) {
        std::fprintf(stderr, "usage: quorbel_floor picture | idle | band | key <program>\n");
        return 2;
    }
    if (std::strcmp(mode, "key") == 0 && !program) return 2;

    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
    SDL_Window* window = SDL_CreateWindow("Quorbel floor", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          kWidth, kHeight, SDL_WINDOW_SHOWN);
    if (!window) return 1;
    if (picture) drawPicture(window);

    for (;;) {
        SDL_Event e;
        if (!SDL_WaitEventTimeout(&e, 1)) {
            if (band) {
                const SDL_Rect rect{0, kHeight - 20, kWidth, 20};
                SDL_UpdateWindowSurfaceRects(window, &rect, 1);
            }
            continue;
        }
        if (e.type == SDL_QUIT) break;
        if (picture && e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED)
            drawPicture(window);
        if (program && e.type == SDL_KEYUP && e.key.keysym.sym == SDLK_2) {
            // Ends at once, as the launcher's own end does not count here:
            // tearing SDL down races with its wake-up event to the window
            // just destroyed, and Xlib would end the program with 1.
            std::_Exit(startProgram(program) ? 0 : 1);
        }
    }
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
