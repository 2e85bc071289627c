// Containers in a run: the members of archives, compressed files, disc images and
// installer packages read as the files of a folder. ContainerSearch sits between the
// file search and the run: a file that is a container (one the user named, or, when
// asked, one the search meets whose name the container masks match) is opened, and each
// member whose name the run's masks match is handed to the run as a file of its own,
// named "container!/path/inside" (nested as often as needed). Its bytes wait in
// MemberSources until the engine opens the module, so that the module goes through the
// same engine, naming, writers and records as one read from disk; a member that is a
// container is opened in turn, up to a depth. What cannot be read is told to the
// observer with the reason.
#pragma once

#include "container/Container.h"
#include "extract/ResCore.h"
#include "run/ContainerSatellites.h"
#include "run/Progress.h"
#include "run/SatelliteReading.h"
#include "run/SearchRun.h"
#include "search/MaskSet.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace harvix {

// The bounds of reading containers: how deep containers are opened inside one another,
// the largest member unpacked, and how many times its own size a container may unpack
// to (more is taken for a bomb).
struct ContainerLimits {
    unsigned depth = 4;
    std::uint64_t memberMiB = 512;
    std::uint64_t ratio = 200;
};

// What the user chose about containers for one run.
struct ContainerChoice {
    bool search = false; // open the containers the search meets (--containers, the setting)
    std::string mask{kDefaultContainerMask};
    ContainerLimits limits;
    // Files the user named: each is opened when it is a container, whatever the masks.
    std::vector<std::string> named;
    // Whether the modules of a container are read with the satellites it holds for them,
    // and of which language; the run's choice for modules on disk.
    SatelliteChoice satellites{false, {}};

    // Whether the run looks at containers at all; otherwise it reads as without them.
    [[nodiscard]] bool active() const { return search || !named.empty(); }
};

// Loads, before the command confines itself, what reading the containers `choice` may
// open loads from the system on the way (see PrepareMsiReading): for the files it names
// that are installer packages, or for any file when the search opens containers.
void PrepareContainerReading(const ContainerChoice& choice);

// Hears which containers were read and which containers and members were not.
class IContainerObserver {
public:
    virtual ~IContainerObserver() = default;
    virtual void ContainerOpened(const std::string& /*source*/, std::string_view /*format*/) {}
    // A container, or a member of one, passed over: `reason` says why in the user's words.
    virtual void ContainerNotRead(const std::string& /*source*/, const std::string& /*reason*/) {}
    // What the container says of a member it hands to the run, told just before
    // ("the product's icon (ARPPRODUCTICON)").
    virtual void MemberNoted(const std::string& /*source*/, const std::string& /*note*/) {}
};

// A member handed to the run: its bytes and what it is.
struct WaitingMember {
    ByteSource bytes;
    MemberRole role = MemberRole::File;
};

// The members handed to the run, waiting for the engine to open them. Shared between
// the run's thread and the readers.
class MemberSources {
public:
    void put(const std::string& name, ByteSource source, MemberRole role = MemberRole::File);
    // The member of that name, taken away; nothing for any other file.
    [[nodiscard]] std::optional<WaitingMember> take(const std::string& name);
    // The names waiting (none once the engine took them).
    [[nodiscard]] std::size_t waiting() const;

    // The satellites that go with the member of that name, and, once it is opened, the
    // names of those it took.
    void putSatellites(const std::string& name, std::vector<MemberSatellite> satellites);
    [[nodiscard]] std::vector<MemberSatellite> takeSatellites(const std::string& name);
    void noteTaken(const std::string& name, std::vector<std::string> satellites);
    [[nodiscard]] std::vector<std::string> takeTaken(const std::string& name);

private:
    mutable std::mutex m_mutex;
    std::map<std::string, WaitingMember> m_sources;
    std::map<std::string, std::vector<MemberSatellite>> m_satellites;
    std::map<std::string, std::vector<std::string>> m_taken;
};

// Opens a module from a member's bytes: in place on the container's descriptor, or from
// memory or an in-memory file.
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenModuleFromSource(const ByteSource& source);

