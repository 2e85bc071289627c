#include "convert/ContainerIcon.h"

#include "container/Container.h"
#include "container/MsiPackage.h"
#include "format/IconEntry.h"
#include "image/IconFile.h"

#include <algorithm>
#include <limits>

namespace harvix {

namespace {

bool endsWithProgram(std::string_view path) {
    if (path.size() < 4)
        return false;
    std::string tail(path.substr(path.size() - 4));
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".exe";
}

// The icon of one file's bytes: an icon file's images, or a module's first group.
Result<IconGroup> iconOfBytes(std::vector<std::uint8_t> bytes) {
    if (IsIconFileHead(bytes)) {
        auto images = IconImagesOfIconFile(bytes);
        if (!images)
            return images.error();
        IconGroup out;
        out.groupCount = 1;
        out.images = std::move(images->images);
        return out;
    }
    auto module = OpenModuleFromBuffer(std::move(bytes));
    if (!module)
        return makeError(ErrorKind::NotFound, "neither a module nor an icon file");
    return LoadIconGroup(**module, std::nullopt);
}

// The width of an icon's largest image, as the images themselves say.
std::uint32_t largestImage(const IconGroup& icon) {
    std::uint32_t largest = 0;
    for (const auto& image : icon.images)
        if (auto facts = ReadIconImageInfo(image))
            largest = std::max(largest, facts->width);
    return largest;
}

// The icon of the program nearest the top of a container: the first .exe member of the
// fewest folders deep that holds an icon.
Result<IconGroup> programIcon(IContainer& container, std::uint64_t maxMemberBytes, bool skipTables) {
    std::optional<IconGroup> best;
    std::size_t bestDepth = std::numeric_limits<std::size_t>::max();
    for (;;) {
        auto member = container.next();
        if (!member || !*member)
            break;
        const ContainerMember& m = **member;
        if (m.directory || m.unreadable != Unreadable::None || !endsWithProgram(m.path))
            continue;
        if (skipTables && (m.path.starts_with(kMsiIconFolder) || m.path.starts_with(kMsiBinaryFolder)))
            continue;
        const auto depth = static_cast<std::size_t>(std::count(m.path.begin(), m.path.end(), '/'));
        if (depth >= bestDepth)
            continue;
        auto bytes = container.read(maxMemberBytes);
        if (!bytes)
            continue;
        std::vector<std::uint8_t> whole(static_cast<std::size_t>(bytes->size()));
        if (!bytes->readAt(0, whole))
            continue;
        if (auto icon = iconOfBytes(std::move(whole))) {
            best = std::move(*icon);
            bestDepth = depth;
            if (depth == 0)
                break; // none lies nearer the top
        }
    }
    if (!best)
        return makeError(ErrorKind::NotFound, "it holds no program with an icon");
    return std::move(*best);
}

// A package's product icon, else its Icon table's largest, else its first program's.
Result<IconGroup> packageIcon(const ByteSource& source, std::uint64_t maxMemberBytes) {
    auto package = MsiPackage::Open(source);
    if (!package)
        return package.error();
    const MsiPackage& msi = **package;
    if (const auto& product = msi.productIcon())
        if (auto bytes = msi.icon(*product, maxMemberBytes))
            if (auto icon = iconOfBytes(std::move(*bytes)))
                return icon;
    std::optional<IconGroup> largest;
    std::uint32_t largestWidth = 0;
    for (const std::string& name : msi.icons()) {
        auto bytes = msi.icon(name, maxMemberBytes);
        if (!bytes)
            continue;
        auto icon = iconOfBytes(std::move(*bytes));
        if (!icon)
            continue;
        // The first of the largest, in the table's order.
        if (const std::uint32_t width = largestImage(*icon); !largest || width > largestWidth) {
            largestWidth = width;
            largest = std::move(*icon);
        }
    }
    if (largest)
        return std::move(*largest);
    // The files come after the rows of the Icon and Binary tables, which are passed over.
    auto container = Containers().open(source, "package");
    if (!container)
        return container.error();
    return programIcon(**container, maxMemberBytes, true);
}

// The largest member read for its icon: the largest module the extraction reads.
constexpr std::uint64_t kMostMemberBytes = 512ull << 20;

} // namespace

void PrepareContainerIcon(const std::string& path) {
    if (auto source = OpenByteSource(path))
        PrepareMsiReading(source->head(8));
}

Result<IconGroup> LoadAnyFileIcon(const std::string& path, std::optional<IconRef> ref,
                                  std::uint64_t maxIconFileBytes, const SatelliteFinder* satellites) {
    auto icon = LoadFileIcon(path, ref, maxIconFileBytes, satellites);
    if (!icon && icon.error().kind == ErrorKind::NotLoadable)
        if (auto contained = LoadContainerIcon(path, ref, kMostMemberBytes))
            return std::move(*contained);
    return icon;
}

std::optional<Result<IconGroup>> LoadContainerIcon(const std::string& path, std::optional<IconRef> ref,
                                                   std::uint64_t maxMemberBytes) {
    auto source = OpenByteSource(path);
    if (!source)
        return std::nullopt;
    const std::string name = path.substr(path.rfind('/') + 1);
    const ContainerFormat* format = Containers().identify(*source, name);
    if (!format)
        return std::nullopt;
    if (ref && !(ref->by == IconRef::By::Position && ref->value == 0))
        return makeError(ErrorKind::NotFound, "an installer or archive has one icon, 0");
    if (IsCompoundFileHead(source->head(8)))
        if (auto icon = packageIcon(*source, maxMemberBytes); icon || icon.error().kind != ErrorKind::NotLoadable)
            return icon;
    auto container = format->open(*source, name);
    if (!container)
        return Result<IconGroup>(container.error());
    return programIcon(**container, maxMemberBytes, false);
}

} // namespace harvix
