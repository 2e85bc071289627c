// harvix-cli icon: one good icon of a Windows program, for launchers and menus: a PNG of
// the size asked for, the sizes of a freedesktop icon theme, or the group as an icon
// file. The group is named as Windows names it (MODULE,N or MODULE,-ID), and a launcher
// runs the command once per program, so it reads only the group it needs.
#include "cli/Commands.h"
#include "cli/CommandCage.h"
#include "cli/LauncherIcon.h"
#include "cli/ExtractArgs.h"
#include "cli/WholeFile.h"

#include "image/IconFile.h"
#include "convert/ContainerIcon.h"
#include "convert/ModuleIcons.h"
#include "image/Png.h"
#include "image/Thumbnail.h"

#include <sys/stat.h>

#include <cctype>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace harvix {

const char* const kIconUsage =
    "  icon MODULE[,REF] [OUT.png|OUT.ico] [--size N] [--theme DIR --name NAME] [--ico OUT.ico]\n"
    "            Writes an icon of MODULE (a module, an icon or a cursor file) for\n"
    "            launchers and menus; of an installer or an archive the icon of the\n"
    "            program it holds (of a Windows Installer package the product's icon,\n"
    "            else its Icon table's largest, else its first program's; of an\n"
    "            archive the program's nearest its top). REF names the icon group as Windows does: N\n"
    "            the N-th group in the module's order (0 the first), -ID the group\n"
    "            with the id ID; without REF the first group, the one Windows shows.\n"
    "            OUT.png gets the group's best image for N x N pixels: that size\n"
    "            with the most colours, else the next larger one scaled down, else\n"
    "            the largest enlarged, by at most twice its size; OUT.ico the group\n"
    "            as an icon file (the name's extension decides; any other is refused).\n"
    "            Files are replaced whole; the path of each file written is printed.\n"
    "            A module is read with the resource files Windows keeps for it\n"
    "            elsewhere (SystemResources/NAME.mun beside System32, LANG/NAME.mui), as\n"
    "            list and extract read it.\n"
    "            MODULE may be a shortcut (.lnk, .url): the icon it names, else its\n"
    "            target's first icon, found in the Wine prefix that holds it (REF\n"
    "            replaces the shortcut's own index). MODULE may be a folder: the\n"
    "            icon of the program a launcher shows for it, its installers,\n"
    "            uninstallers, crash reporters, redistributables and helpers passed\n"
    "            over, then the one whose file name or version resource matches the\n"
    "            folder's name first, then the one nearest the top, then the one with\n"
    "            the largest icon.\n"
    "            --size N               the size in pixels, 1 to 4096 (default: the\n"
    "                                   group's largest image as it is)\n"
    "            --upscale              enlarge small images as far as N asks\n"
    "            --theme DIR            every size the group holds and the standard\n"
    "                                   sizes 16 to 256 that can be made, as\n"
    "                                   DIR/WxH/apps/NAME.png (an icon theme folder)\n"
    "            --name NAME            the icon's name in the theme\n"
    "            --ico FILE             the group as an icon file, whatever FILE's name\n"
    "            --no-satellites        read MODULE as it is, without those files\n"
    "            --satellites           read them (the default, unless the setting\n"
    "                                   Satellites is 0)\n"
    "            --language TAG         the language whose NAME.mui is read (default: the\n"
    "                                   setting Language, else the locale's, else en-US)\n"
    "            --prefix DIR           the Wine prefix a shortcut's Windows paths lie\n"
    "                                   in (default: the one that holds the shortcut)\n"
    "            --candidates           list a folder's programs ranked, each with the\n"
    "                                   reason for its place, and write no icon\n"
    "            --format text|json     the list as text (rank, path, reason, by tabs)\n"
    "                                   or as one JSON object per line\n"
    "            --no-sandbox           run unconfined (by default it reads only MODULE\n"
    "                                   and its satellites, and writes only where the\n"
    "                                   icons go)\n"
    "            --verbose              say what confines it, or why nothing does\n"
    "            Exit status: 0 written, 1 no such icon, MODULE unreadable or a file\n"
    "            not written, 2 bad usage.\n"
    "            Example: harvix-cli icon 'setup.exe,-101' setup.png --size 48\n";

