// OpenModule on files: what is opened at all, files that must never block, a huge
// sparse module, and real modules when some are installed.
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "module/PeModule.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <numeric>
#include <optional>
#include <thread>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace harvix;
using namespace harvix::modbuilder;
namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "harvix-module-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    [[nodiscard]] std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    fs::path m_path;
};

TEST(OpenModule, ReadsAModuleFile) {
    TempDir dir;
    ModuleBuilder b(Machine::Pe32Plus);
    b.add(ResId::of(ResType::Html), ResId::name("ABOUT.HTM"), 0x409, makeHtml("About", "Text"));
    ASSERT_TRUE(writeFile(dir.file("x.dll"), b.build()).ok());
    auto m = OpenModule(dir.file("x.dll"));
    ASSERT_TRUE(m.ok()) << m.error().message;
    EXPECT_EQ((*m)->load(ResId::of(ResType::Html), ResId::name("ABOUT.HTM")), makeHtml("About", "Text"));
}

TEST(OpenModule, RefusesWhatIsNotARegularModuleFileWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo.dll").c_str(), 0600), 0);
    fs::create_directory(dir.file("folder.dll"));
    ASSERT_TRUE(writeFile(dir.file("empty.dll"), {}).ok());
    const std::string text = "MZ but not much more";
    ASSERT_TRUE(writeFile(dir.file("text.dll"), std::vector<std::uint8_t>(text.begin(), text.end())).ok());
    fs::create_symlink(dir.file("fifo.dll"), dir.file("link-to-fifo.dll"));

    for (const char* name : {"fifo.dll", "folder.dll", "empty.dll", "text.dll", "missing.dll", "link-to-fifo.dll"}) {
        // A FIFO without a writer would block a plain open for reading; run the open
        // aside so that a regression fails the test instead of hanging it.
        std::promise<bool> opened;
        auto pending = opened.get_future();
        std::thread([path = dir.file(name), result = std::move(opened)]() mutable {
            result.set_value(OpenModule(path).ok());
        }).detach();
        ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready) << name << " blocked";
        EXPECT_FALSE(pending.get()) << name;
    }
    auto missing = OpenModule(dir.file("missing.dll"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ErrorKind::NotLoadable);
}

long maxRssKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Small files are read whole and larger ones in parts; on either side of the limit the
// module is the same. The padding after the image is data a module may carry at its end.
TEST(OpenModule, ReadsFilesOnBothSidesOfTheWholeReadLimit) {
    TempDir dir;
    ModuleBuilder b(Machine::Pe32);
    const auto dib = makeDib(16, 16, 24, pictures::gradient());
    b.add(ResId::of(ResType::Bitmap), ResId::number(7), 0x409, dib);
    b.add(ResId::of(ResType::Html), ResId::name("ABOUT.HTM"), 0x409, makeHtml("About", "Text"));
    const std::vector<std::uint8_t> image = b.build();
    constexpr std::size_t kLimit = 256 * 1024;
    for (const std::size_t size : {image.size(), kLimit - 1, kLimit, kLimit + 1, 4 * kLimit}) {
        ASSERT_LE(image.size(), size);
        std::vector<std::uint8_t> bytes = image;
        bytes.resize(size, 0xEE);
        const std::string path = dir.file(std::to_string(size) + ".dll");
        ASSERT_TRUE(writeFile(path, bytes).ok());
        auto m = OpenModule(path);
        ASSERT_TRUE(m.ok()) << size << ": " << m.error().message;
        EXPECT_EQ((*m)->types().size(), 2u) << size;
        EXPECT_EQ((*m)->load(ResId::of(ResType::Bitmap), ResId::number(7)), dib) << size;
        EXPECT_EQ((*m)->load(ResId::of(ResType::Html), ResId::name("ABOUT.HTM")), makeHtml("About", "Text"))
            << size;
    }
}

// Everything a module says, for comparing two ways of opening it.
std::string describe(const Result<std::unique_ptr<IResourceModule>>& m) {
    if (!m)
        return "error";
    std::string text;
    for (const ResId& type : (*m)->types())
        for (const ResId& name : (*m)->names(type)) {
            text += type.toText() + "/" + name.toText() + ":";
            for (const ResLanguage& l : (*m)->languages(type, name))
                text += std::to_string(l.language) + "," + std::to_string(l.size) + ";";
            const auto bytes = (*m)->load(type, name);
            text += std::to_string(bytes.size()) + "=" +
                    std::to_string(std::accumulate(bytes.begin(), bytes.end(), 0u)) + "\n";
        }
    return text;
}

// A file above the whole-read limit is read in parts (headers, resource section, and
// anything outside the section from the file when it is loaded); well-formed or broken,
// it reads as the same bytes held in memory do.
TEST(OpenModule, AFileReadInPartsReadsAsTheWholeImage) {
    TempDir dir;
    std::vector<std::optional<Fault>> cases = {std::nullopt};
    for (Fault f : allFaults())
        cases.emplace_back(f);
    // A resource section held in memory, and one too large for that, whose directory is
    // read in blocks and whose data is read per resource.
    for (const bool largeSection : {false, true})
        for (const auto& fault : cases) {
            ModuleBuilder b(Machine::Pe32Plus);
            b.add(ResId::of(ResType::Bitmap), ResId::number(7), 0x409, makeDib(16, 16, 24, pictures::gradient()));
            b.add(ResId::of(ResType::Html), ResId::name("ABOUT.HTM"), 0x409, makeHtml("About", "Text"));
            b.add(ResId::of(ResType::Html), ResId::name("ABOUT.HTM"), 0x407, makeHtml("Info", "Text"));
            if (largeSection)
                b.add(ResId::of(ResType::Html), ResId::number(9), 0x409, std::vector<std::uint8_t>(300 * 1024, 0x33));
            if (fault)
                b.inject(*fault);
            std::vector<std::uint8_t> bytes = b.build();
            bytes.resize(std::max<std::size_t>(bytes.size(), 300 * 1024), 0xEE);
            const std::string name = (fault ? faultName(*fault) : "well-formed") + std::string(largeSection ? "-large" : "");
            const std::string path = dir.file(name + ".dll");
            ASSERT_TRUE(writeFile(path, bytes).ok());
            EXPECT_EQ(describe(OpenModule(path)), describe(OpenModuleFromBuffer(bytes))) << name;
        }
}

