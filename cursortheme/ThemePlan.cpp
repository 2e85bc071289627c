#include "cursortheme/ThemePlan.h"

#include "image/Scale.h"

#include <algorithm>
#include <charconv>

namespace harvix {

namespace {

// The image a frame gives for a nominal size: one drawn at that size, else its largest.
const CursorImage& imageFor(const CursorFrame& frame, std::uint32_t size) {
    for (const CursorImage& image : frame.images)
        if (image.picture.width == size && image.picture.height == size)
            return image;
    const CursorImage* largest = &frame.images.front();
    for (const CursorImage& image : frame.images)
        if (std::uint64_t{image.picture.width} * image.picture.height >
            std::uint64_t{largest->picture.width} * largest->picture.height)
            largest = &image;
    return *largest;
}

// `side` scaled by size / longer, rounded, at least 1.
std::uint32_t scaledSide(std::uint32_t side, std::uint32_t size, std::uint32_t longer) {
    const std::uint64_t scaled = (2 * std::uint64_t{side} * size + longer) / (2 * std::uint64_t{longer});
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(scaled, 1));
}

} // namespace

std::uint32_t DelayMs(std::uint32_t jiffies) {
    const std::uint64_t j = std::max<std::uint32_t>(jiffies, 1);
    // round(j * 1000 / 60), halves up
    return static_cast<std::uint32_t>(std::min<std::uint64_t>((j * 1000 + 30) / 60, UINT32_MAX));
}

std::uint32_t ScaleHotSpot(std::uint32_t hot, std::uint32_t from, std::uint32_t to) {
    if (from == 0 || to == 0)
        return 0;
    // A hot spot outside the picture (some editors allow it) is taken at its edge.
    hot = std::min(hot, from - 1);
    const std::uint64_t scaled = (2 * std::uint64_t{hot} * to + from) / (2 * std::uint64_t{from});
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(scaled, to - 1));
}

RgbaImage ScaleCursorPicture(const RgbaImage& source, std::uint32_t width, std::uint32_t height) {
    if (width == source.width && height == source.height)
        return source;
    const bool wholeFactor = width > source.width && height > source.height && width % source.width == 0 &&
                             height % source.height == 0 && width / source.width == height / source.height;
    if (!wholeFactor)
        return Resize(source, width, height);
    const std::uint32_t factor = width / source.width;
    RgbaImage out;
    out.width = width;
    out.height = height;
    out.rgba.resize(std::size_t{width} * height * 4);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            std::copy_n(source.pixel(x / factor, y / factor), 4, out.pixel(x, y));
    return out;
}

Result<std::vector<ThemeImage>> PlanCursorImages(const SourceCursor& cursor, std::span<const std::uint32_t> sizes) {
    if (cursor.frames.empty())
        return makeError(ErrorKind::Malformed, "the cursor has no frame");
    const std::size_t steps = cursor.animated() ? cursor.steps.size() : 1;
    std::uint64_t pixels = 0;
    for (const std::uint32_t size : sizes)
        pixels += std::uint64_t{size} * size * steps;
    if (pixels > kMaxCursorPixels)
        return makeError(ErrorKind::TooLarge, "its " + std::to_string(steps) + " steps at " +
                                                  std::to_string(sizes.size()) + " sizes would hold more than " +
                                                  std::to_string(kMaxCursorPixels >> 20) + " million pixels");
    std::vector<ThemeImage> images;
    for (const std::uint32_t size : sizes) {
        // Each frame scaled once for the size; the steps that show it share it.
        std::vector<ThemeImage> frames;
        for (const CursorFrame& frame : cursor.frames) {
            const CursorImage& source = imageFor(frame, size);
            const RgbaImage& picture = source.picture;
            const std::uint32_t longer = std::max(picture.width, picture.height);
            const std::uint32_t width = scaledSide(picture.width, size, longer);
            const std::uint32_t height = scaledSide(picture.height, size, longer);
            ThemeImage image;
            image.nominal = size;
            image.picture = ScaleCursorPicture(picture, width, height);
            image.hotX = ScaleHotSpot(source.hotX, picture.width, width);
            image.hotY = ScaleHotSpot(source.hotY, picture.height, height);
            frames.push_back(std::move(image));
        }
        if (!cursor.animated()) {
            images.push_back(std::move(frames.front()));
            continue;
        }
        for (const AniStep& step : cursor.steps) {
            ThemeImage image = frames.at(step.frame);
            image.delayMs = DelayMs(step.jiffies);
            images.push_back(std::move(image));
        }
    }
    return images;
}

std::string IndexTheme(std::string_view name, std::string_view comment, std::string_view inherits) {
    // One line each: a line break in a value would end it.
    auto oneLine = [](std::string_view text) {
        std::string out(text);
        std::replace_if(out.begin(), out.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
        return out;
    };
    std::string text = "[Icon Theme]\nName=" + oneLine(name) + "\nComment=" + oneLine(comment) + "\n";
    if (!inherits.empty())
        text += "Inherits=" + oneLine(inherits) + "\n";
    return text;
}

std::optional<std::vector<std::uint32_t>> ParseCursorSizes(std::string_view text) {
    std::vector<std::uint32_t> sizes;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos)
            comma = text.size();
        const std::string_view item = text.substr(start, comma - start);
        std::uint32_t size = 0;
        const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), size);
        if (item.empty() || error != std::errc() || end != item.data() + item.size() || size < kSmallestCursorSize ||
            size > kLargestCursorSize)
            return std::nullopt;
        sizes.push_back(size);
        start = comma + 1;
    }
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}

bool IsThemeName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

} // namespace harvix
