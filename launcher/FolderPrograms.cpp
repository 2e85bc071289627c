#include "launcher/FolderPrograms.h"

#include "convert/ModuleIcons.h"
#include "module/ModuleAccess.h"
#include "image/IconFile.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <initializer_list>

namespace harvix {

namespace {

// The programs passed over, by kind: the patterns of their file names (without regard
// to case), the names of folders that hold nothing else, and the words their version
// strings use. The first rule that matches gives the kind, so uninstallers (whose
// description often reads "Setup/Uninstall") come before installers.
struct PassRule {
    const char* kind;
    std::initializer_list<const char*> names;
    std::initializer_list<const char*> folders;
    std::initializer_list<const char*> words;
};

const PassRule kPassRules[] = {
    {"uninstaller", {"unins*", "uninst*", "*uninstall*", "au_.exe"}, {}, {"uninstall"}},
    {"crash reporter",
     {"unitycrashhandler*", "*crashreport*", "*crashhandler*", "*crash_handler*", "*crashpad*", "*crash_reporter*",
      "*crashsender*", "bssndrpt*", "bugsplat*", "*errorreport*", "werfault*"},
     {},
     {"crash report", "crash handler", "crashpad", "bugsplat", "error report"}},
    {"redistributable",
     {"vcredist*", "vc_redist*", "*redist*", "dotnetfx*", "ndp4*", "ndp3*", "dxwebsetup*", "dxsetup*", "oalinst*",
      "physx*", "xnafx*", "directx*", "ue4prereq*", "ueprereq*", "*prereq*"},
     {"*redist*", "directx", "dotnet*", "vcredist*", "prerequisites", "_installer*", "installers", "physx*",
      "support"},
     {"redistributable", "directx setup", "prerequisite", ".net framework"}},
    {"installer", {"setup*", "*setup", "*_setup*", "*-setup*", "install*", "*installer*"}, {}, {"setup", "installer"}},
    {"helper",
     {"*helper*", "*updater*", "*autoupdate*", "easyanticheat*", "*anticheat*", "beservice*", "battleye*",
      "*browsersubprocess*", "qtwebengineprocess*", "cefsharp*", "*cefprocess*", "*subprocess*", "dxdiag*",
      "vulkaninfo*", "cleanup.exe", "touchup.exe", "dotnetfix*", "*-cef-*", "crs-*"},
     {"easyanticheat", "battleye", "__installer", "_commonredist"},
     {"helper", "updater", "anti-cheat", "anticheat", "subprocess"}},
};

// The version strings that name a program.
constexpr const char* kNameKeys[] = {"ProductName", "FileDescription", "InternalName", "OriginalFilename"};

bool matches(const char* pattern, const std::string& name) {
    return ::fnmatch(pattern, name.c_str(), FNM_CASEFOLD) == 0;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string fileName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A file name without its extension.
std::string stem(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The folders between the listed folder and the file, outermost first.
std::vector<std::string> foldersOf(const ProgramFile& file) {
    std::vector<std::string> folders;
    std::size_t start = 0;
    for (std::size_t slash = file.relative.find('/'); slash != std::string::npos;
         slash = file.relative.find('/', start)) {
        folders.push_back(file.relative.substr(start, slash - start));
        start = slash + 1;
    }
    return folders;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string reasonOf(const ProgramCandidate& c, const std::string& folderName) {
    std::string reason;
    if (c.passedOver) {
        const bool vowel = std::string_view("aeiou").find(c.passedOver->kind.front()) != std::string_view::npos;
        reason = "passed over: " + std::string(vowel ? "an " : "a ") + c.passedOver->kind + " by its " + c.passedOver->by + " " + quoted(c.passedOver->text) + "; ";
    }
    switch (c.match.strength) {
    case NameMatch::Strength::Exact:
        reason += "its " + c.match.by + " " + quoted(c.match.text) + " is the folder's name " + quoted(folderName);
        break;
    case NameMatch::Strength::Partial:
        reason += "its " + c.match.by + " " + quoted(c.match.text) + " and the folder's name " + quoted(folderName) +
                  " share a part";
        break;
    case NameMatch::Strength::None:
        reason += "no name of it matches the folder's name " + quoted(folderName);
        break;
    }
    if (c.file.depth == 0)
        reason += "; in the folder itself";
    else
        reason += "; " + std::to_string(c.file.depth) + (c.file.depth == 1 ? " folder down" : " folders down");
    reason += "; its largest icon " + std::to_string(c.facts.iconSize) + " px";
    return reason;
}

} // namespace

std::string ComparableName(std::string_view name) {
    std::string out;
    for (const char c : name) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))
            out += c;
        else if (c >= 'A' && c <= 'Z')
            out += static_cast<char>(c - 'A' + 'a');
        else if (static_cast<unsigned char>(c) >= 0x80)
            out += c; // letters of other scripts stay, compared as they are
    }
    return out;
}

FolderListing ListFolderPrograms(const std::string& folder, const FolderLimits& limits) {
    FolderListing listing;
    listing.folder = folder;
    while (listing.folder.size() > 1 && listing.folder.back() == '/')
        listing.folder.pop_back();
    struct Pending {
        std::string path;
        std::string relative;
        int depth;
    };
    std::deque<Pending> queue{{listing.folder, "", 0}};
    std::size_t listed = 0;
    while (!queue.empty()) {
        const Pending at = std::move(queue.front());
        queue.pop_front();
        DIR* dir = ::opendir(at.path.c_str());
        if (dir == nullptr)
            continue;
        std::vector<std::pair<std::string, unsigned char>> entries;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            if (++listed > limits.names) {
                listing.cutShort = std::to_string(limits.names) + " names listed";
                break;
            }
            entries.emplace_back(name, entry->d_type);
        }
        ::closedir(dir);
        std::sort(entries.begin(), entries.end());
        for (auto& [name, type] : entries) {
            const std::string path = at.path + "/" + name;
            const std::string relative = at.relative.empty() ? name : at.relative + "/" + name;
            if (type == DT_UNKNOWN || type == DT_LNK) {
                struct stat st {};
                if (::lstat(path.c_str(), &st) != 0)
                    continue;
                // A link to a folder is never entered (no loops); a link to a file counts.
                if (S_ISDIR(st.st_mode))
                    type = DT_DIR;
                else if (S_ISLNK(st.st_mode))
                    type = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
                else if (S_ISREG(st.st_mode))
                    type = DT_REG;
            }
            if (type == DT_DIR) {
                if (at.depth < limits.depth)
                    queue.push_back({path, relative, at.depth + 1});
                else if (listing.cutShort.empty())
                    listing.cutShort = "folders deeper than " + std::to_string(limits.depth) + " levels not searched";
            } else if (type == DT_REG && matches("*.exe", name)) {
                listing.programs.push_back({path, relative, at.depth});
            }
        }
        if (listed > limits.names)
            break;
    }
    return listing;
}

