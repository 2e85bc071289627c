#include "cli/CommandCage.h"

#include "cli/RunReport.h"
#include "cli/Terminal.h"
#include "module/Satellites.h"
#include "sandbox/Errand.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <iostream>
#include <memory>

namespace harvix {

bool TakeCageOption(const std::string& arg, CageChoice& choice) {
    if (arg == "--no-sandbox")
        choice.off = true;
    else if (arg == "--verbose")
        choice.verbose = true;
    else
        return false;
    return true;
}

void EnterCommandCage(const CageChoice& choice, const CagePlan& plan) {
    const CageState state = EnterCage(plan, !choice.off);
    if (choice.verbose)
        Complain(DescribeCage(state));
}

std::vector<std::string> WithSatelliteRoots(std::vector<std::string> readable) {
    const std::size_t searched = readable.size();
    for (std::size_t i = 0; i < searched; ++i)
        if (readable[i] != "/")
            for (std::string& root : SatelliteRoots(readable[i]))
                readable.push_back(std::move(root));
    return readable;
}

std::vector<std::string> SatelliteListings(const std::vector<std::string>& searched) {
    std::vector<std::string> listed;
    for (std::string path : searched) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        if (path == "/")
            continue;
        struct stat st {};
        const bool file = ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
        listed.push_back(FolderOfFile(path));
        if (file)
            listed.push_back(FolderOfFile(listed.back()));
    }
    return listed;
}

std::unique_ptr<SplitSearch> SplitSearch::Start(const CageChoice& choice, IRunSearch& search,
                                                const SatelliteChoice& satellites, const RunPlaces& places,
                                                cSearchCore* core, cFileList* list) {
    if (choice.off)
        return nullptr;
    // The descriptors of the files read ahead and of those on their way wait in the
    // confined process: the soft limit of open files is raised as far as it may be.
    if (rlimit files{}; ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 65536);
        (void)::setrlimit(RLIMIT_NOFILE, &files);
    }
    // What the confined process can no longer read by path: the local time's zone.
    ::tzset();
    std::vector<int> keep = {STDIN_FILENO, STDERR_FILENO};
    if (list != nullptr && list->Descriptor() >= 0)
        keep.push_back(list->Descriptor());
    auto opener = OpenerProcess::Start(
        [&search, satellites, places, core, list](int socket) {
            std::optional<SatelliteFinder> finder;
            if (satellites.read)
                finder.emplace(SatelliteLanguages(satellites.language, LocaleLanguage()));
            UnlistedHook unlisted;
            if (core != nullptr)
                core->SetCountStop([socket] { return OpenerCountStop(socket); });
            if (core != nullptr)
                core->SetUnlistedFolderHandler([&unlisted](const std::string& folder, int error) {
                    if (unlisted)
                        unlisted(folder, error);
                });
            ServeSearch(socket, search, finder ? &*finder : nullptr, places, unlisted,
                        [list] { return list != nullptr ? list->ReadError() : std::string(); });
        },
        std::move(keep));
    if (!opener)
        return nullptr;
    return std::unique_ptr<SplitSearch>(new SplitSearch(std::move(opener)));
}

std::string SplitSearch::Finish() {
    const auto ended = m_opener->Finish();
    if (!m_search.Failure().empty())
        return m_search.Failure() + (ended ? ": " + *ended : std::string());
    if (!m_search.ListReadError().empty())
        return "the file list could not be read to its end: " + m_search.ListReadError();
    return {};
}

CagePlan HandedOnly(CallSet calls) {
    CagePlan plan;
    plan.calls = calls;
    return plan;
}

CagePlan ReadingOnly(std::vector<std::string> readable) {
    CagePlan plan;
    plan.calls = CallSet::Reading;
    plan.readable = std::move(readable);
    return plan;
}

void EnterExtractCage(const ExtractRequest& req, const Settings& settings,
                      ReportWriter& writeReport, bool handedOver) {
    const CageChoice choice{req.noSandbox, req.verbose};
    CagePlan plan;
    plan.calls = CallSet::Extracting;
    // Handed over: every file read comes open from the search, and no path is read.
    if (!handedOver) {
        if (req.filesFrom || settings.SearchSystem)
            plan.readable = {"/"};
        else if (TakesPaths(req))
            plan.readable = req.paths;
        else
            plan.readable = {settings.Folder};
        if (settings.Satellites && plan.readable != std::vector<std::string>{"/"}) {
            plan.listable = SatelliteListings(plan.readable);
            plan.readable = WithSatelliteRoots(std::move(plan.readable));
        }
    }
    plan.writable = {settings.DestPath};
    plan.makeFolders = true;
    if (!choice.off && req.report && *req.report != "-") {
        auto errand = Errand::Start(
            [path = *req.report](const std::string& text) { return WriteFileReplacing(path, text); });
        if (errand)
            writeReport = [shared = std::shared_ptr<Errand>(std::move(errand))](
                              const std::string&, const std::string& text) { return shared->Run(text); };
    }
    EnterCommandCage(choice, plan);
}

FolderMadeAhead::FolderMadeAhead(const std::string& folder, const CageChoice& choice) {
    if (choice.off || folder.empty())
        return;
    // Every prefix that ends before a "/", then the whole path; a step that fails is left
    // to the command, which meets the same refusal when it makes the folders itself.
    for (std::size_t end = 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != '/')
            continue;
        const std::string prefix = folder.substr(0, end);
        if (prefix.back() == '/')
            continue;
        if (::mkdir(prefix.c_str(), 0777) == 0) {
            if (m_made.empty())
                m_above = FolderOfFile(prefix);
            m_made.push_back(prefix);
        } else if (errno != EEXIST) {
            return;
        }
    }
}

FolderMadeAhead::~FolderMadeAhead() {
    for (auto made = m_made.rbegin(); made != m_made.rend(); ++made)
        if (::rmdir(made->c_str()) != 0)
            return;
}

std::string FolderOfFile(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace harvix
