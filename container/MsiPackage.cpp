#include "container/MsiPackage.h"

#include "common/Files.h"
#include "container/MemberSink.h"

#include <fcntl.h>
#include <iconv.h>
#include <libmsi.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>

namespace harvix {

namespace {

constexpr std::array<std::uint8_t, 8> kCompoundFileSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::array<std::uint8_t, 4> kCabinetSignature = {'M', 'S', 'C', 'F'};
// A directory tree deeper than this is taken for a cycle of the Directory table.
constexpr int kMostDirectoryDepth = 64;

// libmsi tells of a table that is not there, and libgsf of a damaged compound file,
// through GLib's log; the reasons that matter reach Harvix as errors, the rest is noise
// on the terminal.
void quietLibmsi() {
    static std::once_flag once;
    std::call_once(once, [] {
        const auto levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING |
                                                        G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG);
        for (const char* domain : {static_cast<const char*>(nullptr), "libgsf:msole", "libgsf", "GLib"})
            g_log_set_handler(domain, levels, [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
}

// libmsi and the GLib beneath it are used by one thread at a time: a package is first
// read in a copy of the process (see Open), and a copy made while another thread is
// inside GLib would inherit its locks held and wait on them forever. The turn is taken
// once per thread, however deeply the calls nest; the copy inherits its thread's count
// and so never waits on the lock its parent holds.
class LibmsiTurn {
public:
    LibmsiTurn() {
        if (s_depth++ == 0)
            mutex().lock();
    }
    ~LibmsiTurn() {
        if (--s_depth == 0)
            mutex().unlock();
    }
    LibmsiTurn(const LibmsiTurn&) = delete;
    LibmsiTurn& operator=(const LibmsiTurn&) = delete;

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static thread_local int s_depth;
};
thread_local int LibmsiTurn::s_depth = 0;

template <class T>
struct Unref {
    void operator()(T* object) const {
        if (object)
            g_object_unref(object);
    }
};
template <class T>
using GPtr = std::unique_ptr<T, Unref<T>>;

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() { g_clear_error(&error); }
    [[nodiscard]] std::string text() const { return error && error->message ? error->message : "unknown error"; }
};

std::string fieldText(const LibmsiRecord* record, guint field) {
    if (libmsi_record_is_null(record, field))
        return {};
    gchar* text = libmsi_record_get_string(record, field);
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

// The long name of a "SHORT|LONG" name, or the name when it has only one.
std::string longName(const std::string& name) {
    const auto bar = name.find('|');
    return bar == std::string::npos ? name : name.substr(bar + 1);
}

// One path component as a member's path may hold it: no separator, no "." or "..".
std::string safeComponent(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\\' || c == '\0')
            c = '_';
    if (name == "." || name == "..")
        name.clear();
    return name;
}

} // namespace

struct MsiPackage::Database {
    GPtr<LibmsiDatabase> db;
    int memfd = -1; // the in-memory copy libmsi reads, when one was made
    std::set<std::string> tables;
    ~Database() {
        LibmsiTurn turn;
        db.reset();
        if (memfd >= 0)
            ::close(memfd);
    }

    // Runs a query and hands each row to `row`; nothing for a table that is not there.
    template <class F>
    bool select(const std::string& table, const std::string& sql, F&& row, LibmsiRecord* params = nullptr) const {
        if (!tables.contains(table))
            return false;
        LibmsiTurn turn;
        ErrorHolder e;
        GPtr<LibmsiQuery> query(libmsi_query_new(db.get(), sql.c_str(), &e.error));
        if (!query || !libmsi_query_execute(query.get(), params, &e.error))
            return false;
        for (;;) {
            GPtr<LibmsiRecord> record(libmsi_query_fetch(query.get(), &e.error));
            if (!record)
                break;
            row(record.get());
        }
        libmsi_query_close(query.get(), nullptr);
        return true;
    }

    // Hands the bytes of the stream in column 1 of the single row `sql` selects with
    // `key` to `take`, block by block, until it returns false; NotFound when there is no
    // such row.
    template <class Take>
    Status streamOf(const std::string& table, const std::string& sql, const std::string& key, Take&& take) const {
        LibmsiTurn turn;
        GPtr<LibmsiRecord> params(libmsi_record_new(1));
        libmsi_record_set_string(params.get(), 1, key.c_str());
        std::optional<Status> out;
        select(
            table, sql,
            [&](LibmsiRecord* record) {
                if (out)
                    return;
                out = success();
                GPtr<GInputStream> input(libmsi_record_get_stream(record, 1));
                std::array<std::uint8_t, 64 * 1024> block{};
                while (input) {
                    ErrorHolder e;
                    const gssize got = g_input_stream_read(input.get(), block.data(), block.size(), nullptr, &e.error);
                    if (got < 0) {
                        out = makeError(ErrorKind::Malformed, key + ": " + e.text());
                        return;
                    }
                    if (got == 0)
                        return;
                    Status took = take(std::span<const std::uint8_t>(block.data(), static_cast<std::size_t>(got)));
                    if (!took) {
                        out = took;
                        return;
                    }
                }
            },
            params.get());
        if (!out)
            return makeError(ErrorKind::NotFound, key + ": not in the package");
        return *out;
    }

    Result<std::vector<std::uint8_t>> bytesOf(const std::string& table, const std::string& sql,
                                              const std::string& key, std::uint64_t limit) const {
        std::vector<std::uint8_t> bytes;
        auto status = streamOf(table, sql, key, [&](std::span<const std::uint8_t> block) -> Status {
            if (bytes.size() + block.size() > limit)
                return makeError(ErrorKind::TooLarge, key + ": " + UnreadableText(Unreadable::TooLarge));
            bytes.insert(bytes.end(), block.begin(), block.end());
            return success();
        });
        if (!status)
            return status.error();
        return bytes;
    }
};

void PrepareMsiReading(std::span<const std::uint8_t> head) {
    if (IsCompoundFileHead(head))
        PrepareMsiReading();
}

void PrepareMsiReading() {
    static std::once_flag once;
    std::call_once(once, [] {
        quietLibmsi();
        // A converter kept open keeps its module loaded: a later opening finds it there.
        // They stay open for the life of the process (the list is never destroyed, so
        // they stay reachable to the end).
        static auto* const kept = new std::vector<iconv_t>();
        for (const int page : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
            const std::string name = "CP" + std::to_string(page);
            if (const iconv_t converter = ::iconv_open("UTF-8", name.c_str()); converter != reinterpret_cast<iconv_t>(-1))
                kept->push_back(converter);
        }
    });
}

bool IsCompoundFileHead(std::span<const std::uint8_t> head) {
    return head.size() >= kCompoundFileSignature.size() &&
           std::equal(kCompoundFileSignature.begin(), kCompoundFileSignature.end(), head.begin());
}

MsiPackage::MsiPackage(std::unique_ptr<Database> database) : m_db(std::move(database)) {}
MsiPackage::~MsiPackage() = default;

namespace {

// What became of a package read first in a copy of the process.
enum class Trial {
    CameThrough, // libmsi read it, or refused it with a reason, and the copy ended well
    Died,        // the copy died reading it
    TookTooLong, // the copy was still reading when its time ran out (a library loop)
    NotMade,     // no copy could be made (an outer sandbox may forbid new processes)
};

// The most bytes of one Icon or Binary row read in the copy: rows are pictures and
// small programs, and a row beyond this is read in the process as any other.
constexpr std::uint64_t kMostTrialRowBytes = 64ull << 20;

// Runs `read` in a copy of the process and says how the copy ended. The copy inherits
// the cage (the same Landlock domain and system-call filter), dies of whatever kills
// it (no handler of the program's turns that into an ordinary exit) and leaves no core
// behind; it writes nothing and ends without running the program's exit handlers. It
// has `seconds` of wall time: a damaged package the library goes round in forever ends
// with the copy's alarm, which the copy sets on itself (the cage lets no process signal
// another), instead of holding up the run.
Trial ReadInCopy(const std::function<void()>& read, unsigned seconds) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return Trial::NotMade;
    if (pid == 0) {
        // Straight to the kernel: a sanitizer's runtime keeps its own handler through
        // the C library's signal() and would end the copy as a report, not a death.
        struct {
            void (*handler)(int);
            unsigned long flags;
            void (*restorer)();
            std::uint64_t mask;
        } byDefault{SIG_DFL, 0, nullptr, 0};
        for (const int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP, SIGALRM})
            (void)::syscall(SYS_rt_sigaction, sig, &byDefault, nullptr, sizeof(byDefault.mask));
        // The thread that forked may hold signals back (the run's Ctrl-C handling): the
        // alarm must reach the copy.
        sigset_t alarmOnly;
        sigemptyset(&alarmOnly);
        sigaddset(&alarmOnly, SIGALRM);
        (void)::pthread_sigmask(SIG_UNBLOCK, &alarmOnly, nullptr);
        const rlimit noCore{0, 0};
        (void)::setrlimit(RLIMIT_CORE, &noCore);
        ::alarm(seconds);
        read();
        ::_exit(0);
    }
    int status = 0;
    pid_t ended = -1;
    do
        ended = ::wait4(pid, &status, 0, nullptr);
    while (ended < 0 && errno == EINTR);
    if (ended != pid)
        return Trial::NotMade; // reaped elsewhere: how it ended is not known
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        return Trial::TookTooLong;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Trial::CameThrough : Trial::Died;
}

} // namespace

std::optional<std::string_view> ReadPackageInCopy(const std::function<void()>& read, unsigned seconds) {
    switch (ReadInCopy(read, seconds)) {
    case Trial::Died:
        return kMsiLibraryFailed;
    case Trial::TookTooLong:
        return kMsiLibraryTooSlow;
    case Trial::CameThrough:
    case Trial::NotMade:
        break;
    }
    return std::nullopt;
}

namespace {

// Whether the file `fd` is open on can be opened again by its name in /proc/self/fd, as
// libmsi opens a package: not where the cage grants no reading by path.
bool opensByName(int fd) {
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int again = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (again < 0)
        return false;
    ::close(again);
    return true;
}

} // namespace

namespace {

// The reason of an error whose message is "path: reason".
std::string reasonOf(const Error& error) {
    const std::size_t colon = error.message.rfind(": ");
    return colon == std::string::npos ? error.message : error.message.substr(colon + 2);
}

} // namespace

Result<std::unique_ptr<MsiPackage>> MsiPackage::Open(const ByteSource& source) {
    quietLibmsi();
    LibmsiTurn turn;
    auto database = std::make_unique<Database>();
    // libmsi opens a file by its name: the descriptor's own name when it holds the whole
    // package and may be opened by it, else an in-memory copy's (where the cage lets
    // nothing be opened by a name, as for the files a confined search hands over).
    int fd = -1;
    if (source.descriptor() && source.offset() == 0) {
        struct stat st {};
        if (::fstat(source.descriptor()->fd(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) == source.size() &&
            opensByName(source.descriptor()->fd()))
            fd = source.descriptor()->fd();
    }
    if (fd < 0) {
        database->memfd = ::memfd_create("harvix-msi", MFD_CLOEXEC);
        if (database->memfd < 0)
            return makeError(ErrorKind::Io, std::string("in-memory file: ") + std::strerror(errno), errno);
        std::vector<std::uint8_t> block(1 << 20);
        for (std::uint64_t at = 0; at < source.size();) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), source.size() - at));
            if (!source.readAt(at, std::span(block.data(), n)))
                return makeError(ErrorKind::Truncated, "the package could not be read");
            // Written in order with write, which every command's cage allows (pwrite is
            // not allowed to the commands that write no file).
            if (const int error = WriteAll(database->memfd, std::span<const std::uint8_t>(block.data(), n)); error != 0)
                return makeError(ErrorKind::Io, std::string("in-memory file: ") + std::strerror(error), error);
            at += n;
        }
        fd = database->memfd;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    // libmsi cannot be kept within a damaged package's bounds from outside, so the
    // package is read first, its tables and its Icon and Binary rows, in a copy of the
    // process: only when the copy came through is it read here. The files of its
    // cabinets are read by Harvix's own cabinet reader.
    const auto failed = ReadPackageInCopy([&path] {
        auto package = OpenAt(std::make_unique<Database>(), path);
        if (!package)
            return;
        const auto readRows = [&](const std::string& table, const std::vector<std::string>& names) {
            for (const std::string& name : names) {
                std::uint64_t seen = 0;
                (void)(*package)->m_db->streamOf(
                    table, "SELECT `Data` FROM `" + table + "` WHERE `Name` = ?", name,
                    [&seen](std::span<const std::uint8_t> block) -> Status {
                        seen += block.size();
                        return seen > kMostTrialRowBytes ? makeError(ErrorKind::TooLarge, "enough") : success();
                    });
            }
        };
        readRows("Icon", (*package)->icons());
        readRows("Binary", (*package)->binaries());
    }, kMsiTrialSeconds);
    if (failed)
        return makeError(ErrorKind::Malformed, std::string(*failed));
    return OpenAt(std::move(database), path);
}

