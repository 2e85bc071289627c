// The satellites of the modules inside a container. A module read from an archive or an
// installer gets its satellite resource files from the same container: the members at
// the places Windows' loader would look on disk (the language folders beside the module,
// the SystemResources folder beside System32 and SysWOW64), relative to the module's
// folder inside the container. Members come one by one in the container's order, and a
// module's satellite may come before or after it; so the container is listed once before
// it is read, the satellites are read during that listing and kept (within a budget),
// and one that could not be kept is read again when its module comes, by opening the
// container afresh. A satellite its module takes is not handed to the run on its own;
// one no module takes is, once the container has been read.
#pragma once

#include "container/Container.h"
#include "module/Satellites.h"
#include "search/MaskSet.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace harvix {

// What one container may still unpack: the largest member, and what the container as a
// whole may unpack to (more is taken for a bomb), of which `unpacked` is used.
struct MemberBounds {
    std::uint64_t memberLimit = 0;
    std::uint64_t budget = 0;
    std::uint64_t unpacked = 0;
};

// The bytes of the member `next()` gave last, read within `bounds` and counted there; or
// nothing and why, in the user's words.
struct MemberBytes {
    std::optional<ByteSource> bytes;
    std::string reason;
};
[[nodiscard]] MemberBytes ReadMember(IContainer& container, const ContainerMember& member, MemberBounds& bounds);

// A satellite handed to the run with its module: its kind, its name in the run
// ("container!/en-US/app.exe.mui") and its bytes.
struct MemberSatellite {
    SatelliteKind kind = SatelliteKind::LanguageFile;
    std::string name;
    ByteSource bytes;
};

// Satellites kept from the listing, in bytes held in memory: a satellite is a few
// kilobytes to a few megabytes; one beyond what is left is read again when its module
// comes. Members read in place hold no memory and are always kept.
inline constexpr std::uint64_t kSatelliteBytesKept = 64ull * 1024 * 1024;

class ContainerSatellites {
public:
    // `name` is the container's name in the run; `languages` those whose files are read
    // (SatelliteFinder::languages()); `modules` the masks of the members read as modules;
    // `keptInMemory` the bytes of unpacked satellites kept from the listing.
    ContainerSatellites(std::string name, std::vector<std::string> languages, const MaskSet& modules,
                        std::uint64_t keptInMemory = kSatelliteBytesKept);

    // Lists the container, opened afresh from `source`, and reads the members that lie
    // where satellites lie, within `bounds`. `keepGoing` is asked between members; false
    // ends the listing. A container damaged on the way is listed up to the damage.
    void List(const ContainerFormat& format, const ByteSource& source, MemberBounds& bounds,
              const std::function<bool()>& keepGoing);

    // The members the run will be handed as modules, as far as the listing knows: those
    // the masks select, less the satellites their modules take.
    [[nodiscard]] std::int32_t ModuleCount() const { return m_moduleCount; }

    // Whether `path` is the satellite of a module the container holds: it goes to the run
    // with that module, not on its own.
    [[nodiscard]] bool Claimed(const std::string& path) const { return m_claimants.contains(path); }

    // The satellites of the module at `path`, in order of precedence (the strongest
    // last). One not kept from the listing is read again here; one that cannot be read
    // is left out and `notRead` told why.
    [[nodiscard]] std::vector<MemberSatellite>
    For(const std::string& path, MemberBounds& bounds,
        const std::function<void(const std::string&, const std::string&)>& notRead);

    // The module at `path` has been read, taking the satellites named (run names).
    void Done(const std::string& path, const std::vector<std::string>& taken);

    // The claimed satellites no module took, once every module of the container is
    // done (or passed over): each is a file of its own, if the masks select it.
    // One not kept is read again; `notRead` is told of one that cannot be.
    [[nodiscard]] std::vector<MemberSatellite>
    Untaken(MemberBounds& bounds, const std::function<void(const std::string&, const std::string&)>& notRead);

private:
    struct Kept {
        ByteSource bytes;
        std::uint64_t held = 0; // in memory, counted against the keep limit
    };
    struct Wanted {
        SatelliteKind kind;
        std::string path;
    };
    // Reads the members of `paths` by opening the container afresh.
    void fetch(const std::set<std::string>& paths, MemberBounds& bounds,
               const std::function<void(const std::string&, const std::string&)>& notRead);

    std::string m_name;
    SatelliteListing m_listing;
    const MaskSet& m_modules;
    const ContainerFormat* m_format = nullptr;
    ByteSource m_source;
    std::int32_t m_moduleCount = 0;
    std::map<std::string, std::vector<Wanted>> m_satellitesOf; // module path: its satellites
    std::map<std::string, std::set<std::string>> m_claimants;  // satellite path: modules to come
    std::map<std::string, Kept> m_kept;                        // satellite path: its bytes
    std::uint64_t m_keepLimit;
    std::uint64_t m_keptInMemory = 0;
    std::set<std::string> m_taken;    // satellite paths some module took
};

} // namespace harvix
