#include "run/ContainerSearch.h"

#include "container/MsiPackage.h"
#include "module/NeModule.h"
#include "module/PictureModule.h"
#include "search/SearchCore.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace harvix {

namespace {

std::string_view baseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

constexpr std::uint64_t kMiB = 1024 * 1024;

std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
        return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

} // namespace

void MemberSources::put(const std::string& name, ByteSource source, MemberRole role) {
    std::lock_guard lock(m_mutex);
    m_sources.insert_or_assign(name, WaitingMember{std::move(source), role});
}

std::optional<WaitingMember> MemberSources::take(const std::string& name) {
    std::lock_guard lock(m_mutex);
    const auto found = m_sources.find(name);
    if (found == m_sources.end())
        return std::nullopt;
    WaitingMember member = std::move(found->second);
    m_sources.erase(found);
    return member;
}

std::size_t MemberSources::waiting() const {
    std::lock_guard lock(m_mutex);
    return m_sources.size();
}

void MemberSources::putSatellites(const std::string& name, std::vector<MemberSatellite> satellites) {
    std::lock_guard lock(m_mutex);
    if (satellites.empty())
        m_satellites.erase(name);
    else
        m_satellites.insert_or_assign(name, std::move(satellites));
}

std::vector<MemberSatellite> MemberSources::takeSatellites(const std::string& name) {
    std::lock_guard lock(m_mutex);
    const auto found = m_satellites.find(name);
    if (found == m_satellites.end())
        return {};
    std::vector<MemberSatellite> satellites = std::move(found->second);
    m_satellites.erase(found);
    return satellites;
}

void MemberSources::noteTaken(const std::string& name, std::vector<std::string> satellites) {
    std::lock_guard lock(m_mutex);
    m_taken.insert_or_assign(name, std::move(satellites));
}

std::vector<std::string> MemberSources::takeTaken(const std::string& name) {
    std::lock_guard lock(m_mutex);
    const auto found = m_taken.find(name);
    if (found == m_taken.end())
        return {};
    std::vector<std::string> taken = std::move(found->second);
    m_taken.erase(found);
    return taken;
}

void PrepareContainerReading(const ContainerChoice& choice) {
    if (choice.search) {
        PrepareMsiReading();
        return;
    }
    for (const std::string& path : choice.named)
        if (auto source = OpenByteSource(path)) {
            // A package named, or any container named, which may hold one.
            const std::string_view name = baseName(path);
            if (Containers().identify(*source, name) != nullptr && !IsCompoundFileHead(source->head(8)))
                PrepareMsiReading();
            else
                PrepareMsiReading(source->head(8));
        }
}

Result<std::unique_ptr<IResourceModule>> OpenModuleFromSource(const ByteSource& source) {
    if (source.descriptor())
        return OpenModuleAt(source.descriptor()->fd(), source.offset(), source.size(), source.descriptor());
    if (!source.buffer())
        return makeError(ErrorKind::NotLoadable, "empty file");
    const auto memory = source.memory();
    if (memory.empty())
        return makeError(ErrorKind::NotLoadable, "empty file");
    auto module = OpenModuleFromBytes(memory);
    if (!module)
        return module.error();
    // The writers and the satellite reading tell a 16-bit module by its reader's type,
    // which a wrapper would hide (the groupless icons and cursors of Windows 1.x and 2.x
    // would be lost): such a module, a small one, gets bytes of its own.
    if (dynamic_cast<const NeModule*>(module->get()) != nullptr)
        return OpenModuleFromBuffer(std::vector<std::uint8_t>(memory.begin(), memory.end()));
    // Any other reads from the member's memory, which goes with the module.
    struct Held final : IResourceModule {
        Held(std::unique_ptr<IResourceModule> inner, std::shared_ptr<const std::vector<std::uint8_t>> bytes)
            : module(std::move(inner)), keep(std::move(bytes)) {}
        std::vector<ResId> types() const override { return module->types(); }
        std::vector<ResId> names(const ResId& type) const override { return module->names(type); }
        std::vector<ResLanguage> languages(const ResId& type, const ResId& name) const override {
            return module->languages(type, name);
        }
        std::vector<std::uint8_t> load(const ResId& type, const ResId& name) const override {
            return module->load(type, name);
        }
        std::string source(const ResId& type, const ResId& name) const override { return module->source(type, name); }
        std::uint64_t heldBytes() const override { return keep->size(); }
        Packer packer() const override { return module->packer(); }
        Installer installer() const override { return module->installer(); }
        std::unique_ptr<IResourceModule> module;
        std::shared_ptr<const std::vector<std::uint8_t>> keep;
    };
    return std::unique_ptr<IResourceModule>(std::make_unique<Held>(std::move(module).value(), source.buffer()));
}