Result<std::unique_ptr<MsiPackage>> MsiPackage::OpenAt(std::unique_ptr<Database> database, const std::string& path) {
    ErrorHolder e;
    database->db.reset(libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &e.error));
    if (!database->db)
        return makeError(ErrorKind::NotLoadable, "not a Windows Installer package: " + e.text());
    // The tables the package has: every query below asks only those.
    database->tables.insert("_Tables");
    database->select("_Tables", "SELECT `Name` FROM `_Tables`",
                     [&](LibmsiRecord* record) { database->tables.insert(fieldText(record, 1)); });
    database->tables.insert("_Streams");
    auto package = std::unique_ptr<MsiPackage>(new MsiPackage(std::move(database)));
    package->readTables();
    return package;
}

void MsiPackage::readTables() {
    const Database& db = *m_db;
    db.select("Icon", "SELECT `Name` FROM `Icon`",
              [&](LibmsiRecord* r) { m_icons.push_back(fieldText(r, 1)); });
    db.select("Binary", "SELECT `Name` FROM `Binary`",
              [&](LibmsiRecord* r) { m_binaries.push_back(fieldText(r, 1)); });
    db.select("Property", "SELECT `Property`, `Value` FROM `Property`", [&](LibmsiRecord* r) {
        const std::string value = fieldText(r, 2);
        if (fieldText(r, 1) == "ARPPRODUCTICON" &&
            std::find(m_icons.begin(), m_icons.end(), value) != m_icons.end())
            m_productIcon = value;
    });

    // Directories: each one's parent and its target name.
    struct Directory {
        std::string parent;
        std::string name;
    };
    std::map<std::string, Directory> directories;
    db.select("Directory", "SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`",
              [&](LibmsiRecord* r) {
                  std::string defaultDir = fieldText(r, 3);
                  // "TARGET:SOURCE": the target's name is where the file is installed.
                  defaultDir = defaultDir.substr(0, defaultDir.find(':'));
                  directories[fieldText(r, 1)] = Directory{fieldText(r, 2), longName(defaultDir)};
              });
    const auto directoryPath = [&](std::string id) {
        std::vector<std::string> names;
        for (int depth = 0; depth < kMostDirectoryDepth; ++depth) {
            const auto found = directories.find(id);
            if (found == directories.end())
                break;
            const Directory& d = found->second;
            // The root (no parent, or its own parent) is where the installation goes.
            if (d.parent.empty() || d.parent == id)
                break;
            if (std::string name = safeComponent(d.name); !name.empty())
                names.push_back(std::move(name));
            id = d.parent;
        }
        std::string path;
        for (auto it = names.rbegin(); it != names.rend(); ++it)
            path += *it + "/";
        return path;
    };
    std::map<std::string, std::string> componentDirectory;
    db.select("Component", "SELECT `Component`, `Directory_` FROM `Component`",
              [&](LibmsiRecord* r) { componentDirectory[fieldText(r, 1)] = fieldText(r, 2); });

    db.select("File", "SELECT `File`, `Component_`, `FileName`, `FileSize`, `Sequence` FROM `File`",
              [&](LibmsiRecord* r) {
                  MsiFile file;
                  file.key = fieldText(r, 1);
                  std::string name = safeComponent(longName(fieldText(r, 3)));
                  if (name.empty())
                      name = safeComponent(file.key);
                  const auto component = componentDirectory.find(fieldText(r, 2));
                  file.path = (component != componentDirectory.end() ? directoryPath(component->second) : "") + name;
                  const int size = libmsi_record_get_int(r, 4);
                  file.size = size > 0 ? static_cast<std::uint64_t>(size) : 0;
                  file.sequence = libmsi_record_get_int(r, 5);
                  m_files.push_back(std::move(file));
              });
    std::stable_sort(m_files.begin(), m_files.end(),
                     [](const MsiFile& a, const MsiFile& b) { return a.sequence < b.sequence; });

    std::set<std::string> named;
    db.select("Media", "SELECT `DiskId`, `Cabinet` FROM `Media` ORDER BY `DiskId`", [&](LibmsiRecord* r) {
        const std::string cabinet = fieldText(r, 2);
        if (cabinet.empty())
            return;
        MsiCabinet c;
        c.embedded = cabinet.front() == '#';
        c.name = c.embedded ? cabinet.substr(1) : cabinet;
        if (named.insert(std::string(c.embedded ? "#" : "") + c.name).second)
            m_cabinets.push_back(std::move(c));
    });
    // Streams that hold a cabinet no Media row names: a merge module's, a patch's.
    std::vector<std::string> streams;
    db.select("_Streams", "SELECT `Name` FROM `_Streams`",
              [&](LibmsiRecord* r) { streams.push_back(fieldText(r, 1)); });
    for (const std::string& name : streams) {
        if (named.contains("#" + name) || name.starts_with("Icon.") || name.starts_with("Binary."))
            continue;
        // Only the first block is read: the signature is in its first bytes.
        std::vector<std::uint8_t> head;
        (void)db.streamOf("_Streams", "SELECT `Data` FROM `_Streams` WHERE `Name` = ?", name,
                          [&](std::span<const std::uint8_t> block) -> Status {
                              head.assign(block.begin(), block.end());
                              return makeError(ErrorKind::TooLarge, "enough");
                          });
        if (head.size() >= kCabinetSignature.size() &&
            std::equal(kCabinetSignature.begin(), kCabinetSignature.end(), head.begin()))
            m_cabinets.push_back(MsiCabinet{name, true});
    }
}

