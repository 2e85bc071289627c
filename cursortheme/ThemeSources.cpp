#include "cursortheme/ThemeSources.h"

#include "common/Files.h"
#include "convert/ModuleIcons.h"
#include "cursortheme/InstallInf.h"
#include "image/IconFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

namespace harvix {

namespace {

namespace fs = std::filesystem;

// The largest cursor file read: real ones, animated ones included, stay below a megabyte.
constexpr std::uint64_t kMaxCursorFileBytes = 16u << 20;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool hasExtension(const std::string& name, std::initializer_list<std::string_view> extensions) {
    const std::string low = lower(name);
    return std::any_of(extensions.begin(), extensions.end(), [&low](std::string_view e) {
        return low.size() > e.size() && low.compare(low.size() - e.size(), e.size(), e) == 0;
    });
}

std::string nameOf(CursorRole role) {
    return std::string(InfoOf(role).registryName);
}

// Gives `role` its cursor unless a source before gave it one.
void give(GatheredCursors& gathered, CursorRole role, std::string origin, SourceCursor cursor) {
    auto& slot = gathered.roles[static_cast<std::size_t>(role)];
    if (slot) {
        gathered.notes.push_back(origin + ": passed over, " + nameOf(role) + " is " + slot->origin);
        return;
    }
    slot = RoleCursor{std::move(origin), std::move(cursor)};
}

// A cursor file read and given its role; one that cannot be read is noted.
void takeFile(GatheredCursors& gathered, CursorRole role, const std::string& path) {
    auto bytes = ReadWholeFile(path, kMaxCursorFileBytes);
    if (!bytes) {
        gathered.notes.push_back(path + ": passed over, " + bytes.error().message);
        return;
    }
    auto cursor = ReadCursorFile(*bytes);
    if (!cursor) {
        gathered.notes.push_back(path + ": passed over, " + cursor.error().message);
        return;
    }
    give(gathered, role, path, std::move(*cursor));
}

// The cursor files of a pack folder and its subfolders two deep, sorted, the folder's
// own first; links to folders are not followed.
std::vector<fs::path> packFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator() && files.size() < kMaxPackFiles; it.increment(error)) {
        if (it.depth() >= 2)
            it.disable_recursion_pending();
        std::error_code ignored;
        if (it->is_regular_file(ignored) && hasExtension(it->path().filename().string(), {".cur", ".ani", ".ico", ".inf"}))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end(), [&folder](const fs::path& a, const fs::path& b) {
        const auto depthOf = [&folder](const fs::path& p) {
            return std::distance(p.lexically_relative(folder).begin(), p.lexically_relative(folder).end());
        };
        const auto da = depthOf(a), db = depthOf(b);
        return da != db ? da < db : a < b;
    });
    return files;
}

Status gatherPack(const ThemeSource& source, GatheredCursors& gathered) {
    const std::vector<fs::path> files = packFiles(source.path);
    // The install.inf, else any .inf in the folder that sets a scheme up.
    std::vector<fs::path> infs;
    for (const fs::path& file : files)
        if (hasExtension(file.filename().string(), {".inf"}))
            infs.push_back(file);
    std::stable_partition(infs.begin(), infs.end(),
                          [](const fs::path& p) { return lower(p.filename().string()) == "install.inf"; });
    std::optional<CursorScheme> scheme;
    for (const fs::path& inf : infs) {
        auto bytes = ReadWholeFile(inf.string(), kMaxInstallInfBytes);
        if (!bytes) {
            gathered.notes.push_back(inf.string() + ": not read, " + bytes.error().message);
            continue;
        }
        auto read = ReadInstallInf(*bytes);
        if (read && !read->empty()) {
            scheme = std::move(*read);
            break;
        }
    }
    auto findFile = [&files](const std::string& name) -> std::optional<fs::path> {
        const std::string wanted = lower(name);
        for (const fs::path& file : files)
            if (lower(file.filename().string()) == wanted)
                return file;
        return std::nullopt;
    };
    const std::size_t before = gathered.count();
    if (scheme) {
        if (gathered.schemeName.empty())
            gathered.schemeName = scheme->name;
        for (const CursorRoleInfo& info : CursorRoles()) {
            const std::string& name = scheme->files[static_cast<std::size_t>(info.role)];
            if (name.empty() || (source.role && *source.role != info.role))
                continue;
            if (auto file = findFile(name))
                takeFile(gathered, info.role, file->string());
            else
                gathered.notes.push_back(source.path + ": install.inf gives " + nameOf(info.role) + " the file " +
                                         name + ", which the pack lacks");
        }
    } else {
        for (const fs::path& file : files) {
            if (hasExtension(file.filename().string(), {".inf"}))
                continue;
            const auto role = source.role ? source.role : GuessRoleFromFileName(file.filename().string());
            if (!role) {
                gathered.notes.push_back(file.string() + ": passed over, its name tells no role (give ROLE=" +
                                         file.string() + ")");
                continue;
            }
            takeFile(gathered, *role, file.string());
        }
    }
    if (gathered.count() == before && files.empty())
        return makeError(ErrorKind::NotFound, source.path + ": no cursor file in the folder");
    return success();
}