std::optional<ProgramFacts> ModuleProgramProbe::probe(const std::string& path) const {
    auto module = OpenModule(path);
    if (!module)
        return std::nullopt;
    ProgramFacts facts;
    if (auto group = LoadIconGroup(**module, std::nullopt)) {
        facts.hasIcon = true;
        for (const auto& image : group->images)
            if (auto info = ReadIconImageInfo(image))
                facts.iconSize = std::max(facts.iconSize, std::max(info->width, info->height));
    }
    facts.version = ReadVersionStrings(**module);
    return facts;
}

std::optional<PassedOver> PassOver(const ProgramFile& file, const VersionStrings& version) {
    const std::string name = fileName(file.relative);
    const std::vector<std::string> folders = foldersOf(file);
    for (const PassRule& rule : kPassRules) {
        for (const char* pattern : rule.names)
            if (matches(pattern, name))
                return PassedOver{rule.kind, "file name", name};
        for (const std::string& folder : folders)
            for (const char* pattern : rule.folders)
                if (matches(pattern, folder))
                    return PassedOver{rule.kind, "folder", folder};
        for (const char* key : kNameKeys) {
            const std::string text = version.get(key);
            const std::string folded = lower(text);
            for (const char* word : rule.words)
                if (folded.find(word) != std::string::npos)
                    return PassedOver{rule.kind, key, text};
        }
    }
    return std::nullopt;
}

NameMatch MatchFolderName(const std::string& folderName, const ProgramFile& file, const VersionStrings& version) {
    const std::string wanted = ComparableName(folderName);
    NameMatch best;
    auto consider = [&](const std::string& by, const std::string& text, const std::string& compared) {
        const std::string name = ComparableName(compared);
        if (name.empty() || wanted.empty())
            return;
        NameMatch::Strength strength = NameMatch::Strength::None;
        if (name == wanted)
            strength = NameMatch::Strength::Exact;
        // A part of three characters or more: "witcher3" in "thewitcher3", "game" in
        // "game-win64-shipping".
        else if (std::min(name.size(), wanted.size()) >= 3 &&
                 (name.find(wanted) != std::string::npos || wanted.find(name) != std::string::npos))
            strength = NameMatch::Strength::Partial;
        if (strength > best.strength)
            best = NameMatch{strength, by, text};
    };
    const std::string name = fileName(file.relative);
    consider("file name", name, stem(name));
    for (const char* key : kNameKeys) {
        const std::string text = version.get(key);
        const bool isFile = std::string_view(key) == "InternalName" || std::string_view(key) == "OriginalFilename";
        consider(key, text, isFile ? stem(text) : text);
    }
    return best;
}

FolderChoice RankFolderPrograms(const FolderListing& listing, const IProgramProbe& probe, const FolderLimits& limits) {
    FolderChoice choice;
    choice.cutShort = listing.cutShort;
    const std::string folderName = fileName(listing.folder);
    for (const ProgramFile& file : listing.programs) {
        if (choice.programsOpened >= limits.programs) {
            if (choice.cutShort.empty())
                choice.cutShort = std::to_string(limits.programs) + " programs opened";
            break;
        }
        ++choice.programsOpened;
        std::optional<ProgramFacts> facts = probe.probe(file.path);
        if (!facts || !facts->hasIcon)
            continue;
        ProgramCandidate c;
        c.file = file;
        c.facts = std::move(*facts);
        c.passedOver = PassOver(file, c.facts.version);
        c.match = MatchFolderName(folderName, file, c.facts.version);
        choice.candidates.push_back(std::move(c));
    }
    // Passed over last; then the better name match, the shallower place, the larger
    // icon; the listing's order (breadth first, names in order) settles the rest.
    std::stable_sort(choice.candidates.begin(), choice.candidates.end(),
                     [](const ProgramCandidate& a, const ProgramCandidate& b) {
                         if (a.passedOver.has_value() != b.passedOver.has_value())
                             return !a.passedOver.has_value();
                         if (a.match.strength != b.match.strength)
                             return a.match.strength > b.match.strength;
                         if (a.file.depth != b.file.depth)
                             return a.file.depth < b.file.depth;
                         return a.facts.iconSize > b.facts.iconSize;
                     });
    for (std::size_t i = 0; i < choice.candidates.size(); ++i) {
        choice.candidates[i].rank = i + 1;
        choice.candidates[i].reason = reasonOf(choice.candidates[i], folderName);
    }
    return choice;
}

} // namespace harvix
