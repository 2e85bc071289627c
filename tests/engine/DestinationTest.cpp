#include "extract/Destination.h"

#include "tests/engine/EngineTestSupport.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <locale>
#include <map>
#include <optional>
#include <stdexcept>
#include <filesystem>
#include <gtest/gtest.h>

namespace harvix {
namespace {

using namespace harvix::testing;

KindSwitches Only(std::initializer_list<ResourceKind> kinds) {
    KindSwitches switches{};
    for (ResourceKind kind : kinds)
        switches[static_cast<std::size_t>(KindIndex(kind))] = true;
    return switches;
}

const IndexHeaderInfo kHeader{"/home/u/.wine/drive_c/windows/system32", true, "*.exe;*.dll"};

// The header blocks of an index file: each one empty line, the title, the search, the
// mask, one empty line.
int HeaderBlocks(const std::string& indexText) {
    const auto lines = CrLfLines(indexText);
    int blocks = 0;
    for (std::size_t i = 0; i + 4 < lines.size(); ++i)
        if (lines[i].empty() && lines[i + 1].rfind("Harvix index file of ", 0) == 0 &&
            lines[i + 4].empty())
            ++blocks;
    return blocks;
}

TEST(IndexHeader, FiveLinesEndedByCrLf) {
    const std::string text = IndexHeaderText(kHeader, 0);
    const auto lines = CrLfLines(text);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(text.size(), [&] {
        std::size_t n = 0;
        for (const auto& l : lines)
            n += l.size() + 2;
        return n;
    }());
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1].rfind("Harvix index file of ", 0), 0u);
    EXPECT_GT(lines[1].size(), std::string("Harvix index file of ").size());
    EXPECT_EQ(lines[2], "Search in /home/u/.wine/drive_c/windows/system32 and subfolders");
    EXPECT_EQ(lines[3], "File mask: *.exe;*.dll");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(CrLfLines(IndexHeaderText({"/data", false, "*.ocx"}, 0))[2], "Search in /data");
}

