// harvix-cli extract: one extraction run without the window. The destination is
// prepared as the wizard prepares it when its Destination page is left, then the search
// run drives the file search and the engine; a terminal sees a live progress line and
// is asked the questions the wizard would ask, anything else gets fixed answers.
#include "cli/Commands.h"

#include "extract/Destination.h"
#include "search/FileList.h"
#include "run/LimitText.h"
#include "cli/PngOption.h"
#include "common/Paths.h"
#include "run/ReadAhead.h"
#include "run/RunAssembly.h"
#include "extract/ResCore.h"
#include "run/ResultStats.h"
#include "run/RunAccount.h"
#include "cli/RunReport.h"
#include "run/RunBindings.h"
#include "run/RunSettings.h"
#include "run/RunTexts.h"
#include "search/SearchCore.h"
#include "run/SearchRun.h"
#include "settings/Settings.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace harvix::cli {

const char* const kExtractUsage =
    "  extract --dest DIR [OPTIONS] (FOLDER | --all-drives | --files-from LIST)\n"
    "            Extracts the resources of every matching module below FOLDER (or on\n"
    "            every local disk) into DIR, one subfolder per kind.\n"
    "            --dest DIR             destination folder (its parent must exist)\n"
    "            --yes                  go on when the destination exists already\n"
    "            --no-subfolders        search FOLDER only, not the folders below it\n"
    "            --mask TEXT            file masks (default \"*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx\")\n"
    "            --kinds LIST           some of bitmap,icon,cursor,anicursor,video,html\n"
    "                                   (default: all six)\n"
    "            --bitmap-limits D;W;H  depth, width and height ranges of bitmaps\n"
    "                                   (default 8-32;0-3000;16-48)\n"
    "            --icon-limits D;W;H    the same for icon images (default 8-32;16-32;16-32)\n"
    "            --priority 1-5         1 idle ... 3 normal (default) ... 5 high\n"
    "            --jobs N               threads that read modules ahead of the writing\n"
    "                                   (default: one per processor to start with, more,\n"
    "                                   up to 16, while they wait for the disk; 0: none)\n"
    "            --saved                start from the wizard's saved settings (search mode,\n"
    "                                   folder, subfolders, mask, kinds, destination,\n"
    "                                   priority); the options given beside it win\n"
    "            --png                  also convert every .ico, .cur and .bmp written into\n"
    "                                   PNG files in DIR/PNG/, in the same folders\n"
    "            --files-from LIST      extract the files LIST names, in its order, instead\n"
    "                                   of searching (- for standard input; one name a\n"
    "                                   line); no mask applies\n"
    "            --null                 the names in LIST are separated by NUL characters\n"
    "            --report FILE          write a JSON report of the run to FILE when it ends,\n"
    "                                   however it ends (- for standard output, instead of\n"
    "                                   the counts)\n"
    "            Exit status: 0 completed, 1 stopped by an error or cancelled,\n"
    "            2 bad usage or a refused folder or destination.\n";

namespace {

// The option keys of --kinds, in kind order.
constexpr std::array<std::string_view, kResourceKindCount> kKindNames{"bitmap", "icon",  "cursor",
                                                             "anicursor", "video", "html"};

// A message of the product (two sentences joined by CR LF) on one line.
std::string oneLine(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += ' ';
            ++i;
        } else if (text[i] == '\r' || text[i] == '\n') {
            out += ' ';
        } else {
            out += text[i];
        }
    }
    return out;
}

void complain(std::string_view message) {
    std::cerr << "harvix-cli extract: " << oneLine(message) << '\n';
}

struct ExtractRequest {
    std::optional<std::string> dest;
    bool yes = false;
    bool noSubFolders = false;
    std::optional<std::string> mask;
    std::optional<KindSwitches> kinds;
    run::LimitSet bitmapLimits = run::kDefaultBitmapLimits;
    run::LimitSet iconLimits = run::kDefaultIconLimits;
    std::optional<std::int16_t> priority;
    std::optional<unsigned> jobs;
    bool saved = false;
    bool png = false;
    bool allDrives = false;
    std::optional<std::string> folder;
    std::optional<std::string> filesFrom;
    bool nul = false;
    std::optional<std::string> report;
};

