#include "launcher/events.h"

#include "launcher/display/display.h"
#include "launcher/keyboard.h"

extern const MessageSource kSdlMessageSource;  // events_sdl.cpp

namespace {

// First in, first out. Each wait adds at most one event and a wait only takes
// a message when the queue is empty, so a handful of slots is ample.
struct EventQueue {
    int32_t codes[8];
    int head = 0;   // index of the oldest
    int count = 0;
};

const MessageSource* source = &kSdlMessageSource;
EventQueue queue;

void push(int32_t code) {
    constexpr int kSlots = sizeof(queue.codes) / sizeof(queue.codes[0]);
    if (queue.count == kSlots) return;
    queue.codes[(queue.head + queue.count) % kSlots] = code;
    ++queue.count;
}

int32_t pop() {
    constexpr int kSlots = sizeof(queue.codes) / sizeof(queue.codes[0]);
    const int32_t code = queue.codes[queue.head];
    queue.head = (queue.head + 1) % kSlots;
    --queue.count;
    return code;
}

int32_t newest() {
    constexpr int kSlots = sizeof(queue.codes) / sizeof(queue.codes[0]);
    return queue.codes[(queue.head + queue.count - 1) % kSlots];
}

// The window's procedure: what each message does.
void dispatch(WindowMessage message) {
    switch (message) {
        case WindowMessage::Repaint:
            serveScreenRepaint();
            break;
        case WindowMessage::SizeChanged:
            serveWindowSizeChange();
            push(WindowSizeChanged);
            break;
        case WindowMessage::CloseRequest:
            // The window stays; the request becomes one event, never two in a row.
            if (queue.count == 0 || newest() != CloseRequested) push(CloseRequested);
            break;
        case WindowMessage::KeymapChanged:
            keyboardLayoutChanged();
            break;
        case WindowMessage::Other:
            break;
    }
}

}  // namespace

void setMessageSource(const MessageSource* s) { source = s ? s : &kSdlMessageSource; }

int32_t waitForEvent(int32_t timeoutMs) {
    if (queue.count > 0) return pop();
    // A newly opened screen's area asks to be painted before anything else.
    if (screenAreaNeedsRepaint()) {
        serveScreenRepaint();
        return MessageDispatched;
    }
    WindowMessage message;
    if (!source->next(timeoutMs, &message)) return NothingArrived;
    dispatch(message);
    return MessageDispatched;
}

void clearWindowEvents() { queue = EventQueue{}; }
