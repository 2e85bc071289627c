// Each file content written once (ExtractionOptions::unique): copies get records naming
// the file already written, every record names a file that is there, every file has a
// record, and what is written without the option is what was written before.
#include "extract/Destination.h"
#include "extract/UniqueFiles.h"
#include "tests/engine/EngineTestSupport.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace harvix {
namespace {

using namespace harvix::testing;
namespace mb = harvix::modbuilder;
namespace fs = std::filesystem;

// The records of a kind folder: file name -> the sources that name it.
std::map<std::string, std::vector<std::string>> Records(const std::string& folder) {
    std::map<std::string, std::vector<std::string>> records;
    for (const auto& line : CrLfLines(ReadFileText(folder + "/__index.txt"))) {
        const auto cut = line.find(" - SOURCE FILE = ");
        if (cut == std::string::npos)
            continue;
        const auto end = line.find(" RESOURCE TYPE = ", cut + 17);
        records[line.substr(0, cut)].push_back(line.substr(cut + 17, end - cut - 17));
    }
    return records;
}

// Every record names a file that is there, every file has a record, and no two files of
// one folder (the per-size folders included) hold the same bytes.
void ExpectOneCopyEachAndRecordsWhole(const std::string& destination) {
    for (ResourceKind kind : kAllResourceKinds) {
        const std::string folder = destination + "/" + std::string(KindFolder(kind));
        if (!fs::is_directory(folder))
            continue; // a kind not chosen
        std::set<std::string> files;
        for (const auto& name : ListDir(folder))
            if (name != "__index.txt" && fs::is_regular_file(folder + "/" + name))
                files.insert(name);
        std::set<std::string> recorded;
        for (const auto& [name, sources] : Records(folder))
            recorded.insert(name);
        EXPECT_EQ(recorded, files) << folder;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (!entry.is_directory())
                continue;
            std::map<ByteVector, std::string> seen;
            for (const auto& file : fs::directory_iterator(entry.path()))
                if (file.is_regular_file()) {
                    const auto [at, added] = seen.emplace(ReadFileBytes(file.path()), file.path());
                    EXPECT_TRUE(added) << file.path() << " holds the bytes of " << at->second;
                }
        }
    }
}

mb::ModuleBuilder Sample() {
    mb::ModuleBuilder b(mb::Machine::Pe32Plus);
    b.add(ResId::of(ResType::Bitmap), ResId::number(101), 0x409,
          mb::makeDib(32, 32, 8, mb::pictures::gradient()));
    mb::addIconGroup(b, ResId::name("MAIN"), 1, {{16, 16, 8}, {32, 32, 32}},
                     mb::pictures::disc({200, 20, 20, 255}));
    mb::addCursorGroup(b, ResId::number(1), 20, {{32, 32, 1}}, mb::pictures::arrow(), 3, 5);
    b.add(ResId::name("AVI"), ResId::name("CLIP"), 0x409,
          mb::makeAvi(8, 8, 2, 5, [](int f) { return mb::pictures::frame(f, 2); }));
    b.add(ResId::of(ResType::Html), ResId::name("ABOUT.HTM"), 0x409, mb::makeHtml("About", "Hello"));
    return b;
}

// Counts the copies folded, by kind.
class FoldCounter : public IExtractObserver {
public:
    void CopyFolded(ResourceKind kind, const std::string& existing) override {
        ++folded[kind];
        EXPECT_TRUE(fs::exists(existing)) << existing;
    }
    void FileWritten(ResourceKind, const std::string& path) override { written.push_back(path); }
    std::map<ResourceKind, int> folded;
    std::vector<std::string> written;
};

// Written directly (false) and behind the engine (true).
class UniqueRun : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        ASSERT_FALSE(PrepareDestination(dest, KindSwitches{true, true, true, true, true, true},
                                        {"/w", true, "*.dll"}, prompt));
        ASSERT_TRUE(mb::writeFile(dir / "a.dll", Sample().build()));
        ASSERT_TRUE(mb::writeFile(dir / "b.dll", Sample().build()));
    }
    void Start(bool unique) {
        ExtractionOptions options;
        options.destinationFolder = dest;
        options.unique = unique;
        core = std::make_unique<mResCore>(options, prompt, files);
        core->AddObserver(counter);
        if (GetParam())
            core->WriteOnOwnThread();
    }
    // Extracts one module; behind the engine, waits until its files are written and told.
    bool Extract(const std::string& path) {
        const bool failed = core->ExtractFromFile(path, target).failed();
        return (GetParam() && core->Finish().failed()) || failed;
    }

    ScratchDir dir;
    std::string dest = dir / "out";
    ScriptedPrompt prompt;
    FailingFileSystem files;
    CollectingTarget target;
    FoldCounter counter;
    std::unique_ptr<mResCore> core;
};