Result<std::vector<std::uint8_t>> MsiPackage::icon(const std::string& name, std::uint64_t limit) const {
    return m_db->bytesOf("Icon", "SELECT `Data` FROM `Icon` WHERE `Name` = ?", name, limit);
}

Result<std::vector<std::uint8_t>> MsiPackage::binary(const std::string& name, std::uint64_t limit) const {
    return m_db->bytesOf("Binary", "SELECT `Data` FROM `Binary` WHERE `Name` = ?", name, limit);
}

Result<ByteSource> MsiPackage::stream(const std::string& name, std::uint64_t limit) const {
    MemberSink sink(limit);
    auto status = m_db->streamOf("_Streams", "SELECT `Data` FROM `_Streams` WHERE `Name` = ?", name,
                                 [&](std::span<const std::uint8_t> block) { return sink.write(block); });
    if (!status)
        return status.error();
    return sink.finish();
}

namespace {

// A package read member by member: the Icon rows, the Binary rows, then the files of
// each cabinet, read through the cabinet reader of the registry.
class MsiContainer final : public IContainer {
public:
    MsiContainer(std::unique_ptr<MsiPackage> package, std::string folder)
        : m_package(std::move(package)), m_folder(std::move(folder)) {
        for (const MsiFile& file : m_package->files())
            m_byKey.emplace(file.key, &file);
    }

