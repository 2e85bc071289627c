#include "extract/writers/Groups.h"

#include "common/ByteCursor.h"
#include "module/NeModule.h"
#include "extract/writers/Support.h"
#include "format/IconEntry.h"
#include "format/OldWindows.h"

#include <array>
#include <unordered_map>

namespace harvix {

namespace {

using ImageView = std::span<const std::uint8_t>;

ImageView View(const std::vector<std::uint8_t>& bytes) {
    return ImageView(bytes.data(), bytes.size());
}

// The header of a group resource: reserved, type, count.
struct GroupHeader {
    std::array<std::uint8_t, 6> bytes{};
    std::uint8_t type = 0;
    std::int16_t count = 0;
};

std::optional<GroupHeader> ReadGroupHeader(std::span<const std::uint8_t> group) {
    ByteCursor cursor(group);
    auto head = cursor.bytes(6);
    if (!head)
        return std::nullopt;
    GroupHeader header;
    std::copy(head->begin(), head->end(), header.bytes.begin());
    header.type = header.bytes[2];
    header.count = static_cast<std::int16_t>(header.bytes[4] | (header.bytes[5] << 8));
    return header;
}

constexpr std::uint64_t kFileEntrySize = 16;

// What one icon or cursor group may write. A group is the directory of one picture's
// sizes and colour depths: the icons of Windows' own shell hold about 30 images (ten
// sizes in three depths), the Wine modules at most 10, and the largest image a directory
// can describe (256 x 256 pixels at 32 bits, uncompressed) takes about 270 KB, so a real
// group stays far below both bounds. A crafted group can name one image thousands of
// times, which would make a file of gigabytes from a module of kilobytes; a group beyond
// either bound is not well formed.
constexpr std::int16_t kMaxGroupMembers = 256;
constexpr std::uint64_t kMaxGroupFileBytes = 16u << 20;

// The in-range test of an icon image, by what its directory entry states: its depth, and
// the image's own width and height as the directory's bytes hold them, so that an image
// of 256 pixels or more (stated as 0) is compared as 0.
bool IconInRange(const IconDirectoryValues& v, const ExtractionOptions& options) {
    return options.iconDepth.contains(v.bitCount) && options.iconHeight.contains(v.height) &&
           options.iconWidth.contains(v.width);
}

void PutIconDirectoryEntry(std::vector<std::uint8_t>& out, const IconDirectoryValues& v,
                           std::uint64_t imageSize, std::uint64_t offset) {
    PutU8(out, v.width);
    PutU8(out, v.height);
    PutU8(out, v.colourCount);
    PutU8(out, 0);
    PutU16(out, v.planes);
    PutU16(out, static_cast<std::uint16_t>(v.bitCount));
    PutU32(out, imageSize);
    PutU32(out, offset);
}

// The types a kind's resources and a group's images are stored under, as the kinds
// table gives them.
ResId TypeOf(ResourceKind kind) {
    return KindOf(kind).type.id();
}
ResId IconImageType() {
    return ResId::of(*KindOf(ResourceKind::Icon).memberType);
}
ResId CursorImageType() {
    return ResId::of(*KindOf(ResourceKind::Cursor).memberType);
}

// The size of an image resource, known without loading it; 0 when there is none.
std::uint64_t ImageSize(const IResourceModule& module, const ResId& type, std::uint16_t id) {
    const auto versions = module.languages(type, ResId::number(id));
    return versions.empty() ? 0 : versions.front().size;
}

// Why the image entry `index` (from 0) of a group names gave no bytes.
std::string NoImageBytes(const IResourceModule& module, const ResId& type, int index,
                         std::uint16_t id) {
    const std::string entry = "group entry " + std::to_string(index + 1);
    const auto versions = module.languages(type, ResId::number(id));
    if (versions.empty())
        return entry + " names image " + std::to_string(id) + ", which the module does not hold";
    if (versions.front().size == 0)
        return entry + " names image " + std::to_string(id) + ", which is empty";
    return "image " + std::to_string(id) + " of " + entry + ": data cut by the end of the file";
}

// Why a group's header is not one of a group of `type` (1 icons, 2 cursors); nothing
// when it is.
std::optional<std::string> GroupHeaderProblem(const std::optional<GroupHeader>& header,
                                              std::uint8_t type, std::size_t bytes) {
    const std::string group = type == 1 ? "icon group" : "cursor group";
    if (!header)
        return group + " of " + std::to_string(bytes) + " bytes, too short for its header";
    if (header->type != type)
        return group + " marked as type " + std::to_string(header->type) + " instead of " +
               std::to_string(type);
    if (header->count <= 0)
        return group + " of " + std::to_string(header->count) + " entries";
    if (header->count > kMaxGroupMembers)
        return group + " of " + std::to_string(header->count) + " entries, more than the " +
               std::to_string(kMaxGroupMembers) + " any real group holds";
    return std::nullopt;
}

// A group resource whose header is fit for a file of its kind.
struct CheckedGroup {
    std::vector<std::uint8_t> bytes;
    GroupHeader header;