TEST_P(UniqueRun, ASecondModuleOfTheSameBytesWritesRecordsOnly) {
    Start(true);
    ASSERT_FALSE(Extract(dir / "a.dll"));
    const auto firstFiles = counter.written;
    ASSERT_FALSE(Extract(dir / "b.dll"));
    EXPECT_TRUE(prompt.errors.empty());

    // Every resource is found and recorded, as without the option ...
    EXPECT_EQ(target.found.size(), 10u);
    // ... but nothing of b.dll is a file: its records name a.dll's.
    EXPECT_EQ(counter.written, firstFiles);
    for (ResourceKind kind : {ResourceKind::Bitmap, ResourceKind::Cursor, ResourceKind::Video}) {
        const std::string folder = dest + "/" + std::string(KindFolder(kind));
        const std::string file = "a.dll" + std::string(KindExtension(kind));
        EXPECT_EQ(ListDir(folder), (std::vector<std::string>{"__index.txt", file})) << folder;
        const auto records = Records(folder);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records.at(file),
                  (std::vector<std::string>{dir / "a.dll", dir / "b.dll"})) << folder;
    }
    EXPECT_EQ(Records(dest + "/Web pages").at("a.dll - ABOUT.HTM").size(), 2u);
    // The group and its two per-size files, once each.
    EXPECT_EQ(ListDir(dest + "/Icons"), (std::vector<std::string>{"16x16", "32x32", "__index.txt", "a.dll.ico"}));
    EXPECT_EQ(ListDir(dest + "/Icons/16x16/8"), (std::vector<std::string>{"a.dll.ico"}));
    EXPECT_EQ(counter.folded[ResourceKind::Icon], 3);
    EXPECT_EQ(counter.folded[ResourceKind::Bitmap], 1);
    EXPECT_EQ(counter.folded[ResourceKind::Html], 1);
    ExpectOneCopyEachAndRecordsWhole(dest);
}

TEST_P(UniqueRun, WithoutTheOptionEveryResourceHasItsOwnFile) {
    Start(false);
    ASSERT_FALSE(Extract(dir / "a.dll"));
    ASSERT_FALSE(Extract(dir / "b.dll"));
    EXPECT_TRUE(counter.folded.empty());
    EXPECT_EQ(ListDir(dest + "/Bitmaps"), (std::vector<std::string>{"__index.txt", "a.dll.bmp", "b.dll.bmp"}));
    EXPECT_EQ(ListDir(dest + "/Icons/16x16/8"), (std::vector<std::string>{"a.dll.ico", "b.dll.ico"}));
}

// Within one module: a copy leaves its name free, so the next picture that differs takes
// the name the copy would have had; a picture that differs in one byte is its own file.
TEST_P(UniqueRun, CopiesInOneModuleLeaveTheirNamesFree) {
    mb::ModuleBuilder b(mb::Machine::Pe32Plus);
    const auto dib = mb::makeDib(16, 16, 24, mb::pictures::checker(4));
    auto other = dib;
    other.back() ^= 1;
    b.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, dib);
    b.add(ResId::of(ResType::Bitmap), ResId::number(2), 0x409, dib);
    b.add(ResId::of(ResType::Bitmap), ResId::number(3), 0x409, other);
    b.add(ResId::of(ResType::Bitmap), ResId::number(4), 0x409, dib);
    ASSERT_TRUE(mb::writeFile(dir / "m.dll", b.build()));
    Start(true);
    ASSERT_FALSE(Extract(dir / "m.dll"));
    EXPECT_EQ(target.found.size(), 4u);
    EXPECT_EQ(ListDir(dest + "/Bitmaps"), (std::vector<std::string>{"__index.txt", "m.dll (2).bmp", "m.dll.bmp"}));
    const auto lines = CrLfLines(ReadFileText(dest + "/Bitmaps/__index.txt"));
    std::vector<std::string> named;
    for (const auto& line : lines)
        if (const auto cut = line.find(" - SOURCE FILE = "); cut != std::string::npos)
            named.push_back(line.substr(0, cut) + " " + line.substr(line.rfind(' ') + 1));
    EXPECT_EQ(named, (std::vector<std::string>{"m.dll.bmp 1", "m.dll.bmp 2", "m.dll (2).bmp 3", "m.dll.bmp 4"}));
    ExpectOneCopyEachAndRecordsWhole(dest);
}