Result<KindSwitches> parseKinds(std::string_view list) {
    KindSwitches kinds{};
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view name = list.substr(start, comma - start);
        bool known = false;
        for (std::size_t k = 0; k < kKindNames.size(); ++k) {
            if (name == kKindNames[k]) {
                kinds[k] = true;
                known = true;
            }
        }
        if (!known)
            return makeError(ErrorKind::Malformed,
                             "unknown resource kind '" + std::string(name) +
                                 "' in --kinds (use bitmap,icon,cursor,anicursor,video,html)");
        start = comma + 1;
    }
    return kinds;
}

Result<ExtractRequest> parseArgs(const Args& args) {
    ExtractRequest req;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        auto value = [&]() -> Result<std::string> {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= args.size())
                return makeError(ErrorKind::Malformed, arg + " needs a value");
            return args[++i];
        };
        auto flag = [&](bool& target) -> Status {
            if (inlineValue)
                return makeError(ErrorKind::Malformed, arg + " takes no value");
            target = true;
            return success();
        };

        if (arg == "--dest") {
            auto v = value();
            if (!v)
                return v.error();
            req.dest = *v;
        } else if (arg == "--mask") {
            auto v = value();
            if (!v)
                return v.error();
            req.mask = *v;
        } else if (arg == "--files-from" || arg == "--report") {
            auto v = value();
            if (!v)
                return v.error();
            (arg == "--report" ? req.report : req.filesFrom) = *v;
        } else if (arg == "--null") {
            if (auto s = flag(req.nul); !s)
                return s.error();
        } else if (arg == "--kinds") {
            auto v = value();
            if (!v)
                return v.error();
            auto kinds = parseKinds(*v);
            if (!kinds)
                return kinds.error();
            req.kinds = *kinds;
        } else if (arg == "--bitmap-limits" || arg == "--icon-limits") {
            auto v = value();
            if (!v)
                return v.error();
            auto limits = run::ParseLimitSet(*v);
            if (!limits)
                return makeError(ErrorKind::Malformed, arg + ": " + limits.error().message);
            (arg == "--bitmap-limits" ? req.bitmapLimits : req.iconLimits) = *limits;
        } else if (arg == "--priority") {
            auto v = value();
            if (!v)
                return v.error();
            if (v->size() != 1 || (*v)[0] < '1' || (*v)[0] > '5')
                return makeError(ErrorKind::Malformed,
                                 "--priority takes a whole number from 1 to 5, not '" + *v + "'");
            req.priority = static_cast<std::int16_t>((*v)[0] - '0');
        } else if (arg == "--jobs") {
            auto v = value();
            if (!v)
                return v.error();
            const bool digits = !v->empty() && v->size() <= 3 &&
                                v->find_first_not_of("0123456789") == std::string::npos;
            if (!digits || std::stoi(*v) > 64)
                return makeError(ErrorKind::Malformed,
                                 "--jobs takes a whole number from 0 to 64, not '" + *v + "'");
            req.jobs = static_cast<unsigned>(std::stoi(*v));
        } else if (arg == "--yes") {
            if (auto s = flag(req.yes); !s)
                return s.error();
        } else if (arg == "--no-subfolders") {
            if (auto s = flag(req.noSubFolders); !s)
                return s.error();
        } else if (arg == "--saved") {
            if (auto s = flag(req.saved); !s)
                return s.error();
        } else if (arg == "--png") {
            if (auto s = flag(req.png); !s)
                return s.error();
        } else if (arg == "--all-drives") {
            if (auto s = flag(req.allDrives); !s)
                return s.error();
        } else if (arg == "--") {
            for (++i; i < args.size(); ++i) {
                if (req.folder)
                    return makeError(ErrorKind::Malformed, "more than one FOLDER given");
                req.folder = args[i];
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return makeError(ErrorKind::Malformed, "unknown option '" + args[i] + "'");
        } else {
            if (req.folder)
                return makeError(ErrorKind::Malformed, "more than one FOLDER given");
            req.folder = arg;
        }
    }
    if (req.folder && req.allDrives)
        return makeError(ErrorKind::Malformed, "give either FOLDER or --all-drives, not both");
    if (req.filesFrom && (req.folder || req.allDrives))
        return makeError(ErrorKind::Malformed,
                         "give FOLDER, --all-drives or --files-from, only one of them");
    if (req.nul && !req.filesFrom)
        return makeError(ErrorKind::Malformed, "--null goes with --files-from");
    if (req.filesFrom && req.mask)
        return makeError(ErrorKind::Malformed, "--mask does not apply to --files-from");
    if (!req.saved && !req.folder && !req.allDrives && !req.filesFrom)
        return makeError(ErrorKind::Malformed,
                         "give a FOLDER to search, --all-drives or --files-from LIST");
    if (!req.saved && !req.dest)
        return makeError(ErrorKind::Malformed, "--dest DIR is required");
    return req;
}

