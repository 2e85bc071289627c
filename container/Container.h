// Containers: archives, compressed files, disc images and installer packages whose
// members Harvix reads as the files of a folder. A reader of one family of formats
// (libarchive's, libmspack's, the Windows Installer reader) implements IContainer and
// registers a ContainerFormat; ContainerRegistry picks the format of an input by its
// content. Containers are read from a descriptor or from memory, never reopened by path,
// so that the caged reader needs nothing but what it was handed.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// An open descriptor shared by everything read from it: the container, the members it
// stores in place and the modules opened on them. Closed when the last user goes.
class SharedDescriptor {
public:
    explicit SharedDescriptor(int fd) : m_fd(fd) {}
    ~SharedDescriptor();
    SharedDescriptor(const SharedDescriptor&) = delete;
    SharedDescriptor& operator=(const SharedDescriptor&) = delete;
    [[nodiscard]] int fd() const { return m_fd; }

private:
    int m_fd;
};

// Bytes read with positioned reads: a stretch of an open descriptor (a file on disk, a
// member stored in place in it, or an anonymous in-memory file), or a buffer in memory.
// Cheap to copy; the descriptor or the buffer stays alive while a copy does.
class ByteSource {
public:
    ByteSource() = default;
    // `size` bytes of `descriptor` from `offset` on.
    static ByteSource OnDescriptor(std::shared_ptr<const SharedDescriptor> descriptor, std::uint64_t offset,
                                   std::uint64_t size);
    static ByteSource InMemory(std::shared_ptr<const std::vector<std::uint8_t>> bytes);

    [[nodiscard]] std::uint64_t size() const { return m_size; }
    // Fills `out` with the bytes at `offset`; false when they are not all there or the
    // read failed.
    [[nodiscard]] bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // Up to `count` bytes from `offset` (fewer at the end).
    [[nodiscard]] std::vector<std::uint8_t> head(std::size_t count, std::uint64_t offset = 0) const;

    // In memory: the bytes; otherwise empty.
    [[nodiscard]] std::span<const std::uint8_t> memory() const;
    [[nodiscard]] const std::shared_ptr<const std::vector<std::uint8_t>>& buffer() const { return m_bytes; }
    // On a descriptor: the descriptor and where the bytes start in it; otherwise null.
    [[nodiscard]] const std::shared_ptr<const SharedDescriptor>& descriptor() const { return m_descriptor; }
    [[nodiscard]] std::uint64_t offset() const { return m_offset; }

    // The same bytes from `offset` on, `size` of them (clipped to the end).
    [[nodiscard]] ByteSource slice(std::uint64_t offset, std::uint64_t size) const;

private:
    std::shared_ptr<const SharedDescriptor> m_descriptor;
    std::shared_ptr<const std::vector<std::uint8_t>> m_bytes;
    std::uint64_t m_offset = 0;
    std::uint64_t m_size = 0;
};

// Opens a regular file for reading (never blocking on a FIFO or device) as a source.
[[nodiscard]] Result<ByteSource> OpenByteSource(const std::string& path);
// The same for a descriptor the caller hands over (the source closes it).
[[nodiscard]] Result<ByteSource> ByteSourceFromDescriptor(int fd);
// How a reader opens the files that go with a container it reads (the other cabinets of
// a set, found beside it): by path, unless the run says otherwise for its thread (a
// confined run opens only the files handed over to it). `OpenCompanion` opens one.
using CompanionOpener = std::function<Result<ByteSource>(const std::string& path)>;
class CompanionOpening {
public:
    // Opens companions with `opener` on this thread while this object lives.
    explicit CompanionOpening(CompanionOpener opener);
    ~CompanionOpening();
    CompanionOpening(const CompanionOpening&) = delete;
    CompanionOpening& operator=(const CompanionOpening&) = delete;

private:
    CompanionOpener m_previous;
};
[[nodiscard]] Result<ByteSource> OpenCompanion(const std::string& path);

// The folder of the file a source is read from, ending in "/", where the files that go
// with a container lie (a package's cabinets, the other cabinets of a set); empty for
// a source that is not a whole file of a folder (memory, an in-memory file, a member
// read in place in its container's file) and where /proc cannot be read.
[[nodiscard]] std::string FolderOfSource(const ByteSource& source);

// Why a member or the rest of a container cannot be read. The words are those of the
// run report and the summaries.
enum class Unreadable {
    None,
    Encrypted,      // "protected by a password"
    MissingVolume,  // "a volume of the cabinet set is missing"
    Damaged,        // "damaged"
    Unsupported,    // "compressed in a way that cannot be unpacked"
    TooLarge,       // "larger than the largest module read"
    Bomb,           // "unpacks to more than N times the container's size"
    TooDeep,        // "nested deeper than N containers"
    NotOpened,      // "could not be opened": a file it needs is there and cannot be opened
};