// A file whose record could not be appended is removed again; written again after the
// full disk was retried, it is a file of its own, not a copy of the one removed.
TEST_P(UniqueRun, AFileRemovedAfterAFailedRecordIsNoOriginal) {
    files.fail({FailingFileSystem::Rule::Op::Append, "Bitmaps/__index.txt", ENOSPC, 1, 0});
    prompt.answers = {Answer::Retry};
    Start(true);
    ASSERT_FALSE(Extract(dir / "a.dll"));
    EXPECT_EQ(prompt.count(Question::RetryDiskFull), 1u);
    EXPECT_EQ(ListDir(dest + "/Bitmaps"), (std::vector<std::string>{"__index.txt", "a.dll.bmp"}));
    EXPECT_TRUE(counter.folded.empty());
    ASSERT_FALSE(Extract(dir / "b.dll"));
    EXPECT_EQ(Records(dest + "/Bitmaps").at("a.dll.bmp").size(), 2u);
    ExpectOneCopyEachAndRecordsWhole(dest);
}

INSTANTIATE_TEST_SUITE_P(DirectAndBehind, UniqueRun, ::testing::Bool());

// The contents table on its own: a file forgotten is no original any more, files of
// the same bytes in different folders are each written, and the files of a writer whose
// operations were given up (Revoke) are no originals either.
TEST(UniqueFiles, FoldsByFolderAndForgetsRemovedFiles) {
    ScratchDir dir;
    fs::create_directories(dir / "x");
    UniqueContents contents;
    const ByteVector bytes = Filled(100);
    const auto write = [&](const std::string& path) {
        UniqueFiles unique(RealFileSystem(), contents);
        auto file = unique.CreateExclusive(path);
        EXPECT_TRUE(file.ok());
        EXPECT_TRUE((*file)->Write({Bytes(bytes.data(), 40), Bytes(bytes.data() + 40, 60)}).ok());
        EXPECT_TRUE((*file)->Close().ok());
        return unique.SameAs(path);
    };
    EXPECT_EQ(write(dir / "one"), std::nullopt);
    EXPECT_EQ(write(dir / "two"), dir / "one");
    EXPECT_FALSE(fs::exists(dir / "two"));
    EXPECT_EQ(write(dir / "x/three"), std::nullopt);
    {
        UniqueFiles unique(RealFileSystem(), contents);
        EXPECT_TRUE(unique.Remove(dir / "one").ok());
    }
    EXPECT_EQ(write(dir / "four"), std::nullopt);
    EXPECT_EQ(write(dir / "five"), dir / "four");
    {
        UniqueFiles unique(RealFileSystem(), contents);
        auto file = unique.CreateExclusive(dir / "x/six");
        ASSERT_TRUE(file.ok());
        EXPECT_TRUE((*file)->Write({Bytes(bytes.data(), 99)}).ok());
        EXPECT_TRUE((*file)->Close().ok());
        EXPECT_TRUE((*file)->Close().ok()); // a second Close changes nothing
        EXPECT_EQ(unique.Made({dir / "x/six"}), (std::vector<std::string>{dir / "x/six"}));
        EXPECT_EQ(unique.Folded(), 0u);
        unique.Revoke();
    }
    {
        UniqueFiles unique(RealFileSystem(), contents);
        auto file = unique.CreateExclusive(dir / "x/eight");
        ASSERT_TRUE(file.ok());
        EXPECT_TRUE((*file)->Write({Bytes(bytes.data(), 99)}).ok());
        EXPECT_TRUE((*file)->Close().ok());
        EXPECT_EQ(unique.SameAs(dir / "x/eight"), std::nullopt) << "x/six was revoked";
    }
}

} // namespace
} // namespace harvix