    // The size of the group file's header and directory.
    [[nodiscard]] std::uint64_t directoryBytes() const {
        return 6 + kFileEntrySize * static_cast<std::uint64_t>(header.count);
    }
    // The group file's header, with room for its directory.
    [[nodiscard]] std::vector<std::uint8_t> fileHead() const {
        std::vector<std::uint8_t> head(header.bytes.begin(), header.bytes.end());
        head.reserve(directoryBytes());
        return head;
    }
};

// The icon or cursor group `name` with its header checked, or why it is left out.
std::variant<CheckedGroup, LeftOut> LoadGroup(const IResourceModule& module, ResourceKind kind,
                                              const ResId& name) {
    auto bytes = LoadResourceBytes(module, TypeOf(kind), name);
    if (bytes.empty())
        return LeftOut{LeftOutReason::Empty, NoBytes(module, TypeOf(kind), name)};
    const auto header = ReadGroupHeader(bytes);
    if (auto problem = GroupHeaderProblem(header, kind == ResourceKind::Icon ? 1 : 2, bytes.size()))
        return LeftOut{LeftOutReason::Malformed, std::move(*problem)};
    return CheckedGroup{std::move(bytes), *header};
}

std::string EntriesCutShort(std::uint8_t type, int count, int index) {
    return std::string(type == 1 ? "icon group" : "cursor group") + " of " +
           std::to_string(count) + " entries cut short after entry " + std::to_string(index);
}

std::string BeyondBounds(std::uint8_t type) {
    return std::string(type == 1 ? "icon group" : "cursor group") + " of more than " +
           std::to_string(kMaxGroupFileBytes >> 20) + " MiB of images, far beyond any real one";
}

// The images one group names, each loaded once however many of its entries name it, and
// kept for writing while together they take at most kKeptImageBytes (a real group's take
// far less); an image beyond that is loaded again each time it is asked for.
constexpr std::uint64_t kKeptImageBytes = 4u << 20;

class GroupImages {
public:
    GroupImages(const IResourceModule& module, ResId type) : m_module(module), m_type(std::move(type)) {}