TEST(OpenModule, ReadsResourcesAtTheEndOfAHugeSparseFile) {
    TempDir dir;
    ModuleBuilder b(Machine::Pe32);
    b.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, makeDib(16, 16, 24, pictures::gradient()));
    const std::uint64_t twoGiB = 2ull << 30;
    const std::string path = dir.file("huge.dll");
    if (!writeSparseFile(path, b.buildSplit(twoGiB)).ok())
        GTEST_SKIP() << "cannot write a sparse file here";
    ASSERT_GT(fs::file_size(path), twoGiB);
    const long before = maxRssKb();
    auto m = OpenModule(path);
    ASSERT_TRUE(m.ok()) << m.error().message;
    EXPECT_EQ((*m)->load(ResId::of(ResType::Bitmap), ResId::number(1)), makeDib(16, 16, 24, pictures::gradient()));
    // Only the pages touched are read: far less than the file.
    EXPECT_LT(maxRssKb() - before, 64 * 1024);
}

// A file cut short by someone else while it is open: the resources beyond the new end
// are unreadable, and the program goes on.
TEST(OpenModule, ResourcesOfAFileTruncatedWhileOpenAreUnreadableNotFatal) {
    TempDir dir;
    ModuleBuilder b(Machine::Pe32Plus);
    const std::vector<std::uint8_t> big(256 * 1024, 0x5a);
    b.add(ResId::of(ResType::Html), ResId::number(1), 0x409, big);
    b.add(ResId::of(ResType::Html), ResId::number(2), 0x409, big);
    const std::string path = dir.file("shrinks.dll");
    ASSERT_TRUE(writeFile(path, b.build()).ok());
    auto m = OpenModule(path);
    ASSERT_TRUE(m.ok());
    ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
    EXPECT_TRUE((*m)->load(ResId::of(ResType::Html), ResId::number(2)).empty());
    EXPECT_TRUE((*m)->load(ResId::of(ResType::Html), ResId::number(1)).empty());
    ASSERT_EQ(::truncate(path.c_str(), 0), 0);
    EXPECT_TRUE((*m)->load(ResId::of(ResType::Html), ResId::number(1)).empty());
}

// A module file that ends inside its last resource, whether the reader holds the file
// whole (a small one) or reads the resource from the file (a large one): that resource
// loads as nothing, the one before it whole.
TEST(OpenModule, AResourceCutByTheEndOfTheFileLoadsAsNothing) {
    TempDir dir;
    for (const std::size_t size : {std::size_t{1000}, std::size_t{600 * 1024}}) {
        SCOPED_TRACE(size);
        ModuleBuilder b(Machine::Pe32Plus);
        b.add(ResId::of(ResType::Html), ResId::number(1), 0x409, std::vector<std::uint8_t>(size, 1));
        b.add(ResId::of(ResType::Html), ResId::number(2), 0x409, std::vector<std::uint8_t>(size, 2));
        auto image = b.build();
        const auto end = image.size() - static_cast<std::size_t>(
                                            std::find(image.rbegin(), image.rend(), 2) - image.rbegin());
        image.resize(end - 1);
        const std::string path = dir.file("cut.dll");
        ASSERT_TRUE(writeFile(path, image).ok());
        auto m = OpenModule(path);
        ASSERT_TRUE(m.ok()) << m.error().message;
        EXPECT_EQ((*m)->load(ResId::of(ResType::Html), ResId::number(1)), std::vector<std::uint8_t>(size, 1));
        EXPECT_TRUE((*m)->load(ResId::of(ResType::Html), ResId::number(2)).empty());
    }
}

TEST(OpenModule, ReadsTheInstalledWineModules) {
    std::vector<fs::path> modules;
    std::error_code ec;
    for (const char* root : {"/usr/lib/x86_64-linux-gnu/wine", "/usr/lib/i386-linux-gnu/wine", "/usr/lib/wine"}) {
        if (!fs::is_directory(root, ec))
            continue;
        for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            const auto ext = it->path().extension();
            if (it->is_regular_file(ec) && (ext == ".dll" || ext == ".exe"))
                modules.push_back(it->path());
        }
    }
    if (modules.empty())
        GTEST_SKIP() << "no Wine modules installed";
    std::size_t withResources = 0;
    for (const fs::path& path : modules) {
        auto m = OpenModule(path.string());
        ASSERT_TRUE(m.ok()) << path << ": " << m.error().message;
        const auto types = (*m)->types();
        withResources += types.empty() ? 0u : 1u;
        for (const ResId& type : types)
            for (const ResId& name : (*m)->names(type)) {
                const auto langs = (*m)->languages(type, name);
                ASSERT_FALSE(langs.empty()) << path;
                EXPECT_EQ((*m)->load(type, name).size(), langs.front().size) << path << " " << type.toText();
            }
    }
    EXPECT_GT(withResources, 0u);
}

} // namespace
