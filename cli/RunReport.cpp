#include "cli/RunReport.h"

#include "common/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harvix {

namespace {

// UTC, to the millisecond: "2026-12-09T04:12:33.250Z".
std::string IsoTime(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms.count() % 1000));
    return text;
}

Json Problems(const ProblemList& list) {
    Json first = Json::array();
    for (const auto& entry : list.first) {
        Json item = Json::object();
        PutPath(item, "path", entry.path);
        item["reason"] = entry.reason;
        first.push_back(std::move(item));
    }
    Json out = Json::object();
    out["count"] = list.count;
    out["first"] = std::move(first);
    return out;
}

std::string Plural(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// One resource left out, as the report lists it.
Json LeftOutItem(const LeftOutEntry& entry) {
    Json item = Json::object();
    PutPath(item, "path", entry.module);
    item["type"] = IdValue(entry.type);
    item["type_name"] = TypeNameValue(entry.type);
    item["name"] = IdValue(entry.name);
    item["language"] = entry.language;
    item["kind"] = std::string(KindKey(entry.kind));
    item["reason"] = std::string(LeftOutReasonKey(entry.why.reason));
    item["detail"] = LeftOutDetail(entry.why);
    return item;
}

// How a reason is named: its key in the report and the JSON, its words in a summary.
struct ReasonTexts {
    std::string_view key;
    std::string_view words;
};

ReasonTexts TextsOf(LeftOutReason reason) {
    switch (reason) {
    case LeftOutReason::Limits: return {"limits", "left out by the limits"};
    case LeftOutReason::Malformed: return {"not_well_formed", "not well formed"};
    case LeftOutReason::Empty: break;
    }
    return {"empty_or_missing", "empty or missing"};
}

} // namespace

std::string_view LeftOutReasonKey(LeftOutReason reason) {
    return TextsOf(reason).key;
}

std::string_view LeftOutReasonWords(LeftOutReason reason) {
    return TextsOf(reason).words;
}

std::string LeftOutDetail(const LeftOut& why) {
    return why.detail.empty() ? std::string(LeftOutReasonWords(why.reason)) : why.detail;
}

std::string ContainersNotReadLine(const ProblemList& containers) {
    const auto& first = containers.first.front();
    return Plural(containers.count, "installer, container or member", "installers, containers or members") +
           " whose contents could not be read (first: " + first.path + ": " + first.reason + ")";
}

std::string PackedModulesLine(const ProblemList& packed) {
    const auto& first = packed.first.front();
    return Plural(packed.count, "module", "modules") + " " + first.reason + " (first: " + first.path + ")";
}

int ExitStatusOf(RunEnd end) {
    switch (end) {
    case RunEnd::Completed:
        return 0;
    case RunEnd::Cancelled:
    case RunEnd::Failed:
        return 1;
    case RunEnd::Refused:
        break;
    }
    return 2;
}

void LeftOutList::ResourceLeftOut(const ResourceRef& resource, ResourceKind kind,
                                  const LeftOut& why) {
    const std::lock_guard lock(m_mutex);
    m_entries.push_back({resource.module, resource.type, resource.name, resource.language, kind, why});
}

std::vector<LeftOutEntry> LeftOutList::Entries() const {
    const std::lock_guard lock(m_mutex);
    return m_entries;
}

Json BuildRunReport(const ReportFacts& facts, const RunAccount& account,
                    const LeftOutList& leftOut, int exitStatus) {
    Json report = Json::object();
    report["report_version"] = 1;
    report["options"] = facts.options;
    report["start"] = IsoTime(facts.start);
    report["end"] = IsoTime(facts.end);
    report["duration_ms"] = facts.duration.count();
    Json kinds = Json::object();
    for (ResourceKind kind : kAllResourceKinds) {
        const auto k = static_cast<std::size_t>(KindIndex(kind));
        if (!facts.kinds[k])
            continue;
        const LeftOutCounts left = account.LeftOut(kind);
        Json row = Json::object();
        row["written"] = facts.written[k];
        row["left_out_by_limits"] = left.limits;
        row["not_well_formed"] = left.malformed;
        row["empty_or_missing"] = left.empty;
        row["folded_copies"] = account.FoldedCopies(kind);
        kinds[std::string(KindKey(kind))] = std::move(row);
    }
    report["kinds"] = std::move(kinds);
    report["files_found"] = account.FilesFound();
    report["modules_read"] = account.ModulesRead();
    report["not_modules"] = account.NotModules();
    report["unreadable_files"] = Problems(account.UnreadableFiles());
    report["unlisted_folders"] = Problems(account.UnlistedFolders());
    Json left = Json::array();
    for (const LeftOutEntry& entry : leftOut.Entries())
        left.push_back(LeftOutItem(entry));
    report["left_out"] = std::move(left);
    report["packed_modules"] = Problems(account.PackedModules());
    report["containers_read"] = account.ContainersRead();
    report["containers_not_read"] = Problems(account.ContainersNotRead());
    report["outcome"] = std::string(RunEndText(facts.outcome));
    report["error"] = facts.error ? Json(*facts.error) : Json(nullptr);
    report["signal"] = facts.signal ? Json(*facts.signal) : Json(nullptr);
    report["exit_status"] = exitStatus;
    return report;
}

