// harvix-cli cursor-theme: Windows cursors made into a freedesktop cursor theme (Xcursor
// files with every name desktops look them up by, and index.theme), from a cursor pack,
// cursor and animated cursor files, or the cursors of modules.
#include "cli/CommandCage.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"

#include "convert/ModuleIcons.h"
#include "cursortheme/ThemeSources.h"
#include "cursortheme/XcursorWriter.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace harvix {

const char* const kCursorThemeUsage =
    "  cursor-theme --name NAME (--dest DIR | --install) SOURCE...\n"
    "            Makes Windows cursors into a cursor theme for Linux desktops:\n"
    "            DIR/NAME/index.theme and DIR/NAME/cursors/, one Xcursor file for\n"
    "            each Windows role with the names desktops and toolkits look it up\n"
    "            by as symbolic links. SOURCE is a cursor pack folder (its\n"
    "            install.inf gives each file its role; without one, the file names\n"
    "            tell), a .cur or .ani file (its name tells its role), or a module\n"
    "            (its cursors with the system's identifiers; MODULE,-ID or\n"
    "            MODULE,N for one). ROLE=SOURCE gives the role: Arrow, Help,\n"
    "            AppStarting, Wait, Crosshair, IBeam, NWPen, No, SizeNS, SizeWE,\n"
    "            SizeNWSE, SizeNESW, SizeAll, UpArrow, Hand, Pin, Person. The first\n"
    "            source of a role gives it; roles without one come from the\n"
    "            inherited theme. The theme is made beside its place and renamed\n"
    "            into it whole; its path is printed.\n"
    "            --name NAME            the theme's name and folder\n"
    "            --dest DIR             the folder the theme goes into\n"
    "            --install              into $XDG_DATA_HOME/icons (~/.local/share/icons)\n"
    "            --sizes LIST           nominal sizes, 8 to 256 (default: 24,32,48,64,96)\n"
    "            --inherits THEME       where missing cursors come from (default:\n"
    "                                   Adwaita; '' for none)\n"
    "            --comment TEXT         the theme's comment\n"
    "            --force                replace a theme of that name\n"
    "            --no-sandbox           run unconfined (by default it reads only the\n"
    "                                   sources and writes only beneath DIR)\n"
    "            --verbose              say what confines it, or why nothing does\n"
    "            Exit status: 0 written, 1 a source unreadable, no cursor found or\n"
    "            the theme not written, 2 bad usage.\n"
    "            Example: harvix-cli cursor-theme --name Aero --install ~/aero-pack\n";

namespace {

struct ThemeArgs {
    std::string name;
    std::optional<std::string> dest;
    bool install = false;
    std::vector<std::uint32_t> sizes{std::begin(kDefaultCursorSizes), std::end(kDefaultCursorSizes)};
    std::string inherits{kDefaultInherits};
    std::optional<std::string> comment;
    bool force = false;
    std::vector<std::string> sources;
    CageChoice cage;
};

std::optional<ThemeArgs> readArgs(const Args& args) {
    ThemeArgs out;
    bool named = false;
    bool options = true;
    const std::string help = " (try 'harvix-cli cursor-theme --help')";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto is = [&](const char* option) {
            const std::string name(option);
            return options && (arg == name || arg.rfind(name + "=", 0) == 0);
        };
        auto value = [&](const char* option) -> std::optional<std::string> {
            const std::string name(option);
            if (arg == name) {
                if (i + 1 >= args.size()) {
                    Complain(name + " needs a value" + help);
                    return std::nullopt;
                }
                return args[++i];
            }
            return arg.substr(name.size() + 1);
        };
        if (is("--name")) {
            auto v = value("--name");
            if (!v)
                return std::nullopt;
            out.name = *v;
            named = true;
        } else if (is("--dest")) {
            if (!(out.dest = value("--dest")))
                return std::nullopt;
        } else if (is("--sizes")) {
            auto v = value("--sizes");
            if (!v)
                return std::nullopt;
            auto sizes = ParseCursorSizes(*v);
            if (!sizes) {
                Complain("--sizes takes whole numbers from " + std::to_string(kSmallestCursorSize) + " to " +
                         std::to_string(kLargestCursorSize) + " separated by commas, not '" + *v + "'");
                return std::nullopt;
            }
            out.sizes = *sizes;
        } else if (is("--inherits")) {
            auto v = value("--inherits");
            if (!v)
                return std::nullopt;
            if (!v->empty() && !IsThemeName(*v)) {
                Complain("--inherits takes a theme's name, not '" + *v + "'");
                return std::nullopt;
            }
            out.inherits = *v;
        } else if (is("--comment")) {
            if (!(out.comment = value("--comment")))
                return std::nullopt;
        } else if (options && arg == "--install") {
            out.install = true;
        } else if (options && arg == "--force") {
            out.force = true;
        } else if (options && TakeCageOption(arg, out.cage)) {
        } else if (options && arg == "--") {
            options = false;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            Complain("unknown option '" + arg + "'" + help);
            return std::nullopt;
        } else {
            out.sources.push_back(arg);
        }
    }
    if (!named) {
        Complain("give the theme's name with --name NAME" + help);
        return std::nullopt;
    }
    if (!IsThemeName(out.name)) {
        Complain("--name takes a folder name without '/', not '" + out.name + "'");
        return std::nullopt;
    }
    if (out.install == out.dest.has_value()) {
        Complain("give one of --dest DIR and --install" + help);
        return std::nullopt;
    }
    if (out.sources.empty()) {
        Complain("give at least one SOURCE: a cursor pack folder, a cursor file or a module" + help);
        return std::nullopt;
    }
    return out;
}

