// harvix-cli extract: one extraction run without the window. The destination is
// prepared as the wizard prepares it when its Destination page is left, then the run
// assembly drives the file search and the engine; a terminal sees a live progress line
// and is asked the questions the wizard would ask, anything else gets fixed answers.
// The arguments are read in ExtractArgs, the terminal is TerminalRun's.
#include "cli/Commands.h"

#include "cli/CommandCage.h"
#include "cli/ExtractArgs.h"
#include "cli/PngOption.h"
#include "cli/RunReport.h"
#include "cli/Terminal.h"
#include "cli/TerminalRun.h"
#include "common/Paths.h"
#include "extract/Destination.h"
#include "extract/JudgeResource.h"
#include "extract/ResCore.h"
#include "extract/ResourceKind.h"
#include "module/ModuleAccess.h"
#include "run/RunAccount.h"
#include "run/RunAssembly.h"
#include "run/RunBindings.h"
#include "run/RunSettings.h"
#include "run/RunTexts.h"
#include "search/FileList.h"
#include "search/PathSearch.h"
#include "search/SearchCore.h"
#include "settings/Settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace harvix {

const char* const kExtractUsage =
    "  extract --dest DIR [OPTIONS] (PATH... | --all-drives | --files-from LIST)\n"
    "            Extracts the resources of the modules the paths name or hold (or of\n"
    "            every matching module on every local disk) into DIR, one subfolder per\n"
    "            kind. Each PATH is a module file, taken as it is (no mask applies), or\n"
    "            a folder, searched for matching modules; the index header's search line\n"
    "            names the paths, separated by \"; \".\n"
    "            --dest DIR             destination folder (its parent must exist)\n"
    "            --yes                  go on when the destination exists already\n"
    "            --no-subfolders        search each folder only, not the folders below it\n"
    "            --mask TEXT            file masks (default \"*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx\")\n"
    "            --kinds LIST           some of bitmap,icon,cursor,anicursor,video,html,image\n"
    "                                   (default: all but image; image: whole PNG, JPEG,\n"
    "                                   GIF, BMP and ICO files kept in RCDATA and named\n"
    "                                   types, into Images/)\n"
    "            --bitmap-limits D;W;H  depth, width and height ranges of bitmaps\n"
    "                                   (default 8-32;0-3000;16-48)\n"
    "            --icon-limits D;W;H    the same for icon images (default 8-32;16-32;16-32)\n"
    "            --image-limits W;H     width and height ranges of images (default\n"
    "                                   1-16384;1-16384; of an ICO file its largest image)\n"
    "            --priority 1-5         1 idle ... 3 normal (default) ... 5 high\n"
    "            --jobs N               threads that read modules ahead of the writing\n"
    "                                   (default: one per processor to start with, more,\n"
    "                                   up to 16, while they wait for the disk; 0: none)\n"
    "            --no-satellites        read each module as it is, without the resource files\n"
    "                                   Windows keeps for it elsewhere (the SystemResources\n"
    "                                   folder's NAME.mun, a language folder's NAME.mui),\n"
    "                                   which are then modules of their own\n"
    "            --satellites           read them (the default, unless the setting\n"
    "                                   Satellites is 0)\n"
    "            --language TAG         the language whose NAME.mui files are read (default:\n"
    "                                   the setting Language, else the locale's, else\n"
    "                                   en-US, else the first present)\n"
    "            --saved                start from the wizard's saved settings (search mode,\n"
    "                                   folder, subfolders, mask, kinds, destination,\n"
    "                                   priority); the options given beside it win\n"
    "            --png                  also convert every .ico, .cur and .bmp written into\n"
    "                                   PNG files in DIR/PNG/, in the same folders (of the\n"
    "                                   images, the .bmp and .ico files)\n"
    "            --unique               write each file content once: a resource whose\n"
    "                                   file a file written earlier in its folder holds\n"
    "                                   gets a record naming that file (also per-size\n"
    "                                   icon files and PNG files)\n"
    "            --containers           look inside the installers, archives and disc images\n"
    "                                   the search meets (ZIP, 7z, RAR, TAR, ISO, CAB,\n"
    "                                   SETUP.EX_ files...) and read their modules; a\n"
    "                                   container named as a PATH always is\n"
    "            --container-mask TEXT  the masks of the containers opened (default\n"
    "                                   \"*.zip;*.7z;*.rar;*.tar;*.tgz;*.tar.gz;...;*.iso;\n"
    "                                   *.cab;*.msi;*.msm;*.msp;*.??_;*.?_;*._\")\n"
    "            --container-limits D;M;R  containers opened inside one another, the\n"
    "                                   largest member unpacked in MiB, and how many times\n"
    "                                   its size a container may unpack to (default\n"
    "                                   4;512;200); what is beyond is passed over\n"
    "            --files-from LIST      extract the files LIST names, in its order, instead\n"
    "                                   of searching (- for standard input; one name a\n"
    "                                   line); no mask applies\n"
    "            --null                 the names in LIST are separated by NUL characters\n"
    "            --report FILE          write a JSON report of the run to FILE when it ends,\n"
    "                                   however it ends (- for standard output, instead of\n"
    "                                   the counts)\n"
    "            --no-sandbox           run unconfined (by default the run reads only the\n"
    "                                   files the search opened for it and writes only in DIR)\n"
    "            --verbose              say what confines the run, or why nothing does\n"
    "            Exit status: 0 completed, 1 stopped by an error or cancelled, or a\n"
    "            file named (a PATH or a name in LIST) could not be read, or a file\n"
    "            PATH is not a module, or no file found could be read, 2 bad usage or\n"
    "            a refused folder or destination.\n";

namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The files the user named: the file arguments, and every name of a file list. One
// that could not be read, or a file argument that is no module, makes the exit status 1,
// as it does for list; a file argument that is no module is named, with the reason,
// when the run ends (one that could not be read is in the summary's count of such files
// already). A name in a file list that is no module is passed over, as the search passes
// over such files: lists are made by searching.
class NamedFiles final : public IExtractObserver {
public:
    NamedFiles(const ExtractRequest& req) : m_all(req.filesFrom.has_value()) {
        if (TakesPaths(req))
            for (const std::string& path : req.paths)
                if (!cPathSearch::IsFolder(path)) {
                    m_paths.insert(path);
                    m_order.push_back(path);
                }
    }

    void ModuleNotOpened(const std::string& path, const Error& error) override {
        const bool argument = m_paths.count(path) != 0;
        if (!m_all && !argument)
            return;
        const std::string unreadable = RunAccount::UnreadableReason(path, error);
        const std::lock_guard lock(m_mutex);
        if (!unreadable.empty()) {
            m_problems.push_back(path + " could not be read: " + unreadable);
        } else if (argument) {
            m_problems.push_back(NotAModuleMessage(path, error) + "; nothing is extracted from it");
            m_notModules.push_back(m_problems.back());
        }
    }

    // The first problem of a named file, if any: the run's error for the report.
    [[nodiscard]] std::optional<std::string> firstProblem() const {
        const std::lock_guard lock(m_mutex);
        if (m_problems.empty())
            return std::nullopt;
        return m_problems.front();
    }

    // Names the files that are no modules, and the modules named that hold fonts and
    // nothing else Harvix extracts (a .fon font file): a run that wrote nothing from a
    // file the user named says why.
    // After the run the named files are opened again from what `store` keeps of them.
    void readFrom(HandedFileStore& store, ModuleOpener opener) {
        for (const std::string& path : m_order)
            store.KeepToTheEnd(path);
        m_reopen = std::move(opener);
    }

