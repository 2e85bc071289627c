// Windows Installer packages made by wixl: the Icon and Binary rows, the files of the
// File table out of its cabinets under their directories and long names, the product's
// icon; each member's bytes are the very bytes the package was made from.
#include "container/MsiPackage.h"
#include "sandbox/SyscallFilter.h"
#include "tests/container/MsiTestPackage.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>

#include <filesystem>
#include <map>

using namespace harvix;
using harvix::testing::MsiTestPackage;

namespace {

namespace fs = std::filesystem;

class MsiPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("harvix-msi-test-" + std::to_string(::getpid()));
        fs::remove_all(root);
    }
    void TearDown() override { fs::remove_all(root); }

    // Every member of the package at `path`, read whole, by its path.
    static std::map<std::string, std::vector<std::uint8_t>> members(const fs::path& path,
                                                                    std::vector<ContainerMember>* listed = nullptr) {
        std::map<std::string, std::vector<std::uint8_t>> out;
        auto source = OpenByteSource(path.string());
        EXPECT_TRUE(source.ok());
        if (!source)
            return out;
        const ContainerFormat* format = Containers().identify(*source, path.filename().string());
        EXPECT_NE(format, nullptr);
        if (!format)
            return out;
        EXPECT_EQ(format->name, "Windows Installer");
        auto container = format->open(*source, path.filename().string());
        EXPECT_TRUE(container.ok()) << (container ? "" : container.error().message);
        if (!container)
            return out;
        for (;;) {
            auto member = (*container)->next();
            EXPECT_TRUE(member.ok());
            if (!member || !*member)
                break;
            if (listed)
                listed->push_back(**member);
            if ((*member)->unreadable != Unreadable::None)
                continue;
            auto bytes = (*container)->read(64 << 20);
            EXPECT_TRUE(bytes.ok()) << (*member)->path;
            if (bytes) {
                std::vector<std::uint8_t> whole(bytes->size());
                EXPECT_TRUE(bytes->readAt(0, whole));
                out[(*member)->path] = std::move(whole);
            }
        }
        return out;
    }

    fs::path root;
};

TEST_F(MsiPackageTest, ReadsItsTablesAndTheFilesOfItsCabinet) {
    const MsiTestPackage p = MsiTestPackage::Make(root);
    auto source = OpenByteSource(p.msi.string());
    ASSERT_TRUE(source.ok());
    auto package = MsiPackage::Open(*source);
    ASSERT_TRUE(package.ok()) << package.error().message;
    const MsiPackage& msi = **package;
    EXPECT_EQ(msi.icons(), (std::vector<std::string>{"app.ico", "viewer.exe"}));
    EXPECT_EQ(msi.binaries(), (std::vector<std::string>{"Banner", "Logo"}));
    EXPECT_EQ(msi.productIcon(), "app.ico");
    ASSERT_EQ(msi.files().size(), 2u);
    EXPECT_EQ(msi.files()[0].path, "Viewer App/viewer.exe");
    EXPECT_EQ(msi.files()[1].path, "Viewer App/Library Files/pictures.dll");
    ASSERT_EQ(msi.cabinets().size(), 1u);
    EXPECT_TRUE(msi.cabinets()[0].embedded);
    EXPECT_EQ(*msi.icon("app.ico", 1 << 20), p.icon);
    EXPECT_EQ(msi.icon("app.ico", 10).error().kind, ErrorKind::TooLarge);
    EXPECT_EQ(msi.icon("nothing", 1 << 20).error().kind, ErrorKind::NotFound);
}

TEST_F(MsiPackageTest, ItsMembersAreTheBytesItWasMadeFrom) {
    const MsiTestPackage p = MsiTestPackage::Make(root);
    const auto read = members(p.msi);
    const std::map<std::string, std::vector<std::uint8_t>> expected = {
        {"Icon/app.ico", p.icon},
        {"Icon/viewer.exe", p.program},
        {"Binary/Banner", p.banner},
        {"Binary/Logo", p.png},
        {"Viewer App/viewer.exe", p.program},
        {"Viewer App/Library Files/pictures.dll", p.library},
    };
    EXPECT_EQ(read.size(), expected.size());
    for (const auto& [path, bytes] : expected) {
        ASSERT_TRUE(read.contains(path)) << path;
        EXPECT_EQ(read.at(path), bytes) << path;
    }
}

