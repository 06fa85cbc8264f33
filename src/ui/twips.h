// SPDX-License-Identifier: MIT
// The window layouts are designed in twips (1440 to the inch); Qt lays out in device-independent
// pixels, 15 twips each, and scales those itself on high-density screens.
#pragma once

#include <QRect>

constexpr int TwipsPerPixel = 15;

constexpr int pixels(int twips)
{
    return twips / TwipsPerPixel;
}

constexpr QRect twipRect(int left, int top, int width, int height)
{
    return {pixels(left), pixels(top), pixels(width), pixels(height)};
}