Status gatherModule(const ThemeSource& source, std::optional<IconRef> ref, GatheredCursors& gathered) {
    auto module = OpenModule(source.path);
    if (!module) {
        if (const int code = module.error().code; code != 0)
            return makeError(ErrorKind::Io, source.path + ": " + std::strerror(code), code);
        return makeError(ErrorKind::NotLoadable,
                         source.path + ": neither a cursor file, an animated cursor nor a module");
    }
    const std::vector<ModuleCursor> cursors = CursorsOfModule(**module);
    if (cursors.empty())
        return makeError(ErrorKind::NotFound, source.path + ": the module holds no cursor");
    std::vector<ModuleCursor> chosen;
    if (ref) {
        for (std::size_t i = 0; i < cursors.size(); ++i) {
            const bool match = ref->by == IconRef::By::Position
                                   ? i == ref->value
                                   : cursors[i].name.numeric && cursors[i].name.id == ref->value;
            if (match) {
                chosen.push_back(cursors[i]);
                break;
            }
        }
        if (chosen.empty())
            return makeError(ErrorKind::NotFound,
                             source.location + ": no such cursor (the module holds " +
                                 std::to_string(cursors.size()) + ", 0 to " + std::to_string(cursors.size() - 1) + ")");
    } else {
        chosen = cursors;
    }
    std::size_t unknown = 0;
    for (const ModuleCursor& cursor : chosen) {
        const std::string origin = source.path + "," + (cursor.name.numeric ? "-" + std::to_string(cursor.name.id)
                                                                            : cursor.name.text);
        std::optional<CursorRole> role = source.role;
        if (!role && cursor.name.numeric)
            role = RoleFromResourceId(cursor.name.id);
        if (!role) {
            ++unknown;
            continue;
        }
        auto read = ReadModuleCursor(**module, cursor);
        if (!read) {
            gathered.notes.push_back(origin + ": passed over, " + read.error().message);
            continue;
        }
        give(gathered, *role, origin, std::move(*read));
        // One module cursor for one role named before it.
        if (source.role)
            break;
    }
    if (unknown > 0)
        gathered.notes.push_back(source.path + ": " + std::to_string(unknown) +
                                 " cursors passed over, they are none of the system's (give ROLE=" + source.path +
                                 ",-ID)");
    return success();
}

// The first bytes of a regular file, enough to tell a cursor file from a module.
Result<std::vector<std::uint8_t>> headOf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return makeError(ErrorKind::Io, std::strerror(errno), errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return makeError(ErrorKind::NotLoadable, "not a regular file");
    }
    std::vector<std::uint8_t> head(16);
    const ssize_t n = ::read(fd, head.data(), head.size());
    const int code = errno;
    ::close(fd);
    if (n < 0)
        return makeError(ErrorKind::Io, std::strerror(code), code);
    head.resize(static_cast<std::size_t>(n));
    return head;
}

} // namespace

ThemeSource ParseThemeSource(std::string_view text) {
    ThemeSource source;
    if (const auto equals = text.find('='); equals != std::string_view::npos) {
        if (auto role = RoleFromRegistryName(text.substr(0, equals))) {
            source.role = role;
            text.remove_prefix(equals + 1);
        }
    }
    source.location = std::string(text);
    source.path = source.location;
    return source;
}

std::size_t GatheredCursors::count() const {
    return static_cast<std::size_t>(std::count_if(roles.begin(), roles.end(), [](const auto& r) { return r.has_value(); }));
}

Status GatherCursors(const ThemeSource& given, GatheredCursors& gathered) {
    ThemeSource source = given;
    // MODULE,-ID or MODULE,N, unless the whole text names a file.
    IconLocation location = SplitIconLocation(source.location);
    struct stat st {};
    if (location.ref && ::stat(source.location.c_str(), &st) == 0)
        location = IconLocation{source.location, std::nullopt};
    source.path = location.module;
    if (::stat(source.path.c_str(), &st) != 0)
        return makeError(ErrorKind::Io, source.path + ": " + std::strerror(errno), errno);
    if (S_ISDIR(st.st_mode)) {
        if (location.ref)
            return makeError(ErrorKind::NotFound, source.location + ": a folder holds no numbered cursors");
        return gatherPack(source, gathered);
    }
    auto head = headOf(source.path);
    if (!head)
        return makeError(head.error().kind, source.path + ": " + head.error().message, head.error().code);
    if (IsAniFileHead(*head) || IsIconFileHead(*head)) {
        const auto role = source.role ? source.role : GuessRoleFromFileName(source.path);
        if (!role)
            return makeError(ErrorKind::NotFound, source.path + ": its name tells no role (give ROLE=" +
                                                      source.path + ")");
        auto whole = ReadWholeFile(source.path, kMaxCursorFileBytes);
        if (!whole)
            return makeError(whole.error().kind, source.path + ": " + whole.error().message, whole.error().code);
        auto cursor = ReadCursorFile(*whole);
        if (!cursor)
            return makeError(cursor.error().kind, source.path + ": " + cursor.error().message);
        give(gathered, *role, source.path, std::move(*cursor));
        return success();
    }
    return gatherModule(source, location.ref, gathered);
}

} // namespace harvix