Status WriteFileReplacing(const std::string& path, const std::string& text) {
    const auto fail = [&](const std::string& what, int code) -> Status {
        return makeError(ErrorKind::Io, what + ": " + std::strerror(code), code);
    };
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return fail(path, errno);
    if (const int code = WriteAll(fd, text.data(), text.size()); code != 0) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return fail(path, code);
    }
    // A report is read by other programs: the mode a new file gets, not mkstemp's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::fchmod(fd, 0666 & ~mask);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return fail(path, code);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return fail(path, code);
    }
    return success();
}

std::string_view LimitOptionOf(ResourceKind kind) {
    switch (kind) {
    case ResourceKind::Bitmap: return "--bitmap-limits";
    case ResourceKind::Icon: return "--icon-limits";
    case ResourceKind::Image: return "--image-limits";
    default: return {};
    }
}

void FileTally::FileWritten(ResourceKind kind, const std::string& path) {
    const bool perSize = isPerSize(kind, path);
    const std::lock_guard lock(m_mutex);
    ++m_counts[static_cast<std::size_t>(KindIndex(kind))][perSize ? 1 : 0].written;
}

void FileTally::CopyFolded(ResourceKind kind, const std::string& existing) {
    const bool perSize = isPerSize(kind, existing);
    const std::lock_guard lock(m_mutex);
    ++m_counts[static_cast<std::size_t>(KindIndex(kind))][perSize ? 1 : 0].folded;
}

FileTally::Counts FileTally::Of(ResourceKind kind, bool perSize) const {
    const std::lock_guard lock(m_mutex);
    return m_counts[static_cast<std::size_t>(KindIndex(kind))][perSize ? 1 : 0];
}

bool FileTally::isPerSize(ResourceKind kind, const std::string& path) const {
    const std::string own = m_destination + std::string(KindFolder(kind)) + "/";
    return path.starts_with(own) && path.find('/', own.size()) != std::string::npos;
}

std::vector<std::string> SummaryLines(const ReportFacts& facts, const RunAccount& account,
                                      const std::string& mask, const FileTally* unique) {
    std::vector<std::string> lines;
    // One line per cause of resources passed over, each with the count of every chosen
    // kind it met.
    // The limits' line also names the options that widen them.
    const auto perKind = [&](std::int64_t LeftOutCounts::*cause, std::string_view what) {
        std::string counts;
        std::string options;
        for (ResourceKind kind : kAllResourceKinds) {
            const auto index = static_cast<std::size_t>(KindIndex(kind));
            const std::int64_t n = account.LeftOut(kind).*cause;
            if (n == 0 || !facts.kinds[index])
                continue;
            counts += (counts.empty() ? "" : ", ") + std::string(KindLabel(kind)) +
                      " " + std::to_string(n);
            if (cause == &LeftOutCounts::limits && !LimitOptionOf(kind).empty())
                options += (options.empty() ? "" : ", ") + std::string(LimitOptionOf(kind));
        }
        if (!options.empty())
            counts += " (widen them with " + options + ")";
        if (!counts.empty())
            lines.push_back(std::string(what) + ": " + counts);
    };
    perKind(&LeftOutCounts::limits, LeftOutReasonWords(LeftOutReason::Limits));
    perKind(&LeftOutCounts::malformed, LeftOutReasonWords(LeftOutReason::Malformed));
    perKind(&LeftOutCounts::empty, LeftOutReasonWords(LeftOutReason::Empty));
    // Copies folded (--unique): their resources are counted as written, and their
    // records name the file written earlier that holds the same bytes. One line per kind
    // says the files written and the copies folded, the per-size icon files apart from
    // the groups' own.
    if (unique != nullptr) {
        for (ResourceKind kind : kAllResourceKinds) {
            for (const bool perSize : {false, true}) {
                const FileTally::Counts n = unique->Of(kind, perSize);
                if (n.written == 0 && n.folded == 0)
                    continue;
                lines.push_back(std::string(KindLabel(kind)) + (perSize ? " files per size: " : " files: ") +
                                std::to_string(n.written) + " written, " +
                                Plural(n.folded, "copy", "copies") + " folded into files already written");
            }
        }
    }
    const auto problem = [&](const ProblemList& list, const char* one, const char* many) {
        if (list.count == 0)
            return;
        const auto& first = list.first.front();
        lines.push_back(Plural(list.count, one, many) + " could not be read (first: " + first.path +
                        ": " + first.reason + ")");
    };
    problem(account.UnlistedFolders(), "folder", "folders");
    problem(account.UnreadableFiles(), "file", "files");
    if (const ProblemList packed = account.PackedModules(); packed.count != 0)
        lines.push_back(PackedModulesLine(packed));
    if (const ProblemList containers = account.ContainersNotRead(); containers.count != 0)
        lines.push_back(ContainersNotReadLine(containers));
    if (facts.walked && facts.outcome == RunEnd::Completed && account.FilesFound() == 0 &&
        account.ContainersRead() == 0 && account.ContainersNotRead().count == 0)
        lines.push_back("no file matched the mask '" + mask + "'");
    return lines;
}

} // namespace harvix
