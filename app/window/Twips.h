#pragma once
// The window is laid out in twips (1/1440 inch); at 96 dots per inch 15 twips are one
// pixel, and the window is drawn at that scale.

#include <QRect>
#include <cmath>

namespace harvix {

inline constexpr int kTwipsPerPixel = 15;

// Rounds to the nearest pixel, halves away from zero.
[[nodiscard]] constexpr int TwipsToPixels(int twips) {
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                      : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}

[[nodiscard]] constexpr QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

} // namespace harvix