namespace {

constexpr std::uint64_t kMaxIconFileBytes = 64ull << 20;

// The sizes a freedesktop icon theme (hicolor) has folders for, up to 256.
constexpr std::uint32_t kThemeSizes[] = {16, 22, 24, 32, 36, 48, 64, 72, 96, 128, 192, 256};

// How much an image may be enlarged: twice, unless --upscale asks for any size.
constexpr std::uint32_t kMostEnlargement = 2;
constexpr std::uint32_t kAnyEnlargement = std::numeric_limits<std::uint32_t>::max();

void complain(const std::string& message) {
    std::cerr << "harvix-cli icon: " << message << '\n';
}

struct IconArgs {
    std::string location; // MODULE[,REF] as given
    std::optional<std::string> png;
    std::optional<std::uint32_t> size;
    bool upscale = false;
    std::optional<std::string> theme;
    std::optional<std::string> name;
    std::optional<std::string> ico;
    CageChoice cage;
    LauncherChoice launcher; // shortcuts and folders
    SatelliteChoice satellites = StoredSatelliteChoice();
};

// The lower-case extension of a file name's last part ("png" for "a/B.PNG"); empty when
// it has none.
std::string extensionOf(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {};
    std::string extension = name.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

// Reads the arguments; a message and nothing when they cannot be used.
std::optional<IconArgs> readArgs(const Args& args) {
    IconArgs out;
    std::vector<std::string> paths;
    bool options = true;
    std::optional<bool> satellitesGiven;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // --opt VALUE or --opt=VALUE
        auto value = [&](const char* option) -> std::optional<std::string> {
            const std::string name(option);
            if (arg == name) {
                if (i + 1 >= args.size()) {
                    complain(name + " needs a value (try 'harvix-cli icon --help')");
                    return std::nullopt;
                }
                return args[++i];
            }
            return arg.substr(name.size() + 1);
        };
        auto is = [&](const char* option) {
            const std::string name(option);
            return options && (arg == name || arg.rfind(name + "=", 0) == 0);
        };
        if (is("--size")) {
            auto text = value("--size");
            if (!text)
                return std::nullopt;
            const bool digits = !text->empty() && text->size() <= 4 &&
                                text->find_first_not_of("0123456789") == std::string::npos;
            const unsigned long n = digits ? std::stoul(*text) : 0;
            if (n < 1 || n > 4096) {
                complain("--size takes a whole number from 1 to 4096, not '" + *text + "'");
                return std::nullopt;
            }
            out.size = static_cast<std::uint32_t>(n);
        } else if (is("--theme")) {
            if (!(out.theme = value("--theme")))
                return std::nullopt;
        } else if (is("--name")) {
            if (!(out.name = value("--name")))
                return std::nullopt;
        } else if (is("--ico")) {
            if (!(out.ico = value("--ico")))
                return std::nullopt;
        } else if (options && arg == "--upscale") {
            out.upscale = true;
        } else if (options && TakeCageOption(arg, out.cage)) {
        } else if (const int launcherTaken = options ? TakeLauncherOption(args, i, out.launcher) : 0;
                   launcherTaken != 0) {
            if (launcherTaken < 0)
                return std::nullopt;
        } else if (auto taken = options ? TakeSatelliteOption(args, i, out.satellites, satellitesGiven)
                                        : Result<bool>(false);
                   !taken || *taken) {
            if (!taken) {
                complain(taken.error().message + " (try 'harvix-cli icon --help')");
                return std::nullopt;
            }
        } else if (options && arg == "--") {
            options = false;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            complain("unknown option '" + arg + "' (try 'harvix-cli icon --help')");
            return std::nullopt;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty() || paths.size() > 2) {
        complain("give MODULE[,REF] and at most one OUT.png or OUT.ico (try 'harvix-cli icon --help')");
        return std::nullopt;
    }
    out.location = paths[0];
    // The output's name says what it holds: a PNG picture or an icon file.
    if (paths.size() == 2) {
        const std::string extension = extensionOf(paths[1]);
        if (extension == "png") {
            out.png = paths[1];
        } else if (extension == "ico" && !out.ico) {
            out.ico = paths[1];
        } else if (extension == "ico") {
            complain("'" + paths[1] + "' and --ico both name an icon file; give one (try 'harvix-cli icon --help')");
            return std::nullopt;
        } else {
            complain("'" + paths[1] + "' is neither a .png nor an .ico file; name the file OUT.png for a "
                     "PNG picture or OUT.ico for an icon file (or give --ico FILE)");
            return std::nullopt;
        }
    }
    if (out.theme.has_value() != out.name.has_value()) {
        complain("--theme and --name go together (try 'harvix-cli icon --help')");
        return std::nullopt;
    }
    if (out.name && (out.name->empty() || out.name->find('/') != std::string::npos || *out.name == "." ||
                     *out.name == "..")) {
        complain("--name takes a file name without '/', not '" + *out.name + "'");
        return std::nullopt;
    }
    if (out.launcher.candidates && (out.png || out.theme || out.ico)) {
        complain("--candidates lists the programs of a folder and writes no icon (try 'harvix-cli icon --help')");
        return std::nullopt;
    }
    if (!out.png && !out.theme && !out.ico && !out.launcher.candidates) {
        complain("give OUT.png, --theme DIR --name NAME or --ico OUT.ico (try 'harvix-cli icon --help')");
        return std::nullopt;
    }
    if (out.size && !out.png) {
        complain("--size is the size of OUT.png; give OUT.png (try 'harvix-cli icon --help')");
        return std::nullopt;
    }
    return out;
}

// Encodes and writes one picture; the path goes to stdout once the file is whole.
bool writePng(const Result<RgbaImage>& picture, const std::string& path, const std::string& location) {
    if (!picture) {
        complain(location + ": " + picture.error().message);
        return false;
    }
    auto png = EncodePng(*picture);
    if (!png) {
        complain(location + ": " + png.error().message);
        return false;
    }
    if (auto written = ReplaceFileWhole(path, *png); !written) {
        complain(written.error().message);
        return false;
    }
    std::cout << path << '\n';
    return true;
}

} // namespace

int RunIcon(const Args& args) {
    const std::optional<IconArgs> a = readArgs(args);
    if (!a)
        return 2;
    // A file whose own name holds ",N" is taken whole when it is there.
    IconLocation location = SplitIconLocation(a->location);
    struct stat whole {};
    if (location.ref && ::stat(a->location.c_str(), &whole) == 0)
        location = IconLocation{a->location, std::nullopt};
    // A shortcut names the module it shows; a folder's programs are listed here, before
    // the cage, and opened in it.
    auto source = PrepareLauncherSource(location, a->launcher);
    if (!source) {
        complain(a->location + ": " + source.error().message);
        return 1;
    }
    for (const std::string& note : source->notes)
        complain(a->location + ": " + note);

    // Confined: reading the module alone, writing only where the pictures go.
    const FolderMadeAhead theme(a->theme.value_or(std::string()), a->cage);
    CagePlan plan;
    plan.calls = CallSet::Icon;
    plan.readable = source->readable;
    // The module's satellites lie beside it or beside its folder.
    if (a->satellites.read) {
        plan.listable = SatelliteListings(plan.readable);
        plan.readable = WithSatelliteRoots(std::move(plan.readable));
    }
    for (const auto& out : {a->png, a->ico})
        if (out)
            plan.writable.push_back(FolderOfFile(*out));
    if (a->theme) {
        plan.writable.push_back(*a->theme);
        plan.makeFolders = true;
        if (!theme.above().empty())
            plan.emptiable.push_back(theme.above());
    }
    PrepareContainerIcon(location.module);
    EnterCommandCage(a->cage, plan);

    try {
        if (a->launcher.candidates)
            return PrintFolderCandidates(*source, a->launcher);
        auto chosen = ChooseIconModule(*source);
        if (!chosen) {
            complain(a->location + ": " + chosen.error().message);
            return 1;
        }
        if (a->cage.verbose && source->kind != LauncherSource::Kind::Module)
            complain(a->location + ": the icon of " + chosen->module);
        const std::unique_ptr<SatelliteFinder> satellites = SatelliteFinderFor(a->satellites);
        auto icon = LoadAnyFileIcon(chosen->module, chosen->ref, kMaxIconFileBytes, satellites.get());
        if (!icon) {
            const bool named = chosen->module != location.module;
            complain(a->location + ": " + (named ? chosen->module + ": " : std::string()) + icon.error().message);
            return 1;
        }
        const std::vector<ByteView> views(icon->images.begin(), icon->images.end());
        const std::uint32_t enlargement = a->upscale ? kAnyEnlargement : kMostEnlargement;
        bool ok = true;
        if (a->png) {
            ok = writePng(a->size ? MakeIconPicture(views, *a->size, enlargement)
                                  : LargestIconPicture(views),
                          *a->png, a->location) &&
                 ok;
        }
        if (a->theme) {
            const std::vector<std::uint32_t> sizes = IconThemeSizes(views, kThemeSizes, enlargement);
            if (sizes.empty()) {
                complain(a->location + ": no image of the icon can be read");
                ok = false;
            }
            for (const std::uint32_t size : sizes) {
                const std::string side = std::to_string(size);
                const std::filesystem::path folder = std::filesystem::path(*a->theme) / (side + "x" + side) / "apps";
                std::error_code error;
                std::filesystem::create_directories(folder, error);
                if (error) {
                    complain(folder.string() + ": " + error.message());
                    ok = false;
                    break;
                }
                ok = writePng(MakeIconPicture(views, size, enlargement), (folder / (*a->name + ".png")).string(),
                              a->location) &&
                     ok;
            }
        }
        if (a->ico) {
            const std::vector<std::uint8_t> ico = IconFileOfImages(views);
            if (ico.empty()) {
                complain(a->location + ": no image of the icon can be read");
                ok = false;
            } else if (auto written = ReplaceFileWhole(*a->ico, ico); !written) {
                complain(written.error().message);
                ok = false;
            } else {
                std::cout << *a->ico << '\n';
            }
        }
        std::cout << std::flush;
        return ok ? 0 : 1;
    } catch (const std::bad_alloc&) {
        complain(a->location + ": not enough memory");
        return 1;
    }
}

} // namespace harvix
