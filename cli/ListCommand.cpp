// harvix-cli list: walks a folder (or every fixed drive) exactly as the wizard's search
// does and prints every resource of every matching module, one line per language
// version. harvix-cli version: prints the file version of modules.
#include "cli/Commands.h"
#include "cli/CommandCage.h"
#include "cli/ExtractArgs.h"
#include "cli/RunReport.h"
#include "cli/Terminal.h"
#include "common/MessageSource.h"
#include "search/FileList.h"
#include "module/FileVersion.h"
#include "cli/Json.h"
#include "cli/RunReport.h"
#include "module/ModuleAccess.h"
#include "extract/JudgeResource.h"
#include "extract/writers/Plan.h"
#include "extract/ResourceKind.h"
#include "run/LimitText.h"
#include "run/ContainerSearch.h"
#include "run/RunAccount.h"
#include "run/RunBindings.h"
#include "run/SatelliteReading.h"
#include "search/PathSearch.h"
#include "search/SearchCore.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_set>
#include <vector>

namespace harvix {

namespace {

// Paths and resource names may hold any byte but NUL; a tab, line break or backslash in
// them is written as a backslash escape so that every line keeps its five fields.
void AppendField(std::string& line, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        case '\\':
            line += "\\\\";
            break;
        default:
            line.push_back(c);
        }
    }
}

enum class Format { Tsv, Json };

// What extract does with one language version of a resource, as list --explain tells it.
struct Verdict {
    enum class Outcome { Written, LeftOut, NotExtracted };
    Outcome outcome = Outcome::NotExtracted;
    std::optional<ResourceKind> kind; // the kind written, or the kind that left it out
    LeftOut why;                       // for LeftOut
    std::string detail;                // for NotExtracted: why not, in words

    // "written as icon", "left out by the limits: bitmap height 3000 outside the limit
    // 16-48", "not extracted: the kind icon is not chosen".
    [[nodiscard]] std::string text() const {
        switch (outcome) {
        case Outcome::Written:
            return "written as " + std::string(KindOf(*kind).toolName);
        case Outcome::LeftOut:
            return std::string(LeftOutReasonWords(why.reason)) + ": " + LeftOutDetail(why) + widening(" (", ")");
        case Outcome::NotExtracted:
            break;
        }
        return "not extracted: " + detail;
    }

    // For a resource the limits left out: the option that widens them, between `before`
    // and `after` ("--bitmap-limits widens them"); empty otherwise.
    [[nodiscard]] std::string widening(std::string_view before, std::string_view after) const {
        if (outcome != Outcome::LeftOut || why.reason != LeftOutReason::Limits || !kind ||
            LimitOptionOf(*kind).empty())
            return {};
        return std::string(before) + std::string(LimitOptionOf(*kind)) +
               (before.empty() ? "" : " widens them") + std::string(after);
    }

    [[nodiscard]] Json json() const {
        Json out = Json::object();
        switch (outcome) {
        case Outcome::Written:
            out["outcome"] = "written";
            out["kind"] = std::string(KindKey(*kind));
            break;
        case Outcome::LeftOut:
            out["outcome"] = "left_out";
            out["kind"] = std::string(KindKey(*kind));
            out["reason"] = std::string(LeftOutReasonKey(why.reason));
            out["detail"] = LeftOutDetail(why);
            if (const std::string option = widening("", ""); !option.empty())
                out["widen_with"] = option;
            break;
        case Outcome::NotExtracted:
            out["outcome"] = "not_extracted";
            out["kind"] = kind ? Json(std::string(KindKey(*kind))) : Json(nullptr);
            out["detail"] = detail;
            break;
        }
        return out;
    }
};

// Finds what extract does with each resource under the given kinds and limits, from the
// plans the extraction itself writes from.
class Explainer {
public:
    explicit Explainer(ExtractionOptions options) : m_options(std::move(options)) {}

