// Bitmaps: a bitmap resource becomes a bitmap file, the resource behind a file header
// (a display-dependent bitmap of Windows 1.x and 2.x becomes the standard bitmap it shows).
#pragma once

#include "extract/writers/Plan.h"

#include <optional>
#include <span>

namespace harvix {

// The 14-byte file header for a bitmap resource, or nothing when the bitmap is outside the
// limits or not well formed (and then, when `why` is given, the reason there).
std::optional<std::vector<std::uint8_t>> BitmapFileHeader(std::span<const std::uint8_t> resource,
                                                          const ExtractionOptions& options,
                                                          LeftOut* why = nullptr);

// The bitmap file of the bitmap resource `name`, or why it is left out.
OwnFilePlan PlanBitmap(const IResourceModule& module, const ResId& name,
                       const ExtractionOptions& options);

} // namespace harvix
