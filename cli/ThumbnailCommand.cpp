// harvix-cli thumbnail: the picture a file manager shows for a Windows module, an icon
// or a cursor file. File managers run it on every such file they come across, also on
// files just downloaded, so it limits itself before it reads anything: 2 s of CPU time,
// 256 MiB of address space, 10 s in all; and OUT appears whole or not at all.
#include "cli/Commands.h"
#include "cli/CommandCage.h"
#include "cli/ExtractArgs.h"

#include "common/Files.h"
#include "common/Paths.h"
#include "convert/ContainerIcon.h"
#include "convert/ModuleIcons.h"
#include "module/ModuleAccess.h"
#include "image/Png.h"
#include "image/Thumbnail.h"
#include "launcher/ShortcutIcon.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>

namespace harvix {

const char* const kThumbnailUsage =
    "  thumbnail [--size N] [--[no-]satellites] [--language TAG] FILE OUT.png\n"
    "            Writes the picture a file manager shows for FILE: of a module its\n"
    "            first icon group, or an icon or cursor file's own images; the image\n"
    "            closest to N pixels from above (deeper colours first; the largest\n"
    "            when none is as large), scaled down to fit N x N; above 256 pixels\n"
    "            a smaller image is enlarged to fit, by at most twice its size. FILE\n"
    "            is told apart by its content, whatever its name; a shortcut (.lnk,\n"
    "            .url) shows the icon it names in its Wine prefix. Limits itself to\n"
    "            2 s of CPU time and 256 MiB of memory; OUT.png is replaced whole or\n"
    "            not at all (an empty OUT.png is filled in place). A module is read\n"
    "            with the resource files Windows keeps for it elsewhere\n"
    "            (SystemResources/NAME.mun beside System32, LANG/NAME.mui), as list and\n"
    "            extract read it.\n"
    "            --size N               the size in pixels, 1 to 4096 (default 128)\n"
    "            --no-satellites        read FILE as it is, without those files\n"
    "            --satellites           read them (the default, unless the setting\n"
    "                                   Satellites is 0)\n"
    "            --language TAG         the language whose NAME.mui is read (default: the\n"
    "                                   setting Language, else the locale's, else en-US)\n"
    "            --no-sandbox           run unconfined (by default it reads only FILE\n"
    "                                   and its satellites, and writes only in\n"
    "                                   OUT.png's folder)\n"
    "            --verbose              say what confines it, or why nothing does\n"
    "            Exit status: 0 written, 1 no icon to show or FILE not readable\n"
    "            (nothing written), 2 bad usage.\n"
    "            Example: harvix-cli thumbnail --size 256 setup.exe setup.png\n";

namespace {

constexpr std::uint64_t kMaxIconFileBytes = 64ull << 20;

// The temporary file while it exists, for the handler of the limits' signals: it may use
// only what is safe in a signal handler, hence a fixed buffer.
char g_temporary[4096] = {0};

extern "C" void onLimit(int) {
    if (g_temporary[0] != '\0')
        ::unlink(g_temporary);
    ::_exit(1);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void limitSelf() {
    // CPU: SIGXCPU at 2 s (the handler removes the temporary file), killed at 3 s.
    const rlimit cpu{2, 3};
    (void)::setrlimit(RLIMIT_CPU, &cpu);
    // The address sanitizer reserves terabytes of address space for its own books, so
    // its builds cannot run under this limit.
    if (!kSanitized) {
        const rlimit as{256ull << 20, 256ull << 20};
        (void)::setrlimit(RLIMIT_AS, &as);
    }
    std::signal(SIGXCPU, onLimit);
    // A read that waits on a dead network file system uses no CPU time.
    std::signal(SIGALRM, onLimit);
    ::alarm(10);
}

void complain(const std::string& message) {
    std::cerr << "harvix-cli thumbnail: " << message << '\n';
}

// Puts the PNG at `out`, whole or not at all. Usually: a new file beside it, renamed to
// `out`. But a thumbnailing host may have made `out` itself, empty, and read the picture
// through the descriptor it keeps open (Xfce's tumbler does): a rename would leave it
// reading its empty file. An empty regular file at `out` is therefore filled in place,
// with the limits' signals held back meanwhile; the picture is complete in memory by
// then, so only the one write remains.
Status writeWhole(const std::string& out, const std::vector<std::uint8_t>& png) {
    struct stat st {};
    if (::lstat(out.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            sigset_t limits, before;
            sigemptyset(&limits);
            sigaddset(&limits, SIGXCPU);
            sigaddset(&limits, SIGALRM);
            ::sigprocmask(SIG_BLOCK, &limits, &before);
            int error = WriteAll(fd, png);
            if (::close(fd) != 0 && error == 0)
                error = errno;
            if (error != 0 && ::truncate(out.c_str(), 0) != 0) {
                // nothing more to do: the host finds no picture either way
            }
            ::sigprocmask(SIG_SETMASK, &before, nullptr);
            if (error != 0)
                return makeError(ErrorKind::Io, out + ": " + std::strerror(error), error);
            return success();
        }
    }
    const std::string tmp = AddBackslash(FolderPart(out)) + ".harvix-thumbnail-XXXXXX";
    if (tmp.size() >= sizeof g_temporary)
        return makeError(ErrorKind::Io, out + ": path too long");
    std::memcpy(g_temporary, tmp.c_str(), tmp.size() + 1);
    const int fd = ::mkstemp(g_temporary);
    if (fd < 0) {
        g_temporary[0] = '\0';
        return makeError(ErrorKind::Io, out + ": " + std::strerror(errno), errno);
    }
    int error = WriteAll(fd, png);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(g_temporary, out.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(g_temporary);
    g_temporary[0] = '\0';
    if (error != 0)
        return makeError(ErrorKind::Io, out + ": " + std::strerror(error), error);
    return success();
}

} // namespace

int RunThumbnail(const Args& args) {
    std::uint32_t size = 128;
    std::vector<std::string> paths;
    CageChoice cage;
    SatelliteChoice satellites = StoredSatelliteChoice();
    std::optional<bool> satellitesGiven;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << "Usage: harvix-cli thumbnail [--size N] [--[no-]satellites] [--language TAG] FILE OUT.png\n\n"
                      << kThumbnailUsage;
            return 0;
        }
        if (arg == "--size" || arg.rfind("--size=", 0) == 0) {
            std::string value;
            if (arg == "--size") {
                if (i + 1 >= args.size()) {
                    complain("--size needs a value");
                    return 2;
                }
                value = args[++i];
            } else {
                value = arg.substr(7);
            }
            unsigned long n = 0;
            const bool digits = !value.empty() && value.size() <= 4 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            if (digits)
                n = std::stoul(value);
            if (!digits || n < 1 || n > 4096) {
                complain("--size takes a whole number from 1 to 4096, not '" + value + "'");
                return 2;
            }
            size = static_cast<std::uint32_t>(n);
        } else if (TakeCageOption(arg, cage)) {
        } else if (auto taken = TakeSatelliteOption(args, i, satellites, satellitesGiven); !taken || *taken) {
            if (!taken) {
                complain(taken.error().message + " (try 'harvix-cli thumbnail --help')");
                return 2;
            }
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            complain("unknown option '" + arg + "' (try 'harvix-cli thumbnail --help')");
            return 2;
        } else if (arg != "--") {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2) {
        complain("give FILE and OUT.png (try 'harvix-cli thumbnail --help')");
        return 2;
    }

    limitSelf();
    // A shortcut shows the icon it names, found by names in its Wine prefix before the
    // cage closes.
    std::string file = paths[0];
    std::optional<IconRef> ref;
    if (ShortcutKindOf(file) != ShortcutKind::None) {
        auto icon = ResolveShortcutIcon(file, std::nullopt);
        if (!icon) {
            complain(paths[0] + ": " + icon.error().message);
            return 1;
        }
        file = icon->file;
        ref = icon->ref;
    }
    // Confined: reading FILE alone, writing only into OUT.png's folder.
    CagePlan plan;
    plan.calls = CallSet::Thumbnail;
    plan.readable = {file};
    // A module's satellites lie beside it or beside its folder.
    if (satellites.read) {
        plan.listable = SatelliteListings(plan.readable);
        plan.readable = WithSatelliteRoots(std::move(plan.readable));
    }
    plan.writable = {FolderOfFile(paths[1])};
    PrepareContainerIcon(file);
    EnterCommandCage(cage, plan);
    try {
        // The icon Windows shows for the file: a module's first group, or an icon or
        // cursor file's own images; an installer's or an archive's program's.
        const std::unique_ptr<SatelliteFinder> finder = SatelliteFinderFor(satellites);
        auto icon = LoadAnyFileIcon(file, ref, kMaxIconFileBytes, finder.get());
        if (!icon) {
            complain(paths[0] + ": " + icon.error().message);
            return 1;
        }
        std::vector<ByteView> views(icon->images.begin(), icon->images.end());
        auto picture = MakeThumbnail(views, size);
        if (!picture) {
            complain(paths[0] + ": " + picture.error().message);
            return 1;
        }
        auto png = EncodePng(*picture);
        if (!png) {
            complain(paths[0] + ": " + png.error().message);
            return 1;
        }
        if (auto written = writeWhole(paths[1], *png); !written) {
            complain(written.error().message);
            return 1;
        }
    } catch (const std::bad_alloc&) {
        complain(paths[0] + ": not enough memory");
        return 1;
    }
    return 0;
}

} // namespace harvix