Result<std::unique_ptr<IResourceModule>> OpenMember(const WaitingMember& member) {
    auto module = OpenModuleFromSource(member.bytes);
    if (module || member.role == MemberRole::File || module.error().kind != ErrorKind::NotLoadable)
        return module;
    // A package's rows are read whole into memory (they are pictures and small programs).
    auto bytes = member.bytes.buffer();
    if (!bytes)
        return module;
    if (bytes->size() != member.bytes.size()) {
        const auto part = member.bytes.memory();
        bytes = std::make_shared<const std::vector<std::uint8_t>>(part.begin(), part.end());
    }
    auto picture = member.role == MemberRole::Icon ? OpenIconFileAsModule(bytes) : OpenPictureFileAsModule(bytes);
    if (!picture)
        return module; // neither: what it is not is said as for any file
    return picture;
}

ModuleOpener MemberOpener(MemberSources& members, ModuleOpener next) {
    return [&members, next = std::move(next)](const std::string& path) -> Result<std::unique_ptr<IResourceModule>> {
        if (auto member = members.take(path)) {
            auto module = OpenMember(*member);
            std::vector<MemberSatellite> satellites = members.takeSatellites(path);
            if (!module)
                return makeError(module.error().kind, path + ": " + module.error().message, module.error().code);
            if (satellites.empty())
                return module;
            std::vector<SatelliteCandidate> candidates;
            for (MemberSatellite& satellite : satellites)
                if (auto opened = OpenModuleFromSource(satellite.bytes))
                    candidates.push_back({satellite.kind, std::move(satellite.name), std::move(opened).value()});
            std::vector<std::string> taken;
            auto merged = WithSatellites(std::move(module).value(), std::move(candidates), &taken);
            members.noteTaken(path, std::move(taken));
            return merged;
        }
        return next ? next(path) : OpenModule(path);
    };
}

ContainerSearch::ContainerSearch(IRunSearch& search, ContainerChoice choice, MemberSources& members,
                                 IContainerObserver* observer)
    : m_search(search), m_choice(std::move(choice)), m_members(members), m_observer(observer),
      m_containers(SplitMask(m_choice.mask)), m_named(m_choice.named.begin(), m_choice.named.end()) {
    if (const auto finder = SatelliteFinderFor(m_choice.satellites))
        m_satelliteLanguages = finder->languages();
}

std::string ContainerSearch::WalkMask(const std::string& FileMask) const {
    if (!m_choice.search || m_choice.mask.empty())
        return FileMask;
    // Split and joined again with one separator, so that the two lists stay lists
    // whichever separator each was written with.
    std::string walk;
    for (const auto& part : SplitMask(FileMask))
        walk += (walk.empty() ? "" : ";") + part;
    for (const auto& part : SplitMask(m_choice.mask))
        walk += (walk.empty() ? "" : ";") + part;
    return walk;
}

SearchCount ContainerSearch::CountTree(bool AllDrives, const std::string& BaseDir, bool Recurse,
                                       const std::string& FileMask) {
    return m_search.CountTree(AllDrives, BaseDir, Recurse, WalkMask(FileMask));
}

void ContainerSearch::prepare(const std::string& FileMask, cSearchCoreEvents& events) {
    m_events = &events;
    // A run without a mask (files named one by one, a file list) takes every file as
    // it is; the members of its containers are chosen by the default mask.
    const std::vector<std::string> masks = SplitMask(FileMask);
    m_takeEvery = masks.empty();
    m_modules = MaskSet(m_takeEvery ? SplitMask(kDefaultMask) : masks);
}

void ContainerSearch::SearchForFiles(const std::string& FileRoot, bool Recurse, const std::string& FileMask,
                                     cSearchCoreEvents& events) {
    prepare(FileMask, events);
    m_search.SearchForFiles(FileRoot, Recurse, WalkMask(FileMask), *this);
}

void ContainerSearch::SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) {
    prepare(FileMask, events);
    m_search.SearchSystemForFiles(WalkMask(FileMask), *this);
}

