#include "container/MspackContainer.h"

#include "container/MemberSink.h"

#include <mspack.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace harvix {

namespace {

// libmspack reads and writes through a table of functions that it hands names to. Ours
// knows the container, read from its source, the other cabinets of its set joined to
// it ("volume/" and their names), each read from its own source, and the member,
// written into a MemberSink; any other name cannot be opened.
constexpr const char* kContainerName = "container";
constexpr const char* kMemberName = "member";
constexpr std::string_view kVolumePrefix = "volume/";

struct SourceSystem;

struct OpenFile {
    SourceSystem* system = nullptr;
    const ByteSource* source = nullptr; // null: the member, written
    std::uint64_t position = 0;
};

struct SourceSystem {
    mspack_system table{};
    ByteSource source;
    std::map<std::string, ByteSource, std::less<>> volumes; // by the name libmspack is handed
    MemberSink* sink = nullptr;
    std::optional<Error> sinkError; // why the last member's bytes could not be taken
};

mspack_file* openFile(mspack_system* self, const char* filename, int mode) {
    auto* system = reinterpret_cast<SourceSystem*>(self);
    if (mode == MSPACK_SYS_OPEN_READ) {
        if (std::strcmp(filename, kContainerName) == 0)
            return reinterpret_cast<mspack_file*>(new OpenFile{system, &system->source, 0});
        if (const auto volume = system->volumes.find(std::string_view(filename)); volume != system->volumes.end())
            return reinterpret_cast<mspack_file*>(new OpenFile{system, &volume->second, 0});
    }
    if (std::strcmp(filename, kMemberName) == 0 && mode == MSPACK_SYS_OPEN_WRITE && system->sink != nullptr)
        return reinterpret_cast<mspack_file*>(new OpenFile{system, nullptr, 0});
    return nullptr;
}

void closeFile(mspack_file* file) {
    delete reinterpret_cast<OpenFile*>(file);
}

// On some damaged cabinets libmspack calls back with a null file, so every call takes a null
// file as a failed one.
int readFile(mspack_file* handle, void* buffer, int bytes) {
    auto* file = reinterpret_cast<OpenFile*>(handle);
    if (file == nullptr || file->source == nullptr || bytes < 0)
        return -1;
    const ByteSource& source = *file->source;
    const std::uint64_t left = source.size() - std::min(file->position, source.size());
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(left, static_cast<std::uint64_t>(bytes)));
    if (!source.readAt(file->position, std::span(static_cast<std::uint8_t*>(buffer), count)))
        return -1;
    file->position += count;
    return static_cast<int>(count);
}

int writeFile(mspack_file* handle, void* buffer, int bytes) {
    auto* file = reinterpret_cast<OpenFile*>(handle);
    if (file == nullptr || file->source != nullptr || bytes < 0)
        return -1;
    SourceSystem& system = *file->system;
    if (auto wrote = system.sink->write(std::span(static_cast<const std::uint8_t*>(buffer),
                                                  static_cast<std::size_t>(bytes)));
        !wrote) {
        system.sinkError = wrote.error();
        return -1;
    }
    return bytes;
}

int seekFile(mspack_file* handle, off_t offset, int mode) {
    auto* file = reinterpret_cast<OpenFile*>(handle);
    if (file == nullptr || file->source == nullptr)
        return -1;
    const auto size = static_cast<off_t>(file->source->size());
    off_t target = offset;
    if (mode == MSPACK_SYS_SEEK_CUR)
        target = static_cast<off_t>(file->position) + offset;
    else if (mode == MSPACK_SYS_SEEK_END)
        target = size + offset;
    if (target < 0 || target > size)
        return -1;
    file->position = static_cast<std::uint64_t>(target);
    return 0;
}

off_t tellFile(mspack_file* handle) {
    const auto* file = reinterpret_cast<const OpenFile*>(handle);
    return file == nullptr ? -1 : static_cast<off_t>(file->position);
}

void message(mspack_file*, const char*, ...) {}