    // The bytes of image `id`, valid until the next call; empty when the module does not
    // hold it whole.
    ImageView Get(std::uint16_t id) {
        if (const auto kept = m_kept.find(id); kept != m_kept.end())
            return View(kept->second);
        std::vector<std::uint8_t> bytes = m_module.load(m_type, ResId::number(id));
        if (m_keptBytes + bytes.size() <= kKeptImageBytes) {
            m_keptBytes += bytes.size();
            return View(m_kept.emplace(id, std::move(bytes)).first->second);
        }
        m_last = std::move(bytes);
        return View(m_last);
    }

private:
    const IResourceModule& m_module;
    ResId m_type;
    std::unordered_map<std::uint16_t, std::vector<std::uint8_t>> m_kept;
    std::uint64_t m_keptBytes = 0;
    std::vector<std::uint8_t> m_last;
};

// An icon group entry judged by the one rule, with the image it names: what its
// directory entry states, or nothing with `why` when it is not valid.
std::optional<IconDirectoryValues> JudgeIcon(const IResourceModule& module, GroupImages& images,
                                             const IconGroupEntry& entry, int index, LeftOut& why) {
    const IconEntryVerdict verdict = JudgeIconEntry(entry, images.Get(entry.id));
    if (verdict.valid)
        return verdict.values;
    if (verdict.imageMissing)
        why = {LeftOutReason::Empty, NoImageBytes(module, IconImageType(), index, entry.id)};
    else
        why = {LeftOutReason::Malformed, "group entry " + std::to_string(index + 1) + " " + verdict.problem};
    return std::nullopt;
}

// "none of its 4 images within the icon limits: colour depth 8-32, width 16-32, height 16-32"
std::string NoIconInLimits(int count, const ExtractionOptions& options) {
    return (count == 1 ? std::string("its image is not") : "none of its " + std::to_string(count) + " images is") +
           " within the icon limits: colour depth " + RangeText(options.iconDepth) + ", width " +
           RangeText(options.iconWidth) + ", height " + RangeText(options.iconHeight);
}

// An image that a group's directory was built for is no longer what the module gives.
std::string ChangedWhileRead(std::uint16_t id) {
    return "image " + std::to_string(id) + " changed while it was read";
}

// An image a group names, as a piece of the file: from byte `skip` on.
std::vector<std::uint8_t> Piece(ImageView image, std::size_t skip = 0) {
    return std::vector<std::uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(skip), image.end());
}

} // namespace

std::vector<PlannedFile> PlanIconSizes(const IResourceModule& module, const ResId& name,
                                       const ExtractionOptions& options) {
    auto loaded = LoadGroup(module, ResourceKind::Icon, name);
    const CheckedGroup* group = std::get_if<CheckedGroup>(&loaded);
    if (group == nullptr)
        return {};

    // The images that get a file, up to the first invalid entry, each in the folder of
    // its own size, whatever size its entry states. Of several images of one size and
    // depth the last one's file is the one that remains (each replaces the one before),
    // so only that one is made: a group naming one image thousands of times costs one
    // file, not thousands.
    struct Pick {
        IconDirectoryValues entry;
        std::uint16_t id;
        std::string folder;
    };
    std::vector<Pick> picks;
    std::unordered_map<std::string, std::size_t> lastOfFolder;
    GroupImages images(module, IconImageType());
    // What the group's own file would take: a group beyond the bounds gets no files at all.
    std::uint64_t groupFileBytes = group->directoryBytes();
    for (int i = 0; i < group->header.count; ++i) {
        const auto entry = ReadIconGroupEntry(group->bytes, i);
        if (!entry)
            break; // the group ends early: as good as an invalid entry
        const std::uint64_t size = ImageSize(module, IconImageType(), entry->id);
        groupFileBytes += size;
        const bool beyondBounds = groupFileBytes > kMaxGroupFileBytes;
        // An entry that stands as stated is valid whatever its image: beyond the bounds,
        // or at a depth outside the limits (its image cannot be in range at any size),
        // its image is not looked at.
        if (IconEntryStandsAsStated(*entry) &&
            (beyondBounds || !options.iconDepth.contains(entry->bitCount))) {
            if (beyondBounds)
                return {};
            continue;
        }
        // The entry as its directory entry states it: its own values, or its image's.
        LeftOut why;
        const auto values = JudgeIcon(module, images, *entry, i, why);
        if (!values)
            break; // the split stops here; the files before it are made
        if (beyondBounds)
            return {};
        if (!IconInRange(*values, options))
            continue;
        if (size == 0 || size > kMaxField32 - 22)
            continue; // an image that can't be loaded gets no file of its own
        std::string folder = std::to_string(values->width) + "x" + std::to_string(values->height) +
                             "/" + std::to_string(values->bitCount) + "/";
        lastOfFolder[folder] = picks.size();
        picks.push_back({*values, entry->id, std::move(folder)});
    }

    std::vector<PlannedFile> files;
    for (std::size_t i = 0; i < picks.size(); ++i) {
        const auto& [entry, id, folder] = picks[i];
        if (lastOfFolder[folder] != i)
            continue;
        const ImageView image = images.Get(id);
        if (image.empty() || image.size() > kMaxField32 - 22)
            continue;
        std::vector<std::uint8_t> head(group->header.bytes.begin(), group->header.bytes.end());
        head[4] = 1;
        head[5] = 0;
        PutIconDirectoryEntry(head, entry, image.size(), 6 + kFileEntrySize);
        files.push_back(PlannedFile{folder, {std::move(head), Piece(image)}});
    }
    return files;
}

