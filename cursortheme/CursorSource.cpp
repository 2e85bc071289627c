#include "cursortheme/CursorSource.h"

#include "common/ByteCursor.h"
#include "module/NeModule.h"
#include "format/OldWindows.h"
#include "image/IconFile.h"

namespace harvix {

namespace {

// The most entries of a cursor group read: Windows writes a handful.
constexpr std::uint16_t kMostGroupEntries = 256;

// Counts a picture against the cursor's bound.
Status count(std::uint64_t& pixels, const RgbaImage& picture) {
    pixels += std::uint64_t{picture.width} * picture.height;
    if (pixels > kMaxCursorPixels)
        return makeError(ErrorKind::TooLarge, "its frames hold more than " +
                                                  std::to_string(kMaxCursorPixels >> 20) + " million pixels");
    return success();
}

// The images of one cursor or icon file. An icon has no hot spot: its top-left corner.
Result<CursorFrame> readFrame(ByteView file, std::uint64_t& pixels) {
    auto directory = ReadIconDirectory(file);
    if (!directory)
        return directory.error();
    CursorFrame frame;
    std::string problem = "no image";
    for (const IconDirEntry& entry : directory->entries) {
        auto bytes = IconImageBytes(file, entry);
        if (!bytes) {
            problem = bytes.error().message;
            continue;
        }
        auto picture = DecodeIconImage(*bytes);
        if (!picture) {
            problem = picture.error().message;
            continue;
        }
        if (auto s = count(pixels, *picture); !s)
            return s.error();
        const bool cursor = directory->type == kCursorType;
        frame.images.push_back(CursorImage{std::move(*picture), cursor ? entry.planesOrHotX : 0u,
                                           cursor ? entry.bitCountOrHotY : 0u});
    }
    if (frame.images.empty())
        return makeError(ErrorKind::Malformed, "no image can be read (" + problem + ")");
    return frame;
}

} // namespace

Result<SourceCursor> ReadCursorFile(ByteView file) {
    std::uint64_t pixels = 0;
    SourceCursor cursor;
    if (IsAniFileHead(file)) {
        auto ani = ReadAniFile(file);
        if (!ani)
            return ani.error();
        for (std::size_t i = 0; i < ani->frames.size(); ++i) {
            auto frame = readFrame(ani->frames[i], pixels);
            if (!frame)
                return makeError(frame.error().kind, "frame " + std::to_string(i + 1) + ": " + frame.error().message);
            cursor.frames.push_back(std::move(*frame));
        }
        cursor.steps = std::move(ani->steps);
        return cursor;
    }
    if (!IsIconFileHead(file))
        return makeError(ErrorKind::NotLoadable, "not a cursor, icon or animated cursor file");
    auto frame = readFrame(file, pixels);
    if (!frame)
        return frame.error();
    cursor.frames.push_back(std::move(*frame));
    return cursor;
}

std::vector<ModuleCursor> CursorsOfModule(const IResourceModule& module) {
    std::vector<ModuleCursor> cursors;
    for (const ResId& name : module.names(ResId::of(ResType::GroupCursor)))
        cursors.push_back(ModuleCursor{name, false});
    for (const ResId& name : module.names(ResId::of(ResType::AniCursor)))
        cursors.push_back(ModuleCursor{name, true});
    // Only a 16-bit module without cursor groups holds cursors of the older form; from
    // Windows 3 on its type 1 holds the images of groups.
    if (dynamic_cast<const NeModule*>(&module) != nullptr && module.names(ResId::of(ResType::GroupCursor)).empty())
        for (const ResId& name : module.names(ResId::of(ResType::Cursor)))
            if (HasOldIconFormatWord(module.load(ResId::of(ResType::Cursor), name), true))
                cursors.push_back(ModuleCursor{name, false, true});
    return cursors;
}

Result<SourceCursor> ReadModuleCursor(const IResourceModule& module, const ModuleCursor& cursor) {
    if (cursor.animated) {
        const std::vector<std::uint8_t> bytes = module.load(ResId::of(ResType::AniCursor), cursor.name);
        if (bytes.empty())
            return makeError(ErrorKind::Malformed, "the animated cursor cannot be read");
        return ReadCursorFile(bytes);
    }
    if (cursor.old) {
        const std::vector<std::uint8_t> bytes = module.load(ResId::of(ResType::Cursor), cursor.name);
        auto old = ReadOldIcon(bytes, true);
        if (!old)
            return old.error();
        CursorFrame frame;
        for (const OldIconImage& image : old->images) {
            auto picture = DecodeIconImage(StandardIconImage(image));
            if (!picture)
                continue;
            frame.images.push_back(CursorImage{std::move(*picture), image.hotX, image.hotY});
        }
        if (frame.images.empty())
            return makeError(ErrorKind::Malformed, "no image of the cursor can be read");
        SourceCursor out;
        out.frames.push_back(std::move(frame));
        return out;
    }
    const std::vector<std::uint8_t> group = module.load(ResId::of(ResType::GroupCursor), cursor.name);
    ByteCursor c(group);
    const auto type = c.peekAt<std::uint16_t>(2);
    const auto entries = c.peekAt<std::uint16_t>(4);
    if (!type || !entries || *type != kCursorType)
        return makeError(ErrorKind::Malformed, "the cursor group's directory is damaged");
    std::uint64_t pixels = 0;
    CursorFrame frame;
    std::string problem = "no image";
    for (int i = 0; i < std::min(*entries, kMostGroupEntries); ++i) {
        const auto entry = ReadCursorGroupEntry(group, i);
        if (!entry)
            break;
        const std::vector<std::uint8_t> image = module.load(ResId::of(ResType::Cursor), ResId::number(entry->id));
        if (image.size() <= 4) {
            problem = "image " + std::to_string(entry->id) + " is missing";
            continue;
        }
        const CursorEntryVerdict verdict = JudgeCursorEntry(*entry, image);
        if (!verdict.valid) {
            problem = verdict.problem;
            continue;
        }
        // The image resource begins with the hot spot.
        ByteCursor hot(image);
        const std::uint16_t hotX = hot.u16().value();
        const std::uint16_t hotY = hot.u16().value();
        auto picture = DecodeIconImage(ByteView(image).subspan(4));
        if (!picture) {
            problem = picture.error().message;
            continue;
        }
        if (auto s = count(pixels, *picture); !s)
            return s.error();
        frame.images.push_back(CursorImage{std::move(*picture), hotX, hotY});
    }
    if (frame.images.empty())
        return makeError(ErrorKind::Malformed, "no image of the cursor group can be read (" + problem + ")");
    SourceCursor out;
    out.frames.push_back(std::move(frame));
    return out;
}

} // namespace harvix
