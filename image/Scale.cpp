#include "image/Scale.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace harvix {

namespace {

// For one axis: which source pixels each target pixel covers, and by how much.
struct Tap {
    std::uint32_t index;
    float weight;
};

std::vector<std::vector<Tap>> areaTaps(std::uint32_t from, std::uint32_t to) {
    std::vector<std::vector<Tap>> out(to);
    const double scale = static_cast<double>(from) / to;
    for (std::uint32_t t = 0; t < to; ++t) {
        const double begin = t * scale;
        const double end = (t + 1) * scale;
        for (auto s = static_cast<std::uint32_t>(begin); s < from && s < end; ++s) {
            const double covered = std::min<double>(end, s + 1.0) - std::max<double>(begin, s);
            if (covered > 1e-9)
                out[t].push_back(Tap{s, static_cast<float>(covered / scale)});
        }
    }
    return out;
}

// Growing: each target pixel's centre, mapped into the source, lies between two source
// pixels' centres and takes from both by nearness; beyond the outer centres the edge
// pixel alone.
std::vector<std::vector<Tap>> linearTaps(std::uint32_t from, std::uint32_t to) {
    std::vector<std::vector<Tap>> out(to);
    const double scale = static_cast<double>(from) / to;
    const double last = static_cast<double>(from) - 1;
    for (std::uint32_t t = 0; t < to; ++t) {
        const double centre = std::clamp((t + 0.5) * scale - 0.5, 0.0, last);
        const auto left = static_cast<std::uint32_t>(centre);
        const double right = centre - left;
        out[t].push_back(Tap{left, static_cast<float>(1.0 - right)});
        if (right > 1e-9 && left + 1 < from)
            out[t].push_back(Tap{left + 1, static_cast<float>(right)});
    }
    return out;
}

std::vector<std::vector<Tap>> taps(std::uint32_t from, std::uint32_t to) {
    return to <= from ? areaTaps(from, to) : linearTaps(from, to);
}

std::uint8_t toByte(float v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

std::pair<std::uint32_t, std::uint32_t> FitInto(std::uint32_t width, std::uint32_t height,
                                                std::uint32_t box) {
    if (width <= box && height <= box)
        return {width, height};
    if (width >= height) {
        const auto h = static_cast<std::uint32_t>(
            std::lround(static_cast<double>(height) * box / width));
        return {box, std::max<std::uint32_t>(1, h)};
    }
    const auto w = static_cast<std::uint32_t>(std::lround(static_cast<double>(width) * box / height));
    return {std::max<std::uint32_t>(1, w), box};
}

std::pair<std::uint32_t, std::uint32_t> GrowInto(std::uint32_t width, std::uint32_t height,
                                                 std::uint32_t box, std::uint32_t maxFactor) {
    const std::uint32_t side = std::max(width, height);
    if (side == 0 || maxFactor <= 1 || side >= box)
        return FitInto(width, height, box);
    // The grown picture's longer side: the box, or the most the factor allows.
    const auto grown = static_cast<std::uint32_t>(std::min<std::uint64_t>(box, std::uint64_t{side} * maxFactor));
    const auto times = [&](std::uint32_t length) {
        return static_cast<std::uint32_t>(std::max(1L, std::lround(static_cast<double>(length) * grown / side)));
    };
    return {times(width), times(height)};
}

RgbaImage Resize(const RgbaImage& source, std::uint32_t width, std::uint32_t height) {
    if (width == source.width && height == source.height)
        return source;
    const auto xTaps = taps(source.width, width);
    const auto yTaps = taps(source.height, height);

    // Premultiplied source, then the horizontal pass into rows of the target's width.
    std::vector<float> rows(std::size_t{width} * source.height * 4);
    for (std::uint32_t y = 0; y < source.height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            float acc[4] = {0, 0, 0, 0};
            for (const Tap& tap : xTaps[x]) {
                const std::uint8_t* p = source.pixel(tap.index, y);
                const float a = p[3] * tap.weight;
                acc[0] += p[0] * a;
                acc[1] += p[1] * a;
                acc[2] += p[2] * a;
                acc[3] += a;
            }
            std::copy(acc, acc + 4, rows.begin() + static_cast<std::ptrdiff_t>((std::size_t{y} * width + x) * 4));
        }
    }
    RgbaImage out;
    out.width = width;
    out.height = height;
    out.rgba.assign(std::size_t{width} * height * 4, 0);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            float acc[4] = {0, 0, 0, 0};
            for (const Tap& tap : yTaps[y]) {
                const float* p = &rows[(std::size_t{tap.index} * width + x) * 4];
                for (int i = 0; i < 4; ++i)
                    acc[i] += p[i] * tap.weight;
            }
            std::uint8_t* d = out.pixel(x, y);
            d[3] = toByte(acc[3]);
            if (acc[3] > 0) {
                d[0] = toByte(acc[0] / acc[3]);
                d[1] = toByte(acc[1] / acc[3]);
                d[2] = toByte(acc[2] / acc[3]);
            }
        }
    }
    return out;
}

} // namespace harvix