bool isTerminal(int fd) {
    return isatty(fd) == 1;
}

// Ctrl-C on a terminal brings the cancel question at the next point where the run lets
// events through; a second Ctrl-C before that ends the program at once, and one while a
// question waits for its answer gives the answer that stops. The handler also writes a
// byte into a pipe, so that a question waiting for its answer wakes up.
volatile std::sig_atomic_t g_interrupts = 0;
int g_wakeRead = -1;
int g_wakeWrite = -1;

extern "C" void onInterrupt(int) {
    g_interrupts = g_interrupts + 1;
    if (g_wakeWrite >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(g_wakeWrite, &byte, 1);
    }
    if (g_interrupts > 1) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

// The terminal changed its size: the progress line is drawn again for the new width.
volatile std::sig_atomic_t g_resized = 0;

extern "C" void onResize(int) {
    g_resized = 1;
}

void drainWakePipe() {
    char buffer[64];
    while (g_wakeRead >= 0 && ::read(g_wakeRead, buffer, sizeof buffer) > 0) {
    }
}

// One line typed on the terminal, without its line end. Nothing when the input ended;
// `interrupted` tells that Ctrl-C was pressed while it was awaited.
std::optional<std::string> readAnswerLine(bool& interrupted) {
    interrupted = false;
    std::string line;
    for (;;) {
        if (g_interrupts > 0) {
            interrupted = true;
            return std::nullopt;
        }
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_wakeRead, POLLIN, 0}};
        if (::poll(fds, g_wakeRead >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue; // the loop looks at the interrupt count first
            return std::nullopt;
        }
        if (fds[1].revents != 0)
            drainWakePipe();
        if (fds[0].revents == 0)
            continue;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (c == '\n')
            return line;
        line.push_back(c);
    }
}

// Asks on the terminal; without one, answers as a script wants: --yes for the
// destination that exists, No to every other question, Cancel on a full disk.
class CliPrompt final : public IPrompt {
public:
    explicit CliPrompt(bool yes) : m_yes(yes), m_interactive(isTerminal(STDIN_FILENO)) {}

    // Ctrl-C stops: it confirms the cancel question and refuses every other.
    Answer confirmCancel() override {
        if (!m_interactive) {
            m_refused = kCancelQuestion;
            return Answer::No;
        }
        return ask(kCancelQuestion, "[y/N]", 'y', true) ? Answer::Yes : Answer::No;
    }

    Answer continueIntoExisting(const std::string&) override {
        if (m_yes)
            return Answer::Yes;
        if (!m_interactive) {
            m_refused = kFolderExistsQuestion;
            return Answer::No;
        }
        return ask(kFolderExistsQuestion, "[y/N]", 'y', false) ? Answer::Yes : Answer::No;
    }

    Answer retryDiskFull(const std::string&) override {
        if (!m_interactive) {
            showError({Failure::WriteFailed, kDiskFullMessage, {}});
            return Answer::Cancel;
        }
        return ask(kDiskFullMessage, "[r]etry / [C]ancel", 'r', false) ? Answer::Retry
                                                                      : Answer::Cancel;
    }

    void showError(const ShownError& error) override {
        if (m_beforeMessage)
            m_beforeMessage();
        // A refused destination: the path and the system's reason say more than the
        // wizard's box can.
        if (error.failure == Failure::InvalidDestination && !error.detail.empty()) {
            complain("The specified folder is invalid: " + error.detail);
            return;
        }
        complain(error.text);
    }

    // The question that was answered No for want of a terminal, if any.
    [[nodiscard]] const std::optional<std::string>& refused() const { return m_refused; }

