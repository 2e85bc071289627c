#include "extract/Writers.h"

#include "common/ByteCursor.h"
#include "common/Paths.h"
#include "extract/module/NeModule.h"
#include "format/Dib.h"
#include "format/IconEntry.h"
#include "format/OldWindows.h"
#include "format/Signature.h"

#include <array>
#include <charconv>
#include <limits>
#include <unordered_map>
#include <variant>

namespace harvix {

namespace {

constexpr std::uint64_t kMaxField32 = std::numeric_limits<std::uint32_t>::max();

// Little-endian record building.
void PutU8(std::vector<std::uint8_t>& out, std::uint64_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}
void PutU16(std::vector<std::uint8_t>& out, std::uint64_t value) {
    PutU8(out, value);
    PutU8(out, value >> 8);
}
void PutU32(std::vector<std::uint8_t>& out, std::uint64_t value) {
    PutU16(out, value);
    PutU16(out, value >> 16);
}

Bytes View(const std::vector<std::uint8_t>& bytes) {
    return Bytes(bytes.data(), bytes.size());
}

WriteOutcome Failed(Error error, bool created) {
    WriteOutcome outcome;
    outcome.created = created;
    outcome.error = std::move(error);
    return outcome;
}

WriteOutcome Rejected(LeftOutReason reason, std::string detail = {}) {
    WriteOutcome outcome;
    outcome.leftOut = LeftOut{reason, std::move(detail)};
    return outcome;
}

WriteOutcome Written() {
    WriteOutcome outcome;
    outcome.written = true;
    outcome.created = true;
    return outcome;
}

// Creates the file and writes the pieces; the common tail of the bitmap and raw writers.
// A file that fails is never given its name, so nothing is left at the path.
WriteOutcome WriteNewFile(IFileSystem& fs, const std::string& path,
                          std::initializer_list<Bytes> pieces) {
    auto file = fs.CreateExclusive(path);
    if (!file)
        return Failed(file.error(), false);
    if (auto written = (*file)->Write(pieces); !written)
        return Failed(written.error(), false);
    if (auto closed = (*file)->Close(); !closed)
        return Failed(closed.error(), false);
    return Written();
}

// The pieces of one file gathered for one write: a group's directory and its images reach
// the file in one system call instead of one each. At most about kBatchBytes of loaded
// images are held; beyond that what is held is written as more comes.
constexpr std::uint64_t kBatchBytes = 1u << 20;

class PieceBatch {
public:
    explicit PieceBatch(IOutputFile& file) : m_file(file) {}

    // Keeps `bytes` from `from` on for the next write.
    [[nodiscard]] Status Add(std::vector<std::uint8_t> bytes, std::size_t from = 0) {
        m_held += bytes.size();
        m_parts.push_back({std::move(bytes), from});
        return m_held >= kBatchBytes ? Flush() : success();
    }