    // The verdict on the resource `name` of `type` whose language version `index` (in
    // directory order) is listed. Only the first version of a name is read by extract.
    [[nodiscard]] Verdict judge(const IResourceModule& module, const ResId& type,
                                const ResId& name, std::size_t index) const {
        Verdict verdict;
        verdict.kind = ExtractedKind(module, type);
        if (!verdict.kind) {
            verdict.detail = "no kind of resource is read from this type";
            for (const KindInfo& info : kKinds)
                if (info.memberType && type.is(*info.memberType))
                    verdict.detail = "an image of the " + std::string(info.toolName) +
                                     " groups, written inside the groups that name it";
            return verdict;
        }
        // Data kept beside the pictures under their types is never written, whatever
        // the kinds; as extract does, the first language version decides. A picture's
        // plan says so, and is the one read below.
        std::optional<ResourcePlan> plan;
        if (*verdict.kind == ResourceKind::Image) {
            plan = PlanResource(module, *verdict.kind, type, name, m_options);
            if (plan->notOfKind()) {
                verdict.detail = "not a picture";
                return verdict;
            }
        }
        if (!m_options.enabled(*verdict.kind)) {
            verdict.detail = "the kind " + std::string(KindOf(*verdict.kind).toolName) +
                             " is not chosen";
            return verdict;
        }
        if (index != 0) {
            verdict.detail = "extract reads the first language version of a resource only";
            return verdict;
        }
        if (!plan)
            plan = PlanResource(module, *verdict.kind, type, name, m_options);
        if (const LeftOut* why = plan->leftOut()) {
            verdict.outcome = Verdict::Outcome::LeftOut;
            verdict.why = *why;
        } else {
            verdict.outcome = Verdict::Outcome::Written;
        }
        return verdict;
    }

private:
    ExtractionOptions m_options;
};

class ListPrinter : public cSearchCoreEvents, public IContainerObserver {
public:
    ListPrinter(Format format, std::optional<Explainer> explainer)
        : m_format(format), m_explainer(std::move(explainer)) {}

    bool writeFailed = false;
    RunAccount account;
    // The files the caller named: every one of a file list, or the file arguments.
    bool allNamed = false;
    std::unordered_set<std::string> named;
    bool namedFailed = false; // a named file could not be read, or a file argument is no module
    // Opens a file with its satellites, and passes over a satellite the listing reads
    // with its module.
    ModuleOpener opener = ModuleOpener(OpenModule);

    std::int64_t found = 0; // files found, modules or not

