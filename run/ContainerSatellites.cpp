#include "run/ContainerSatellites.h"

#include <algorithm>
#include <cctype>

namespace harvix {

namespace {

std::string_view baseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view folderName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : baseName(path.substr(0, slash));
}

bool sameFolded(std::string_view text, std::string_view folded) {
    return std::equal(text.begin(), text.end(), folded.begin(), folded.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
    });
}

bool endsWithFolded(std::string_view text, std::string_view foldedSuffix) {
    return text.size() > foldedSuffix.size() && sameFolded(text.substr(text.size() - foldedSuffix.size()), foldedSuffix);
}

// A member where satellites lie: a ".mun" file in a SystemResources folder, a ".mui" file
// in a folder named like a language.
bool placedLikeSatellite(std::string_view path) {
    const std::string_view folder = folderName(path);
    if (endsWithFolded(path, ".mun"))
        return sameFolded(folder, "systemresources");
    return endsWithFolded(path, ".mui") && LooksLikeLanguageTag(folder);
}

} // namespace

MemberBytes ReadMember(IContainer& container, const ContainerMember& member, MemberBounds& bounds) {
    if (member.unreadable != Unreadable::None)
        return {std::nullopt, UnreadableText(member.unreadable, member.detail)};
    if (member.size > bounds.memberLimit)
        return {std::nullopt, UnreadableText(Unreadable::TooLarge)};
    if (bounds.unpacked >= bounds.budget || member.size > bounds.budget - bounds.unpacked)
        return {std::nullopt, UnreadableText(Unreadable::Bomb)};
    const std::uint64_t limit = std::min(bounds.memberLimit, bounds.budget - bounds.unpacked);
    auto bytes = container.read(limit);
    if (!bytes) {
        Unreadable why = container.lastProblem();
        // Beyond what is left of the container's share rather than the member limit:
        // the container unpacks to more than it may.
        if (why == Unreadable::TooLarge && limit < bounds.memberLimit)
            why = Unreadable::Bomb;
        // The reason says it all, but for a missing volume, whose name follows.
        const bool said = why == Unreadable::TooLarge || why == Unreadable::Bomb || why == Unreadable::Encrypted;
        return {std::nullopt, UnreadableText(why, said ? std::string() : bytes.error().message)};
    }
    bounds.unpacked += bytes->size();
    return {std::move(bytes).value(), {}};
}

ContainerSatellites::ContainerSatellites(std::string name, std::vector<std::string> languages,
                                         const MaskSet& modules, std::uint64_t keptInMemory)
    : m_name(std::move(name)), m_listing(std::move(languages)), m_modules(modules), m_keepLimit(keptInMemory) {}

void ContainerSatellites::List(const ContainerFormat& format, const ByteSource& source, MemberBounds& bounds,
                               const std::function<bool()>& keepGoing) {
    m_format = &format;
    m_source = source;
    auto opened = format.open(source, baseName(m_name));
    if (!opened)
        return; // the reading says why
    IContainer& container = **opened;
    std::vector<std::string> modules;
    std::map<std::string, std::uint64_t> counted; // satellites read: the bytes counted against the bounds
    while (keepGoing()) {
        auto next = container.next();
        if (!next || !next->has_value())
            break;
        const ContainerMember& member = **next;
        if (member.directory)
            continue;
        m_listing.add(member.path);
        if (member.unreadable != Unreadable::None)
            continue;
        if (member.role != MemberRole::File || m_modules.Matches(baseName(member.path)))
            modules.push_back(member.path);
        if (!placedLikeSatellite(member.path) || m_kept.contains(member.path))
            continue;
        // One that would not fit what memory keeps is read again when its module comes.
        if (!member.stored && m_keptInMemory + member.size > m_keepLimit)
            continue;
        const std::uint64_t before = bounds.unpacked;
        MemberBytes read = ReadMember(container, member, bounds);
        if (!read.bytes)
            continue; // told when its module comes, and read again then
        if (!member.stored && m_keptInMemory + read.bytes->size() > m_keepLimit) {
            bounds.unpacked = before;
            continue;
        }
        const std::uint64_t held = member.stored ? 0 : read.bytes->size();
        m_keptInMemory += held;
        counted[member.path] = bounds.unpacked - before;
        m_kept.emplace(member.path, Kept{std::move(*read.bytes), held});
    }
    for (const std::string& module : modules) {
        const SatellitePaths found = m_listing.Find(module);
        std::vector<Wanted> wanted;
        // In order of precedence, the strongest last.
        if (!found.systemResources.empty() && found.systemResources != module)
            wanted.push_back({SatelliteKind::SystemResources, found.systemResources});
        if (!found.languageFile.empty() && found.languageFile != module)
            wanted.push_back({SatelliteKind::LanguageFile, found.languageFile});
        for (const Wanted& satellite : wanted)
            m_claimants[satellite.path].insert(module);
        if (!wanted.empty())
            m_satellitesOf.emplace(module, std::move(wanted));
    }
    m_moduleCount = static_cast<std::int32_t>(
        std::count_if(modules.begin(), modules.end(), [this](const std::string& path) { return !Claimed(path); }));
    // What lies where satellites lie but belongs to no module here is read as any member;
    // its bytes and their count go.
    for (auto kept = m_kept.begin(); kept != m_kept.end();) {
        if (Claimed(kept->first)) {
            ++kept;
            continue;
        }
        bounds.unpacked -= counted[kept->first];
        m_keptInMemory -= kept->second.held;
        kept = m_kept.erase(kept);
    }
}