// Zeroed: the KWAJ reader, giving up on a damaged header, frees fields of the header it
// may not have set (a damaged KWAJ file crashed the reader with memory as malloc left it).
void* allocate(mspack_system*, size_t bytes) {
    return std::calloc(1, bytes);
}

void release(void* memory) {
    std::free(memory);
}

void copy(void* from, void* to, size_t bytes) {
    std::memmove(to, from, bytes);
}

std::unique_ptr<SourceSystem> makeSystem(ByteSource source) {
    auto system = std::make_unique<SourceSystem>();
    system->table.open = openFile;
    system->table.close = closeFile;
    system->table.read = readFile;
    system->table.write = writeFile;
    system->table.seek = seekFile;
    system->table.tell = tellFile;
    system->table.message = message;
    system->table.alloc = allocate;
    system->table.free = release;
    system->table.copy = copy;
    system->source = std::move(source);
    return system;
}

std::string errorText(int code) {
    switch (code) {
    case MSPACK_ERR_READ: return "the data ends early";
    case MSPACK_ERR_SIGNATURE: return "not of its format";
    case MSPACK_ERR_DATAFORMAT: return "its data is not well formed";
    case MSPACK_ERR_CHECKSUM: return "a checksum does not match";
    case MSPACK_ERR_DECRUNCH: return "its compressed data is not well formed";
    case MSPACK_ERR_NOMEMORY: return "out of memory";
    default: return "error " + std::to_string(code);
    }
}

