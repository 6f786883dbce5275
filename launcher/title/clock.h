// The millisecond clock the ticker paces itself by.
//
//   clockMs  the high-resolution counter divided by its counts per
//            millisecond (frequency / 1000, taken at the first reading),
//            reduced to signed 32 bits; the system's millisecond tick count
//            while no usable counter is known, retried at every reading
#pragma once
#include <cstdint>

struct ClockSource {
    uint64_t (*counter)();    // the high-resolution counter's value
    uint64_t (*frequency)();  // its counts per second; 0 when there is no such counter
    uint32_t (*ticks)();      // milliseconds since the system started
};

// nullptr restores SDL's counter and tick count; either way the counts per
// millisecond are read again at the next reading.
void setClockSource(const ClockSource* source);
int32_t clockMs();