void ContainerSatellites::fetch(const std::set<std::string>& paths, MemberBounds& bounds,
                                const std::function<void(const std::string&, const std::string&)>& notRead) {
    std::set<std::string> left = paths;
    std::string damage = UnreadableText(Unreadable::Damaged);
    if (auto opened = m_format != nullptr ? m_format->open(m_source, baseName(m_name))
                                          : Result<std::unique_ptr<IContainer>>(makeError(ErrorKind::NotFound, ""))) {
        IContainer& container = **opened;
        while (!left.empty()) {
            auto next = container.next();
            if (!next) {
                damage = UnreadableText(Unreadable::Damaged, next.error().message);
                break;
            }
            if (!next->has_value())
                break;
            const ContainerMember& member = **next;
            if (member.directory || !left.contains(member.path))
                continue;
            left.erase(member.path);
            MemberBytes read = ReadMember(container, member, bounds);
            if (read.bytes)
                m_kept.insert_or_assign(member.path, Kept{std::move(*read.bytes), 0});
            else
                notRead(MemberSourceName(m_name, member.path), read.reason);
        }
    }
    for (const std::string& path : left)
        notRead(MemberSourceName(m_name, path), damage);
}

std::vector<MemberSatellite>
ContainerSatellites::For(const std::string& path, MemberBounds& bounds,
                         const std::function<void(const std::string&, const std::string&)>& notRead) {
    const auto found = m_satellitesOf.find(path);
    if (found == m_satellitesOf.end())
        return {};
    std::set<std::string> missing;
    for (const Wanted& satellite : found->second)
        if (!m_kept.contains(satellite.path))
            missing.insert(satellite.path);
    if (!missing.empty())
        fetch(missing, bounds, notRead);
    std::vector<MemberSatellite> out;
    for (const Wanted& satellite : found->second)
        if (const auto kept = m_kept.find(satellite.path); kept != m_kept.end())
            out.push_back({satellite.kind, MemberSourceName(m_name, satellite.path), kept->second.bytes});
    return out;
}

void ContainerSatellites::Done(const std::string& path, const std::vector<std::string>& taken) {
    const std::string prefix = MemberSourceName(m_name, "");
    for (const std::string& name : taken)
        if (name.starts_with(prefix))
            m_taken.insert(name.substr(prefix.size()));
    const auto found = m_satellitesOf.find(path);
    if (found == m_satellitesOf.end())
        return;
    for (const Wanted& satellite : found->second) {
        auto& claimants = m_claimants[satellite.path];
        claimants.erase(path);
        // Taken, and no module left to take it: its bytes are no longer needed.
        if (claimants.empty() && m_taken.contains(satellite.path))
            if (const auto kept = m_kept.find(satellite.path); kept != m_kept.end()) {
                m_keptInMemory -= kept->second.held;
                m_kept.erase(kept);
            }
    }
}

std::vector<MemberSatellite>
ContainerSatellites::Untaken(MemberBounds& bounds,
                             const std::function<void(const std::string&, const std::string&)>& notRead) {
    std::vector<std::string> paths;
    for (const auto& [path, claimants] : m_claimants)
        if (!m_taken.contains(path) && m_modules.Matches(baseName(path)))
            paths.push_back(path);
    std::set<std::string> missing;
    for (const std::string& path : paths)
        if (!m_kept.contains(path))
            missing.insert(path);
    if (!missing.empty())
        fetch(missing, bounds, notRead);
    std::vector<MemberSatellite> out;
    for (const std::string& path : paths)
        if (const auto kept = m_kept.find(path); kept != m_kept.end())
            out.push_back({SatelliteKind::LanguageFile, MemberSourceName(m_name, path), kept->second.bytes});
    m_kept.clear();
    m_keptInMemory = 0;
    return out;
}

} // namespace harvix