    void FileFound(std::string& FileName, std::int32_t&, std::int32_t&, bool& Cancel) override {
        ++found;
        // A signal that ends the listing stops it before the next module.
        if (EndingSignal() != 0) {
            Cancel = true;
            return;
        }
        auto module = opener(FileName);
        if (!module) {
            // A file found by the search, or named in a file list, that is no module is
            // passed over, as the extraction does; one that could not be opened or read
            // is counted with its reason. A file the caller named (in a file list or as
            // an argument) that could not be read makes the listing fail, and so does a
            // file argument that is no module, which is named at once.
            const std::int64_t before = account.UnreadableFiles().count;
            account.ModuleNotOpened(FileName, module.error());
            const bool argument = named.count(FileName) != 0;
            if (account.UnreadableFiles().count != before) {
                namedFailed = namedFailed || allNamed || argument;
            } else if (argument) {
                namedFailed = true;
                Complain(NotAModuleMessage(FileName, module.error()));
            }
            return;
        }
        std::string line;
        Json object;
        if (m_format == Format::Json)
            PutPath(object, "path", FileName);
        std::string note;
        if (const auto noted = m_notes.find(FileName); noted != m_notes.end()) {
            note = std::move(noted->second);
            m_notes.erase(noted);
            if (m_format == Format::Json)
                object["note"] = note;
        }
        // A packed module lists what the packer left readable; the listing says why the
        // rest is missing.
        if (const Packer packer = (*module)->packer(); packer != Packer::None) {
            account.ModulePacked(FileName, packer);
            if (m_format == Format::Json)
                object["packed"] = PackedNotice(packer);
        }
        // A setup program whose payload Harvix does not unpack lists its own resources;
        // the listing names the installer and the tool that unpacks the rest.
        if (const Installer installer = (*module)->installer(); installer != Installer::None) {
            account.ContainerNotRead(FileName, InstallerNotice(installer));
            if (m_format == Format::Json)
                object["installer"] = InstallerNotice(installer);
        }
        for (const auto& type : (*module)->types()) {
            const std::optional<ResourceKind> kind = KindOfType(type);
            for (const auto& name : (*module)->names(type)) {
                // The satellite resource file the resource lies in; empty for the module's own.
                const std::string source = (*module)->source(type, name);
                const auto languages = (*module)->languages(type, name);
                for (std::size_t index = 0; index < languages.size(); ++index) {
                    const ResLanguage& language = languages[index];
                    std::optional<Verdict> verdict;
                    if (m_explainer)
                        verdict = m_explainer->judge(**module, type, name, index);
                    line.clear();
                    if (m_format == Format::Json) {
                        object["type"] = IdValue(type);
                        object["type_name"] = TypeNameValue(type);
                        object["name"] = IdValue(name);
                        object["language"] = language.language;
                        object["size"] = language.size;
                        object["kind"] = kind ? Json(std::string(KindKey(*kind))) : Json(nullptr);
                        object.erase("source");
                        object.erase("source_bytes");
                        if (!source.empty())
                            PutPath(object, "source", source);
                        if (verdict)
                            object["extract"] = verdict->json();
                        line = JsonLine(object);
                        line.push_back('\n');
                    } else {
                        AppendField(line, FileName);
                        line.push_back('\t');
                        AppendField(line, type.toText());
                        line.push_back('\t');
                        AppendField(line, name.toText());
                        line += '\t' + std::to_string(language.language) + '\t' +
                                std::to_string(language.size);
                        // With the verdict last, the source field is always there.
                        if (!source.empty() || verdict) {
                            line.push_back('\t');
                            AppendField(line, source);
                        }
                        if (verdict) {
                            line.push_back('\t');
                            AppendField(line, note.empty() ? verdict->text() : verdict->text() + "; " + note);
                        }
                        line.push_back('\n');
                    }
                    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) {
                        writeFailed = true;
                        Cancel = true;
                        return;
                    }
                }
            }
        }
    }
    void Searching(bool& Cancel) override {
        if (EndingSignal() != 0)
            Cancel = true;
    }
    void SearchFinished() override {}

    // The containers are counted as the extraction counts them; what a container says of
    // a member (the product's icon of an installer package) is told with --explain.
    void ContainerOpened(const std::string& source, std::string_view format) override {
        account.ContainerOpened(source, format);
    }
    void ContainerNotRead(const std::string& source, const std::string& reason) override {
        account.ContainerNotRead(source, reason);
    }
    void MemberNoted(const std::string& source, const std::string& note) override {
        if (m_explainer)
            m_notes[source] = note;
    }

private:
    Format m_format;
    std::optional<Explainer> m_explainer;
    std::map<std::string, std::string> m_notes;
};

// Says on stderr how many files could not be read, and the first with its reason, as
// the extraction's summary does; true when there was any.
bool ReportUnreadable(const RunAccount& account) {
    const ProblemList unreadable = account.UnreadableFiles();
    if (unreadable.count == 0)
        return false;
    const auto& first = unreadable.first.front();
    Complain(std::to_string(unreadable.count) + (unreadable.count == 1 ? " file" : " files") +
             " could not be read (first: " + first.path + ": " + first.reason + ")");
    return true;
}

// Says on stderr how many modules a packer compressed and which installers, containers
// and members of containers could not be read, as the extraction's summary does.
void ReportPacked(const RunAccount& account) {
    if (const ProblemList packed = account.PackedModules(); packed.count != 0)
        Complain(PackedModulesLine(packed));
    if (const ProblemList containers = account.ContainersNotRead(); containers.count != 0)
        Complain(ContainersNotReadLine(containers));
}

