// The message edge: SDL's event queue on X11.
#include <SDL.h>

#include "launcher/events.h"

namespace {

WindowMessage classify(const SDL_Event& e) {
    switch (e.type) {
        case SDL_QUIT:
            return WindowMessage::CloseRequest;
        case SDL_KEYMAPCHANGED:
            return WindowMessage::KeymapChanged;
        case SDL_WINDOWEVENT:
            switch (e.window.event) {
                case SDL_WINDOWEVENT_EXPOSED:
                    return WindowMessage::Repaint;
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                    return WindowMessage::SizeChanged;
                case SDL_WINDOWEVENT_CLOSE:
                    return WindowMessage::CloseRequest;
                default:
                    return WindowMessage::Other;
            }
        default:
            return WindowMessage::Other;
    }
}

bool next(int32_t timeoutMs, WindowMessage* out) {
    SDL_Event e;
    const int got = timeoutMs > 0 ? SDL_WaitEventTimeout(&e, timeoutMs) : SDL_PollEvent(&e);
    if (!got) return false;
    *out = classify(e);
    return true;
}

}  // namespace

extern const MessageSource kSdlMessageSource;
const MessageSource kSdlMessageSource{next};
