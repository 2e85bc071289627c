// PNG files from icon, cursor and bitmap files: the conversion behind `harvix-cli png`
// and `harvix-cli extract --png`, and the icons a thumbnail is made from.
#pragma once

#include "image/Dib.h"
#include "extract/FileSystem.h"
#include "extract/module/ModuleAccess.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace harvix::image {

// The tEXt keyword under which a cursor's hot spot is kept, as "X,Y" in pixels.
inline constexpr const char* kHotspotKeyword = "Hotspot";

// What one conversion wrote and what it had to leave out.
struct PngConversion {
    std::vector<std::string> written;  // full paths of the PNG files made
    std::vector<std::string> problems; // one message per image or file left out
};

// Converts an icon or cursor file (every image, as NAME_WxH_BPP.png, PNG images copied
// unchanged, a cursor's hot spot in a text chunk) or a bitmap file (NAME.png), told
// apart by their contents; NAME is `fileName` without its last extension. The files go
// into `folder` (ending with "/"), created exclusively under the first free name of the
// extraction's collision rule (NAME_32x32_8.png, NAME_32x32_8 (2).png, ...). Messages
// name `displayName`.
[[nodiscard]] PngConversion ConvertToPng(ByteView bytes, std::string_view fileName,
                                         const std::string& folder, const std::string& displayName,
                                         IFileSystem& fs);

// A file system that passes everything to `inner` and converts each .ico, .cur and .bmp
// file written below `destination` once it is complete: into destination + "PNG/" + the
// same folders below it. A file is complete when it was closed without error and an
// index record was appended after it (or the run ends with Finish) without it having
// been removed in between; so files the engine gives up on are never converted.
class PngMirror final : public IFileSystem {
public:
    PngMirror(IFileSystem& inner, std::string destination);
    ~PngMirror() override;

    Result<std::unique_ptr<IOutputFile>> CreateExclusive(const std::string& path) override;
    Status Append(const std::string& path, std::string_view text) override;
    Status Remove(const std::string& path) override;
    bool Exists(const std::string& path) override;
    bool IsDirectory(const std::string& path) override;
    Status MakeDirectory(const std::string& path) override;
    Status MakeDirectories(const std::string& path) override;
    Status RemoveUnfinishedFiles(const std::string& folder, int levels) override;

    // Converts what is still waiting (per-size icon files of a group that was not
    // recorded, the last file of the run).
    void Finish();

    [[nodiscard]] std::uint64_t Converted() const { return m_converted; }
    [[nodiscard]] const std::vector<std::string>& Problems() const { return m_problems; }

    // Called by the files it hands out.
    void Completed(const std::string& path, std::vector<std::uint8_t> bytes);

private:
    struct Pending {
        std::string path;
        std::vector<std::uint8_t> bytes;
    };
    void convertPending();

    IFileSystem& m_inner;
    std::string m_destination;
    std::vector<Pending> m_pending;
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