// A command line that cannot be read: what is wrong, and where the usage is.
int Usage(const std::string& message) {
    Complain(message + " (try '" + MessagePrefix().substr(0, MessagePrefix().size() - 2) +
             " --help')");
    return 2;
}

} // namespace

const char* const kListUsage =
    "  list [--format tsv|json] [--no-subfolders] [--mask TEXT] [--[no-]satellites]\n"
    "       [--language TAG] (PATH... | --all-drives)\n"
    "  list [--format tsv|json] [--[no-]satellites] [--language TAG] --files-from LIST [--null]\n"
    "  list ... --explain [--kinds LIST] [--bitmap-limits L] [--icon-limits L]\n"
    "           [--image-limits W;H]\n"
    "      Prints every resource of the modules named or found, one line per language\n"
    "      version. Each PATH is a module file, taken as it is (no mask applies), or a\n"
    "      folder, searched for matching modules; --all-drives searches every fixed\n"
    "      drive. --format tsv (the default): path, type, name, language and size in\n"
    "      bytes, separated by tabs (tab, line break and backslash in a path or name are\n"
    "      written \\t, \\n and \\\\). --format json: one JSON object per line with path,\n"
    "      type, type_name, name, language, size and kind (a path that is not UTF-8\n"
    "      also as path_bytes; packed, saying what it means, for a module a packer\n"
    "      such as UPX compressed, of which only some resources can be read; installer,\n"
    "      naming the installer and the tool that unpacks it, for an Inno Setup or NSIS\n"
    "      setup program, whose own resources are listed and whose payload is not\n"
    "      read; stderr names them too). Folders are searched with their subfolders unless\n"
    "      --no-subfolders; the mask defaults to \"*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx\".\n"
    "      A module is read with the resource files Windows keeps for it elsewhere (the\n"
    "      SystemResources folder's NAME.mun beside System32 and SysWOW64, and NAME.mui\n"
    "      in the folder of the --language TAG, default the setting Language, else the\n"
    "      locale's, else en-US, else the first present), unless --no-satellites (or the\n"
    "      setting Satellites is 0 and --satellites is not given); a resource read from\n"
    "      one of them names that file in a sixth field (in JSON: source), and such a\n"
    "      file found on its own is not listed again when its module is.\n"
    "      --files-from LIST reads the files from LIST (- for standard input), one name\n"
    "      a line, or NUL-separated with --null, instead of searching; no mask applies.\n"
    "      Files that cannot be read are counted on stderr, the first with its reason,\n"
    "      and a file PATH that is not a module is named there. A file named (a PATH\n"
    "      or a name in LIST) that cannot be read, or a file PATH that is not a module,\n"
    "      makes the exit status 1, and so do files found none of which can be read.\n"
    "      --explain adds to every line what extract does with the resource under the\n"
    "      kinds and limits given as extract takes them (--kinds, --bitmap-limits,\n"
    "      --icon-limits, --image-limits; every kind, image included, and the default\n"
    "      limits when not given; data of RCDATA and named types that is no whole\n"
    "      picture file is \"not extracted: not a picture\" whatever the kinds): tsv adds\n"
    "      the source field, empty for the module's own resources, and last a field\n"
    "      that says it (\"written as icon\", \"left out by the limits: bitmap height 300\n"
    "      outside the limit 16-48 (--bitmap-limits widens them)\", \"not well formed:\n"
    "      ...\", \"empty or missing: ...\", \"not extracted: ...\"), json an object\n"
    "      \"extract\" with outcome (written, left_out, not_extracted), kind, and reason\n"
    "      and detail, and widen_with for a resource the limits left out.\n"
    "      A PATH that is a container (ZIP, 7z, RAR, TAR, ISO, CAB, a SETUP.EX_ file...)\n"
    "      is opened and its modules listed as PATH!/member; --containers opens the\n"
    "      containers the search meets too (those --container-mask TEXT names), and\n"
    "      --container-limits D;M;R bounds them as for extract.\n"
    "      --no-sandbox runs unconfined (by default the listing reads only the files the\n"
    "      search opened for it and writes no file); --verbose says what confines it.\n";

