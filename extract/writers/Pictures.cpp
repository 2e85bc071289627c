#include "extract/writers/Pictures.h"

#include "extract/writers/Support.h"

namespace harvix {

namespace {

// The picture file the bytes are, by their signature. The eight bytes of a PNG file's,
// the six of a GIF file's and the three of a JPEG file's make a picture, whole or
// broken; the two of a bitmap file's ("BM") and the four of an icon file's begin plenty
// of other data, which is a picture only when it reads as one.
std::optional<ImageFileType> PictureType(std::span<const std::uint8_t> bytes) {
    const auto type = ImageFileSignature(bytes);
    if (type && (*type == ImageFileType::Bmp || *type == ImageFileType::Ico) && !ReadImageFile(bytes))
        return std::nullopt;
    return type;
}

} // namespace

std::optional<ImageFileType> WholePictureType(const IResourceModule& module, const ResId& type,
                                              const ResId& name) {
    return PictureType(LoadResourceBytes(module, type, name));
}

OwnFilePlan PlanPicture(const IResourceModule& module, const ResId& type, const ResId& name,
                        const ExtractionOptions& options, std::string& extension) {
    auto bytes = LoadResourceBytes(module, type, name);
    const auto picture = PictureType(bytes);
    if (!picture)
        return NotOfKind{};
    extension = ImageFileExtension(*picture);
    const auto facts = ReadImageFile(bytes);
    if (!facts)
        return LeftOut{LeftOutReason::Malformed, facts.error().message};
    // "PNG width 20000 outside the limit 1-16384"
    static constexpr const char* kTypeNames[] = {"PNG", "JPEG", "GIF", "BMP", "ICO"};
    const std::string what = kTypeNames[static_cast<std::size_t>(facts->type)];
    if (!options.imageWidth.contains(facts->width))
        return LeftOut{LeftOutReason::Limits, OutsideLimit(what + " width", facts->width, options.imageWidth)};
    if (!options.imageHeight.contains(facts->height))
        return LeftOut{LeftOutReason::Limits, OutsideLimit(what + " height", facts->height, options.imageHeight)};
    // The file as the program keeps it, byte for byte (the zero bytes a 16-bit module
    // pads its resources with included: viewers read a picture up to its own end).
    return PlannedFile{{}, {std::move(bytes)}};
}

} // namespace harvix
