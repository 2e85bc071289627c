#include "cli/CommandCage.h"

#include "cli/RunReport.h"
#include "cli/Terminal.h"
#include "sandbox/Errand.h"

#include <iostream>
#include <memory>

namespace harvix::cli {

bool TakeCageOption(const std::string& arg, CageChoice& choice) {
    if (arg == "--no-sandbox")
        choice.off = true;
    else if (arg == "--verbose")
        choice.verbose = true;
    else
        return false;
    return true;
}

void EnterCommandCage(const CageChoice& choice, const sandbox::CagePlan& plan) {
    const sandbox::CageState state = sandbox::EnterCage(plan, !choice.off);
    if (choice.verbose)
        Complain(sandbox::DescribeCage(state));
}

sandbox::CagePlan ReadingOnly(std::vector<std::string> readable) {
    sandbox::CagePlan plan;
    plan.calls = sandbox::CallSet::Reading;
    plan.readable = std::move(readable);
    return plan;
}

void EnterExtractCage(const ExtractRequest& req, const Settings& settings,
                      ReportWriter& writeReport) {
    const CageChoice choice{req.noSandbox, req.verbose};
    sandbox::CagePlan plan;
    plan.calls = sandbox::CallSet::Extracting;
    if (req.filesFrom || settings.SearchSystem)
        plan.readable = {"/"};
    else if (TakesPaths(req))
        plan.readable = req.paths;
    else
        plan.readable = {settings.Folder};
    plan.writable = {settings.DestPath};
    plan.makeFolders = true;
    if (!choice.off && req.report && *req.report != "-") {
        auto errand = sandbox::Errand::Start(
            [path = *req.report](const std::string& text) { return WriteFileReplacing(path, text); });
        if (errand)
            writeReport = [shared = std::shared_ptr<sandbox::Errand>(std::move(errand))](
                              const std::string&, const std::string& text) { return shared->Run(text); };
    }
    EnterCommandCage(choice, plan);
}

std::string FolderOfFile(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace harvix::cli
