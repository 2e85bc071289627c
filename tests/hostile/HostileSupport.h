// Helpers of the hostile-input tests: a scratch folder that can be removed whatever was
// done to it, the check of a destination against its index files, harvix-cli run as a
// child process with a time limit and its peak memory, and small modules.
#pragma once

#include "tools/modbuilder/ModuleBuilder.h"
#include "tests/support/TestFiles.h"
#include "extract/Prompt.h"
#include "extract/ResCore.h"
#include "run/SearchRun.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace harvix::hostile {

namespace fs = std::filesystem;

// A new folder below /tmp, removed with everything in it at the end: unreadable
// folders, read-only ones, and trees deeper than a path can name.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    [[nodiscard]] const std::string& path() const { return m_path; }
    [[nodiscard]] std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Removes a tree below an open folder, by descriptors, so that no path grows long;
// permissions are given back on the way. Used for trees beyond the length of a path.
void RemoveTreeAt(int parentFd, const std::string& name);

// What a destination holds, compared with what its index files say.
struct DestinationCheck {
    std::vector<std::string> problems;     // empty: every output file has exactly one
                                           // record and every record names a file
    std::map<std::string, int> files;      // per kind folder: output files
    std::map<std::string, int> records;    // per kind folder: records
    std::map<std::string, int> headers;    // per index file (folder name, "" the root)
    [[nodiscard]] bool ok() const { return problems.empty(); }
    [[nodiscard]] int totalFiles() const;
    [[nodiscard]] std::string describe() const;
};

// Walks the destination: every "__index.txt" (the root's and each kind folder's) must
// hold only header blocks and record lines, each ended by CR LF; in each kind folder the
// records must name the files there one to one, byte for byte; per-size icon folders
// hold files but no index. Anything else found is a problem.
DestinationCheck CheckDestination(const std::string& destination);

// harvix-cli run as a child process.
struct ChildRun {
    int status = -1;           // exit status; -1 when killed by a signal
    int signal = 0;            // the signal that ended it, if any
    bool timedOut = false;     // killed for running longer than allowed
    long peakRssKiB = 0;       // its peak resident size
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

struct ChildOptions {
    std::chrono::seconds limit{30};         // killed beyond this
    std::optional<uid_t> runAs;             // a user to switch to before starting (root only)
    std::vector<std::string> environment;   // NAME=value put into its environment
};

// Runs `harvix-cli extract ARGS` without a terminal (stdin /dev/null).
ChildRun RunExtract(const std::vector<std::string>& args, const ChildOptions& options = {});

// The counts harvix-cli printed: "Bitmap: 3" gives {"Bitmap", 3}.
std::map<std::string, long> PrintedCounts(const std::string& out);

// A module whose every resource is a 16 x 16 bitmap of 8 bits per pixel, which the
// default limits accept.
modbuilder::ModuleBuilder BitmapModule(int bitmaps, std::uint16_t firstId = 1);
void WriteModule(const std::string& path, const modbuilder::ModuleBuilder& builder);

// The peak limit for a child's resident size: generous for a plain build, more for the
// sanitizers, whose bookkeeping grows with every allocation made.
long PeakRssBoundKiB();

// A user without rights (nobody), for tests that need permissions to bind.
uid_t UnprivilegedUser();

// ---- one run inside the test process: the real search, engine and run -------------------

// Answers the engine's and the run's questions: Yes to going on into an existing folder
// and to cancelling, a full disk from a function; records the full disks and every
// failure's text.
class RecordingPrompt : public IPrompt {
public:
    std::function<Answer(const std::string&)> onDiskFull = [](const std::string&) { return Answer::Cancel; };
    std::vector<std::string> diskFull; // the path of each full disk
    std::vector<std::string> errors;

    Answer confirmCancel() override { return Answer::Yes; }
    Answer continueIntoExisting(const std::string&) override { return Answer::Yes; }
    Answer retryDiskFull(const std::string& path) override {
        diskFull.push_back(path);
        return onDiskFull(path);
    }
    void showError(const ShownError& error) override { errors.push_back(error.text); }
};

// What the run showed, for the assertions.
class QuietView : public IRunView {
public:
    void setStatusText(const std::string&) override {}
    void repaintStatus() override {}
    void setCancelEnabled(bool) override {}
    void showProgressFrame() override {}
    void setProgressValue(int) override {}
    void setCaption(const std::string&) override {}
    void pumpEvents() override {}
    void stopAnimation() override {}
    void statsChanged(int, const std::string&) override {}
    void searchFinished() override { finished = true; }
    void closeProgram() override { closed = true; }
    bool finished = false;
    bool closed = false;
};

// A run over `folder` (with subfolders) into `destination`, prepared first. `beforeFile`
// runs inside the FileFound handler, before the engine gets the file; `opener` replaces
// the engine's way of opening a module when set.
struct InProcessRun {
    std::string folder;
    std::string destination;
    std::string mask = "*.dll";
    KindSwitches kinds{true, true, true, true, true, true};
    std::function<void(const std::string&)> beforeFile;
    ModuleOpener opener;
    IFileSystem* fileSystem = nullptr; // the real one unless set

    RecordingPrompt prompt;
    QuietView view;
    std::vector<std::string> filesSeen;
    std::int64_t counts[6] = {};
    std::optional<RunEnd> outcome; // how the run ended; nothing while it has not

    // Prepares the destination and runs; false when the destination was refused.
    bool Run();
};

} // namespace harvix::hostile
