#include "cli/LauncherIcon.h"

#include "cli/Json.h"
#include "launcher/ShortcutIcon.h"

#include <sys/stat.h>

#include <iostream>

namespace harvix {

namespace {

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Result<FolderChoice> rank(const LauncherSource& source) {
    FolderChoice choice = RankFolderPrograms(source.listing, ModuleProgramProbe());
    if (!choice.cutShort.empty())
        std::cerr << "harvix-cli icon: " << source.listing.folder << ": searched in part only (" << choice.cutShort
                  << ")\n";
    if (choice.candidates.empty())
        return makeError(ErrorKind::NotFound,
                         "no program with an icon in the folder or its subfolders (" +
                             std::to_string(source.listing.programs.size()) + " programs looked at)");
    return choice;
}

// A field of a text line: a tab, line break or backslash in a path (or a version string
// quoted in the reason) is written as a backslash escape, as list's lines write them, so
// that every line keeps its three fields.
std::string field(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string strengthName(NameMatch::Strength strength) {
    switch (strength) {
    case NameMatch::Strength::Exact:
        return "exact";
    case NameMatch::Strength::Partial:
        return "partial";
    case NameMatch::Strength::None:
        break;
    }
    return "none";
}

} // namespace

int TakeLauncherOption(const Args& args, std::size_t& i, LauncherChoice& choice) {
    const std::string& arg = args[i];
    auto value = [&](const std::string& name) -> std::optional<std::string> {
        if (arg == name) {
            if (i + 1 >= args.size()) {
                std::cerr << "harvix-cli icon: " << name << " needs a value (try 'harvix-cli icon --help')\n";
                return std::nullopt;
            }
            return args[++i];
        }
        return arg.substr(name.size() + 1);
    };
    auto is = [&](const std::string& name) { return arg == name || arg.rfind(name + "=", 0) == 0; };
    if (arg == "--candidates") {
        choice.candidates = true;
        return 1;
    }
    if (is("--prefix")) {
        choice.prefix = value("--prefix");
        if (!choice.prefix)
            return -1;
        if (!isFolder(*choice.prefix)) {
            std::cerr << "harvix-cli icon: --prefix takes the folder of a Wine prefix, not '" << *choice.prefix
                      << "'\n";
            return -1;
        }
        return 1;
    }
    if (is("--format")) {
        const std::optional<std::string> format = value("--format");
        if (!format)
            return -1;
        if (*format != "text" && *format != "json") {
            std::cerr << "harvix-cli icon: --format takes text or json, not '" << *format << "'\n";
            return -1;
        }
        choice.json = *format == "json";
        return 1;
    }
    return 0;
}

Result<LauncherSource> PrepareLauncherSource(const IconLocation& location, const LauncherChoice& choice) {
    LauncherSource source;
    source.location = location;
    source.readable = {location.module};
    if (isFolder(location.module)) {
        source.kind = LauncherSource::Kind::Folder;
        source.listing = ListFolderPrograms(location.module);
        for (const ProgramFile& program : source.listing.programs)
            source.readable.push_back(program.path);
        return source;
    }
    if (choice.candidates)
        return makeError(ErrorKind::Unsupported, "--candidates lists the programs of a folder; this is no folder");
    if (ShortcutKindOf(location.module) == ShortcutKind::None)
        return source;
    auto icon = ResolveShortcutIcon(location.module, choice.prefix);
    if (!icon)
        return icon.error();
    source.kind = LauncherSource::Kind::Shortcut;
    source.location = IconLocation{icon->file, location.ref ? location.ref : icon->ref};
    source.readable = {icon->file};
    source.notes = std::move(icon->notes);
    return source;
}

Result<IconLocation> ChooseIconModule(const LauncherSource& source) {
    if (source.kind != LauncherSource::Kind::Folder)
        return source.location;
    auto choice = rank(source);
    if (!choice)
        return choice.error();
    return IconLocation{choice->candidates.front().file.path, source.location.ref};
}

int PrintFolderCandidates(const LauncherSource& source, const LauncherChoice& choice) {
    auto ranked = rank(source);
    if (!ranked) {
        std::cerr << "harvix-cli icon: " << source.listing.folder << ": " << ranked.error().message << '\n';
        return 1;
    }
    for (const ProgramCandidate& c : ranked->candidates) {
        if (!choice.json) {
            std::cout << c.rank << '\t' << field(c.file.path) << '\t' << field(c.reason) << '\n';
            continue;
        }
        Json line = Json::object();
        line["rank"] = c.rank;
        PutPath(line, "path", c.file.path);
        PutPath(line, "relative", c.file.relative);
        line["chosen"] = c.rank == 1;
        line["depth"] = c.file.depth;
        line["icon_size"] = c.facts.iconSize;
        if (c.passedOver)
            line["passed_over"] = Json{{"kind", c.passedOver->kind}, {"by", c.passedOver->by}, {"text", c.passedOver->text}};
        else
            line["passed_over"] = nullptr;
        Json match = Json{{"strength", strengthName(c.match.strength)}};
        if (c.match.strength != NameMatch::Strength::None) {
            match["by"] = c.match.by;
            match["text"] = c.match.text;
        }
        line["name_match"] = match;
        Json version = Json::object();
        for (const char* key : {"ProductName", "FileDescription", "InternalName", "OriginalFilename", "CompanyName"})
            if (const std::string text = c.facts.version.get(key); !text.empty())
                version[key] = text;
        line["version"] = version;
        line["reason"] = c.reason;
        std::cout << JsonLine(line) << '\n';
    }
    std::cout << std::flush;
    return 0;
}

} // namespace harvix
