#include "convert/PictureToPng.h"

#include "common/ByteCursor.h"
#include "image/Dib.h"
#include "image/IconFile.h"
#include "image/Png.h"

namespace harvix {


namespace {

// The name without its last extension ("shell32.dll.ico" gives "shell32.dll"); a name
// whose only dot is its first character keeps it.
std::string stemOf(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::string(fileName);
    return std::string(fileName.substr(0, dot));
}

// Writes `bytes` under the first free name base + suffix + ".png" in `folder`.
Result<std::string> writeNew(IFileSystem& fs, FreeNames& names, const std::string& folder,
                             const std::string& base, std::span<const std::uint8_t> bytes) {
    NameParts parts;
    parts.source = base;
    parts.extension = std::string(kPngExtension);
    const FreeNames::Name name = names.Probe(fs, folder, parts);
    auto file = fs.CreateExclusive(name.path);
    if (!file)
        return file.error();
    // The file takes its name only once it is complete: a failed write leaves nothing
    // behind, and a name taken since its test (EEXIST) fails this image, as it fails a
    // resource in the engine.
    if (auto written = (*file)->Write({bytes}); !written)
        return written.error();
    if (auto closed = (*file)->Close(); !closed)
        return closed.error();
    names.Taken(folder, parts, name);
    return name.path;
}

void note(PngConversion& out, const Result<std::string>& written) {
    if (written)
        out.written.push_back(*written);
    else
        out.problems.push_back(written.error().message);
}

} // namespace

PngConversion ConvertToPng(ByteView bytes, std::string_view fileName, const std::string& folder,
                           const std::string& displayName, IFileSystem& fs) {
    FreeNames names;
    return ConvertToPng(bytes, fileName, folder, displayName, fs, names);
}

PngConversion ConvertToPng(ByteView bytes, std::string_view fileName, const std::string& folder,
                           const std::string& displayName, IFileSystem& fs, FreeNames& names) {
    PngConversion out;
    const std::string stem = stemOf(fileName);
    ByteCursor c(bytes);
    if (c.peekAt<std::uint16_t>(0).valueOr(0) == 0x4D42) { // "BM"
        auto picture = DecodeBitmapFile(bytes);
        if (!picture) {
            out.problems.push_back(displayName + ": " + picture.error().message);
            return out;
        }
        auto png = EncodePng(*picture);
        if (!png) {
            out.problems.push_back(displayName + ": " + png.error().message);
            return out;
        }
        note(out, writeNew(fs, names, folder, stem, *png));
        return out;
    }

    auto dir = ReadIconDirectory(bytes);
    if (!dir) {
        out.problems.push_back(displayName + ": " +
                               (dir.error().kind == ErrorKind::NotLoadable
                                    ? std::string("not an icon, cursor or bitmap file")
                                    : dir.error().message));
        return out;
    }
    for (std::size_t i = 0; i < dir->entries.size(); ++i) {
        const IconDirEntry& entry = dir->entries[i];
        const std::string where = displayName + ": image " + std::to_string(i + 1) + ": ";
        auto image = IconImageBytes(bytes, entry);
        if (!image) {
            out.problems.push_back(where + image.error().message);
            continue;
        }
        auto info = ReadIconImageInfo(*image);
        if (!info) {
            out.problems.push_back(where + info.error().message);
            continue;
        }
        std::vector<std::uint8_t> png;
        if (info->png) {
            // Checked to decode, then kept byte for byte.
            if (auto decoded = DecodePng(*image, kMaxIconSide); !decoded) {
                out.problems.push_back(where + decoded.error().message);
                continue;
            }
            png.assign(image->begin(), image->end());
        } else {
            auto picture = DecodeIconImage(*image);
            if (!picture) {
                out.problems.push_back(where + picture.error().message);
                continue;
            }
            auto encoded = EncodePng(*picture);
            if (!encoded) {
                out.problems.push_back(where + encoded.error().message);
                continue;
            }
            png = std::move(*encoded);
        }
        if (dir->type == kCursorType) {
            auto marked = AddTextChunk(png, kHotspotKeyword,
                                       std::to_string(entry.planesOrHotX) + "," +
                                           std::to_string(entry.bitCountOrHotY));
            if (!marked) {
                out.problems.push_back(where + marked.error().message);
                continue;
            }
            png = std::move(*marked);
        }
        const std::string base = stem + "_" + std::to_string(info->width) + "x" +
                                 std::to_string(info->height) + "_" + std::to_string(info->bitCount);
        note(out, writeNew(fs, names, folder, base, png));
    }
    return out;
}

} // namespace harvix
