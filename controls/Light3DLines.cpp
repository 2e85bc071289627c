#include "controls/Light3DLines.h"

namespace harvix {

Light3DLines::Light3DLines()
    : lin3D{{
          {0, 0, 232, 0, kButtonShadow},         // top
          {0, 0, 0, 104, kButtonShadow},         // left
          {0, 104, 232, 104, kButtonHighlight},  // bottom
          {232, 104, 232, -15, kButtonHighlight} // right
      }} {}

void Light3DLines::Layout(int w, int h) {
    lin3D[kTopLine].X2 = w - 1;
    lin3D[kLeftLine].Y2 = h - 1;
    Light3DLine& bottom = lin3D[kBottomLine];
    bottom.Y1 = h - 1;
    bottom.Y2 = h - 1;
    bottom.X2 = w;
    // The right line runs upwards from just below the surface to well above it, so it
    // owns every row of the last column, both far corners included.
    Light3DLine& right = lin3D[kRightLine];
    right.X1 = w - 1;
    right.X2 = w - 1;
    right.Y1 = h;
}

void Light3DLines::ApplyStyle(bool sunken) {
    const std::uint32_t nearSide = sunken ? kButtonShadow : kButtonHighlight;
    const std::uint32_t farSide = sunken ? kButtonHighlight : kButtonShadow;
    lin3D[kTopLine].Color = nearSide;
    lin3D[kLeftLine].Color = nearSide;
    lin3D[kBottomLine].Color = farSide;
    lin3D[kRightLine].Color = farSide;
}

std::optional<std::uint32_t> Light3DLines::ColorAt(int x, int y) const {
    std::optional<std::uint32_t> colour;
    for (const Light3DLine& line : lin3D) {
        ForEachLinePixel(line, [&](int px, int py) {
            if (px == x && py == y)
                colour = line.Color;
        });
    }
    return colour;
}

} // namespace harvix
