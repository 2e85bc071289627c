// Writing behind the engine changes nothing anyone can see but the time: the same
// files with the same bytes and records, the same names, the same events in the same
// order, and a write error asked about at the same point of the run, with the disk
// holding then exactly what it holds when every file is written on the engine's thread.
// Each case runs the same files through an engine that writes directly and one that
// writes behind, into two destinations, and compares what each left and told.
#include "extract/Destination.h"
#include "extract/WriteBehind.h"
#include "tests/engine/EngineTestSupport.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace harvix {
namespace {

using namespace harvix::testing;
namespace stdfs = std::filesystem;

const ResId kBitmap = ResId::of(ResType::Bitmap);
const ResId kIconImage = ResId::of(ResType::Icon);
const ResId kIconGroup = ResId::of(ResType::GroupIcon);
const ResId kCursorImage = ResId::of(ResType::Cursor);
const ResId kCursorGroup = ResId::of(ResType::GroupCursor);
const ResId kAni = ResId::of(ResType::AniCursor);
const ResId kHtml = ResId::of(ResType::Html);
const ResId kAvi = ResId::name("AVI");
const ResId kRcData = ResId::of(ResType::RcData);

ResId N(std::uint16_t id) {
    return ResId::number(id);
}
ResId S(const std::string& name) {
    return ResId::name(name);
}

// An icon group whose images have the given sizes, widths and depths.
void AddIcon(FakeModule& m, std::uint16_t group, std::uint16_t firstId,
             const std::vector<std::pair<std::uint8_t, std::int16_t>>& sizesAndDepths) {
    std::vector<IconEntrySpec> entries;
    std::uint16_t id = firstId;
    for (const auto& [size, bits] : sizesAndDepths) {
        entries.push_back({size, size, 0, 1, bits, 40, id});
        m.add(kIconImage, N(id), Filled(40, static_cast<std::uint8_t>(id)));
        ++id;
    }
    m.add(kIconGroup, N(group), IconGroup(entries));
}

void AddCursor(FakeModule& m, std::uint16_t group, std::uint16_t id) {
    m.add(kCursorImage, N(id), Filled(308, static_cast<std::uint8_t>(id)));
    m.add(kCursorGroup, N(group), CursorGroup({{32, 64, 1, 1, 308, id}}));
}

// One call of the engine: a module under a path, or a file that is none.
struct Call {
    std::string path;
    std::optional<FakeModule> module;
};

// The module of a call as the engine is handed it, or the error of a file that is none.
Result<std::unique_ptr<IResourceModule>> Opened(const Call& call) {
    if (call.module)
        return std::unique_ptr<IResourceModule>(std::make_unique<FakeModule>(*call.module));
    return makeError(ErrorKind::NotLoadable, "no module", ENOEXEC);
}

// Everything a run left and told, in order.
struct Trace {
    std::vector<std::string> events;              // observer, target and prompt, in order
    std::map<std::string, ByteVector> files;      // below the destination, with their bytes
    int failures = 0;                             // calls (and Finish) that ended Failed
    std::vector<int> errorNumbers;                // of those
};

// The files below `root` (relative paths) and their bytes.
std::map<std::string, ByteVector> Tree(const std::string& root) {
    std::map<std::string, ByteVector> files;
    for (const auto& entry : stdfs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[stdfs::relative(entry.path(), root).string()] = ReadFileBytes(entry.path().string());
    return files;
}

std::string Listing(const std::string& root) {
    std::string text;
    for (const auto& [path, bytes] : Tree(root))
        text += " " + path + ":" + std::to_string(bytes.size());
    return text;
}

// Hears everything, and at each question and failure shown notes what is on disk.
class Recorder final : public ScriptedPrompt, public IExtractObserver, public IResFoundTarget {
public:
    Recorder(std::string root, std::vector<std::string>& events) : m_root(std::move(root)), m_events(events) {}

    void ModuleOpened(const std::string& path) override { note("opened " + path); }
    void ModuleNotOpened(const std::string& path, const Error& error) override {
        note("not opened " + path + " " + std::to_string(error.code));
    }
    void ResourceLeftOut(const ResourceRef& resource, ResourceKind kind, const LeftOut& why) override {
        note("left out " + std::string(KindKey(kind)) + " " + resource.module + " " + resource.name.toText() +
             " " + std::to_string(static_cast<int>(why.reason)) + " " + std::to_string(resource.language));
    }
    void FileWritten(ResourceKind kind, const std::string& path) override {
        note("wrote " + std::string(KindKey(kind)) + " " + relative(path));
    }
    void CopyFolded(ResourceKind kind, const std::string& existing) override {
        note("folded " + std::string(KindKey(kind)) + " into " + relative(existing));
    }
    void ResFound(ResourceKind kind, const ResName& name) override {
        note("found " + std::to_string(KindIndex(kind)) + " " + name.toText());
    }
    Answer retryDiskFull(const std::string& path) override {
        note("disk full at " + relative(path) + ", on disk:" + Listing(m_root));
        return ScriptedPrompt::retryDiskFull(path);
    }
    void showError(const ShownError& error) override {
        note("error " + relative(error.detail) + ", on disk:" + Listing(m_root));
        ScriptedPrompt::showError(error);
    }

private:
    void note(std::string event) { m_events.push_back(std::move(event)); }
    std::string relative(const std::string& path) const {
        return path.rfind(m_root, 0) == 0 ? path.substr(m_root.size()) : path;
    }
    std::string m_root;
    std::vector<std::string>& m_events;
};

// Runs the calls through one engine into a fresh destination; `setUp` injects failures
// and `answers` answer the questions; `unique` folds copies.
Trace RunCalls(bool behind, const std::vector<Call>& calls,
               const std::function<void(FailingFileSystem&)>& setUp = {},
               std::deque<Answer> answers = {}, bool unique = false) {
    ScratchDir dir;
    for (ResourceKind kind : kAllResourceKinds)
        stdfs::create_directory(dir / std::string(KindFolder(kind)));
    Trace trace;
    FailingFileSystem fs;
    if (setUp)
        setUp(fs);
    Recorder recorder(dir.path() + "/", trace.events);
    recorder.answers = std::move(answers);
    ExtractionOptions options;
    options.kindEnabled.fill(true); // the pictures kept whole too
    options.destinationFolder = dir.path();
    options.unique = unique;
    mResCore engine(options, recorder, fs);
    engine.AddObserver(recorder);
    if (behind)
        engine.WriteOnOwnThread();
    auto take = [&](const ModuleOutcome& outcome) {
        if (outcome.failed()) {
            ++trace.failures;
            trace.errorNumbers.push_back(outcome.error ? RuntimeErrorNumber(*outcome.error) : 0);
        }
        return outcome.failed();
    };
    bool stopped = false;
    for (const Call& call : calls) {
        const ModuleOutcome outcome = engine.ExtractFromFile(call.path, Opened(call), recorder);
        if ((stopped = take(outcome)))
            break; // the run ends with its first failure
    }
    if (!stopped)
        take(engine.Finish());
    trace.files = Tree(dir.path());
    return trace;
}

void ExpectSame(const Trace& direct, const Trace& behind) {
    EXPECT_EQ(behind.events, direct.events);
    EXPECT_EQ(behind.failures, direct.failures);
    EXPECT_EQ(behind.errorNumbers, direct.errorNumbers);
    ASSERT_EQ(behind.files.size(), direct.files.size());
    for (const auto& [path, bytes] : direct.files) {
        ASSERT_TRUE(behind.files.count(path)) << path;
        EXPECT_EQ(behind.files.at(path), bytes) << path;
    }
}

// Files of every kind, names that meet (in one folder, after sanitizing, after being cut
// to the longest name a file system takes), resources left out with and without files
// made beside them, pictures kept whole beside data that is none (passed over), a file
// that is no module, and a clip too large to wait in memory.
std::vector<Call> ManyFiles() {
    std::vector<Call> calls;
    FakeModule shell;
    shell.add(kBitmap, N(1), Dib(32, 32, 24)).add(kBitmap, N(2), Dib(4, 4, 24)).add(kBitmap, N(3), Dib(16, 16, 8));
    AddIcon(shell, 1, 1, {{16, 8}, {32, 8}, {32, 32}});
    AddIcon(shell, 2, 4, {{48, 4}, {64, 8}});                     // no image in the limits
    AddIcon(shell, 3, 6, {{16, 8}, {16, 8}});                     // one size twice
    shell.add(kIconGroup, N(9), IconGroup({{32, 32, 0, 1, 8, 40, 99}})); // its image is missing
    AddCursor(shell, 1, 20);
    shell.add(kAni, N(1), Filled(300)).add(kAvi, N(1), Filled(2000));
    shell.add(kHtml, S("a?b.htm"), Filled(50)).add(kHtml, S("a_b.htm"), Filled(60));
    const std::string longName(300, 'x');
    shell.add(kHtml, S(longName + "1.htm"), Filled(70)).add(kHtml, S(longName + "2.htm"), Filled(80));
    calls.push_back({"/w/shell32.dll", shell});
    calls.push_back({"/w/readme.txt", std::nullopt});
    FakeModule again; // the same file name from another folder: the names go on counting
    again.add(kBitmap, N(1), Dib(32, 32, 8)).add(kAvi, N(5), Filled(3 << 20));
    AddIcon(again, 1, 1, {{16, 8}});
    calls.push_back({"/x/shell32.dll", again});
    FakeModule small;
    small.add(kBitmap, N(7), Dib(24, 24, 24));
    AddCursor(small, 4, 2);
    calls.push_back({"/w/small.dll", small});
    namespace mb = harvix::modbuilder;
    const ByteVector png = mb::makePngFile(48, 40, mb::pictures::gradient());
    ByteVector cutPng(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
    FakeModule theme;
    theme.add(kRcData, N(1), png).add(kRcData, N(2), ByteVector{'<', '?', 'x', 'm', 'l'});
    theme.add(kRcData, N(3), mb::makeGifFile(20, 10, mb::pictures::rings()));
    theme.add(kRcData, S("CUT"), cutPng).add(S("PNG"), S("LOGO"), png);
    theme.add(S("PNG"), N(7), ByteVector(64, 0));
    calls.push_back({"/w/theme.dll", theme});
    return calls;
}

TEST(WriteBehind, LeavesAndTellsWhatWritingDirectlyDoes) {
    const auto calls = ManyFiles();
    const Trace direct = RunCalls(false, calls);
    ASSERT_EQ(direct.failures, 0);
    ASSERT_GT(direct.files.size(), 20u);
    const std::string images = std::string(KindFolder(ResourceKind::Image)) + "/";
    EXPECT_EQ(std::count_if(direct.files.begin(), direct.files.end(),
                            [&](const auto& file) { return file.first.rfind(images, 0) == 0; }),
              4); // three pictures and their index
    ExpectSame(direct, RunCalls(true, calls));
}

// The calls of ManyFiles and copies of what they hold: the shell module again under
// another folder (every file a copy), and a module with the large clip again, a bitmap
// of the second shell32.dll's, and an icon whose per-size files are copies of the first
// icon's while the group is not.
std::vector<Call> ManyCopies() {
    std::vector<Call> calls = ManyFiles();
    calls.push_back({"/z/shell32.dll", calls.front().module});
    FakeModule other;
    other.add(kBitmap, N(1), Dib(32, 32, 8)).add(kBitmap, N(2), Dib(8, 8, 24)).add(kAvi, N(5), Filled(3 << 20));
    AddIcon(other, 5, 1, {{16, 8}, {32, 8}});
    calls.push_back({"/z/other.dll", other});
    return calls;
}

// In every kind's folder, every record names a file there and every file there has a
// record; returns how many records name a file another record names too.
std::size_t ExpectRecordsWhole(const Trace& trace) {
    std::size_t shared = 0;
    for (ResourceKind kind : kAllResourceKinds) {
        const std::string folder = std::string(KindFolder(kind)) + "/";
        std::set<std::string> files;
        std::map<std::string, int> named;
        for (const auto& [path, bytes] : trace.files) {
            if (path.rfind(folder, 0) != 0 || path.find('/', folder.size()) != std::string::npos)
                continue;
            const std::string file = path.substr(folder.size());
            if (file != kIndexFileName) {
                files.insert(file);
                continue;
            }
            std::istringstream index(std::string(bytes.begin(), bytes.end()));
            for (std::string line; std::getline(index, line);)
                ++named[line.substr(0, line.find(" - SOURCE FILE = "))];
        }
        for (const auto& [file, records] : named) {
            EXPECT_TRUE(files.contains(file)) << folder << file;
            shared += static_cast<std::size_t>(records - 1);
        }
        for (const std::string& file : files)
            EXPECT_TRUE(named.contains(file)) << folder << file;
    }
    return shared;
}

// A write error waits for its question until every resource before it is told, and
// nothing after it has reached the disk then; Retry writes it again and goes on, Cancel
// gives up the rest. Every case names the file the failure hits and the answers. With
// copies folded (over ManyCopies), whatever the answer, no record names a file that is
// not there: a record refused takes its file away, so the copy after it is a file of its
// own unless the retry wrote it again.
struct WriteErrorCase {
    const char* what;
    FailingFileSystem::Rule rule;
    std::deque<Answer> answers;
    bool unique = false;
};

// Runs the calls with the failure of `c` written directly and behind; the error is
// asked about or shown, at the same point in both. Returns the run written directly.
Trace ExpectAskedAtTheSamePoint(const std::vector<Call>& calls, const WriteErrorCase& c, bool unique) {
    SCOPED_TRACE(c.what);
    auto setUp = [&](FailingFileSystem& fs) { fs.fail(c.rule); };
    const Trace direct = RunCalls(false, calls, setUp, c.answers, unique);
    EXPECT_NE(std::count_if(direct.events.begin(), direct.events.end(),
                            [](const std::string& e) { return e.find(", on disk:") != std::string::npos; }),
              0);
    ExpectSame(direct, RunCalls(true, calls, setUp, c.answers, unique));
    return direct;
}

TEST(WriteBehind, AsksAboutAWriteErrorAtTheSamePoint) {
    using Op = FailingFileSystem::Rule::Op;
    const WriteErrorCase cases[] = {
        {"full disk, retried", {Op::Write, "Icons/shell32.dll (2).ico", ENOSPC}, {Answer::Retry}},
        {"full disk, cancelled", {Op::Write, "Icons/shell32.dll (2).ico", ENOSPC}, {Answer::Cancel}},
        {"full disk in another file, cancelled", {Op::Write, "small.dll.bmp", EDQUOT}, {Answer::Cancel}},
        {"full disk twice, retried", {Op::Write, "Videos/shell32.dll.avi", ENOSPC, 2}, {Answer::Retry, Answer::Retry}},
        {"per-size file, cancelled", {Op::Write, "16x16/8/shell32.dll (2).ico", ENOSPC}, {Answer::Cancel}},
        {"refused file", {Op::Create, "Cursors/shell32.dll.cur", EACCES}, {}},
        {"refused record", {Op::Append, "Animated Cursors/__index.txt", EROFS}, {}},
        {"full disk at the clip written directly", {Op::Write, "Videos/shell32.dll (2).avi", ENOSPC}, {Answer::Retry}},
        {"in the last file", {Op::Write, "Cursors/small.dll.cur", ENOSPC}, {Answer::Cancel}},
        {"folding, record of an original refused, retried", {Op::Append, "Bitmaps/__index.txt", ENOSPC}, {Answer::Retry}, true},
        {"folding, original's file, cancelled", {Op::Write, "Icons/shell32.dll.ico", ENOSPC}, {Answer::Cancel}, true},
        {"folding, per-size original, retried", {Op::Write, "16x16/8/shell32.dll.ico", ENOSPC}, {Answer::Retry}, true},
        {"folding, the large original written directly, retried", {Op::Write, "Videos/shell32.dll (2).avi", ENOSPC}, {Answer::Retry}, true},
        {"folding, record of a copy refused", {Op::Append, "Videos/__index.txt", EROFS, 1, 2}, {}, true},
    };
    const auto calls = ManyFiles();
    const auto copies = ManyCopies();
    for (const auto& c : cases) {
        const Trace direct = ExpectAskedAtTheSamePoint(c.unique ? copies : calls, c, c.unique);
        if (c.unique)
            (void)ExpectRecordsWhole(direct);
    }

    // A copy is folded before anything of it is written: a disk that would refuse the
    // large copy's bytes is never asked, and its record names the original.
    for (const bool behind : {false, true}) {
        SCOPED_TRACE(behind ? "behind" : "directly");
        const Trace run = RunCalls(behind, copies, [](FailingFileSystem& fs) {
            fs.fail({Op::Write, "Videos/other.dll.avi", ENOSPC});
        }, {}, true);
        EXPECT_EQ(std::count_if(run.events.begin(), run.events.end(),
                                [](const std::string& e) { return e.find("disk full") != std::string::npos; }),
                  0);
        EXPECT_FALSE(run.files.contains("Videos/other.dll.avi"));
        EXPECT_GT(ExpectRecordsWhole(run), 0u);
    }
}

// Whatever stops the run, every file in a kind's folder is named by a record of that
// folder's index and every record names a file there: after a write error given up, and
// when the engine goes away in the middle (its caller ended by an exception, here at a
// question or after the last file handed over, without Finish), with the writer behind
// it still holding resources or stopped at an error.
TEST(WriteBehind, EveryFileHasItsRecordHoweverTheRunStops) {
    struct GoneAway {};
    class LeavingPrompt final : public ScriptedPrompt {
    public:
        Answer retryDiskFull(const std::string&) override { throw GoneAway{}; }
        void showError(const ShownError&) override { throw GoneAway{}; }
    };
    using Op = FailingFileSystem::Rule::Op;
    const struct {
        const char* what;
        std::optional<FailingFileSystem::Rule> rule;
        bool leaves; // the caller goes away at the question (or, without one, before Finish)
    } cases[] = {
        {"no error, caller gone before Finish", std::nullopt, true},
        {"full disk, given up", FailingFileSystem::Rule{Op::Write, "Icons/shell32.dll (2).ico", ENOSPC}, false},
        {"full disk, caller gone at the question", FailingFileSystem::Rule{Op::Write, "Icons/shell32.dll (2).ico", ENOSPC}, true},
        {"per-size file, caller gone", FailingFileSystem::Rule{Op::Write, "16x16/8/shell32.dll (2).ico", ENOSPC}, true},
        {"per-size file, given up", FailingFileSystem::Rule{Op::Write, "16x16/8/shell32.dll (2).ico", ENOSPC}, false},
        {"refused record, caller gone", FailingFileSystem::Rule{Op::Append, "Animated Cursors/__index.txt", EROFS}, true},
        {"refused file in the last module", FailingFileSystem::Rule{Op::Create, "Cursors/small.dll.cur", EACCES}, false},
    };
    const auto calls = ManyFiles();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        for (ResourceKind kind : kAllResourceKinds)
            stdfs::create_directory(dir / std::string(KindFolder(kind)));
        FailingFileSystem fs;
        if (c.rule)
            fs.fail(*c.rule);
        LeavingPrompt leaving;
        ScriptedPrompt answering; // Cancel to a full disk: the rest is given up
        answering.answers = {Answer::Cancel};
        ExtractionOptions options;
        options.destinationFolder = dir.path();
        bool left = false;
        try {
            mResCore engine(options, c.leaves ? static_cast<IPrompt&>(leaving) : answering, fs);
            engine.WriteOnOwnThread();
            CollectingTarget target;
            bool failed = false;
            for (const Call& call : calls) {
                if ((failed = engine.ExtractFromFile(call.path, Opened(call), target).failed()))
                    break;
            }
            if (c.leaves && !c.rule)
                throw GoneAway{};
            if (!failed)
                (void)engine.Finish();
        } catch (const GoneAway&) {
            left = true; // the engine is gone: the writer finished what it could
        }
        EXPECT_EQ(left, c.leaves);
        std::size_t files = 0;
        for (ResourceKind kind : kAllResourceKinds) {
            const stdfs::path folder = stdfs::path(dir.path()) / std::string(KindFolder(kind));
            std::multiset<std::string> named, recorded;
            for (const auto& entry : stdfs::directory_iterator(folder))
                if (entry.is_regular_file() && entry.path().filename() != kIndexFileName)
                    named.insert(entry.path().filename().string());
            if (stdfs::exists(folder / kIndexFileName)) {
                std::istringstream index(ReadFileText((folder / kIndexFileName).string()));
                for (std::string line; std::getline(index, line);)
                    recorded.insert(line.substr(0, line.find(" - SOURCE FILE = ")));
            }
            EXPECT_EQ(named, recorded) << folder;
            files += named.size();
        }
        EXPECT_GT(files, 0u);
    }
}

// Copies are folded where the engine prepares the files, in the order of the run: the
// same files, records, names and events whether written behind or directly, a large
// resource written directly among those written behind included.
TEST(WriteBehind, FoldsCopiesAsWritingDirectlyDoes) {
    const auto calls = ManyCopies();
    const Trace direct = RunCalls(false, calls, {}, {}, true);
    ASSERT_EQ(direct.failures, 0);
    ExpectSame(direct, RunCalls(true, calls, {}, {}, true));
    const auto told = [&](const std::string& event) {
        return std::count(direct.events.begin(), direct.events.end(), event);
    };
    // The copy of the shell module made no file: every file it would have made is told
    // as folded into one of the first module's.
    const auto copy = std::find(direct.events.begin(), direct.events.end(), "opened /z/shell32.dll");
    const auto other = std::find(copy, direct.events.end(), "opened /z/other.dll");
    ASSERT_NE(other, direct.events.end());
    EXPECT_EQ(std::count_if(copy, other, [](const std::string& e) { return e.rfind("wrote ", 0) == 0; }), 0);
    EXPECT_EQ(std::count_if(copy, other, [](const std::string& e) { return e.rfind("folded ", 0) == 0; }), 15);
    // The large clip, written directly, is folded too; so are per-size files whose
    // group is a file of its own.
    EXPECT_EQ(told("folded VIDEO into Videos/shell32.dll (2).avi"), 1);
    EXPECT_EQ(told("folded ICON into Icons/16x16/8/shell32.dll.ico"), 3);
    EXPECT_TRUE(direct.files.contains("Icons/other.dll.ico"));
    EXPECT_FALSE(direct.files.contains("Icons/16x16/8/other.dll.ico"));
    // Every resource folded has a record naming the file that holds its bytes; per-size
    // files have no records.
    std::size_t folded = 0, perSize = 0;
    for (const std::string& e : direct.events)
        if (e.rfind("folded ", 0) == 0) {
            ++folded;
            if (std::count(e.begin() + static_cast<std::ptrdiff_t>(e.find(" into ")), e.end(), '/') > 1)
                ++perSize; // in a size's folder below the kind's
        }
    EXPECT_EQ(perSize, 7u);
    EXPECT_EQ(ExpectRecordsWhole(direct), folded - perSize);

    // Without the option, nothing is folded and the copies are files of their own.
    const Trace plain = RunCalls(false, calls);
    EXPECT_EQ(std::count_if(plain.events.begin(), plain.events.end(),
                            [](const std::string& e) { return e.rfind("folded ", 0) == 0; }),
              0);
    EXPECT_EQ(ExpectRecordsWhole(plain), 0u);
    EXPECT_GT(plain.files.size(), direct.files.size());
}

// The operations of one resource are carried out as the writer made them: a file
// dropped unfinished is never made, a removal that followed a look at the path happens
// only if something is there when it is carried out, and a record that cannot be
// appended takes its file away again.
TEST(WriteBehind, StagedOperationsAreCarriedOutAsTheWriterMadeThem) {
    ScratchDir dir;
    auto bytes = [](const std::string& text) {
        return Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    StagedFiles staged(1 << 20);
    {
        auto dropped = staged.CreateExclusive(dir / "dropped.bin");
        ASSERT_TRUE((*dropped)->Write({bytes("never")}).ok());
    }
    ASSERT_TRUE(staged.MakeDirectories(dir / "a/b").ok());
    auto kept = staged.CreateExclusive(dir / "a/b/kept.bin");
    ASSERT_TRUE((*kept)->Write({bytes("kept "), bytes("whole")}).ok());
    ASSERT_TRUE(staged.Exists(dir / "a/b/kept.bin")); // looked at when carried out
    ASSERT_TRUE(staged.Remove(dir / "a/b/kept.bin").ok());
    ASSERT_TRUE((*kept)->Close().ok());
    ASSERT_TRUE(staged.Append(dir / "a/index.txt", "line\r\n").ok());
    EXPECT_FALSE(staged.overflowed());
    StagedOperations operations = staged.Take();
    EXPECT_FALSE(stdfs::exists(dir / "a")); // nothing happened yet

    WriteFileText(dir / "elsewhere.txt", "");
    const StagedResult first = CarryOut(RealFileSystem(), operations);
    EXPECT_FALSE(first.error);
    EXPECT_EQ(first.closed, std::vector<std::string>{dir / "a/b/kept.bin"});
    EXPECT_EQ(ReadFileText(dir / "a/b/kept.bin"), "kept whole");
    EXPECT_EQ(ReadFileText(dir / "a/index.txt"), "line\r\n");
    EXPECT_FALSE(stdfs::exists(dir / "dropped.bin"));

    // Again: now the file is there and goes before the new one takes its name.
    const StagedResult again = CarryOut(RealFileSystem(), operations);
    EXPECT_FALSE(again.error);
    EXPECT_EQ(ReadFileText(dir / "a/index.txt"), "line\r\nline\r\n");

    // A record refused: the file it names is taken away again.
    StagedOperations refused;
    refused.operations.push_back({StagedOperations::Kind::Create, dir / "c.bin", 0, {}, {}, {}});
    refused.operations.push_back({StagedOperations::Kind::Close, {}, 0, {}, {}, {}});
    refused.operations.push_back({StagedOperations::Kind::Append, dir / "no/index.txt", 0, {}, "x", dir / "c.bin"});
    const StagedResult undone = CarryOut(RealFileSystem(), refused);
    ASSERT_TRUE(undone.error);
    EXPECT_EQ(undone.error->code, ENOENT);
    EXPECT_TRUE(undone.closed.empty());
    EXPECT_FALSE(stdfs::exists(dir / "c.bin"));

    // Beyond its limit a resource is not kept: it is written directly.
    StagedFiles small(8);
    auto big = small.CreateExclusive(dir / "big.bin");
    EXPECT_FALSE((*big)->Write({bytes("more than eight")}).ok());
    EXPECT_TRUE(small.overflowed());
}

// A folder asked for before each file in it is looked at once: afterwards the writer
// takes it as made. Should it go away, or become a file, the next file in it meets what
// a look would have met: the folder made again, or the same error.
TEST(WriteBehind, AFolderAskedForBeforeEachFileIsLookedAtOnce) {
    ScratchDir dir;
    FailingFileSystem fs;
    KnownFolders known;
    const std::string folder = dir / "Icons/16x16/8/";
    auto oneFile = [&](const std::string& name) {
        StagedFiles staged(1 << 20);
        EXPECT_TRUE(staged.MakeDirectories(folder).ok());
        auto file = staged.CreateExclusive(folder + name);
        const std::uint8_t byte = 7;
        EXPECT_TRUE((*file)->Write({Bytes(&byte, 1)}).ok());
        EXPECT_TRUE((*file)->Close().ok());
        return CarryOut(fs, staged.Take(), &known);
    };
    EXPECT_FALSE(oneFile("a.ico").error);
    EXPECT_FALSE(oneFile("b.ico").error);
    EXPECT_FALSE(oneFile("c.ico").error);
    EXPECT_EQ(fs.makeDirectoriesCalls, 1);

    stdfs::remove_all(dir / "Icons/16x16");
    const StagedResult again = oneFile("d.ico");
    EXPECT_FALSE(again.error);
    EXPECT_EQ(again.closed, std::vector<std::string>{folder + "d.ico"});
    EXPECT_EQ(ReadFileBytes(folder + "d.ico"), ByteVector{7});
    EXPECT_EQ(fs.makeDirectoriesCalls, 2);

    // A file in the folder's place: the folder can't be made, as a look would have found.
    stdfs::remove_all(dir / "Icons/16x16/8");
    WriteFileText(dir / "Icons/16x16/8", "in the way");
    const StagedResult refused = oneFile("e.ico");
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, EEXIST);
    EXPECT_TRUE(refused.closed.empty());

    // A folder asked for before a file elsewhere, or without what the writer knows, is
    // looked at each time.
    stdfs::remove(dir / "Icons/16x16/8");
    EXPECT_FALSE(oneFile("f.ico").error);
    const long calls = fs.makeDirectoriesCalls;
    StagedFiles elsewhere(1 << 20);
    EXPECT_TRUE(elsewhere.MakeDirectories(folder).ok());
    auto file = elsewhere.CreateExclusive(dir / "Icons/16x16/g.ico");
    EXPECT_TRUE((*file)->Close().ok());
    EXPECT_FALSE(CarryOut(fs, elsewhere.Take(), &known).error);
    EXPECT_EQ(fs.makeDirectoriesCalls, calls + 1);
    StagedFiles unknown(1 << 20);
    EXPECT_TRUE(unknown.MakeDirectories(dir / "Other/").ok());
    EXPECT_FALSE(CarryOut(fs, unknown.Take()).error);
    EXPECT_EQ(fs.makeDirectoriesCalls, calls + 2);
    EXPECT_FALSE(known.contains(dir / "Other/"));
}

} // namespace
} // namespace harvix