// Sets environment variables for one test and puts the old values back.
class EnvironmentGuard {
public:
    void set(const char* name, const char* value) {
        if (!m_saved.count(name)) {
            const char* old = std::getenv(name);
            m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
        tzset();
    }
    ~EnvironmentGuard() {
        for (const auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        tzset();
    }

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

bool HasLocale(const char* name) {
    try {
        std::locale(std::locale::classic(), name, std::locale::time);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

TEST(IndexHeader, DateAndTimeInTheUsersLocale) {
    if (!HasLocale("de_DE.UTF-8")) {
        // tools/install-deps.sh test generates it; CI must have it.
        if (std::getenv("CI") != nullptr)
            FAIL() << "the locale de_DE.UTF-8 is missing (tools/install-deps.sh test makes it)";
        GTEST_SKIP() << "the locale de_DE.UTF-8 is missing; run tools/install-deps.sh test";
    }
    constexpr std::time_t kWhen = 1796786434; // 9 December 2026, 03:20:34 UTC
    const struct {
        const char* lcAll;
        const char* lcTime;
        const char* lang;
        const char* stamp;
    } cases[] = {
        {nullptr, nullptr, nullptr, "12/09/26 03:20:34"},
        {"de_DE.UTF-8", nullptr, nullptr, "09.12.2026 03:20:34"},
        {"", "de_DE.UTF-8", "C", "09.12.2026 03:20:34"},     // an empty LC_ALL counts as unset
        {nullptr, nullptr, "de_DE.UTF-8", "09.12.2026 03:20:34"},
        {"C", "de_DE.UTF-8", nullptr, "12/09/26 03:20:34"},  // LC_ALL wins
        {"xx_XX.nowhere", nullptr, nullptr, "12/09/26 03:20:34"}, // can't be loaded: C
    };
    for (const auto& c : cases) {
        EnvironmentGuard env;
        env.set("TZ", "UTC");
        env.set("LC_ALL", c.lcAll);
        env.set("LC_TIME", c.lcTime);
        env.set("LANG", c.lang);
        EXPECT_EQ(CrLfLines(IndexHeaderText(kHeader, kWhen))[1],
                  std::string("Harvix index file of ") + c.stamp)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcTime ? c.lcTime : "-") << " "
            << (c.lang ? c.lang : "-");
        // The header's locale is its own: the program's stays the C locale.
        EXPECT_EQ(std::locale().name(), "C");
    }
}

class Prepare : public ::testing::Test {
protected:
    bool Run(const std::string& text, KindSwitches kinds) {
        return PrepareDestination(text, kinds, kHeader, prompt, fs).has_value();
    }
    ScratchDir dir;
    ScriptedPrompt prompt;
    FailingFileSystem fs;
};

TEST_F(Prepare, NewFolderGetsTheChosenKindsOnly) {
    const std::string dest = dir / "out";
    EXPECT_FALSE(Run(dest, Only({ResourceKind::Icon})));
    EXPECT_EQ(ListDir(dest), (std::vector<std::string>{"Icons", "__index.txt"}));
    EXPECT_EQ(ListDir(dest + "/Icons"), std::vector<std::string>{"__index.txt"});
    EXPECT_EQ(HeaderBlocks(ReadFileText(dest + "/__index.txt")), 1);
    EXPECT_EQ(HeaderBlocks(ReadFileText(dest + "/Icons/__index.txt")), 1);
    EXPECT_TRUE(prompt.asked.empty());
    EXPECT_TRUE(prompt.errors.empty());

    // All six, the trailing "/" making no difference.
    const std::string all = dir / "all";
    EXPECT_FALSE(Run(all + "/", KindSwitches{true, true, true, true, true, true}));
    EXPECT_EQ(ListDir(all),
              (std::vector<std::string>{"Animated Cursors", "Bitmaps", "Cursors", "Icons", "Videos",
                                        "Web pages", "__index.txt"}));
}

TEST_F(Prepare, MissingParentOrAFileInTheWayIsAnInvalidFolder) {
    WriteFileText(dir / "file", "x");
    const std::pair<std::string, std::string> cases[] = {
        {dir / "no/such", "no/such cannot be made: its parent folder " + (dir / "no") +
                              " does not exist"},
        {dir / "file", "a file has that name"},
        {dir / "file/sub", "not a folder"},
    };
    for (const auto& [text, why] : cases) {
        ScriptedPrompt p;
        const auto refused = PrepareDestination(text, Only({ResourceKind::Bitmap}), kHeader, p, fs);
        ASSERT_TRUE(refused) << text;
        EXPECT_FALSE(refused->declined);
        const std::string& refusal = refused->reason;
        EXPECT_EQ(p.errors, std::vector<std::string>{kFolderInvalidMessage});
        EXPECT_TRUE(p.asked.empty());
        // The path and the system's reason, for a caller that shows more than the box.
        EXPECT_EQ(refusal.rfind(text, 0), 0u) << refusal;
        ASSERT_EQ(p.shown.size(), 1u);
        EXPECT_EQ(p.shown[0].failure, Failure::InvalidDestination);
        EXPECT_EQ(p.shown[0].detail, refusal);
        EXPECT_NE(refusal.find(why), std::string::npos) << refusal;
    }
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"file"});
}

TEST_F(Prepare, ExistingFolderYesAddsOneHeaderBlockAndMissingFolders) {
    const std::string dest = dir / "out";
    ASSERT_FALSE(Run(dest, Only({ResourceKind::Bitmap})));
    WriteFileText(dest + "/Bitmaps/a.bmp", "keep");

    prompt.answers = {Answer::Yes};
    EXPECT_FALSE(Run(dest, Only({ResourceKind::Bitmap, ResourceKind::Html})));
    EXPECT_EQ(prompt.asked, std::vector<Question>{Question::ContinueIntoExisting});
    EXPECT_EQ(prompt.paths, std::vector<std::string>{dest});
    EXPECT_EQ(HeaderBlocks(ReadFileText(dest + "/__index.txt")), 2);
    EXPECT_EQ(HeaderBlocks(ReadFileText(dest + "/Bitmaps/__index.txt")), 2);
    EXPECT_EQ(HeaderBlocks(ReadFileText(dest + "/Web pages/__index.txt")), 1);
    EXPECT_EQ(ReadFileText(dest + "/Bitmaps/a.bmp"), "keep");
}

TEST_F(Prepare, ExistingFolderNoWritesNothing) {
    prompt.answers = {Answer::No};
    const auto refused =
        PrepareDestination(dir.path() + "/", Only({ResourceKind::Bitmap}), kHeader, prompt, fs);
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->declined);
    EXPECT_TRUE(prompt.errors.empty());
    EXPECT_EQ(prompt.asked, std::vector<Question>{Question::ContinueIntoExisting});
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{});
}