// The base name of a container's own name.
std::string_view baseName(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// Unpacks the member libmspack extracts with `extract` into a sink of `limit` bytes.
template <class Extract>
Result<ByteSource> unpack(SourceSystem& system, std::uint64_t limit, Unreadable& problem, bool setIncomplete,
                          Extract extract) {
    MemberSink sink(limit);
    system.sink = &sink;
    system.sinkError.reset();
    const int code = extract();
    system.sink = nullptr;
    if (system.sinkError) {
        problem = system.sinkError->kind == ErrorKind::TooLarge ? Unreadable::TooLarge : Unreadable::Damaged;
        return *system.sinkError;
    }
    if (code != MSPACK_ERR_OK) {
        // A member of a cabinet set that runs on into a cabinet of the set not found.
        // (libmspack says DECRUNCH for a file that needs a cabinet not joined.)
        problem = setIncomplete && (code == MSPACK_ERR_DATAFORMAT || code == MSPACK_ERR_READ ||
                                    code == MSPACK_ERR_OPEN || code == MSPACK_ERR_DECRUNCH)
                      ? Unreadable::MissingVolume
                      : Unreadable::Damaged;
        return makeError(ErrorKind::Malformed, errorText(code));
    }
    return sink.finish();
}

// The most cabinets joined into one set; a set is seldom more than a few dozen disks.
constexpr unsigned kMostVolumes = 256;

class CabContainer final : public IContainer {
public:
    CabContainer(ByteSource source, std::string_view fileName)
        : m_folder(folderOf(fileName, source)), m_name(baseName(fileName)), m_system(makeSystem(std::move(source))) {
        m_decompressor = mspack_create_cab_decompressor(&m_system->table);
    }
    ~CabContainer() override {
        // Closes every cabinet joined to this one too.
        if (m_cabinet != nullptr)
            m_decompressor->close(m_decompressor, m_cabinet);
        if (m_decompressor != nullptr)
            mspack_destroy_cab_decompressor(m_decompressor);
    }
    CabContainer(const CabContainer&) = delete;
    CabContainer& operator=(const CabContainer&) = delete;

    Status open() {
        if (m_decompressor == nullptr)
            return makeError(ErrorKind::Io, "cannot start reading the cabinet");
        m_cabinet = m_decompressor->open(m_decompressor, kContainerName);
        if (m_cabinet == nullptr)
            return makeError(ErrorKind::NotLoadable, errorText(m_decompressor->last_error(m_decompressor)));
        joinSet();
        // Joined, every cabinet of the set lists the files of all.
        m_next = m_cabinet->files;
        return success();
    }

    std::string_view format() const override { return "CAB"; }

    Result<std::optional<ContainerMember>> next() override {
        m_current = m_next;
        if (m_current == nullptr)
            return std::optional<ContainerMember>();
        m_next = m_current->next;
        ContainerMember member;
        member.path = m_current->filename != nullptr ? m_current->filename : "";
        std::replace(member.path.begin(), member.path.end(), '\\', '/');
        while (member.path.starts_with("/"))
            member.path.erase(0, 1);
        member.size = m_current->length;
        return std::optional<ContainerMember>(std::move(member));
    }

    Result<ByteSource> read(std::uint64_t limit) override {
        if (m_current == nullptr)
            return makeError(ErrorKind::NotFound, "no member");
        auto bytes = unpack(*m_system, limit, m_problem, !m_missing.empty(), [this] {
            return m_decompressor->extract(m_decompressor, m_current, kMemberName);
        });
        // A member that runs into a cabinet of the set that is not there: its name.
        if (!bytes && m_problem == Unreadable::MissingVolume)
            return makeError(bytes.error().kind, m_missing);
        return bytes;
    }

    Unreadable lastProblem() const override { return m_problem; }

    std::vector<std::string> volumes() const override { return m_volumes; }

private:
    // Where the other cabinets of a set are looked for: the folder of the path the
    // cabinet was opened by, else of the file its source is (which a confined reader
    // may not be able to tell).
    static std::string folderOf(std::string_view fileName, const ByteSource& source) {
        if (const std::size_t slash = fileName.rfind('/'); slash != std::string_view::npos)
            return std::string(fileName.substr(0, slash + 1));
        return FolderOfSource(source);
    }

    // A cabinet of a set names the cabinets before and after it; those found beside it
    // (in its folder, under those names) are joined to it, the previous ones before and
    // the next ones after, so that a file that runs on from one disk to the next is read
    // whole. The first one on each side that is not there, or cannot be joined, ends
    // the set on that side and is named: the members in the cabinets joined are read,
    // those that run on into the missing one are not.
    void joinSet() {
        std::set<std::string> seen{m_name};
        mscabd_cabinet* last = m_cabinet;
        for (unsigned n = 0; n < kMostVolumes && last->nextname != nullptr; ++n) {
            mscabd_cabinet* next = openVolume(last->nextname, seen);
            if (next == nullptr || m_decompressor->append(m_decompressor, last, next) != MSPACK_ERR_OK) {
                if (next != nullptr)
                    m_decompressor->close(m_decompressor, next);
                nameMissing(last->nextname);
                break;
            }
            last = next;
        }
        mscabd_cabinet* first = m_cabinet;
        for (unsigned n = 0; n < kMostVolumes && first->prevname != nullptr; ++n) {
            mscabd_cabinet* previous = openVolume(first->prevname, seen);
            if (previous == nullptr || m_decompressor->prepend(m_decompressor, first, previous) != MSPACK_ERR_OK) {
                if (previous != nullptr)
                    m_decompressor->close(m_decompressor, previous);
                nameMissing(first->prevname);
                break;
            }
            first = previous;
        }
    }

    // The cabinet `name` beside this one, opened; null when it is not there, is this one
    // or another of the set again, or is no cabinet. A name is a file's name in this
    // folder, never a path.
    mscabd_cabinet* openVolume(const char* name, std::set<std::string>& seen) {
        const std::string file = name;
        if (m_folder.empty() || file.empty() || file == "." || file == ".." || file.find('/') != std::string::npos ||
            !seen.insert(file).second)
            return nullptr;
        auto source = OpenCompanion(m_folder + file);
        if (!source)
            return nullptr;
        // libmspack keeps the name it is handed and opens the cabinet by it again when it
        // reads the cabinet's data: the map's own key, which lives as long as the map.
        const auto kept = m_system->volumes.insert_or_assign(std::string(kVolumePrefix) + file, std::move(*source));
        mscabd_cabinet* cabinet = m_decompressor->open(m_decompressor, kept.first->first.c_str());
        if (cabinet != nullptr)
            m_volumes.push_back(m_folder + file);
        return cabinet;
    }

    void nameMissing(const char* name) { m_missing += (m_missing.empty() ? "" : ", ") + std::string(name); }

    std::string m_folder; // where the other cabinets of a set are looked for; empty: nowhere
    std::string m_name;
    std::unique_ptr<SourceSystem> m_system;
    mscab_decompressor* m_decompressor = nullptr;
    mscabd_cabinet* m_cabinet = nullptr;
    mscabd_file* m_current = nullptr;
    mscabd_file* m_next = nullptr;
    std::vector<std::string> m_volumes; // the paths of the other cabinets joined
    std::string m_missing;              // the names of the cabinets of the set not found
    Unreadable m_problem = Unreadable::Damaged;
};

// A compressed file of one member, SZDD or KWAJ.
class SingleContainer final : public IContainer {
public:
    enum class Kind { Szdd, Kwaj };
    SingleContainer(ByteSource source, Kind kind, std::string_view fileName)
        : m_system(makeSystem(std::move(source))), m_kind(kind), m_fileName(baseName(fileName)) {}
    ~SingleContainer() override {
        if (m_kind == Kind::Szdd && m_szdd != nullptr) {
            if (m_szddHeader != nullptr)
                m_szdd->close(m_szdd, m_szddHeader);
            mspack_destroy_szdd_decompressor(m_szdd);
        }
        if (m_kind == Kind::Kwaj && m_kwaj != nullptr) {
            if (m_kwajHeader != nullptr)
                m_kwaj->close(m_kwaj, m_kwajHeader);
            mspack_destroy_kwaj_decompressor(m_kwaj);
        }
    }
    SingleContainer(const SingleContainer&) = delete;
    SingleContainer& operator=(const SingleContainer&) = delete;

    Status open() {
        if (m_kind == Kind::Szdd) {
            m_szdd = mspack_create_szdd_decompressor(&m_system->table);
            if (m_szdd == nullptr)
                return makeError(ErrorKind::Io, "cannot start reading the compressed file");
            m_szddHeader = m_szdd->open(m_szdd, kContainerName);
            if (m_szddHeader == nullptr)
                return makeError(ErrorKind::NotLoadable, errorText(m_szdd->last_error(m_szdd)));
            m_member.path = RestoredName(m_fileName, m_szddHeader->missing_char);
            m_member.size = m_szddHeader->length > 0 ? static_cast<std::uint64_t>(m_szddHeader->length) : 0;
        } else {
            m_kwaj = mspack_create_kwaj_decompressor(&m_system->table);
            if (m_kwaj == nullptr)
                return makeError(ErrorKind::Io, "cannot start reading the compressed file");
            m_kwajHeader = m_kwaj->open(m_kwaj, kContainerName);
            if (m_kwajHeader == nullptr)
                return makeError(ErrorKind::NotLoadable, errorText(m_kwaj->last_error(m_kwaj)));
            // The name the header keeps, if any; it has no folder.
            std::string kept = m_kwajHeader->filename != nullptr ? m_kwajHeader->filename : "";
            kept = std::string(baseName(kept));
            m_member.path = !kept.empty() ? kept : RestoredName(m_fileName, 0);
            m_member.size = m_kwajHeader->length > 0 ? static_cast<std::uint64_t>(m_kwajHeader->length) : 0;
        }
        if (m_member.path.empty())
            m_member.path = "unnamed";
        return success();
    }

    std::string_view format() const override { return m_kind == Kind::Szdd ? "SZDD" : "KWAJ"; }

    Result<std::optional<ContainerMember>> next() override {
        if (m_given) {
            // The member was given, shorter than the file says: the file is damaged.
            if (m_shortened) {
                m_shortened = false;
                return makeError(ErrorKind::Truncated, errorText(MSPACK_ERR_READ));
            }
            return std::optional<ContainerMember>();
        }
        m_given = true;
        return std::optional<ContainerMember>(m_member);
    }

    Result<ByteSource> read(std::uint64_t limit) override {
        auto bytes = unpack(*m_system, limit, m_problem, false, [this] {
            return m_kind == Kind::Szdd ? m_szdd->extract(m_szdd, m_szddHeader, kMemberName)
                                        : m_kwaj->extract(m_kwaj, m_kwajHeader, kMemberName);
        });
        // libmspack copies a stored or masked KWAJ file's data as far as they go, whatever
        // length the header states: data that end before it are a file cut short. What it
        // holds is given, and the file named damaged after it, as a container cut short is.
        if (bytes && m_kind == Kind::Kwaj && (m_kwajHeader->headers & MSKWAJ_HDR_HASLENGTH) != 0 &&
            bytes->size() < static_cast<std::uint64_t>(m_kwajHeader->length))
            m_shortened = true;
        return bytes;
    }

    Unreadable lastProblem() const override { return m_problem; }

private:
    std::unique_ptr<SourceSystem> m_system;
    Kind m_kind;
    std::string m_fileName;
    msszdd_decompressor* m_szdd = nullptr;
    msszddd_header* m_szddHeader = nullptr;
    mskwaj_decompressor* m_kwaj = nullptr;
    mskwajd_header* m_kwajHeader = nullptr;
    ContainerMember m_member;
    bool m_given = false;
    bool m_shortened = false; // the member read ended before the length the header states
    Unreadable m_problem = Unreadable::Damaged;
};

bool startsWith(std::span<const std::uint8_t> head, std::string_view signature) {
    return head.size() >= signature.size() && std::memcmp(head.data(), signature.data(), signature.size()) == 0;
}

template <class Container, class... Args>
Result<std::unique_ptr<IContainer>> openContainer(Args&&... args) {
    auto container = std::make_unique<Container>(std::forward<Args>(args)...);
    if (auto opened = container->open(); !opened)
        return opened.error();
    return std::unique_ptr<IContainer>(std::move(container));
}

} // namespace