// Opens a member as what it is: a file as a module; a row of an installer's Icon table
// that is an icon file as a module holding that icon (one icon group), and one of its
// Binary table that is a picture file as a module holding that picture whole (RCDATA);
// either row, when it is a module, as that module. Fails (NotLoadable) for anything else.
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenMember(const WaitingMember& member);

// The engine's way of opening a module in a run with containers: a member from
// `members` with the satellites that wait with it, any other file with `next`.
[[nodiscard]] ModuleOpener MemberOpener(MemberSources& members, ModuleOpener next);

// Opens the bytes of a file the search found, to look inside it.
using SourceOpener = std::function<Result<ByteSource>(const std::string& path)>;

class ContainerSearch final : public IRunSearch, private cSearchCoreEvents {
public:
    ContainerSearch(IRunSearch& search, ContainerChoice choice, MemberSources& members,
                    IContainerObserver* observer = nullptr);

    // How the files found are opened: by path (the default), or, in a run that may read
    // no path, from the descriptors the search handed over.
    void OpenSourcesWith(SourceOpener opener) { m_open = std::move(opener); }

    SearchCount CountTree(bool AllDrives, const std::string& BaseDir, bool Recurse,
                          const std::string& FileMask) override;
    void SearchForFiles(const std::string& FileRoot, bool Recurse, const std::string& FileMask,
                        cSearchCoreEvents& events) override;
    void SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) override;

    // The mask the walk goes by: the run's, and with the search of containers theirs too.
    [[nodiscard]] std::string WalkMask(const std::string& FileMask) const;

    // Who hears how far the reading of containers has come (the run); none by default.
    void setProgress(IContainerProgress* progress) { m_progress = progress; }

private:
    void FileFound(std::string& FileName, std::int32_t& FileCount, std::int32_t& DirCount, bool& Cancel) override;
    void SearchFinished() override;
    void Searching(bool& Cancel) override;

    void prepare(const std::string& FileMask, cSearchCoreEvents& events);
    // Reads the members of a container (`depth` 1 for a file on disk), unpacking at most
    // `ceiling` bytes; returns the bytes it unpacked.
    std::uint64_t readContainer(const ContainerFormat& format, const ByteSource& source, const std::string& name,
                                unsigned depth, std::uint64_t ceiling, std::int32_t FileCount, std::int32_t DirCount,
                                bool& Cancel);
    // The members of an open container, in its order; its satellites (when read) go to
    // the run with their modules.
    void readMembers(IContainer& container, const std::string& name, unsigned depth, MemberBounds& bounds,
                     ContainerSatellites* satellites, std::int32_t FileCount, std::int32_t DirCount, bool& Cancel);
    // A file of the search to the run, as it is.
    void passOn(std::string& FileName, std::int32_t FileCount, std::int32_t DirCount, bool& Cancel);
    // A member (or a program that carries a container) to the run, counted as a file.
    void handOn(const std::string& name, std::int32_t FileCount, std::int32_t DirCount, bool& Cancel);
    // The run will be handed at least `files` files more than the search counted for the
    // container being read.
    void grow(std::int32_t files);
    void reading(const std::string& name);
    void notRead(const std::string& source, const std::string& reason);

    IRunSearch& m_search;
    ContainerChoice m_choice;
    MemberSources& m_members;
    IContainerObserver* m_observer;
    SourceOpener m_open = OpenByteSource;
    cSearchCoreEvents* m_events = nullptr;
    MaskSet m_modules;       // the modules read, on disk and in containers
    bool m_takeEvery = false; // no mask: every file found is handed on
    MaskSet m_containers;
    std::set<std::string> m_named;
    std::vector<std::string> m_satelliteLanguages; // when satellites are read
    IContainerProgress* m_progress = nullptr;
    // The files handed to the run against those the search counted.
    struct {
        std::int32_t extra = 0;  // members handed on, less the containers they took the place of
        std::int32_t base = 0;   // the count of the file before the container being read
        std::int32_t handed = 0; // files handed on from it so far
        std::int32_t grown = 0;  // how far the run's count was told to grow for it
        std::int32_t listed = 0; // modules its listings (its own, nested ones') hold
    } m_files;
    // The files read already as parts of another container (the other cabinets of a
    // set), by their paths as the run names them: met again, they are not read again.
    std::set<std::string> m_partsRead;
};

} // namespace harvix
