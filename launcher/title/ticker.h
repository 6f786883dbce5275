// The scroll ticker along the window's bottom 20 rows.
//
//   prepareTicker  makes the black 640 x 20 strip (image 0), stores the scroll
//                  text, measures it and sets the ticker's fields of LoaderState
//   tickerStep     once per main-loop pass: when more than tickIntervalMs have
//                  passed since the last step, draws the text one pixel further
//                  left into the strip and pastes the strip on the window; on
//                  every call blends the scan-line overlay over the band
#pragma once

// 379 characters in four sections joined by " +++ ", ending with a blank.
extern const char kScrollText[];

constexpr int kStripWidth = 640;   // pixels
constexpr int kStripHeight = 20;   // pixels
constexpr int kBandY = 460;        // window row of the strip's top
constexpr int kTextY = 3;          // strip row of the text cell's top

void prepareTicker();
void tickerStep();