    void tell() const {
        {
            const std::lock_guard lock(m_mutex);
            for (const std::string& message : m_notModules)
                Complain(message);
        }
        for (const std::string& path : m_order) {
            auto module = m_reopen(path);
            if (module && *module && HoldsOnlyFonts(**module))
                Complain(path + " holds fonts, of which nothing is extracted");
        }
    }

private:
    static bool HoldsOnlyFonts(const IResourceModule& module) {
        bool fonts = false;
        for (const ResId& type : module.types()) {
            if (HoldsOfItsKind(module, type))
                return false;
            // A font file's directory and its fonts.
            fonts = fonts || type.is(ResType::FontDir) || type.is(ResType::Font);
        }
        return fonts;
    }

    // Whether `type` holds resources of a kind: RCDATA and named types only when one
    // of them is a picture, as font files keep other data (a copyright, a licence)
    // there too.
    static bool HoldsOfItsKind(const IResourceModule& module, const ResId& type) {
        const std::optional<ResourceKind> kind = ExtractedKind(module, type);
        if (!kind)
            return false;
        if (*kind != ResourceKind::Image)
            return true;
        for (const ResId& name : module.names(type))
            if (IsOfKind(module, *kind, type, name))
                return true;
        return false;
    }

    bool m_all;
    ModuleOpener m_reopen = OpenModule;
    std::unordered_set<std::string> m_paths;
    std::vector<std::string> m_order;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_problems;
    std::vector<std::string> m_notModules;
};

// The run report and the summary on stderr: whatever ends the command once its
// arguments have been read goes through finish().
class Ending {
public:
    explicit Ending(const ExtractRequest& req) : m_req(req) {
        facts.start = std::chrono::system_clock::now();
        facts.walked = !req.filesFrom;
    }

    // Writes the summary (unless the run was refused) and the report; the exit status
    // of a run that ended so, which a report that cannot be written turns into 1.
    // `exitStatus` replaces the status of `end` (a completed run that did not do all it
    // was asked).
    int finish(RunEnd end, std::optional<std::string> error,
               std::optional<int> exitStatus = std::nullopt) {
        facts.end = std::chrono::system_clock::now();
        facts.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - m_startedAt);
        facts.outcome = end;
        facts.error = std::move(error);
        if (const int signal = EndingSignal(); signal != 0)
            facts.signal = SignalName(signal);
        const int status = exitStatus.value_or(ExitStatusOf(end));
        if (end != RunEnd::Refused)
            for (const std::string& line : SummaryLines(facts, account, mask, tally ? &*tally : nullptr))
                Complain(line);
        if (!m_req.report)
            return status;
        const std::string text = JsonDocument(BuildRunReport(facts, account, leftOut, status)) + "\n";
        if (*m_req.report == "-") {
            std::cout << text << std::flush;
            if (!std::cout) {
                Complain("the report cannot be written to standard output");
                return status == 0 ? 1 : status;
            }
            return status;
        }
        if (auto written = writeReport(*m_req.report, text); !written) {
            Complain("the report cannot be written: " + written.error().message);
            return status == 0 ? 1 : status;
        }
        return status;
    }

    // Says why the run does not take place, and ends it.
    int refuse(const std::string& message) {
        Complain(message);
        return finish(RunEnd::Refused, OneLine(message));
    }

    ReportFacts facts;
    RunAccount account;
    LeftOutList leftOut; // kept for the report only
    std::optional<FileTally> tally; // with --unique
    std::optional<NamedFiles> named;
    ReportWriter writeReport = WriteFileReplacing;
    std::string mask; // the mask the summary names

private:
    const ExtractRequest& m_req;
    const std::chrono::steady_clock::time_point m_startedAt = std::chrono::steady_clock::now();
};

// The saved settings or those of a first start (subfolders, the default masks, every
// kind but the images, the normal priority), then the options given. How modules are
// read (with their satellites, in which language) is the stored choice either way.
Result<Settings> settingsOf(const ExtractRequest& req, const std::optional<cFileList>& fileList) {
    Settings settings = req.saved ? LoadSettingsOrDefaults() : DefaultSettings();
    if (!req.saved)
        TakeStoredReading(settings);
    ApplyRequest(req, fileList ? fileList->DisplayName() : std::string(), settings);
    return settings;
}