OwnFilePlan PlanIconGroup(const IResourceModule& module, const ResId& name,
                          const ExtractionOptions& options) {
    auto loaded = LoadGroup(module, ResourceKind::Icon, name);
    if (auto* leftOut = std::get_if<LeftOut>(&loaded))
        return std::move(*leftOut);
    const CheckedGroup& group = std::get<CheckedGroup>(loaded);

    PlannedFile file;
    file.pieces.push_back(group.fileHead());
    std::vector<std::uint16_t> ids;
    std::vector<std::uint64_t> sizes;
    bool anyInRange = false;
    GroupImages images(module, IconImageType());
    std::uint64_t offset = group.directoryBytes();
    for (int i = 0; i < group.header.count; ++i) {
        const auto entry = ReadIconGroupEntry(group.bytes, i);
        if (!entry)
            return LeftOut{LeftOutReason::Malformed, EntriesCutShort(1, group.header.count, i)};
        // An entry that stands as stated is valid whatever its image, so one that takes
        // the file beyond the bounds is refused before its image is looked at.
        const std::uint64_t size = ImageSize(module, IconImageType(), entry->id);
        if (IconEntryStandsAsStated(*entry) && size > 0 && offset + size > kMaxGroupFileBytes)
            return LeftOut{LeftOutReason::Malformed, BeyondBounds(1)};
        // The entry as its directory entry states it: its own values, or its image's.
        LeftOut why;
        const auto values = JudgeIcon(module, images, *entry, i, why);
        if (!values)
            return why;
        anyInRange = anyInRange || IconInRange(*values, options);
        // The directory states each image's real size, whatever the group entry says,
        // so that the offsets match the images that follow. An image that isn't there
        // makes the whole group unusable.
        if (size == 0)
            return LeftOut{LeftOutReason::Empty, NoImageBytes(module, IconImageType(), i, entry->id)};
        PutIconDirectoryEntry(file.pieces.front(), *values, size, offset);
        offset += size;
        // The file would grow beyond what any real group writes (which also keeps every
        // offset within its 32-bit field).
        if (offset > kMaxGroupFileBytes)
            return LeftOut{LeftOutReason::Malformed, BeyondBounds(1)};
        ids.push_back(entry->id);
        sizes.push_back(size);
    }
    if (!anyInRange)
        return LeftOut{LeftOutReason::Limits, NoIconInLimits(group.header.count, options)};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const ImageView image = images.Get(ids[i]);
        if (image.empty())
            return LeftOut{LeftOutReason::Empty, NoImageBytes(module, IconImageType(), static_cast<int>(i), ids[i])};
        if (image.size() != sizes[i])
            return LeftOut{LeftOutReason::Malformed, ChangedWhileRead(ids[i])};
        file.pieces.push_back(Piece(image));
    }
    return file;
}

OwnFilePlan PlanCursorGroup(const IResourceModule& module, const ResId& name) {
    auto loaded = LoadGroup(module, ResourceKind::Cursor, name);
    if (auto* leftOut = std::get_if<LeftOut>(&loaded))
        return std::move(*leftOut);
    const CheckedGroup& group = std::get<CheckedGroup>(loaded);

    GroupImages images(module, CursorImageType());
    PlannedFile file;
    file.pieces.push_back(group.fileHead());
    std::uint64_t offset = group.directoryBytes();
    for (int i = 0; i < group.header.count; ++i) {
        const auto entry = ReadCursorGroupEntry(group.bytes, i);
        if (!entry)
            return LeftOut{LeftOutReason::Malformed, EntriesCutShort(2, group.header.count, i)};
        const ImageView image = images.Get(entry->id);
        // The tests, in this order: the image has bytes; then the entry's width, height,
        // planes and size, or the picture where they can't be right; the hot spot.
        if (image.empty())
            return LeftOut{LeftOutReason::Empty, NoImageBytes(module, CursorImageType(), i, entry->id)};
        const CursorEntryVerdict verdict = JudgeCursorEntry(*entry, image);
        if (!verdict.valid)
            return LeftOut{LeftOutReason::Malformed, "group entry " + std::to_string(i + 1) + " " + verdict.problem};
        // Each image is written less its hot spot, which the directory holds.
        const std::uint64_t size = image.size() - 4;
        std::vector<std::uint8_t>& head = file.pieces.front();
        head.push_back(verdict.width);
        head.push_back(verdict.height);
        PutU8(head, 2);
        PutU8(head, 0);
        head.insert(head.end(), image.begin(), image.begin() + 4); // hot spot x, y
        PutU32(head, size);
        PutU32(head, offset);
        offset += size;
        // Beyond what any real group writes (see kMaxGroupFileBytes).
        if (offset > kMaxGroupFileBytes)
            return LeftOut{LeftOutReason::Malformed, BeyondBounds(2)};
        file.pieces.push_back(Piece(image, 4));
    }
    return file;
}

