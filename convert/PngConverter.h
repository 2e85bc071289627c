// The PNG files of `harvix-cli extract --png`: an observer of the engine that converts
// every bitmap, icon and cursor file the engine completes (and the bitmap and icon files
// among the pictures kept whole) into the destination's PNG folder, in the same folders
// below it.
#pragma once

#include "extract/FileSystem.h"
#include "extract/Naming.h"
#include "extract/ResCore.h"
#include "extract/UniqueFiles.h"

#include <cstdint>
#include <string>
#include <vector>

namespace harvix {

// Hears from the engine of every file it completes and converts those of the picture
// kinds (bitmaps, icons with their per-size files, cursors, images that are .bmp or .ico
// files) below `destination` into
// destination + "PNG/" + the same folders below it. The engine tells only of files that
// are complete and stay (see IExtractObserver::FileWritten), so files it gives up on are
// never converted. The file's bytes are read back from where the engine put them; the
// PNG files are made through `fs`, the engine's file system, with names from one
// FreeNames for the whole run. With `unique`, a PNG file whose bytes one made earlier
// in its folder holds is not made again (PNG files have no records).
class PngConverter final : public IExtractObserver {
public:
    PngConverter(IFileSystem& fs, std::string destination, bool unique = false);

    void FileWritten(ResourceKind kind, const std::string& path) override;

    [[nodiscard]] std::uint64_t Converted() const { return m_converted; }
    // The PNG files not made again because one made earlier holds their bytes.
    [[nodiscard]] std::uint64_t Folded() const { return m_folded; }
    [[nodiscard]] const std::vector<std::string>& Problems() const { return m_problems; }

private:
    IFileSystem& m_fs;
    std::string m_destination;
    FreeNames m_names;
    bool m_unique;
    UniqueContents m_contents;
    std::uint64_t m_converted = 0;
    std::uint64_t m_folded = 0;
    std::vector<std::string> m_problems;
};

} // namespace harvix