void ContainerSearch::SearchFinished() {
    m_events->SearchFinished();
}

void ContainerSearch::Searching(bool& Cancel) {
    m_events->Searching(Cancel);
}

void ContainerSearch::passOn(std::string& FileName, std::int32_t FileCount, std::int32_t DirCount, bool& Cancel) {
    // The members handed on so far count as files, in the place of their containers.
    std::int32_t count = FileCount + m_files.extra;
    m_events->FileFound(FileName, count, DirCount, Cancel);
}

void ContainerSearch::handOn(const std::string& name, std::int32_t /*FileCount*/, std::int32_t DirCount,
                             bool& Cancel) {
    std::string file = name;
    std::int32_t count = m_files.base + ++m_files.handed;
    grow(m_files.handed - 1);
    m_events->FileFound(file, count, DirCount, Cancel);
}

void ContainerSearch::grow(std::int32_t files) {
    if (files <= m_files.grown)
        return;
    if (m_progress != nullptr)
        m_progress->FilesCounted(files - m_files.grown);
    m_files.grown = files;
}

void ContainerSearch::reading(const std::string& name) {
    if (m_progress != nullptr)
        m_progress->ReadingMember(name);
}

void ContainerSearch::notRead(const std::string& source, const std::string& reason) {
    if (m_observer != nullptr)
        m_observer->ContainerNotRead(source, reason);
}

void ContainerSearch::FileFound(std::string& FileName, std::int32_t& FileCount, std::int32_t& DirCount,
                                bool& Cancel) {
    const std::string_view name = baseName(FileName);
    const bool named = m_named.contains(FileName);
    const bool module = named || m_takeEvery || m_modules.Matches(name);
    const bool containerByName = m_choice.search && m_containers.Matches(name);
    // A named file, a file the container masks match, and (when the search opens
    // containers) every module, which may carry a ZIP: each is looked at for a container.
    if (!named && !containerByName && !(m_choice.search && module)) {
        passOn(FileName, FileCount, DirCount, Cancel);
        return;
    }
    if (m_partsRead.contains(FileName)) {
        // Read already as a part of another container (a cabinet of a set).
        if (module)
            m_events->FileFound(FileName, FileCount, DirCount, Cancel);
        return;
    }
    auto source = m_open(FileName);
    if (!source && !module) {
        // Only a container could have been read of it: say why it was not, as the run
        // says it of a module it cannot open.
        const Error& error = source.error();
        notRead(FileName, UnreadableText(Unreadable::NotOpened,
                                         error.code != 0 ? std::string(std::strerror(error.code)) : error.message));
        return;
    }
    const ContainerFormat* format = source ? Containers().identify(*source, name) : nullptr;
    if (format == nullptr) {
        // No container: the file goes to the run as without containers, if its name
        // is one the run reads.
        if (module)
            passOn(FileName, FileCount, DirCount, Cancel);
        return;
    }
    // The container was counted as one file: what it hands on takes its place.
    m_files.base = FileCount - 1 + m_files.extra;
    m_files.handed = m_files.grown = m_files.listed = 0;
    // A program that carries a container (a self-extracting archive) is read as a
    // program too.
    if (const auto start = source->head(2); module && start.size() == 2 && start[0] == 'M' && start[1] == 'Z')
        handOn(FileName, FileCount, DirCount, Cancel);
    if (!Cancel)
        (void)readContainer(*format, *source, FileName, 1, std::numeric_limits<std::uint64_t>::max(), FileCount,
                            DirCount, Cancel);
    const std::int32_t more = m_files.handed - 1;
    if (m_progress != nullptr && more != m_files.grown)
        m_progress->FilesCounted(more - m_files.grown);
    m_files.extra += more;
    reading({});
}