// The checks of the wizard's pages, in page order: the place to search (or the file
// list) and the kinds. The reason the run cannot take place, if any.
std::optional<std::string> checkChoices(const ExtractRequest& req, const Settings& settings,
                                        std::optional<cFileList>& fileList) {
    if (fileList) {
        if (auto opened = fileList->Open(); !opened)
            return "the file list cannot be read: " + opened.error().message;
    } else if (TakesPaths(req)) {
        // Every path must be there before anything is written.
        for (const std::string& path : req.paths) {
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0)
                return "'" + path + "' could not be found: " + std::strerror(errno);
        }
    } else if (!settings.SearchSystem && !isDirectory(settings.Folder)) {
        return "the folder to search, '" + settings.Folder + "', could not be found";
    }
    for (bool on : settings.ResTypes)
        if (on)
            return std::nullopt;
    return std::string("no kind of resource is chosen (give some with --kinds)");
}

// Prepares the destination as the Destination page does; the reason it was refused,
// if it was.
std::optional<std::string> prepare(const Settings& settings, const KindSwitches& kinds,
                                   CliPrompt& prompt) {
    const IndexHeaderInfo header{settings.Folder, settings.SubFolders, settings.Mask};
    const auto refusal = PrepareDestination(settings.DestPath, kinds, header, prompt);
    if (!refusal)
        return std::nullopt;
    if (refusal->declined && prompt.refused()) {
        Complain(*prompt.refused() + " (use --yes to add to it)");
        return *prompt.refused();
    }
    if (refusal->declined)
        return "the destination '" + settings.DestPath + "' exists already";
    return refusal->reason.empty() ? "the destination '" + settings.DestPath + "' is invalid"
                                   : "the destination is invalid: " + refusal->reason;
}