std::string RestoredName(std::string_view compressedName, char missing) {
    std::string name(compressedName);
    if (name.empty() || name.back() != '_')
        return name;
    if (missing == 0 || static_cast<unsigned char>(missing) < 0x20 || missing == '/') {
        // Nothing kept: the name without its "_" says at least what it was.
        name.pop_back();
        if (name.ends_with("."))
            name.pop_back();
        return name;
    }
    // The letter takes the case of the name: "SETUP.EX_" gives "SETUP.EXE", "setup.ex_"
    // "setup.exe".
    bool lower = false;
    for (auto it = name.rbegin() + 1; it != name.rend(); ++it)
        if (std::isalpha(static_cast<unsigned char>(*it))) {
            lower = std::islower(static_cast<unsigned char>(*it)) != 0;
            break;
        }
    const auto letter = static_cast<unsigned char>(missing);
    name.back() = static_cast<char>(lower ? std::tolower(letter) : std::toupper(letter));
    return name;
}

void AddMspackFormats(ContainerRegistry& registry) {
    using namespace std::string_view_literals;
    registry.add({"CAB",
                  [](const ByteSource&, std::span<const std::uint8_t> head, std::string_view) {
                      return startsWith(head, "MSCF\0\0\0\0"sv);
                  },
                  [](ByteSource source, std::string_view name) {
                      return openContainer<CabContainer>(std::move(source), name);
                  }});
    registry.add({"SZDD",
                  [](const ByteSource&, std::span<const std::uint8_t> head, std::string_view) {
                      return startsWith(head, "SZDD\x88\xf0\x27\x33"sv) || startsWith(head, "SZ \x88\xf0\x27\x33\xd1"sv);
                  },
                  [](ByteSource source, std::string_view name) {
                      return openContainer<SingleContainer>(std::move(source), SingleContainer::Kind::Szdd, name);
                  }});
    registry.add({"KWAJ",
                  [](const ByteSource&, std::span<const std::uint8_t> head, std::string_view) {
                      return startsWith(head, "KWAJ\x88\xf0\x27\xd1"sv);
                  },
                  [](ByteSource source, std::string_view name) {
                      return openContainer<SingleContainer>(std::move(source), SingleContainer::Kind::Kwaj, name);
                  }});
}

} // namespace harvix