    // Something else (the progress line) may be on the terminal's current line.
    void setBeforeMessage(std::function<void()> hook) { m_beforeMessage = std::move(hook); }

private:
    // True for the answer `yesKey`; Ctrl-C gives `onInterrupt`.
    bool ask(const std::string& text, const char* choices, char yesKey, bool onInterrupt) {
        if (m_beforeMessage)
            m_beforeMessage();
        // What brought this question (a Ctrl-C that asks to cancel) is not its answer.
        g_interrupts = 0;
        drainWakePipe();
        std::cerr << oneLine(text) << ' ' << choices << ' ' << std::flush;
        bool interrupted = false;
        const std::optional<std::string> line = readAnswerLine(interrupted);
        if (interrupted) {
            g_interrupts = 0;
            std::cerr << '\n' << std::flush; // the terminal echoed ^C on the question's line
            return onInterrupt;
        }
        if (!line)
            return false;
        const auto first = line->find_first_not_of(" \t");
        return first != std::string::npos && ((*line)[first] | 0x20) == yesKey;
    }

    bool m_yes;
    bool m_interactive;
    std::optional<std::string> m_refused;
    std::function<void()> m_beforeMessage;
};

// The run's effects on a terminal: one progress line on stderr, rewritten in place.
class CliView final : public run::IRunView {
public:
    explicit CliView(bool live) : m_live(live) {}

    void setRun(run::SearchRun* searchRun) { m_run = searchRun; }

    void setStatusText(const std::string& text) override {
        std::string_view rest = text;
        if (rest.rfind(run::kPleaseWait, 0) == 0)
            rest.remove_prefix(std::string_view(run::kPleaseWait).size());
        m_status = oneLine(rest);
        draw();
    }
    void repaintStatus() override {}
    void setCancelEnabled(bool) override {}
    void showProgressFrame() override {}
    void setProgressValue(int value) override {
        m_percent = value * 2;
        draw();
    }
    void setCaption(const std::string&) override {}
    void pumpEvents() override {
        if (g_resized != 0) {
            g_resized = 0;
            if (m_drawn)
                draw();
        }
        if (g_interrupts == 0 || m_run == nullptr)
            return;
        g_interrupts = 0;
        m_run->cmdCancel_Click();
    }
    void stopAnimation() override {}
    void statsChanged(int) override {}
    void searchFinished() override { clearLine(); }
    void closeProgram() override { clearLine(); }

    void clearLine() {
        if (m_live && m_drawn) {
            std::cerr << "\r\033[K" << std::flush;
            m_drawn = false;
        }
    }

private:
    // The line never reaches the terminal's last column, so it never wraps and "\r"
    // always returns to its start; the width is asked for at every draw, so a resized
    // terminal gets a line of its new width.
    void draw() {
        if (!m_live)
            return;
        std::string line;
        if (m_percent >= 0)
            line = std::to_string(m_percent) + "% completed";
        if (!m_status.empty())
            line += (m_percent >= 0 ? "  " : "") + m_status;
        winsize size{};
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
            line = cutToColumns(line, size.ws_col - 1u);
        std::cerr << "\r\033[K" << line << std::flush;
        m_drawn = true;
    }

    // The text cut to at most `columns` characters (UTF-8 sequences count as one).
    static std::string cutToColumns(const std::string& text, std::size_t columns) {
        std::size_t characters = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
                continue; // inside a character
            if (characters == columns)
                return text.substr(0, i);
            ++characters;
        }
        return text;
    }

    bool m_live;
    bool m_drawn = false;
    int m_percent = -1;
    std::string m_status;
    run::SearchRun* m_run = nullptr;
};

// The engine's pause before the program closes lets the window show its stopped
// animation; a terminal has nothing to show, so the command does not wait.
class CliClock final : public run::IRunClock {
public:
    std::uint32_t GetTickCount() override { return m_clock.GetTickCount(); }
    void Sleep(std::uint32_t) override {}

private:
    run::SystemClock m_clock;
};

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The options of the run for its report: as given on the command line, and the
// settings the run used.
Json ReportOptions(const ExtractRequest& req, const Settings& settings,
                   const run::LimitSet& bitmapLimits, const run::LimitSet& iconLimits) {
    Json options = Json::object();
    if (req.filesFrom) {
        PutPath(options, "files_from", *req.filesFrom);
        options["null"] = req.nul;
    } else {
        options["all_drives"] = settings.SearchSystem;
        PutPath(options, "folder", settings.Folder);
        options["subfolders"] = settings.SubFolders;
        options["mask"] = settings.Mask;
    }
    PutPath(options, "dest", settings.DestPath);
    Json kinds = Json::array();
    for (std::size_t k = 0; k < kKindNames.size(); ++k)
        if (settings.ResTypes[k])
            kinds.push_back(std::string(kKindNames[k]));
    options["kinds"] = std::move(kinds);
    options["bitmap_limits"] = run::LimitSetText(bitmapLimits);
    options["icon_limits"] = run::LimitSetText(iconLimits);
    options["priority"] = settings.Priority;
    options["jobs"] = req.jobs.value_or(run::DefaultReadAheadJobs());
    options["png"] = req.png;
    options["yes"] = req.yes;
    options["saved"] = req.saved;
    return options;
}

} // namespace