    [[nodiscard]] Status Flush() {
        std::vector<Bytes> pieces;
        pieces.reserve(m_parts.size());
        for (const Part& part : m_parts)
            pieces.push_back(View(part.bytes).subspan(part.from));
        auto written = m_file.WritePieces(pieces);
        m_parts.clear();
        m_held = 0;
        return written;
    }

private:
    struct Part {
        std::vector<std::uint8_t> bytes;
        std::size_t from = 0;
    };
    IOutputFile& m_file;
    std::vector<Part> m_parts;
    std::uint64_t m_held = 0;
};

// "8-32": a limit as it is typed.
std::string LimitText(const LimitRange& range) {
    return std::to_string(range.min) + "-" + std::to_string(range.max);
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

// Why a resource gave no bytes, in a user's words: it is empty, or its data runs past
// the end of the file.
std::string NoBytes(const IResourceModule& module, const ResId& type, const ResId& name) {
    const ResId lookup = LookupName(name);
    const auto versions = module.languages(type, lookup);
    if (versions.empty() && !name.numeric && lookup.numeric)
        return "named " + name.text + ", which is looked up as the number " + lookup.toText() +
               ", under which the module holds nothing";
    if (versions.empty())
        return "not in the module";
    return versions.front().size == 0 ? "empty resource" : "data cut by the end of the file";
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

std::string ChangedWhileRead(std::uint16_t id) {
    return "image " + std::to_string(id) + " changed while it was read";
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
std::variant<CheckedGroup, WriteOutcome> LoadGroup(const WriterContext& ctx, ResourceKind kind,
                                                   const ResId& name) {
    auto bytes = LoadResourceBytes(ctx.module, TypeOf(kind), name);
    if (!HasBytes(bytes))
        return Rejected(LeftOutReason::Empty, NoBytes(ctx.module, TypeOf(kind), name));
    const auto header = ReadGroupHeader(bytes);
    if (auto problem = GroupHeaderProblem(header, kind == ResourceKind::Icon ? 1 : 2, bytes.size()))
        return Rejected(LeftOutReason::Malformed, std::move(*problem));
    return CheckedGroup{std::move(bytes), *header};
}

// Writes a group's file: its directory `head`, then each of `images` images as
// `imageAt(i, image)` loads it, from byte `skip` on, in batches. When `imageAt` says why
// an image is unreadable after all, that is the outcome and the file, abandoned, never
// gets its name.
template <typename ImageAt>
WriteOutcome WriteGroupFile(const WriterContext& ctx, const std::string& path, std::vector<std::uint8_t> head,
                            std::size_t images, std::size_t skip, ImageAt imageAt) {
    auto file = ctx.fs.CreateExclusive(path);
    if (!file)
        return Failed(file.error(), false);
    PieceBatch batch(**file);
    if (auto added = batch.Add(std::move(head)); !added)
        return Failed(added.error(), false);
    for (std::size_t i = 0; i < images; ++i) {
        std::vector<std::uint8_t> image;
        if (std::optional<WriteOutcome> unreadable = imageAt(i, image))
            return std::move(*unreadable);
        if (auto added = batch.Add(std::move(image), skip); !added)
            return Failed(added.error(), false);
    }
    if (auto written = batch.Flush(); !written)
        return Failed(written.error(), false);
    if (auto closed = (*file)->Close(); !closed)
        return Failed(closed.error(), false);
    return Written();
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
    Bytes Get(std::uint16_t id) {
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
           " within the icon limits: colour depth " + LimitText(options.iconDepth) + ", width " +
           LimitText(options.iconWidth) + ", height " + LimitText(options.iconHeight);
}

} // namespace

ResId LookupName(const ResId& name) {
    if (name.numeric)
        return name;
    // A name of digits beyond 65535 stands for no identifier: it is looked up as the
    // name it is, which no numeric entry can match.
    return ResIdFromText(name.text).value_or(name);
}

std::vector<std::uint8_t> LoadResourceBytes(const IResourceModule& module, const ResId& type,
                                            const ResId& name) {
    // A module gives a resource whole or not at all (IResourceModule::load): data that
    // runs past the end of the file loads as nothing, so it is left out as empty instead
    // of being written short as if it were whole.
    return module.load(type, LookupName(name));
}

namespace {

// "bitmap height 3000 outside the limit 16-48"
std::string OutsideLimit(const char* what, std::int64_t value, const LimitRange& range) {
    return std::string(what) + " " + std::to_string(value) + " outside the limit " + LimitText(range);
}

// The bitmap file header, or nothing with `why` saying why the bitmap is left out.
std::optional<std::vector<std::uint8_t>> CheckBitmap(std::span<const std::uint8_t> resource,
                                                     const ExtractionOptions& options,
                                                     LeftOut& why) {
    why = {LeftOutReason::Malformed, {}};
    ByteCursor cursor(resource);
    const auto headerSize = cursor.peekAt<std::uint32_t>(0);
    auto read = ReadDibFacts(resource);
    std::optional<DibFacts> facts;
    if (read) {
        facts = *read;
    } else if (headerSize && !IsDibHeaderSize(*headerSize) && resource.size() >= 40) {
        // A header of no known size: its limits are read as those of the 40-byte one, so
        // that a bitmap outside the limits is told so first, whatever else is wrong.
        facts = DibFacts{};
        facts->headerSize = *headerSize;
        facts->width = cursor.peekAt<std::int32_t>(4).valueOr(0);
        facts->height = cursor.peekAt<std::int32_t>(8).valueOr(0);
        facts->bitCount = cursor.peekAt<std::int16_t>(14).valueOr(0);
    } else {
        why.detail = headerSize ? "bitmap of " + std::to_string(resource.size()) +
                                      " bytes, shorter than its information header of " +
                                      std::to_string(*headerSize)
                                : "bitmap of " + std::to_string(resource.size()) +
                                      " bytes, too short for an information header";
        return std::nullopt;
    }

    // The tests, in this order; the limits come first. A top-down bitmap's height is
    // stored negative: its rows are what the limit is about.
    const std::int64_t height = facts->topDown() ? static_cast<std::int64_t>(facts->rows()) : facts->height;
    if (!options.bitmapDepth.contains(facts->bitCount)) {
        why = {LeftOutReason::Limits, OutsideLimit("bitmap colour depth", facts->bitCount, options.bitmapDepth)};
        return std::nullopt;
    }
    if (!options.bitmapHeight.contains(height)) {
        why = {LeftOutReason::Limits, OutsideLimit("bitmap height", height, options.bitmapHeight)};
        return std::nullopt;
    }
    if (!options.bitmapWidth.contains(facts->width)) {
        why = {LeftOutReason::Limits, OutsideLimit("bitmap width", facts->width, options.bitmapWidth)};
        return std::nullopt;
    }
    if (!read) {
        why.detail = "bitmap information header of " + std::to_string(facts->headerSize) +
                     " bytes, a size no bitmap has";
        return std::nullopt;
    }
    if (const auto problem = DibShapeProblem(*facts)) {
        why.detail = "bitmap with " + *problem;
        return std::nullopt;
    }

    // The pixel bits follow the information header, the masks of a 16- or 32-bit
    // bit-field bitmap with a 40-byte header, and the colour table.
    const std::uint64_t offset = facts->filePixelOffset();
    const std::uint64_t fileSize = 14 + std::uint64_t{resource.size()};
    if (offset > kMaxField32 || fileSize > kMaxField32) {
        why.detail = offset > kMaxField32 ? "bitmap colour table of " + std::to_string(facts->paletteEntries) +
                                                " entries, more than a bitmap file can state"
                                          : "bitmap larger than a bitmap file can hold";
        return std::nullopt;
    }

    std::vector<std::uint8_t> header;
    header.reserve(14);
    PutU8(header, 'B');
    PutU8(header, 'M');
    PutU32(header, fileSize);
    PutU16(header, 0);
    PutU16(header, 0);
    PutU32(header, offset);
    return header;
}

} // namespace

std::optional<std::vector<std::uint8_t>> BitmapFileHeader(std::span<const std::uint8_t> resource,
                                                          const ExtractionOptions& options,
                                                          LeftOut* why) {
    LeftOut reason;
    auto header = CheckBitmap(resource, options, reason);
    if (!header && why != nullptr)
        *why = std::move(reason);
    return header;
}

namespace {

// "8-32".
std::string RangeText(const LimitRange& range) {
    return std::to_string(range.min) + "-" + std::to_string(range.max);
}

// A device-dependent bitmap of Windows 1.x or 2.x, written as the standard bitmap it shows.
WriteOutcome WriteOldBitmapFile(const WriterContext& ctx, const std::string& path,
                                std::span<const std::uint8_t> bytes) {
    const auto bitmap = ReadOldBitmap(bytes);
    if (!bitmap)
        return Rejected(LeftOutReason::Malformed, bitmap.error().message);
    if (!ctx.options.bitmapDepth.contains(1))
        return Rejected(LeftOutReason::Limits, "bitmap colour depth 1 outside the limit " +
                                                   RangeText(ctx.options.bitmapDepth));
    if (!ctx.options.bitmapWidth.contains(bitmap->width))
        return Rejected(LeftOutReason::Limits, "bitmap width " + std::to_string(bitmap->width) +
                                                   " outside the limit " + RangeText(ctx.options.bitmapWidth));
    if (!ctx.options.bitmapHeight.contains(bitmap->height))
        return Rejected(LeftOutReason::Limits, "bitmap height " + std::to_string(bitmap->height) +
                                                   " outside the limit " + RangeText(ctx.options.bitmapHeight));
    const std::vector<std::uint8_t> standard = StandardBitmap(*bitmap);
    std::vector<std::uint8_t> header;
    header.reserve(14);
    PutU8(header, 'B');
    PutU8(header, 'M');
    PutU32(header, 14 + standard.size());
    PutU16(header, 0);
    PutU16(header, 0);
    PutU32(header, 14 + 40 + 8); // the information header and the two colours
    return WriteNewFile(ctx.fs, path, {View(header), View(standard)});
}

} // namespace

WriteOutcome WriteBitmapFile(const WriterContext& ctx, const std::string& path,
                             const ResId& name) {
    const auto bytes = LoadResourceBytes(ctx.module, TypeOf(ResourceKind::Bitmap), name);
    if (!HasBytes(bytes))
        return Rejected(LeftOutReason::Empty, NoBytes(ctx.module, TypeOf(ResourceKind::Bitmap), name));
    // A bitmap that depends on the display, as Windows 1.x and 2.x keep them.
    if (IsOldBitmap(bytes))
        return WriteOldBitmapFile(ctx, path, bytes);
    LeftOut why;
    const auto header = CheckBitmap(bytes, ctx.options, why);
    if (!header)
        return Rejected(why.reason, std::move(why.detail));
    return WriteNewFile(ctx.fs, path, {View(*header), View(bytes)});
}

WriteOutcome WriteRawFile(const WriterContext& ctx, const std::string& path, const ResId& type,
                          const ResId& name) {
    const auto bytes = LoadResourceBytes(ctx.module, type, name);
    if (!HasBytes(bytes))
        return Rejected(LeftOutReason::Empty, NoBytes(ctx.module, type, name));
    return WriteNewFile(ctx.fs, path, {View(bytes)});
}

namespace {

// The picture file the bytes are, by their signature. The eight bytes of a PNG file's,
// the six of a GIF file's and the three of a JPEG file's make a picture, whole or
// broken; the two of a bitmap file's ("BM") and the four of an icon file's begin plenty
// of other data, which is a picture only when it reads as one.
std::optional<ImageFileType> PictureType(std::span<const std::uint8_t> bytes) {
    const auto type = ImageFileSignature(bytes);
    if (type && (*type == ImageFileType::Bmp || *type == ImageFileType::Ico) && !ReadImageFile(bytes))
        return std::nullopt;
    return type;
}

} // namespace

std::optional<ImageFileType> WholePictureType(const IResourceModule& module, const ResId& type,
                                              const ResId& name) {
    return PictureType(LoadResourceBytes(module, type, name));
}

WriteOutcome WriteImageFile(const WriterContext& ctx, const std::string& path, const ResId& type,
                            const ResId& name) {
    const auto bytes = LoadResourceBytes(ctx.module, type, name);
    if (!PictureType(bytes)) {
        WriteOutcome passed;
        passed.notOfKind = true;
        return passed;
    }
    const auto facts = ReadImageFile(bytes);
    if (!facts)
        return Rejected(LeftOutReason::Malformed, facts.error().message);
    // "PNG width 20000 outside the limit 1-16384"
    static constexpr const char* kTypeNames[] = {"PNG", "JPEG", "GIF", "BMP", "ICO"};
    const std::string what = kTypeNames[static_cast<std::size_t>(facts->type)];
    if (!ctx.options.imageWidth.contains(facts->width))
        return Rejected(LeftOutReason::Limits,
                        OutsideLimit((what + " width").c_str(), facts->width, ctx.options.imageWidth));
    if (!ctx.options.imageHeight.contains(facts->height))
        return Rejected(LeftOutReason::Limits,
                        OutsideLimit((what + " height").c_str(), facts->height, ctx.options.imageHeight));
    // The file as the program keeps it, byte for byte (the zero bytes a 16-bit module
    // pads its resources with included: viewers read a picture up to its own end).
    return WriteNewFile(ctx.fs, path, {View(bytes)});
}

WriteOutcome SplitIconGroup(const WriterContext& ctx, const std::string& path,
                            const ResId& name) {
    auto loaded = LoadGroup(ctx, ResourceKind::Icon, name);
    if (auto* leftOut = std::get_if<WriteOutcome>(&loaded))
        return std::move(*leftOut);
    const CheckedGroup& group = std::get<CheckedGroup>(loaded);

    const std::string fileName(FileNamePart(path));
    const std::string iconsFolder = FolderPart(path);

    // The images that get a file, up to the first invalid entry, each in the folder of
    // its own size, whatever size its entry states. Of several images of one size and
    // depth the last one's file is the one that remains (each replaces the one before),
    // so only that one is written: a group naming one image thousands of times costs one
    // file, not thousands.
    struct Pick {
        IconDirectoryValues entry;
        std::uint16_t id;
        std::string folder;
    };
    std::vector<Pick> picks;
    std::unordered_map<std::string, std::size_t> lastOfFolder;
    GroupImages images(ctx.module, IconImageType());
    // What the group's own file would take: a group beyond the bounds gets no files at all.
    std::uint64_t groupFileBytes = group.directoryBytes();
    for (int i = 0; i < group.header.count; ++i) {
        const auto entry = ReadIconGroupEntry(group.bytes, i);
        if (!entry)
            break; // the group ends early: as good as an invalid entry
        const std::uint64_t size = ImageSize(ctx.module, IconImageType(), entry->id);
        groupFileBytes += size;
        const bool beyondBounds = groupFileBytes > kMaxGroupFileBytes;
        // An entry that stands as stated is valid whatever its image: beyond the bounds,
        // or at a depth outside the limits (its image cannot be in range at any size),
        // its image is not looked at.
        if (IconEntryStandsAsStated(*entry) &&
            (beyondBounds || !ctx.options.iconDepth.contains(entry->bitCount))) {
            if (beyondBounds)
                return Rejected(LeftOutReason::Malformed, BeyondBounds(1));
            continue;
        }
        // The entry as its directory entry states it: its own values, or its image's.
        LeftOut why;
        const auto values = JudgeIcon(ctx.module, images, *entry, i, why);
        if (!values)
            break; // the split stops here; files written so far stay
        if (beyondBounds)
            return Rejected(LeftOutReason::Malformed, BeyondBounds(1));
        if (!IconInRange(*values, ctx.options))
            continue;
        if (size == 0 || size > kMaxField32 - 22)
            continue; // an image that can't be loaded gets no file of its own
        std::string folder = iconsFolder + "/" + std::to_string(values->width) + "x" +
                             std::to_string(values->height) + "/" +
                             std::to_string(values->bitCount) + "/";
        lastOfFolder[folder] = picks.size();
        picks.push_back({*values, entry->id, std::move(folder)});
    }

    bool created = false; // a per-size file was made: the outcome says so, error or not
    std::vector<std::string> made; // the files complete so far, which stay on any outcome
    const auto failed = [&](Error error) {
        WriteOutcome outcome = Failed(std::move(error), created);
        outcome.sideFiles = std::move(made);
        return outcome;
    };
    for (std::size_t i = 0; i < picks.size(); ++i) {
        const auto& [entry, id, folder] = picks[i];
        if (lastOfFolder[folder] != i)
            continue;
        const Bytes image = images.Get(id);
        if (image.empty() || image.size() > kMaxField32 - 22)
            continue;
        if (auto madeFolder = ctx.fs.MakeDirectories(folder); !madeFolder)
            return failed(madeFolder.error());
        const std::string target = folder + fileName;

        std::vector<std::uint8_t> head(group.header.bytes.begin(), group.header.bytes.end());
        head[4] = 1;
        head[5] = 0;
        PutIconDirectoryEntry(head, entry, image.size(), 6 + kFileEntrySize);
        auto file = ctx.fs.CreateExclusive(target);
        if (!file)
            return failed(file.error());
        if (auto written = (*file)->Write({View(head), image}); !written)
            return failed(written.error());
        // A file of an earlier run is replaced: removed once the new one is complete and
        // then the new one takes its name, so that nothing is ever written through a
        // link that sits at this path and the old file stays whole until then.
        if (ctx.fs.Exists(target))
            if (auto removed = ctx.fs.Remove(target); !removed)
                return failed(removed.error());
        if (auto closed = (*file)->Close(); !closed)
            return failed(closed.error());
        created = true;
        made.push_back(target);
    }
    WriteOutcome outcome;
    outcome.written = created;
    outcome.created = created;
    outcome.sideFiles = std::move(made);
    return outcome;
}

WriteOutcome WriteIconGroupFile(const WriterContext& ctx, const std::string& path,
                                const ResId& name) {
    auto loaded = LoadGroup(ctx, ResourceKind::Icon, name);
    if (auto* leftOut = std::get_if<WriteOutcome>(&loaded))
        return std::move(*leftOut);
    const CheckedGroup& group = std::get<CheckedGroup>(loaded);

    std::vector<std::uint16_t> ids;
    std::vector<std::uint64_t> sizes;
    std::vector<std::uint8_t> head = group.fileHead();
    bool anyInRange = false;
    GroupImages images(ctx.module, IconImageType());
    std::uint64_t offset = group.directoryBytes();
    for (int i = 0; i < group.header.count; ++i) {
        const auto entry = ReadIconGroupEntry(group.bytes, i);
        if (!entry)
            return Rejected(LeftOutReason::Malformed, EntriesCutShort(1, group.header.count, i));
        // An entry that stands as stated is valid whatever its image, so one that takes
        // the file beyond the bounds is refused before its image is looked at.
        const std::uint64_t size = ImageSize(ctx.module, IconImageType(), entry->id);
        if (IconEntryStandsAsStated(*entry) && size > 0 && offset + size > kMaxGroupFileBytes)
            return Rejected(LeftOutReason::Malformed, BeyondBounds(1));
        // The entry as its directory entry states it: its own values, or its image's.
        LeftOut why;
        const auto values = JudgeIcon(ctx.module, images, *entry, i, why);
        if (!values)
            return Rejected(why.reason, std::move(why.detail));
        anyInRange = anyInRange || IconInRange(*values, ctx.options);
        // The directory states each image's real size, whatever the group entry says,
        // so that the offsets match the images that follow. An image that isn't there
        // makes the whole group unusable.
        if (size == 0)
            return Rejected(LeftOutReason::Empty, NoImageBytes(ctx.module, IconImageType(), i, entry->id));
        PutIconDirectoryEntry(head, *values, size, offset);
        offset += size;
        // The file would grow beyond what any real group writes (which also keeps every
        // offset within its 32-bit field).
        if (offset > kMaxGroupFileBytes)
            return Rejected(LeftOutReason::Malformed, BeyondBounds(1));
        ids.push_back(entry->id);
        sizes.push_back(size);
    }
    if (!anyInRange)
        return Rejected(LeftOutReason::Limits, NoIconInLimits(group.header.count, ctx.options));

    return WriteGroupFile(ctx, path, std::move(head), ids.size(), 0,
                          [&](std::size_t i, std::vector<std::uint8_t>& image) -> std::optional<WriteOutcome> {
                              const Bytes bytes = images.Get(ids[i]);
                              if (bytes.empty())
                                  return Rejected(LeftOutReason::Empty, NoImageBytes(ctx.module, IconImageType(),
                                                                                     static_cast<int>(i), ids[i]));
                              if (bytes.size() != sizes[i])
                                  return Rejected(LeftOutReason::Malformed, ChangedWhileRead(ids[i]));
                              image.assign(bytes.begin(), bytes.end());
                              return std::nullopt;
                          });
}

WriteOutcome WriteCursorGroupFile(const WriterContext& ctx, const std::string& path,
                                  const ResId& name) {
    auto loaded = LoadGroup(ctx, ResourceKind::Cursor, name);
    if (auto* leftOut = std::get_if<WriteOutcome>(&loaded))
        return std::move(*leftOut);
    const CheckedGroup& group = std::get<CheckedGroup>(loaded);

    GroupImages images(ctx.module, CursorImageType());
    std::vector<std::uint16_t> ids;
    std::vector<std::uint64_t> sizes; // image bytes written: the resource less its hot spot
    std::vector<std::uint8_t> head = group.fileHead();
    std::uint64_t offset = group.directoryBytes();
    for (int i = 0; i < group.header.count; ++i) {
        const auto entry = ReadCursorGroupEntry(group.bytes, i);
        if (!entry)
            return Rejected(LeftOutReason::Malformed, EntriesCutShort(2, group.header.count, i));
        const Bytes image = images.Get(entry->id);
        // The tests, in this order: the image has bytes; then the entry's width, height,
        // planes and size, or the picture where they can't be right; the hot spot.
        if (image.empty())
            return Rejected(LeftOutReason::Empty, NoImageBytes(ctx.module, CursorImageType(), i, entry->id));
        const CursorEntryVerdict verdict = JudgeCursorEntry(*entry, image);
        if (!verdict.valid)
            return Rejected(LeftOutReason::Malformed,
                            "group entry " + std::to_string(i + 1) + " " + verdict.problem);
        const std::uint64_t size = image.size() - 4;
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
            return Rejected(LeftOutReason::Malformed, BeyondBounds(2));
        ids.push_back(entry->id);
        sizes.push_back(size);
    }

    // Each image is written less its hot spot, which the directory holds.
    return WriteGroupFile(ctx, path, std::move(head), ids.size(), 4,
                          [&](std::size_t i, std::vector<std::uint8_t>& image) -> std::optional<WriteOutcome> {
                              const Bytes bytes = images.Get(ids[i]);
                              if (bytes.size() != sizes[i] + 4)
                                  return Rejected(LeftOutReason::Malformed, ChangedWhileRead(ids[i]));
                              image.assign(bytes.begin(), bytes.end());
                              return std::nullopt;
                          });
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

WriteOutcome WriteOldIconFile(const WriterContext& ctx, const std::string& path, const ResId& type,
                              const ResId& name) {
    const bool cursor = type.is(ResType::Cursor);
    const auto bytes = LoadResourceBytes(ctx.module, type, name);
    if (!HasBytes(bytes))
        return Rejected(LeftOutReason::Empty, NoBytes(ctx.module, type, name));
    const auto icon = ReadOldIcon(bytes, cursor);
    if (!icon)
        return Rejected(LeftOutReason::Malformed, icon.error().message);
    // One image a file: of the form that holds both, the device-independent one, which
    // comes first.
    const OldIconImage& image = icon->images.front();
    // Icons are held to the icon limits; their pictures are monochrome. Cursors have none.
    if (!cursor) {
        if (!ctx.options.iconDepth.contains(1))
            return Rejected(LeftOutReason::Limits, "icon colour depth 1 outside the limit " +
                                                       RangeText(ctx.options.iconDepth));
        if (!ctx.options.iconWidth.contains(image.width))
            return Rejected(LeftOutReason::Limits, "icon width " + std::to_string(image.width) +
                                                       " outside the limit " + RangeText(ctx.options.iconWidth));
        if (!ctx.options.iconHeight.contains(image.height))
            return Rejected(LeftOutReason::Limits, "icon height " + std::to_string(image.height) +
                                                       " outside the limit " + RangeText(ctx.options.iconHeight));
    }
    const std::vector<std::uint8_t> standard = StandardIconImage(image);
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
    return WriteNewFile(ctx.fs, path, {View(head), View(standard)});
}

} // namespace harvix