// Where --install puts themes: $XDG_DATA_HOME/icons, or ~/.local/share/icons when that
// is unset or not an absolute path (as the XDG base directories say).
std::optional<std::string> installFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/')
        return std::string(data) + "/icons";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        return std::nullopt;
    return std::string(home) + "/.local/share/icons";
}

std::string commentOf(const ThemeArgs& a, const GatheredCursors& gathered) {
    if (a.comment)
        return *a.comment;
    if (!gathered.schemeName.empty())
        return "The Windows cursor scheme " + gathered.schemeName + ", made into a cursor theme by Harvix";
    return "Windows cursors made into a cursor theme by Harvix";
}

} // namespace

int RunCursorTheme(const Args& args) {
    const std::optional<ThemeArgs> a = readArgs(args);
    if (!a)
        return 2;
    std::string dest;
    if (a->install) {
        auto folder = installFolder();
        if (!folder) {
            Complain("--install needs HOME or XDG_DATA_HOME set to an absolute path");
            return 2;
        }
        dest = *folder;
    } else {
        dest = *a->dest;
    }
    while (dest.size() > 1 && dest.back() == '/')
        dest.pop_back();
    const std::string place = dest + "/" + a->name;
    struct stat st {};
    if (!a->force && ::lstat(place.c_str(), &st) == 0) {
        Complain(place + " is there already (--force replaces it)");
        return 1;
    }
    // Every source is looked at before the cage closes, so that one that is not there
    // says so, not that the cage refuses it.
    std::vector<ThemeSource> sources;
    for (const std::string& text : a->sources)
        sources.push_back(ParseThemeSource(text));

    // Confined: reading the sources, writing beneath the destination.
    const FolderMadeAhead made(dest, a->cage);
    CagePlan plan;
    plan.calls = CallSet::CursorTheme;
    for (const ThemeSource& source : sources) {
        const std::string path = ::stat(source.location.c_str(), &st) == 0 ? source.location
                                                                            : SplitIconLocation(source.location).module;
        plan.readable.push_back(path);
    }
    plan.writable = {dest};
    plan.makeFolders = true;
    plan.makeLinks = true;
    plan.emptiable = {dest};
    if (!made.above().empty())
        plan.emptiable.push_back(made.above());
    // Loaded before the cage closes, which forbids mapping a library.
    if (auto loaded = LoadXcursorLibrary(); !loaded) {
        Complain(loaded.error().message);
        return 1;
    }
    bool readable = true;
    for (const std::string& path : plan.readable)
        if (::stat(path.c_str(), &st) != 0) {
            Complain(path + ": " + std::strerror(errno));
            readable = false;
        }
    if (!readable)
        return 1;
    EnterCommandCage(a->cage, plan);

    try {
        GatheredCursors gathered;
        bool ok = true;
        for (const ThemeSource& source : sources)
            if (auto taken = GatherCursors(source, gathered); !taken) {
                Complain(taken.error().message);
                ok = false;
            }
        for (const std::string& note : gathered.notes)
            Complain(note);
        if (!ok)
            return 1;
        if (gathered.count() == 0) {
            Complain("no cursor with a role was found; nothing written");
            return 1;
        }
        std::error_code error;
        std::filesystem::create_directories(dest, error);
        if (error) {
            Complain(dest + ": " + error.message());
            return 1;
        }
        auto writer = CursorThemeWriter::Begin(dest, a->name);
        if (!writer) {
            Complain(writer.error().message);
            return 1;
        }
        std::string missing;
        for (const CursorRoleInfo& info : CursorRoles()) {
            const auto& cursor = gathered.roles[static_cast<std::size_t>(info.role)];
            if (!cursor) {
                missing += (missing.empty() ? "" : ", ") + std::string(info.registryName);
                continue;
            }
            auto images = PlanCursorImages(cursor->cursor, a->sizes);
            if (!images) {
                Complain(cursor->origin + ": " + images.error().message);
                return 1;
            }
            if (auto added = (*writer)->addCursor(info.names, *images); !added) {
                Complain(added.error().message);
                return 1;
            }
        }
        if (auto finished = (*writer)->finish(IndexTheme(a->name, commentOf(*a, gathered), a->inherits), a->force);
            !finished) {
            Complain(finished.error().message);
            return 1;
        }
        if (!missing.empty())
            Complain("no cursor for " + missing +
                     (a->inherits.empty() ? std::string(": the desktop's own are shown")
                                          : ": those of " + a->inherits + " are shown"));
        std::cout << place << '\n' << std::flush;
        return std::cout ? 0 : 1;
    } catch (const std::bad_alloc&) {
        Complain("not enough memory");
        return 1;
    }
}

} // namespace harvix