    [[nodiscard]] std::string_view format() const override { return "Windows Installer"; }

    Result<std::optional<ContainerMember>> next() override {
        m_problem = Unreadable::None;
        if (m_icon < m_package->icons().size()) {
            m_current = Row{&MsiPackage::icon, m_package->icons()[m_icon++]};
            auto row = member(std::string(kMsiIconFolder) + safeComponent(m_current.name), MemberRole::Icon);
            if (m_package->productIcon() == m_current.name)
                row.note = std::string(kMsiProductIconNote);
            return std::optional<ContainerMember>(std::move(row));
        }
        if (m_binary < m_package->binaries().size()) {
            m_current = Row{&MsiPackage::binary, m_package->binaries()[m_binary++]};
            return std::optional<ContainerMember>(
                member(std::string(kMsiBinaryFolder) + safeComponent(m_current.name), MemberRole::Picture));
        }
        m_current = Row{};
        for (;;) {
            if (m_cabinet) {
                auto inner = m_cabinet->next();
                if (!inner) {
                    m_cabinet.reset();
                    return inner.error();
                }
                if (*inner) {
                    ContainerMember out = std::move(**inner);
                    // A cabinet names a package's file by its key in the File table.
                    if (const auto file = m_byKey.find(out.path); file != m_byKey.end())
                        out.path = file->second->path;
                    out.stored = false; // its offset is the cabinet's, not the package's
                    return std::optional<ContainerMember>(std::move(out));
                }
                m_cabinet.reset();
            }
            if (m_nextCabinet >= m_package->cabinets().size())
                return std::optional<ContainerMember>();
            const MsiCabinet& cabinet = m_package->cabinets()[m_nextCabinet++];
            Result<ByteSource> bytes = makeError(ErrorKind::NotFound, "");
            if (cabinet.embedded)
                bytes = m_package->stream(cabinet.name, kMostCabinetBytes);
            else if (!m_folder.empty())
                bytes = OpenCompanion(m_folder + cabinet.name);
            if (!bytes) {
                // A cabinet beside the package that is not there is a volume of the set
                // missing; one that is there and cannot be opened says why.
                const int code = bytes.error().code;
                const bool absent = cabinet.embedded || m_folder.empty() || code == ENOENT || code == 0;
                ContainerMember missing;
                missing.path = safeComponent(cabinet.name);
                missing.unreadable = cabinet.embedded ? Unreadable::Damaged
                                     : absent         ? Unreadable::MissingVolume
                                                      : Unreadable::NotOpened;
                missing.detail = "the cabinet " + cabinet.name +
                                 (cabinet.embedded ? " cannot be read"
                                  : absent         ? " is not beside the package"
                                                   : " beside the package: " + reasonOf(bytes.error()));
                return std::optional<ContainerMember>(std::move(missing));
            }
            auto opened = Containers().open(*bytes, cabinet.name);
            if (!opened) {
                ContainerMember damaged;
                damaged.path = safeComponent(cabinet.name);
                damaged.unreadable = Unreadable::Damaged;
                damaged.detail = "the cabinet " + cabinet.name + ": " + opened.error().message;
                return std::optional<ContainerMember>(std::move(damaged));
            }
            m_cabinet = std::move(*opened);
        }
    }