// The words of a reason ("protected by a password"); `detail` (the library's own words)
// is added after a colon when there is one.
[[nodiscard]] std::string UnreadableText(Unreadable why, const std::string& detail = {});

// What a member is: a file, read when the masks select it, or a row of an installer
// package's tables that keeps pictures whole, read whatever its name (the rows are named
// by the package's keys, not as files are).
enum class MemberRole {
    File,
    Icon,    // an icon of the program (a row of the Icon table): an icon file, or a module
    Picture, // a picture of the installer (a row of the Binary table): a picture file
             // (kept whole), a module (a custom action's library), or other data
};

// One member as the container lists it.
struct ContainerMember {
    std::string path;            // inside the container, "/"-separated, no leading "/"
    std::uint64_t size = 0;      // unpacked bytes as the container states them (0: not stated)
    bool directory = false;
    // Stored uncompressed: its bytes are the container's from `offset` on, read in place.
    bool stored = false;
    std::uint64_t offset = 0;
    Unreadable unreadable = Unreadable::None; // why it cannot be read, when the listing says so
    std::string detail;                       // the library's words for it
    MemberRole role = MemberRole::File;
    std::string note; // what the container says of it ("the product's icon (ARPPRODUCTICON)")
};

// An open container, read member by member in its own order (many formats, a solid 7z
// or a compressed TAR, can only be read front to back): next() gives the next member,
// read() the bytes of the member next() gave last, before the next call of next().
class IContainer {
public:
    virtual ~IContainer() = default;

    // The format's name for people ("ZIP", "CAB", "ISO 9660").
    [[nodiscard]] virtual std::string_view format() const = 0;

    // The next member; nothing at the end. An error (kind Malformed or Truncated, its
    // message the reason) when the container is damaged here: the members given so far
    // stand, and no further member follows.
    [[nodiscard]] virtual Result<std::optional<ContainerMember>> next() = 0;

    // The bytes of the member next() gave last, unpacked, at most `limit` of them
    // (TooLarge beyond). A stored member is a slice of the container's own source;
    // a compressed one is unpacked into memory, into an anonymous in-memory file
    // (MemberSink) beyond 16 MiB. Fails with a reason: Unsupported for an encrypted or
    // unknown method, Malformed or Truncated for damage.
    [[nodiscard]] virtual Result<ByteSource> read(std::uint64_t limit) = 0;

    // Why read() failed, in the words of Unreadable, for the last failure.
    [[nodiscard]] virtual Unreadable lastProblem() const { return Unreadable::Damaged; }

    // The other files read as parts of this container (the cabinets of a set joined to
    // the one opened), by path; their members are this container's.
    [[nodiscard]] virtual std::vector<std::string> volumes() const { return {}; }
};

// One format a reader can open.
struct ContainerFormat {
    std::string name; // "ZIP"
    // Whether `source` is of this format: its first bytes (`head`, up to 64 KiB) and, if
    // the format needs it, more of the source (a ZIP appended to a program is found from
    // the end). `fileName` is the container's own name (a compressed file's name tells
    // the member's).
    std::function<bool(const ByteSource& source, std::span<const std::uint8_t> head, std::string_view fileName)>
        recognise;
    // Opens `source`, named `fileName` (a file's path as the run names it; a member's
    // base name).
    std::function<Result<std::unique_ptr<IContainer>>(ByteSource source, std::string_view fileName)> open;
};

// The formats known, tried in the order they were added.
class ContainerRegistry {
public:
    void add(ContainerFormat format) { m_formats.push_back(std::move(format)); }
    // The format of `source`, by its content; null when none recognises it.
    [[nodiscard]] const ContainerFormat* identify(const ByteSource& source, std::string_view fileName) const;
    // Identifies and opens; NotLoadable when no format recognises it.
    [[nodiscard]] Result<std::unique_ptr<IContainer>> open(const ByteSource& source, std::string_view fileName) const;
    [[nodiscard]] const std::vector<ContainerFormat>& formats() const { return m_formats; }

private:
    std::vector<ContainerFormat> m_formats;
};

// Every format of this build: the Windows Installer packages, then libmspack's (CAB,
// SZDD, KWAJ), then libarchive's (ZIP, 7z, RAR, TAR, ISO 9660 and the rest).
[[nodiscard]] const ContainerRegistry& Containers();

// A source's name inside the run: the container's name, "!/" and the member's path,
// nested as often as needed ("/d/disc.iso!/SETUP/app.cab!/app.exe").
inline constexpr std::string_view kMemberSeparator = "!/";
[[nodiscard]] std::string MemberSourceName(const std::string& container, const std::string& member);

// The default masks of container names for a search that opens containers.
inline constexpr std::string_view kDefaultContainerMask =
    "*.zip;*.7z;*.rar;*.tar;*.tgz;*.tar.gz;*.tbz2;*.tar.bz2;*.txz;*.tar.xz;*.tar.zst;*.iso;*.cab;*.msi;*.msm;*.msp;"
    "*.??_;*.?_;*._";

} // namespace harvix