// The report goes where it can be written, or the run does not start: a folder that is
// missing or cannot be written in would be found only once the whole run is over.
std::optional<std::string> reportRefusal(const std::optional<std::string>& report) {
    if (!report || *report == "-")
        return std::nullopt;
    const std::string folder = FolderOfFile(*report);
    const std::string cannot = "the report '" + *report + "' cannot be written: ";
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return cannot + (errno == ENOENT ? "its folder '" + folder + "' does not exist"
                                         : "its folder '" + folder + "': " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return cannot + "'" + folder + "' is not a folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return cannot + "its folder '" + folder + "' may not be written in (" + std::strerror(errno) + ")";
    if (::stat(report->c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return cannot + "it is a folder";
    return std::nullopt;
}

KindSwitches kindsOf(const Settings& settings) {
    KindSwitches kinds{};
    for (std::size_t k = 0; k < kinds.size(); ++k)
        kinds[k] = settings.ResTypes[k];
    return kinds;
}

ExtractionOptions optionsOf(const ExtractRequest& req, const Settings& settings) {
    ExtractionOptions options;
    options.kindEnabled = kindsOf(settings);
    options.destinationFolder = AddBackslash(settings.DestPath);
    options.bitmapDepth = req.bitmapLimits.depth;
    options.bitmapWidth = req.bitmapLimits.width;
    options.bitmapHeight = req.bitmapLimits.height;
    options.iconDepth = req.iconLimits.depth;
    options.iconWidth = req.iconLimits.width;
    options.iconHeight = req.iconLimits.height;
    options.imageWidth = req.imageLimits.width;
    options.imageHeight = req.imageLimits.height;
    options.unique = req.unique;
    return options;
}

// The counts of the kinds on stdout, and what became of the PNG files, unless the
// report takes stdout.
void printCounts(const ExtractRequest& req, const SearchRun& searchRun,
                 const PngConverter* png) {
    if (req.report != "-") {
        for (const StatsRow& row : searchRun.Stats().rows())
            std::cout << row.caption << ": " << row.countText() << '\n';
        ReportPng(png);
        std::cout << std::flush;
    } else if (png != nullptr) {
        // Standard output holds the report alone.
        for (const std::string& problem : png->Problems())
            Complain("PNG: " + problem);
    }
}

// When every file the run found could not be read, the line that says so.
std::optional<std::string> NoneReadable(const RunAccount& account) {
    const std::int64_t found = account.FilesFound();
    if (found == 0 || account.UnreadableFiles().count != found)
        return std::nullopt;
    return found == 1 ? std::string("the one file found could not be read: nothing was extracted")
                      : "none of the " + std::to_string(found) + " files found could be read: nothing was extracted";
}

// How the run ended, as the exit status, the summary and the report give it.
// `searchCut`: why the search did not reach its end, if it did not.
int finishRun(Ending& ending, RunAssembly& assembly, const std::string& searchCut) {
    const SearchRun& searchRun = assembly.Run();
    switch (searchRun.End().value_or(RunEnd::Failed)) {
    case RunEnd::Completed: {
        if (!searchCut.empty()) {
            Complain(searchCut);
            return ending.finish(RunEnd::Failed, searchCut);
        }
        // Files were found and not one of them could be read: nothing was done of what
        // was asked, whatever the summary's counts of nothing.
        if (auto none = NoneReadable(ending.account)) {
            const int status = ending.finish(RunEnd::Completed, none, 1);
            Complain(*none); // after the summary's count of the files not read
            return status;
        }
        // A file that was named and could not be read or is no module: the run did not
        // do all it was asked, as list says too.
        if (auto problem = ending.named->firstProblem())
            return ending.finish(RunEnd::Completed, std::move(problem), 1);
        return ending.finish(RunEnd::Completed, std::nullopt);
    }
    case RunEnd::Cancelled: {
        // A signal ended it as a confirmed Cancel does: the message names it.
        const int signal = EndingSignal();
        const std::string message =
            signal != 0 ? "the search was cancelled by " + SignalName(signal) : std::string("the search was cancelled");
        Complain(message);
        return ending.finish(RunEnd::Cancelled, message);
    }
    case RunEnd::Failed:
    case RunEnd::Refused:
        break;
    }
    std::string message = searchRun.StoppedBy() ? searchRun.StoppedBy()->message : std::string();
    const auto first = message.find_first_not_of(' ');
    message = first == std::string::npos ? std::string("an error stopped the run")
                                          : OneLine(message.substr(first));
    return ending.finish(RunEnd::Failed, message);
}

// The run itself, once the destination is prepared: the walk or the file list, the
// engine with the PNG conversion observing it when --png was given, the terminal's view.
int extract(const ExtractRequest& req, const Settings& settings, CliPrompt& prompt,
            std::optional<cFileList>& fileList, Ending& ending) {
    const ExtractionOptions options = optionsOf(req, settings);
    if (req.unique)
        ending.tally.emplace(options.destinationFolder);
    CliView view(IsTerminal(STDERR_FILENO));
    prompt.setBeforeMessage([&view] { view.clearLine(); });
    const auto png = MakePngConverter(req.png, options.destinationFolder, req.unique);
    cSearchCore core;
    // A signal that ends the run stops the count before the search, as it stops the search.
    core.SetCountStop([] { return EndingSignal() != 0; });
    core.SetUnlistedFolderHandler([&ending](const std::string& folder, int error) {
        ending.account.FolderNotListed(folder, error);
    });
    SearchCoreBinding walk(core);
    // Files and folders given as paths: the run's one folder stands for all of them.
    std::optional<cPathSearch> paths;
    std::optional<PathSearchBinding> pathWalk;
    if (TakesPaths(req)) {
        paths.emplace(core, req.paths);
        pathWalk.emplace(*paths);
    }
    CliClock clock;
    RunChoice choice;
    choice.search = SearchSettingsFrom(settings);
    choice.options = options;
    choice.readers = req.jobs;
    choice.satellites = {settings.Satellites, settings.Language};
    if (TakesPaths(req))
        choice.paths = req.paths;
    choice.containers = ContainerChoiceOf(req, settings);
    // Caged, the search runs in the opener, which hands every file over open.
    IRunSearch& searched = pathWalk ? static_cast<IRunSearch&>(*pathWalk) : walk;
    std::optional<FileListBinding> listed;
    if (fileList)
        listed.emplace(*fileList);
    const RunPlaces places = PlacesOfRun(choice, fileList.has_value());
    const auto split = SplitSearch::Start({req.noSandbox, req.verbose},
                                          listed ? static_cast<IRunSearch&>(*listed) : searched,
                                          choice.satellites, places, &core, fileList ? &*fileList : nullptr);
    if (split) {
        split->Search().SetCountStop([] { return EndingSignal() != 0; });
        split->Search().SetUnlistedFolderHandler([&ending](const std::string& folder, int error) {
            ending.account.FolderNotListed(folder, error);
        });
        ending.named->readFrom(split->Store(), split->Store().Opener({false, {}}, places));
    }
    RunAssembly assembly(choice, view, prompt,
                              {.walk = split ? split->Search() : searched,
                               .fileSystem = RealFileSystem(),
                               .clock = clock,
                               .fileList = fileList ? &*fileList : nullptr,
                               .observers = {&ending.account, &*ending.named, png.get(),
                                             req.report ? &ending.leftOut : nullptr,
                                             ending.tally ? &*ending.tally : nullptr},
                               .handed = split ? &split->Store() : nullptr,
                               .containerObserver = &ending.account});
    view.setRun(&assembly.Run());
    EnterExtractCage(req, settings, ending.writeReport, split != nullptr);
    assembly.Start();
    view.clearLine();

    for (const StatsRow& row : assembly.Run().Stats().rows())
        ending.facts.written[static_cast<std::size_t>(row.kind)] = row.count;
    printCounts(req, assembly.Run(), png.get());
    ending.named->tell();
    std::string searchCut;
    if (split)
        searchCut = split->Finish();
    else if (fileList && !fileList->ReadError().empty())
        searchCut = "the file list could not be read to its end: " + fileList->ReadError();
    return finishRun(ending, assembly, searchCut);
}

} // namespace

int RunExtract(const Args& args) {
    auto parsed = ParseExtractArgs(args);
    if (!parsed) {
        Complain(parsed.error().message + " (try 'harvix-cli extract --help')");
        return 2;
    }
    const ExtractRequest& req = *parsed;
    // From here on SIGINT, SIGTERM and SIGHUP end the run as a confirmed Cancel does, and
    // the counts and the report still come; Ctrl-C on a terminal asks first.
    const TerminalSignals signals(IsTerminal(STDIN_FILENO), IsTerminal(STDERR_FILENO));
    if (auto refused = reportRefusal(req.report)) {
        Complain(*refused);
        return 2;
    }
    Ending ending(req);
    ending.named.emplace(req);

    // A file list names the files: nothing is searched.
    std::optional<cFileList> fileList;
    if (req.filesFrom)
        fileList.emplace(*req.filesFrom, req.nul);
    auto chosen = settingsOf(req, fileList);
    if (!chosen)
        return ending.refuse(chosen.error().message);
    const Settings& settings = *chosen;
    ending.facts.options = ReportOptions(req, settings);
    ending.mask = settings.Mask;
    if (auto refused = checkChoices(req, settings, fileList))
        return ending.refuse(*refused);
    ending.facts.kinds = kindsOf(settings);

    CliPrompt prompt(req.yes);
    if (auto refused = prepare(settings, kindsOf(settings), prompt))
        return ending.finish(RunEnd::Refused, *refused);
    return extract(req, settings, prompt, fileList, ending);
}

} // namespace harvix