    Result<ByteSource> read(std::uint64_t limit) override {
        if (m_current.read) {
            auto bytes = ((*m_package).*m_current.read)(m_current.name, limit);
            if (!bytes) {
                m_problem = bytes.error().kind == ErrorKind::TooLarge ? Unreadable::TooLarge : Unreadable::Damaged;
                return bytes.error();
            }
            return ByteSource::InMemory(std::make_shared<const std::vector<std::uint8_t>>(std::move(*bytes)));
        }
        if (!m_cabinet)
            return makeError(ErrorKind::NotFound, "no member to read");
        auto bytes = m_cabinet->read(limit);
        if (!bytes)
            m_problem = m_cabinet->lastProblem();
        return bytes;
    }

    [[nodiscard]] Unreadable lastProblem() const override { return m_problem; }

private:
    // The largest embedded cabinet read: a package on a DVD holds a few GiB at most.
    static constexpr std::uint64_t kMostCabinetBytes = 8ull << 30;

    struct Row {
        Result<std::vector<std::uint8_t>> (MsiPackage::*read)(const std::string&, std::uint64_t) const = nullptr;
        std::string name;
    };

    static ContainerMember member(std::string path, MemberRole role) {
        ContainerMember out;
        out.path = std::move(path);
        out.role = role;
        return out;
    }

    std::unique_ptr<MsiPackage> m_package;
    std::string m_folder;
    std::map<std::string, const MsiFile*> m_byKey;
    std::size_t m_icon = 0;
    std::size_t m_binary = 0;
    std::size_t m_nextCabinet = 0;
    Row m_current;
    std::unique_ptr<IContainer> m_cabinet;
    Unreadable m_problem = Unreadable::None;
};

} // namespace

void AddMsiFormat(ContainerRegistry& registry) {
    ContainerFormat format;
    format.name = "Windows Installer";
    // Every package is a compound file; so are Office documents, which libmsi refuses
    // (and are then read as no container).
    format.recognise = [](const ByteSource&, std::span<const std::uint8_t> head, std::string_view) {
        return IsCompoundFileHead(head);
    };
    format.open = [](ByteSource source, std::string_view) -> Result<std::unique_ptr<IContainer>> {
        auto package = MsiPackage::Open(source);
        if (!package)
            return package.error();
        return std::unique_ptr<IContainer>(std::make_unique<MsiContainer>(std::move(*package), FolderOfSource(source)));
    };
    registry.add(std::move(format));
}

} // namespace harvix
