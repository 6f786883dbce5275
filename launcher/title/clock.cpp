#include "launcher/title/clock.h"

#include <SDL.h>

namespace {

uint64_t sdlCounter() { return SDL_GetPerformanceCounter(); }
uint64_t sdlFrequency() { return SDL_GetPerformanceFrequency(); }
uint32_t sdlTicks() { return SDL_GetTicks(); }

const ClockSource kSdlClock{sdlCounter, sdlFrequency, sdlTicks};

const ClockSource* source = &kSdlClock;
uint64_t countsPerMs = 0;  // 0 until a usable counter has been seen

}  // namespace

void setClockSource(const ClockSource* s) {
    source = s ? s : &kSdlClock;
    countsPerMs = 0;
}

int32_t clockMs() {
    if (countsPerMs == 0) countsPerMs = source->frequency() / 1000;
    if (countsPerMs == 0) return static_cast<int32_t>(source->ticks());
    return static_cast<int32_t>(static_cast<uint32_t>(source->counter() / countsPerMs));
}
