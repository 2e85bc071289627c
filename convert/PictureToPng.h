// PNG files from icon, cursor and bitmap files: the conversion behind `harvix-cli png`,
// and behind `harvix-cli extract --png` for each file the engine writes.
#pragma once

#include "extract/FileSystem.h"
#include "extract/Naming.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// The extension of every PNG file made.
inline constexpr std::string_view kPngExtension = ".png";

// The tEXt keyword under which a cursor's hot spot is kept, as "X,Y" in pixels.
inline constexpr const char* kHotspotKeyword = "Hotspot";

// The largest icon, cursor or bitmap file read for a conversion: files are read whole,
// and no picture this program decodes needs more.
inline constexpr std::uint64_t kMaxPictureFileBytes = 256ull << 20;

// What one conversion wrote and what it had to leave out.
struct PngConversion {
    std::vector<std::string> written;  // full paths of the PNG files made
    std::vector<std::string> problems; // one message per image or file left out
};

// Converts an icon or cursor file (every image, as NAME_WxH_BPP.png, PNG images copied
// unchanged, a cursor's hot spot in a text chunk) or a bitmap file (NAME.png), told
// apart by their contents; NAME is `fileName` without its last extension. The files go
// into `folder` (ending with "/"), each created exclusively, through `fs`, under the
// first free name that `names` gives by the extraction's collision rule
// (NAME_32x32_8.png, NAME_32x32_8 (2).png, ...). A name taken between its test and the
// file's creation is a problem of that image; nothing is written under another name.
// Messages name `displayName`.
[[nodiscard]] PngConversion ConvertToPng(std::span<const std::uint8_t> bytes,
                                         std::string_view fileName, const std::string& folder,
                                         const std::string& displayName, IFileSystem& fs,
                                         FreeNames& names);
// The same with names probed afresh.
[[nodiscard]] PngConversion ConvertToPng(std::span<const std::uint8_t> bytes,
                                         std::string_view fileName, const std::string& folder,
                                         const std::string& displayName, IFileSystem& fs);

} // namespace harvix
