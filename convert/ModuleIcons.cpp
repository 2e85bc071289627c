#include "convert/ModuleIcons.h"

#include "common/ByteCursor.h"
#include "module/ResourceType.h"
#include "format/IconEntry.h"
#include "image/IconFile.h"
#include "common/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>

namespace harvix {


namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// A group's own name as a message shows it: "3", "-101" for an id, "MAINICON".
std::string groupText(const ResId& name) {
    return name.numeric ? std::to_string(name.id) : "\"" + name.text + "\"";
}

// The first bytes of a regular file, read without blocking on a FIFO or device; empty
// when there are not that many or the file cannot be read (opening it as a module then
// says why).
std::vector<std::uint8_t> fileHead(const std::string& path) {
    std::vector<std::uint8_t> head(6);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    struct stat st {};
    const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      ::pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size());
    ::close(fd);
    return read ? head : std::vector<std::uint8_t>{};
}

} // namespace

std::string IconRef::toText() const {
    std::string text;
    if (by == By::Id)
        text += '-';
    text += std::to_string(value);
    return text;
}

std::optional<IconRef> ParseIconRef(std::string_view text) {
    text = trimmed(text);
    const bool id = !text.empty() && text.front() == '-';
    if (id)
        text.remove_prefix(1);
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text)
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    // Windows reads the reference as one signed number: "-0" is 0, the first group.
    if (id && value == 0)
        return IconRef{IconRef::By::Position, 0};
    return IconRef{id ? IconRef::By::Id : IconRef::By::Position, static_cast<std::uint32_t>(value)};
}

IconLocation SplitIconLocation(std::string_view text) {
    const auto comma = text.rfind(',');
    if (comma != std::string_view::npos) {
        if (auto ref = ParseIconRef(text.substr(comma + 1)))
            return IconLocation{std::string(text.substr(0, comma)), ref};
    }
    return IconLocation{std::string(text), std::nullopt};
}

Result<IconGroup> LoadIconGroup(const IResourceModule& module, std::optional<IconRef> ref) {
    const ResId groupType = ResId::of(ResType::GroupIcon);
    const ResId iconType = ResId::of(ResType::Icon);
    const std::vector<ResId> groups = module.names(groupType);
    if (groups.empty())
        return makeError(ErrorKind::NotFound, "the module holds no icon");

    std::size_t position = 0;
    const IconRef wanted = ref.value_or(IconRef{});
    if (wanted.by == IconRef::By::Position) {
        if (wanted.value >= groups.size())
            return makeError(ErrorKind::NotFound,
                             groups.size() == 1
                                 ? "the module holds one icon group, 0"
                                 : "the module holds " + std::to_string(groups.size()) + " icon groups, 0 to " +
                                       std::to_string(groups.size() - 1));
        position = wanted.value;
    } else {
        // Identifiers are 16-bit: a larger one names no group.
        auto found = groups.end();
        if (wanted.value <= 0xFFFF)
            found = std::find(groups.begin(), groups.end(), ResId::number(static_cast<std::uint16_t>(wanted.value)));
        if (found == groups.end())
            return makeError(ErrorKind::NotFound, "no icon group has the id " + std::to_string(wanted.value));
        position = static_cast<std::size_t>(found - groups.begin());
    }

    IconGroup out;
    out.name = groups[position];
    out.position = position;
    out.groupCount = groups.size();
    const std::string which = "icon group " + groupText(out.name);
    const std::vector<std::uint8_t> group = module.load(groupType, out.name);
    ByteCursor c(group);
    auto type = c.peekAt<std::uint16_t>(2);
    auto count = c.peekAt<std::uint16_t>(4);
    if (!type || !count || *type != 1)
        return makeError(ErrorKind::Malformed, which + " is damaged");
    // Each entry judged as the extraction judges it (format/IconEntry.h): an entry whose
    // values cannot be right is shown when its image is a sound picture, as its .ico
    // file holds it, and left out when it is not.
    std::unordered_set<std::uint16_t> taken;
    std::uint64_t bytes = 0;
    for (int i = 0; i < static_cast<int>(*count); ++i) {
        const auto entry = ReadIconGroupEntry(group, i);
        if (!entry)
            break; // the group is shorter than its count says: what it holds is read
        if (!taken.insert(entry->id).second)
            continue;
        std::vector<std::uint8_t> image = module.load(iconType, ResId::number(entry->id));
        if (image.empty() || !JudgeIconEntry(*entry, image).valid)
            continue;
        bytes += image.size();
        if (bytes > kMaxIconGroupBytes)
            break;
        out.images.push_back(std::move(image));
    }
    if (out.images.empty())
        return makeError(ErrorKind::NotFound, which + " names no image the module holds");
    return out;
}

Result<IconGroup> LoadFileIcon(const std::string& path, std::optional<IconRef> ref,
                               std::uint64_t maxIconFileBytes, const SatelliteFinder* satellites) {
    if (IsIconFileHead(fileHead(path))) {
        if (ref && !(ref->by == IconRef::By::Position && ref->value == 0))
            return makeError(ErrorKind::NotFound, "an icon or cursor file holds one icon, 0");
        auto bytes = ReadWholeFile(path, maxIconFileBytes);
        if (!bytes)
            return bytes.error();
        auto images = IconImagesOfIconFile(*bytes);
        if (!images)
            return images.error();
        IconGroup out;
        out.groupCount = 1;
        out.images = std::move(images->images);
        return out;
    }
    auto module = satellites != nullptr ? OpenModuleWithSatellites(path, *satellites) : OpenModule(path);
    if (!module) {
        // A file that could not be opened or read says so with the system's reason; only
        // one that was read and is neither kind of file is called so.
        if (const int code = module.error().code; code != 0)
            return makeError(ErrorKind::Io, std::strerror(code), code);
        return makeError(ErrorKind::NotLoadable, "neither a module nor an icon or cursor file");
    }
    return LoadIconGroup(**module, ref);
}

Result<IconImages> IconImagesOfIconFile(std::span<const std::uint8_t> file) {
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

} // namespace harvix