// A cabinet beside the package is read from the package's folder; one that is missing
// is named as a missing volume, and the package's own rows are read all the same.
TEST_F(MsiPackageTest, ACabinetBesideThePackageIsReadOrNamedWhenMissing) {
    const MsiTestPackage p = MsiTestPackage::Make(root, "app.ico", false);
    ASSERT_TRUE(fs::exists(root / "app.cab"));
    EXPECT_EQ(members(p.msi).at("Viewer App/viewer.exe"), p.program);

    fs::remove(root / "app.cab");
    std::vector<ContainerMember> listed;
    const auto read = members(p.msi, &listed);
    EXPECT_TRUE(read.contains("Icon/app.ico"));
    EXPECT_FALSE(read.contains("Viewer App/viewer.exe"));
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed.back().path, "app.cab");
    EXPECT_EQ(listed.back().unreadable, Unreadable::MissingVolume);
}

// Bytes that begin like a package and are none, and a package cut short, are refused
// or give what they hold, never a crash.
TEST_F(MsiPackageTest, ACompoundFileThatIsNoPackageIsRefused) {
    const MsiTestPackage p = MsiTestPackage::Make(root);
    std::vector<std::uint8_t> head = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    head.resize(4096, 0);
    auto notPackage = MsiPackage::Open(ByteSource::InMemory(std::make_shared<const std::vector<std::uint8_t>>(head)));
    EXPECT_FALSE(notPackage.ok());

    auto whole = OpenByteSource(p.msi.string());
    ASSERT_TRUE(whole.ok());
    const ByteSource half = whole->slice(0, whole->size() / 2);
    auto cut = MsiPackage::Open(half); // read from an in-memory copy: a slice is no whole file
    if (cut.ok())
        for (const std::string& name : (*cut)->icons())
            (void)(*cut)->icon(name, 1 << 20);
}

// A package with one changed byte that kills the Windows Installer library kills only
// the copy of the process that reads it first: it is refused with the reason, and the
// process goes on to read a sound package.
TEST_F(MsiPackageTest, APackageTheLibraryDiesOnIsRefusedWithTheReason) {
    const MsiTestPackage p = MsiTestPackage::Make(root);
    const std::vector<std::uint8_t> damaged = MsiTestPackage::Damaged(p.msi);
    ASSERT_FALSE(damaged.empty()) << "the package has no chain of short sectors to damage";
    auto opened = MsiPackage::Open(ByteSource::InMemory(std::make_shared<const std::vector<std::uint8_t>>(damaged)));
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().kind, ErrorKind::Malformed);
    EXPECT_EQ(opened.error().message, kMsiLibraryFailed);

    auto sound = OpenByteSource(p.msi.string());
    ASSERT_TRUE(sound.ok());
    auto package = MsiPackage::Open(*sound);
    ASSERT_TRUE(package.ok()) << package.error().message;
    EXPECT_EQ((*package)->icon("app.ico", 1 << 20).value(), p.icon);
}

} // namespace

// A package the library goes round in forever ends with the copy's own alarm, also when
// the thread that reads holds the alarm's signal back and under the extraction's
// system-call filter (which lets no process signal another): the package is passed over
// with its reason in about the time given, and a copy that comes through or dies is told
// apart from it.
TEST(MsiPackageTrial, ACopyThatNeverEndsIsEndedByItsTimeUnderTheFilter) {
    const auto tryAll = [] {
        sigset_t alarmOnly;
        sigemptyset(&alarmOnly);
        sigaddset(&alarmOnly, SIGALRM);
        (void)::pthread_sigmask(SIG_BLOCK, &alarmOnly, nullptr);
        const auto start = std::chrono::steady_clock::now();
        const auto forever = ReadPackageInCopy([] {
            volatile unsigned long turn = 0;
            for (;;)
                turn = turn + 1;
        }, 1);
        const auto took = std::chrono::steady_clock::now() - start;
        if (forever != kMsiLibraryTooSlow || took > std::chrono::seconds(20))
            return 20;
        if (ReadPackageInCopy([] {}, 1).has_value())
            return 21;
        if (ReadPackageInCopy([] { std::abort(); }, 1) != kMsiLibraryFailed)
            return 22;
        return 0;
    };
    EXPECT_EQ(tryAll(), 0);

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's build allows every signal call for its runtime";
#endif
    // The same in a process the extraction's filter holds.
    const pid_t tester = ::fork();
    ASSERT_GE(tester, 0);
    if (tester == 0) {
        std::string missing;
        if (LoadSyscallFilter(CallSet::Extracting, missing) == 0)
            ::_exit(10);
        ::_exit(tryAll());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(tester, &status, 0), tester);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