int RunExtract(const Args& args) {
    auto parsed = parseArgs(args);
    if (!parsed) {
        complain(parsed.error().message + " (try 'harvix-cli extract --help')");
        return 2;
    }
    const ExtractRequest& req = *parsed;

    // The run report and the summary on stderr: whatever ends the command from here on
    // goes through `finish`.
    ReportFacts facts;
    facts.start = std::chrono::system_clock::now();
    const auto startedAt = std::chrono::steady_clock::now();
    facts.walked = !req.filesFrom;
    run::RunAccount account;
    std::string maskForSummary;
    const auto finish = [&](int status, const char* outcome,
                            std::optional<std::string> error) -> int {
        facts.end = std::chrono::system_clock::now();
        facts.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - startedAt);
        facts.outcome = outcome;
        facts.error = std::move(error);
        facts.exitStatus = status;
        if (std::string(outcome) != "refused")
            for (const std::string& line : SummaryLines(facts, account, maskForSummary))
                complain(line);
        if (!req.report)
            return status;
        const std::string text = JsonDocument(BuildRunReport(facts, account)) + "\n";
        if (*req.report == "-") {
            std::cout << text << std::flush;
            if (!std::cout) {
                complain("the report cannot be written to standard output");
                return status == 0 ? 1 : status;
            }
            return status;
        }
        if (auto written = WriteFileReplacing(*req.report, text); !written) {
            complain("the report cannot be written: " + written.error().message);
            return status == 0 ? 1 : status;
        }
        return status;
    };

    // The settings of the run: the saved ones or the defaults, then the options.
    Settings settings;
    if (req.saved) {
        try {
            settings = LoadSettings();
        } catch (const std::exception& e) {
            const std::string message =
                std::string("the saved settings cannot be read: ") + e.what();
            complain(message);
            return finish(2, "refused", message);
        }
    } else {
        // The defaults of a first start: subfolders, the default masks, all six kinds,
        // the normal priority.
        settings = DefaultSettings();
    }
    if (req.folder) {
        settings.SearchSystem = false;
        settings.Folder = *req.folder;
    }
    if (req.allDrives) {
        settings.SearchSystem = true;
        // One character rather than a literal: GCC 12 at -O3 reports the inlined
        // literal assignment as an overlapping copy (-Wrestrict), wrongly.
        settings.Folder.assign(1, '/');
    }
    // A file list names the files: nothing is searched, no mask applies, and the index
    // header says where the names came from.
    std::optional<cFileList> fileList;
    if (req.filesFrom) {
        fileList.emplace(*req.filesFrom, req.nul);
        settings.SearchSystem = false;
        settings.Folder = fileList->DisplayName();
        settings.SubFolders = false;
        settings.Mask.clear();
    }
    if (req.noSubFolders)
        settings.SubFolders = false;
    if (req.mask)
        settings.Mask = *req.mask;
    if (req.kinds)
        settings.ResTypes = *req.kinds;
    if (req.dest)
        settings.DestPath = *req.dest;
    if (req.priority)
        settings.Priority = *req.priority;
    if (settings.Priority < 1 || settings.Priority > 5)
        settings.Priority = kDefaultPriority;

    // The checks of the wizard's pages, in page order.
    facts.options = ReportOptions(req, settings, req.bitmapLimits, req.iconLimits);
    maskForSummary = settings.Mask;
    if (fileList) {
        if (auto opened = fileList->Open(); !opened) {
            const std::string message = "the file list cannot be read: " + opened.error().message;
            complain(message);
            return finish(2, "refused", message);
        }
    } else if (!settings.SearchSystem && !isDirectory(settings.Folder)) {
        const std::string message = std::string(run::kFolderNotFound) + " ('" + settings.Folder + "')";
        complain(message);
        return finish(2, "refused", oneLine(message));
    }
    KindSwitches kinds{};
    for (std::size_t k = 0; k < kinds.size(); ++k)
        kinds[k] = settings.ResTypes[k];
    bool anyKind = false;
    for (bool on : kinds)
        anyKind = anyKind || on;
    facts.kinds = kinds;
    if (!anyKind) {
        complain(run::kNoResourceType);
        return finish(2, "refused", std::string(run::kNoResourceType));
    }

    CliPrompt prompt(req.yes);
    const IndexHeaderInfo header{settings.Folder, settings.SubFolders, settings.Mask};
    std::string refusal;
    if (PrepareDestination(settings.DestPath, kinds, header, prompt, RealFileSystem(), &refusal)) {
        if (prompt.refused())
            complain(*prompt.refused() + " (use --yes to add to it)");
        std::string message = prompt.refused() ? oneLine(*prompt.refused())
                              : refusal.empty() ? oneLine(kFolderInvalidMessage)
                                                : "The specified folder is invalid: " + refusal;
        return finish(2, "refused", message + " ('" + settings.DestPath + "')");
    }

    ExtractionOptions options;
    options.kindEnabled = kinds;
    options.destinationFolder = AddBackslash(settings.DestPath);
    options.bitmapDepth = req.bitmapLimits.depth;
    options.bitmapWidth = req.bitmapLimits.width;
    options.bitmapHeight = req.bitmapLimits.height;
    options.iconDepth = req.iconLimits.depth;
    options.iconWidth = req.iconLimits.width;
    options.iconHeight = req.iconLimits.height;

    const bool interactive = isTerminal(STDIN_FILENO);
    CliView view(isTerminal(STDERR_FILENO));
    prompt.setBeforeMessage([&view] { view.clearLine(); });
    const auto pngMirror = MakePngMirror(req.png, options.destinationFolder);
    cSearchCore core;
    core.SetUnlistedFolderHandler(
        [&account](const std::string& folder, int error) { account.FolderNotListed(folder, error); });
    run::SearchCoreBinding walk(core);
    CliClock clock;
    run::RunChoice choice;
    choice.search = run::SearchSettingsFrom(settings);
    choice.options = options;
    choice.readers = req.jobs;
    run::RunAssembly assembly(choice, view, prompt,
                              {.walk = walk,
                               .fileSystem = pngMirror ? *pngMirror : RealFileSystem(),
                               .clock = clock,
                               .fileList = fileList ? &*fileList : nullptr,
                               .observer = &account});
    run::SearchRun& searchRun = assembly.Run();
    view.setRun(&searchRun);

    if (interactive) {
        int wake[2] = {-1, -1};
        if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
            g_wakeRead = wake[0];
            g_wakeWrite = wake[1];
        }
        std::signal(SIGINT, onInterrupt);
    }
    if (isTerminal(STDERR_FILENO))
        std::signal(SIGWINCH, onResize);
    assembly.Start();
    std::signal(SIGWINCH, SIG_DFL);
    if (interactive) {
        std::signal(SIGINT, SIG_DFL);
        for (int* fd : {&g_wakeRead, &g_wakeWrite}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
    view.clearLine();

    for (const run::StatsRow& row : searchRun.Stats().rows())
        facts.written[static_cast<std::size_t>(row.kind)] = row.count;
    if (req.report != "-") {
        for (const run::StatsRow& row : searchRun.Stats().rows())
            std::cout << row.caption << ": " << row.countText() << '\n';
        FinishPngMirror(pngMirror.get());
        std::cout << std::flush;
    } else if (pngMirror) {
        // Standard output holds the report alone.
        pngMirror->Finish();
        for (const std::string& problem : pngMirror->Problems())
            complain("PNG: " + problem);
    }

    switch (searchRun.Outcome()) {
    case run::RunOutcome::Completed:
        if (fileList && !fileList->ReadError().empty()) {
            const std::string message =
                "the file list could not be read to its end: " + fileList->ReadError();
            complain(message);
            return finish(1, "failed", message);
        }
        return finish(0, "completed", std::nullopt);
    case run::RunOutcome::Cancelled:
        complain("the search was cancelled");
        return finish(1, "cancelled", std::string("the search was cancelled"));
    default: {
        std::string message = assembly.Engine().LastErrorDescription();
        const auto first = message.find_first_not_of(' ');
        message = first == std::string::npos ? std::string("an error stopped the run")
                                              : oneLine(message.substr(first));
        return finish(1, "failed", message);
    }
    }
}

} // namespace harvix::cli