std::uint64_t ContainerSearch::readContainer(const ContainerFormat& format, const ByteSource& source,
                                             const std::string& name, unsigned depth, std::uint64_t ceiling,
                                             std::int32_t FileCount, std::int32_t DirCount, bool& Cancel) {
    const ContainerLimits& limits = m_choice.limits;
    if (depth > limits.depth) {
        notRead(name, UnreadableText(Unreadable::TooDeep));
        return 0;
    }
    // A file on disk is opened by its path, beside which the files that go with it lie.
    // The files that go with it (the other cabinets of a set) are opened as the search's
    // files are.
    const CompanionOpening companions(m_open);
    auto opened = format.open(source, depth == 1 ? std::string_view(name) : baseName(name));
    if (!opened) {
        notRead(name, UnreadableText(Unreadable::Damaged, opened.error().message));
        return 0;
    }
    IContainer& container = **opened;
    for (std::string& part : container.volumes())
        m_partsRead.insert(std::move(part));
    if (m_observer != nullptr)
        m_observer->ContainerOpened(name, container.format());
    MemberBounds bounds;
    bounds.memberLimit = saturatingProduct(limits.memberMiB, kMiB);
    // What the whole container may unpack to, the containers inside it included; more
    // is taken for a bomb. A container inside another also stays within what is left of
    // the outer one's.
    bounds.budget = std::min(ceiling, saturatingProduct(std::max<std::uint64_t>(source.size(), 1), limits.ratio));
    std::optional<ContainerSatellites> satellites;
    if (m_choice.satellites.read) {
        reading(name);
        satellites.emplace(name, m_satelliteLanguages, m_modules);
        satellites->List(format, source, bounds, [&] {
            m_events->Searching(Cancel);
            return !Cancel;
        });
        if (Cancel)
            return bounds.unpacked;
        // The listing knows how many modules the container hands on.
        m_files.listed += satellites->ModuleCount();
        grow(m_files.listed - 1);
    }
    readMembers(container, name, depth, bounds, satellites ? &*satellites : nullptr, FileCount, DirCount, Cancel);
    if (satellites && !Cancel)
        // The satellites no module took are files of their own, as on disk.
        for (MemberSatellite& satellite : satellites->Untaken(bounds, [this](const std::string& member,
                                                                             const std::string& reason) {
                 notRead(member, reason);
             })) {
            m_members.put(satellite.name, std::move(satellite.bytes));
            handOn(satellite.name, FileCount, DirCount, Cancel);
            (void)m_members.take(satellite.name);
            if (Cancel)
                break;
        }
    return bounds.unpacked;
}

void ContainerSearch::readMembers(IContainer& container, const std::string& name, unsigned depth,
                                  MemberBounds& bounds, ContainerSatellites* satellites, std::int32_t FileCount,
                                  std::int32_t DirCount, bool& Cancel) {
    const auto toldNotRead = [this](const std::string& source, const std::string& reason) { notRead(source, reason); };
    for (;;) {
        m_events->Searching(Cancel);
        if (Cancel)
            return;
        auto next = container.next();
        if (!next) {
            notRead(name, UnreadableText(Unreadable::Damaged, next.error().message));
            return;
        }
        if (!next->has_value())
            return;
        const ContainerMember& member = **next;
        if (member.directory)
            continue;
        const std::string memberName = MemberSourceName(name, member.path);
        const std::string_view base = baseName(member.path);
        // A satellite goes to the run with its module.
        if (satellites != nullptr && satellites->Claimed(member.path))
            continue;
        // A package's rows of pictures are read whatever their names.
        const bool module = member.role != MemberRole::File || m_modules.Matches(base);
        const bool nested = m_containers.Matches(base);
        if (!module && !nested)
            continue;
        // Shown while it is unpacked: a large member takes a while.
        reading(memberName);
        MemberBytes read = ReadMember(container, member, bounds);
        if (!read.bytes) {
            notRead(memberName, read.reason);
            continue;
        }
        const ByteSource& bytes = *read.bytes;
        const ContainerFormat* inner = nullptr;
        if (nested || m_choice.search)
            inner = Containers().identify(bytes, base);
        if (module) {
            m_members.put(memberName, bytes, member.role);
            if (!member.note.empty() && m_observer != nullptr)
                m_observer->MemberNoted(memberName, member.note);
            if (satellites != nullptr)
                m_members.putSatellites(memberName, satellites->For(member.path, bounds, toldNotRead));
            handOn(memberName, FileCount, DirCount, Cancel);
            // The engine took it, unless it ended first.
            (void)m_members.take(memberName);
            (void)m_members.takeSatellites(memberName);
            const std::vector<std::string> taken = m_members.takeTaken(memberName);
            if (satellites != nullptr)
                satellites->Done(member.path, taken);
            if (Cancel)
                return;
        }
        if (inner != nullptr)
            bounds.unpacked += readContainer(*inner, bytes, memberName, depth + 1, bounds.budget - bounds.unpacked,
                                             FileCount, DirCount, Cancel);
        if (Cancel)
            return;
    }
}

} // namespace harvix
