#pragma once
// The four one-pixel edge lines of the 3-D line control, kept apart from the widget so
// that the pixel rule can be checked without a display.

#include <array>
#include <cstdint>
#include <optional>

namespace harvix {

// System colours the edge uses, as 0x800000nn colour values.
inline constexpr std::uint32_t kButtonShadow = 0x80000010U;
inline constexpr std::uint32_t kButtonHighlight = 0x80000014U;

// One line: it covers its start point and every pixel on the way to its end point, but
// not the end point itself.
struct Light3DLine {
    int X1 = 0;
    int Y1 = 0;
    int X2 = 0;
    int Y2 = 0;
    std::uint32_t Color = kButtonShadow;

    friend bool operator==(const Light3DLine&, const Light3DLine&) = default;
};

// Indices into Light3DLines::lin3D, which is also the drawing order.
enum Light3DEdge : std::size_t { kTopLine = 0, kLeftLine = 1, kBottomLine = 2, kRightLine = 3 };

class Light3DLines {
public:
    // The end points and colours a new control starts with, before its first layout.
    Light3DLines();

    // Moves the lines onto the edge of a surface of w x h pixels. Only the coordinates
    // that depend on the size are written; the others keep their start values.
    void Layout(int w, int h);

    // Sunken: dark top and left, light bottom and right. Raised: the reverse.
    void ApplyStyle(bool sunken);

    // The colour of the line that owns pixel (x, y), the last line drawn winning; none
    // when no line covers it.
    [[nodiscard]] std::optional<std::uint32_t> ColorAt(int x, int y) const;

    std::array<Light3DLine, 4> lin3D;
};

// Calls plot(x, y) for every pixel a line covers (start point included, end point
// excluded), stepping like a classic midpoint line.
template <typename Plot> void ForEachLinePixel(const Light3DLine& line, Plot&& plot) {
    const int dx = line.X2 > line.X1 ? line.X2 - line.X1 : line.X1 - line.X2;
    const int dy = line.Y2 > line.Y1 ? line.Y2 - line.Y1 : line.Y1 - line.Y2;
    const int sx = line.X2 >= line.X1 ? 1 : -1;
    const int sy = line.Y2 >= line.Y1 ? 1 : -1;
    int x = line.X1;
    int y = line.Y1;
    int err = dx - dy;
    while (x != line.X2 || y != line.Y2) {
        plot(x, y);
        const int e2 = 2 * err;
        if (e2 > -dy) {
            err -= dy;
            x += sx;
        }
        if (e2 < dx) {
            err += dx;
            y += sy;
        }
    }
}

} // namespace harvix
