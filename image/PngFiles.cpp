#include "image/PngFiles.h"

#include "image/ModuleIcons.h"

#include "common/ByteCursor.h"
#include "image/IconFile.h"
#include "extract/Naming.h"
#include "common/Paths.h"
#include "image/Png.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harvix::image {

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
    parts.extension = ".png";
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

// ---------------------------------------------------------------------------------------

namespace {

bool convertible(std::string_view path) {
    for (std::string_view ext : {".ico", ".cur", ".bmp"})
        if (path.size() > ext.size() && path.substr(path.size() - ext.size()) == ext)
            return true;
    return false;
}

} // namespace

PngConverter::PngConverter(IFileSystem& fs, std::string destination)
    : m_fs(fs), m_destination(AddBackslash(destination)) {}

void PngConverter::FileWritten(ResourceKind /*kind*/, const std::string& path) {
    // Decided by the name, as the user sees it: a web page named like a picture is
    // converted too, when its bytes are one.
    if (!convertible(path) || path.rfind(m_destination, 0) != 0)
        return;
    const std::string relative = path.substr(m_destination.size());
    const auto slash = relative.rfind('/');
    const std::string folder =
        m_destination + "PNG/" + (slash == std::string::npos ? "" : relative.substr(0, slash + 1));
    if (auto made = m_fs.MakeDirectories(folder); !made) {
        m_problems.push_back(made.error().message);
        return;
    }
    auto bytes = ReadWholeFile(path, kMaxPictureFileBytes);
    if (!bytes) {
        m_problems.push_back(bytes.error().message);
        return;
    }
    PngConversion result = ConvertToPng(*bytes, FileNamePart(path), folder, path, m_fs, m_names);
    m_converted += result.written.size();
    for (std::string& problem : result.problems)
        m_problems.push_back(std::move(problem));
}

// ---------------------------------------------------------------------------------------

Result<IconImages> IconImagesOfIconFile(ByteView file) {
    auto dir = ReadIconDirectory(file);
    if (!dir)
        return dir.error();
    IconImages out;
    for (const IconDirEntry& entry : dir->entries)
        if (auto image = IconImageBytes(file, entry))
            out.images.emplace_back(image->begin(), image->end());
    if (out.images.empty())
        return makeError(ErrorKind::NotFound, "the file holds no readable image");
    return out;
}

Result<IconImages> IconImagesOfModule(const IResourceModule& module) {
    // The first group in directory order is the one Windows shows for the file.
    auto group = LoadIconGroup(module, std::nullopt);
    if (!group)
        return group.error();
    return IconImages{std::move(group->images)};
}

Result<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, std::uint64_t maxBytes) {
    auto fail = [&path](int code) {
        return makeError(ErrorKind::Io, path + ": " + std::strerror(code), code);
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(code);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return makeError(ErrorKind::NotLoadable, path + ": not a regular file");
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return makeError(ErrorKind::TooLarge, path + ": larger than " +
                                                  std::to_string(maxBytes >> 20) + " MiB");
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            return fail(code);
        }
        if (n == 0)
            break; // the file became shorter: what was there is what we have
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

} // namespace harvix::image
