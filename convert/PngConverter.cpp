#include "convert/PngConverter.h"

#include "common/Files.h"
#include "common/Paths.h"
#include "convert/PictureToPng.h"
#include "extract/Destination.h"

namespace harvix {

namespace {

// The files that are pictures this program turns into PNG files: bitmaps, icons (and
// their per-size files) and cursors, and of the pictures kept whole the bitmap and icon
// files (a PNG picture is one already; JPEG and GIF pictures stay as they are). Animated
// cursors, clips and web pages are not, whatever their names.
bool IsConvertedPicture(ResourceKind kind, const std::string& path) {
    if (kind == ResourceKind::Image)
        return path.ends_with(".bmp") || path.ends_with(".ico");
    return kind == ResourceKind::Bitmap || kind == ResourceKind::Icon ||
           kind == ResourceKind::Cursor;
}

} // namespace

PngConverter::PngConverter(IFileSystem& fs, std::string destination, bool unique)
    : m_fs(fs), m_destination(AddBackslash(destination)), m_unique(unique) {}

void PngConverter::FileWritten(ResourceKind kind, const std::string& path) {
    if (!IsConvertedPicture(kind, path) || path.rfind(m_destination, 0) != 0)
        return;
    const std::string relative = path.substr(m_destination.size());
    const auto slash = relative.rfind('/');
    const std::string folder =
        m_destination + std::string(kPngFolder) + "/" +
        (slash == std::string::npos ? "" : relative.substr(0, slash + 1));
    if (auto made = m_fs.MakeDirectories(folder); !made) {
        m_problems.push_back(made.error().message);
        return;
    }
    auto bytes = ReadWholeFile(path, kMaxPictureFileBytes);
    if (!bytes) {
        m_problems.push_back(bytes.error().message);
        return;
    }
    UniqueFiles unique(m_fs, m_contents);
    PngConversion result = ConvertToPng(*bytes, FileNamePart(path), folder, path,
                                        m_unique ? static_cast<IFileSystem&>(unique) : m_fs, m_names);
    if (m_unique) {
        result.written = unique.Made(std::move(result.written));
        m_folded += unique.Folded();
    }
    m_converted += result.written.size();
    for (std::string& problem : result.problems)
        m_problems.push_back(std::move(problem));
}

} // namespace harvix
