#pragma once

#include "platform/Screen.h"

namespace tvx {

// The screen as captured at start-up, with the twips-per-pixel factors that turn
// window sizes in twips (1/1440 inch) into pixels.
struct DisplayMetrics {
    ScreenMetrics screen;
    int twipsPerPixelX = 15;
    int twipsPerPixelY = 15;

    int PixelsX(int twips) const { return twips / twipsPerPixelX; }
    int PixelsY(int twips) const { return twips / twipsPerPixelY; }
};

ScreenMetrics CaptureScreenMetrics(ScreenService& screen);

// 1440 / logical DPI, rounded to a whole number (15 on a 96 DPI screen).
int TwipsPerPixel(double logicalDpi);

}  // namespace tvx