int RunList(const Args& args) {
    bool recurse = true;
    bool allDrives = false;
    std::string mask = kDefaultMask;
    std::vector<std::string> paths;
    Format format = Format::Tsv;
    std::optional<std::string> filesFrom;
    bool nul = false;
    CageChoice cage;
    SatelliteChoice satellites = StoredSatelliteChoice();
    bool satellitesGiven = false;
    bool explain = false;
    std::optional<std::string> explainOption; // the first option that needs --explain
    ExtractionOptions options;
    options.kindEnabled.fill(true); // every kind unless --kinds says which
    ContainerChoice containers;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--explain") {
            explain = true;
        } else if (arg == "--image-limits") {
            if (i + 1 >= args.size())
                return Usage(arg + " needs limits (WIDTH;HEIGHT)");
            explainOption = explainOption.value_or(arg);
            auto limits = ParseSideLimits(args[++i]);
            if (!limits)
                return Usage(arg + ": " + limits.error().message);
            options.imageWidth = limits->width;
            options.imageHeight = limits->height;
        } else if (arg == "--kinds" || arg == "--bitmap-limits" || arg == "--icon-limits") {
            if (i + 1 >= args.size())
                return Usage(arg + (arg == "--kinds" ? " needs a list of kinds"
                                                     : " needs limits (DEPTH;WIDTH;HEIGHT)"));
            const std::string& value = args[++i];
            explainOption = explainOption.value_or(arg);
            if (arg == "--kinds") {
                auto kinds = ParseKindList(value);
                if (!kinds)
                    return Usage(kinds.error().message);
                options.kindEnabled = *kinds;
            } else {
                auto limits = ParseLimitSet(value);
                if (!limits)
                    return Usage(arg + ": " + limits.error().message);
                const bool bitmap = arg == "--bitmap-limits";
                (bitmap ? options.bitmapDepth : options.iconDepth) = limits->depth;
                (bitmap ? options.bitmapWidth : options.iconWidth) = limits->width;
                (bitmap ? options.bitmapHeight : options.iconHeight) = limits->height;
            }
        } else if (arg == "--containers") {
            containers.search = true;
        } else if (arg == "--container-mask") {
            if (++i == args.size())
                return Usage("--container-mask needs a text");
            containers.mask = args[i];
        } else if (arg == "--container-limits") {
            if (++i == args.size())
                return Usage("--container-limits needs three numbers, such as 4;512;200");
            auto limits = ParseContainerLimits(args[i]);
            if (!limits)
                return Usage("--container-limits: " + limits.error().message);
            containers.limits = *limits;
        } else if (arg == "--no-subfolders") {
            recurse = false;
        } else if (arg == "--no-satellites" || arg == "--satellites") {
            if (satellitesGiven && satellites.read != (arg == "--satellites"))
                return Usage("give --satellites or --no-satellites, not both");
            satellitesGiven = true;
            satellites.read = arg == "--satellites";
        } else if (arg == "--language") {
            if (i + 1 >= args.size())
                return Usage("--language needs a language tag such as en-US");
            satellites.language = args[++i];
            if (!IsLanguageChoice(satellites.language))
                return Usage("--language takes a language tag such as en-US or de-DE, not '" +
                             satellites.language + "'");
        } else if (arg == "--all-drives") {
            allDrives = true;
        } else if (arg == "--mask") {
            if (i + 1 >= args.size())
                return Usage("--mask needs a text");
            mask = args[++i];
        } else if (arg == "--format") {
            if (i + 1 >= args.size())
                return Usage("--format needs tsv or json");
            const std::string& value = args[++i];
            if (value == "tsv")
                format = Format::Tsv;
            else if (value == "json")
                format = Format::Json;
            else
                return Usage("--format takes tsv or json, not '" + value + "'");
        } else if (arg == "--files-from") {
            if (i + 1 >= args.size())
                return Usage("--files-from needs a file (- for standard input)");
            filesFrom = args[++i];
        } else if (arg == "--null") {
            nul = true;
        } else if (TakeCageOption(arg, cage)) {
        } else if (arg.starts_with("--")) {
            return Usage("unknown option '" + arg + "'");
        } else {
            paths.push_back(arg);
        }
    }
    if (explainOption && !explain)
        return Usage(*explainOption + " goes with --explain");
    const bool havePaths = !paths.empty();
    if (filesFrom) {
        if (havePaths || allDrives)
            return Usage("give paths, --all-drives or --files-from, only one of them");
    } else if (havePaths == allDrives) {
        return Usage("give files or folders, or --all-drives");
    } else if (nul) {
        return Usage("--null goes with --files-from");
    }
    // Every path must be there before anything is listed.
    for (const std::string& path : paths) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            Complain(path + " could not be found: " + std::strerror(errno));
            return 2;
        }
    }

    // SIGINT, SIGTERM and SIGHUP stop the listing between two modules: what was listed
    // stays whole, the files that could not be read are counted, and the exit status
    // says that the listing is not complete.
    const TerminalSignals signals(false, false);
    const auto cancelled = [] {
        const int signal = EndingSignal();
        if (signal == 0)
            return false;
        Complain("the listing was cancelled by " + SignalName(signal));
        return true;
    };
    ListPrinter printer(format, explain ? std::optional<Explainer>(Explainer(options))
                                        : std::nullopt);
    const RunPlaces places = PlacesOf(allDrives, std::string(), paths, recurse, mask, filesFrom.has_value());
    printer.opener = SatelliteOpener(satellites, places);
    containers.satellites = satellites;
    std::optional<cFileList> list;
    if (filesFrom) {
        list.emplace(*filesFrom, nul);
        if (auto opened = list->Open(); !opened) {
            Complain("the file list cannot be read: " + opened.error().message);
            return 2;
        }
        printer.allNamed = true;
    } else if (!allDrives) {
        for (const std::string& path : paths) {
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
                printer.named.insert(path);
        }
    }
    cSearchCore search(&printer);
    std::optional<cPathSearch> pathSearch;
    if (!filesFrom && !allDrives)
        pathSearch.emplace(search, paths);
    SearchCoreBinding walk(search);
    std::optional<FileListBinding> listed;
    std::optional<PathSearchBinding> pathWalk;
    if (list)
        listed.emplace(*list);
    else if (pathSearch)
        pathWalk.emplace(*pathSearch);
    IRunSearch& searched = listed     ? static_cast<IRunSearch&>(*listed)
                           : pathWalk ? static_cast<IRunSearch&>(*pathWalk)
                                      : walk;
    // Caged, the opener searches and opens every file; the listing reads no path.
    const auto split = SplitSearch::Start(cage, searched, satellites, places, &search, list ? &*list : nullptr);
    // What reading an installer package loads is loaded before the cage closes.
    ContainerChoice ahead = containers;
    if (!list && !allDrives)
        ahead.named = paths;
    if (!list)
        PrepareContainerReading(ahead);
    if (split) {
        printer.opener = split->Store().Opener(satellites, places);
        split->Search().ReleaseEachFile();
        EnterCommandCage(cage, HandedOnly(CallSet::Reading));
    } else if (list || allDrives) {
        // The list may name any file.
        EnterCommandCage(cage, ReadingOnly({"/"}));
    } else {
        CagePlan plan = ReadingOnly(satellites.read ? WithSatelliteRoots(paths) : paths);
        if (satellites.read)
            plan.listable = SatelliteListings(paths);
        EnterCommandCage(cage, plan);
    }
    IRunSearch& files = split ? static_cast<IRunSearch&>(split->Search()) : searched;
    // The paths that are containers are opened, and with --containers those the search
    // meets; their modules are listed as container!/member.
    MemberSources members;
    if (!list && !allDrives)
        for (const std::string& path : paths)
            containers.named.push_back(path);
    const bool withContainers = !list && (containers.active() || !containers.named.empty());
    std::optional<ContainerSearch> containerSearch;
    if (withContainers) {
        printer.opener = MemberOpener(members, std::move(printer.opener));
        containerSearch.emplace(files, containers, members, &printer);
        if (split)
            containerSearch->OpenSourcesWith(
                [store = &split->Store()](const std::string& path) { return store->Source(path); });
    }
    IRunSearch& run = containerSearch ? static_cast<IRunSearch&>(*containerSearch) : files;
    if (allDrives)
        run.SearchSystemForFiles(mask, printer);
    else
        run.SearchForFiles(std::string(), recurse, mask, printer);
    std::string cut;
    if (split)
        cut = split->Finish();
    else if (list && !list->ReadError().empty())
        cut = "the file list could not be read to its end: " + list->ReadError();
    // A name the list gives that is missing or cannot be read is an error the caller
    // must hear of: the listing is not what was asked for.
    const bool unreadable = ReportUnreadable(printer.account);
    ReportPacked(printer.account);
    // Files were found and not one of them could be read: nothing was listed of what
    // was asked.
    const bool noneRead = printer.found > 0 && printer.account.UnreadableFiles().count == printer.found;
    if (noneRead)
        Complain(printer.found == 1 ? std::string("the one file found could not be read: nothing was listed")
                                    : "none of the " + std::to_string(printer.found) +
                                          " files found could be read: nothing was listed");
    if (cancelled()) {
        std::fflush(stdout);
        return 1;
    }
    if (!cut.empty()) {
        Complain(cut);
        std::fflush(stdout);
        return 1;
    }
    if ((list && unreadable) || noneRead) {
        if (std::fflush(stdout) != 0 || printer.writeFailed)
            Complain("cannot write the output");
        return 1;
    }
    if (std::fflush(stdout) != 0 || printer.writeFailed) {
        Complain("cannot write the output");
        return 1;
    }
    return printer.namedFailed ? 1 : 0;
}