// The pictures of Windows 1.x and 2.x modules.

std::optional<ResourceKind> OldPictureKind(const IResourceModule& module, const ResId& type) {
    // Only a 16-bit module holds them, and only one without groups: from Windows 3 on,
    // icons and cursors are the images of groups, which are written instead.
    if (dynamic_cast<const NeModule*>(&module) == nullptr)
        return std::nullopt;
    if (type.is(ResType::Icon) && module.names(ResId::of(ResType::GroupIcon)).empty())
        return ResourceKind::Icon;
    if (type.is(ResType::Cursor) && module.names(ResId::of(ResType::GroupCursor)).empty())
        return ResourceKind::Cursor;
    return std::nullopt;
}

bool IsOldPicture(const ResId& type, ResourceKind kind) {
    return (kind == ResourceKind::Icon && type.is(ResType::Icon)) ||
           (kind == ResourceKind::Cursor && type.is(ResType::Cursor));
}

OwnFilePlan PlanOldPicture(const IResourceModule& module, const ResId& type, const ResId& name,
                           const ExtractionOptions& options) {
    const bool cursor = type.is(ResType::Cursor);
    const auto bytes = LoadResourceBytes(module, type, name);
    if (bytes.empty())
        return LeftOut{LeftOutReason::Empty, NoBytes(module, type, name)};
    const auto icon = ReadOldIcon(bytes, cursor);
    if (!icon)
        return LeftOut{LeftOutReason::Malformed, icon.error().message};
    // One image a file: of the form that holds both, the device-independent one, which
    // comes first.
    const OldIconImage& image = icon->images.front();
    // Icons are held to the icon limits; their pictures are monochrome. Cursors have none.
    if (!cursor) {
        if (!options.iconDepth.contains(1))
            return LeftOut{LeftOutReason::Limits, OutsideLimit("icon colour depth", 1, options.iconDepth)};
        if (!options.iconWidth.contains(image.width))
            return LeftOut{LeftOutReason::Limits, OutsideLimit("icon width", image.width, options.iconWidth)};
        if (!options.iconHeight.contains(image.height))
            return LeftOut{LeftOutReason::Limits, OutsideLimit("icon height", image.height, options.iconHeight)};
    }
    std::vector<std::uint8_t> standard = StandardIconImage(image);
    std::vector<std::uint8_t> head;
    head.reserve(6 + kFileEntrySize);
    const std::uint64_t one = 1;
    PutU16(head, 0);
    PutU16(head, cursor ? std::uint64_t{2} : one);
    PutU16(head, 1);
    // The directory states 256 as 0.
    PutU8(head, image.width >= 256 ? std::uint64_t{0} : std::uint64_t{image.width});
    PutU8(head, image.height >= 256 ? std::uint64_t{0} : std::uint64_t{image.height});
    PutU8(head, 2); // two colours
    PutU8(head, 0);
    PutU16(head, cursor ? std::uint64_t{image.hotX} : one); // an icon's planes, a cursor's hot spot
    PutU16(head, cursor ? std::uint64_t{image.hotY} : one); // an icon's bits per pixel
    PutU32(head, standard.size());
    PutU32(head, 6 + kFileEntrySize);
    return PlannedFile{{}, {std::move(head), std::move(standard)}};
}

} // namespace harvix
