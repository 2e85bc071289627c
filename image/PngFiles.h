// PNG files from icon, cursor and bitmap files: the conversion behind `harvix-cli png`
// and `harvix-cli extract --png`, and the icons a thumbnail is made from.
#pragma once

#include "image/Dib.h"
#include "extract/FileSystem.h"
#include "extract/Naming.h"
#include "extract/ResCore.h"
#include "extract/module/ModuleAccess.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace harvix::image {

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
[[nodiscard]] PngConversion ConvertToPng(ByteView bytes, std::string_view fileName,
                                         const std::string& folder, const std::string& displayName,
                                         IFileSystem& fs, FreeNames& names);
// The same with names probed afresh.
[[nodiscard]] PngConversion ConvertToPng(ByteView bytes, std::string_view fileName,
                                         const std::string& folder, const std::string& displayName,
                                         IFileSystem& fs);

// The PNG files of `harvix-cli extract --png`: hears from the engine of every file it
// completes, and converts each .ico, .cur and .bmp file below `destination` into
// destination + "PNG/" + the same folders below it. The engine tells only of files that
// are complete and stay (see IExtractObserver::FileWritten), so files it gives up on
// are never converted. The file's bytes are read back from where the engine put them;
// the PNG files are made through `fs`, the engine's file system, with names from one
// FreeNames for the whole run.
class PngConverter final : public IExtractObserver {
public:
    PngConverter(IFileSystem& fs, std::string destination);

    void FileWritten(ResourceKind kind, const std::string& path) override;

    [[nodiscard]] std::uint64_t Converted() const { return m_converted; }
    [[nodiscard]] const std::vector<std::string>& Problems() const { return m_problems; }

private:
    IFileSystem& m_fs;
    std::string m_destination;
    FreeNames m_names;
    std::uint64_t m_converted = 0;
    std::vector<std::string> m_problems;
};

// The images of the icon a file manager shows for a file: an icon or cursor file's own
// images, or a module's first icon group in directory order. Fails with NotFound when
// the file holds no icon.
struct IconImages {
    std::vector<std::vector<std::uint8_t>> images;
};
[[nodiscard]] Result<IconImages> IconImagesOfModule(const IResourceModule& module);
[[nodiscard]] Result<IconImages> IconImagesOfIconFile(ByteView file);

// Reads a whole regular file of at most `maxBytes` bytes (opened without blocking, so a
// FIFO or device named like a picture is refused, not waited on).
[[nodiscard]] Result<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                              std::uint64_t maxBytes);

} // namespace harvix::image