const char* const kVersionUsage =
    "  version FILE...\n"
    "      Prints each module's version as PATH, a tab and major.minor.build.revision, or\n"
    "      PATH followed by \": no version information\" (a file that is not a module is\n"
    "      also named on stderr). A file that cannot be read is named on stderr (exit\n"
    "      status 1); one that does not exist, or a folder, too (exit status 2).\n"
    "      --no-sandbox and --verbose as for list.\n";

int RunVersion(const Args& args) {
    CageChoice cage;
    std::vector<std::string> paths;
    for (const std::string& arg : args)
        if (!TakeCageOption(arg, cage))
            paths.push_back(arg);
    if (paths.empty())
        return Usage("give one or more files");
    EnterCommandCage(cage, ReadingOnly(paths));
    int status = 0;
    std::string line;
    for (const auto& path : paths) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) {
            Complain(path + " could not be found: " + std::strerror(errno));
            status = 2;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            Complain(path + " is a folder, not a module (give the module files in it)");
            status = 2;
            continue;
        }
        // Only a module has a version resource: a file that is none is named, lest it
        // pass for a module without one (its line stays, as scripts read it), and one
        // that cannot be read gets no line.
        if (auto module = OpenModule(path); !module) {
            const std::string unreadable = RunAccount::UnreadableReason(path, module.error());
            if (!unreadable.empty()) {
                Complain(path + " could not be read: " + unreadable);
                status = std::max(status, 1);
                continue;
            }
            Complain(NotAModuleMessage(path, module.error()));
        }
        const cFileVersion version(path);
        line.clear();
        AppendField(line, path);
        line += version.HasVersion() ? '\t' + version.Version() : ": no version information";
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    if (std::fflush(stdout) != 0) {
        Complain("cannot write the output");
        return 1;
    }
    return status;
}

} // namespace harvix