TEST_F(Prepare, EmptyOrBlankTextIsInvalidAndMakesNothing) {
    // Without the check the empty text names the root folder and asks to add to it.
    for (const std::string text : {"", " ", " \t "}) {
        ScriptedPrompt p;
        p.answers = {Answer::Yes};
        const auto refused = PrepareDestination(text, Only({ResourceKind::Bitmap}), kHeader, p, fs);
        ASSERT_TRUE(refused);
        const std::string& refusal = refused->reason;
        EXPECT_EQ(p.errors, std::vector<std::string>{kFolderInvalidMessage});
        EXPECT_TRUE(p.asked.empty());
        EXPECT_NE(refusal.find("no destination folder given"), std::string::npos);
    }
}

TEST_F(Prepare, LaterFailuresArePassedOverExceptAMissingPath) {
    // An index header that can't be written is passed over...
    const std::string dest = dir / "out";
    fs.fail({FailingFileSystem::Rule::Op::Append, "Bitmaps/__index.txt", EACCES});
    EXPECT_FALSE(Run(dest, Only({ResourceKind::Bitmap, ResourceKind::Icon})));
    EXPECT_TRUE(prompt.errors.empty());
    EXPECT_EQ(ListDir(dest + "/Bitmaps"), std::vector<std::string>{});
    EXPECT_EQ(ListDir(dest + "/Icons"), std::vector<std::string>{"__index.txt"});

    // ...but a subfolder that could not be made leaves its index file without a path,
    // and that makes the destination invalid.
    ScriptedPrompt p;
    FailingFileSystem failing;
    failing.fail({FailingFileSystem::Rule::Op::MakeDirectory, "/Icons", EACCES});
    EXPECT_TRUE(PrepareDestination(dir / "out2", Only({ResourceKind::Icon, ResourceKind::Video}),
                                   kHeader, p, failing));
    EXPECT_EQ(p.errors, std::vector<std::string>{kFolderInvalidMessage});
    EXPECT_FALSE(std::filesystem::exists(dir / "out2/Videos"));
}

TEST_F(Prepare, AFolderThatMayNotBeWrittenInIsNamedWithTheSystemsReason) {
    // Each case: what fails, and the name the refusal must begin with. The cause is the
    // destination's own; the missing path of an index file that follows from it is not.
    using Op = FailingFileSystem::Rule::Op;
    struct Case {
        const char* name;
        Op op;
        const char* pathPart;
        int error;
        const char* reason;
    };
    const Case cases[] = {
        {"a", Op::Append, "a/__index.txt", EACCES, "Permission denied"},
        {"b", Op::Append, "b/__index.txt", EROFS, "Read-only file system"},
        {"c", Op::MakeDirectory, "c/Bitmaps", EACCES, "Permission denied"},
        {"d", Op::MakeDirectory, "d/Icons", EROFS, "Read-only file system"},
    };
    for (const Case& c : cases) {
        ScriptedPrompt p;
        FailingFileSystem failing;
        failing.fail({c.op, c.pathPart, c.error});
        const std::string dest = dir / c.name;
        const auto refused = PrepareDestination(
            dest, Only({ResourceKind::Bitmap, ResourceKind::Icon}), kHeader, p, failing);
        ASSERT_TRUE(refused) << c.name;
        const std::string& refusal = refused->reason;
        EXPECT_EQ(p.errors, std::vector<std::string>{kFolderInvalidMessage}) << c.name;
        EXPECT_EQ(refusal.rfind(dest + "/: " + c.reason, 0), 0u) << refusal;
        EXPECT_EQ(refusal.find("does not exist"), std::string::npos) << refusal;
    }

    // An index file of its own that alone may not be written is passed over as before.
    const std::string dest = dir / "e";
    ASSERT_FALSE(Run(dest, Only({ResourceKind::Bitmap})));
    fs.fail({Op::Append, "e/__index.txt", EACCES});
    prompt.answers = {Answer::Yes};
    EXPECT_FALSE(Run(dest, Only({ResourceKind::Bitmap})));
    EXPECT_TRUE(prompt.errors.empty());
}

} // namespace
} // namespace harvix
