// `harvix PATH`: the wizard started on a folder or a file (a file manager's "Open with
// Harvix"), what it searches then, and what it stores when it closes.
#include "app/wizard/StartChoice.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tests/wizard/WizardFixture.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace harvix::test {
namespace {

using C = WizardControl;
namespace fs = std::filesystem;
namespace mb = modbuilder;

void writeModule(const std::string& path, std::uint16_t bitmaps) {
    mb::ModuleBuilder b;
    for (std::uint16_t i = 1; i <= bitmaps; ++i)
        b.add(ResId::of(ResType::Bitmap), ResId::number(i), 0x0409, mb::makeDib(16, 16, 8, mb::pictures::gradient()));
    ASSERT_TRUE(mb::writeFile(path, b.build()).ok());
}

TEST_F(WizardTest, StartPathsAreTakenAsAUserMeansThem) {
    fs::create_directories(root + "/modules/sub");
    std::ofstream(root + "/modules/app.exe") << "MZ";
    std::ofstream(root + "/modules/odd;name.dll") << "MZ";
    fs::create_symlink(root + "/modules/app.exe", root + "/modules/link.exe");
    ASSERT_EQ(::mkfifo((root + "/modules/pipe.exe").c_str(), 0600), 0);
    const std::string m = root + "/modules";
    const struct {
        std::string path;
        std::string current;
        std::string folder;
        std::optional<std::string> mask;
    } cases[] = {
        {m, "/", m, std::nullopt},
        {m + "/sub/", "/", m + "/sub", std::nullopt},
        {"sub/..", m, m, std::nullopt},
        {"./app.exe", m, m, "app.exe"},
        {m + "/sub/../app.exe", "/", m, "app.exe"},
        {m + "/odd;name.dll", "/", m, "odd?name.dll"}, // ";" would split the mask
        {m + "/link.exe", "/", m, "link.exe"},          // the link's own name
        {"/", "/tmp", "/", std::nullopt},
    };
    for (const auto& c : cases) {
        auto choice = StartChoiceForPath(c.path, c.current);
        ASSERT_TRUE(choice.ok()) << c.path << ": " << choice.error().message;
        EXPECT_EQ(choice->folder, c.folder) << c.path;
        EXPECT_EQ(choice->mask, c.mask) << c.path;
    }
    const struct {
        std::string path;
        const char* message;
    } refused[] = {
        {m + "/missing.exe", "/missing.exe: No such file or directory"},
        {"", "an empty path"},
        {m + "/pipe.exe", "/pipe.exe: neither a folder nor a file"},
        {m + "/app.exe/x", "/app.exe/x: Not a directory"},
    };
    for (const auto& r : refused) {
        auto choice = StartChoiceForPath(r.path, "/");
        ASSERT_FALSE(choice.ok()) << r.path;
        EXPECT_NE(choice.error().message.find(r.message), std::string::npos) << choice.error().message;
    }
}

class WizardStart : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        fs::create_directories(root + "/modules/sub");
        fs::create_directories(root + "/elsewhere");
        writeModule(root + "/modules/one.dll", 1);
        writeModule(root + "/modules/two.dll", 2);
        writeModule(root + "/modules/sub/one.dll", 4);
        services.useRealSearch = true;
        services.stored.SearchSystem = true;
        services.stored.Folder = root + "/elsewhere";
        services.stored.SubFolders = true;
        services.stored.Mask = "*.exe;*.dll";
    }
    void startWith(const std::string& path) {
        auto choice = StartChoiceForPath(path, "/");
        ASSERT_TRUE(choice.ok()) << choice.error().message;
        wizard = std::make_unique<WizardLogic>(view, prompt, services);
        wizard->ChooseAtStart(*choice);
        wizard->Form_Load();
    }
    void runToTheEnd() {
        goTo(4);
        wizard->cmdNext_Click(); // "Finish"
        ASSERT_EQ(wizard->CurrentPage(), kFinishedPage);
    }
};

TEST_F(WizardStart, OnAFolderSearchesItWithTheStoredMaskAndKeepsTheStoredChoiceForLater) {
    startWith(root + "/modules");
    EXPECT_EQ(wizard->CurrentPage(), 0); // the wizard opens as always
    goTo(1);
    EXPECT_TRUE(view.isChecked(C::optSearchFolder));
    EXPECT_TRUE(view.isEnabled(C::txtFolder));
    EXPECT_EQ(view.text(C::txtFolder), root + "/modules");
    EXPECT_EQ(view.text(C::txtMask), "*.exe;*.dll");
    EXPECT_TRUE(view.isChecked(C::chkSubFolders));
    runToTheEnd();
    EXPECT_EQ(view.statsCount("BITMAP"), "7"); // one.dll, two.dll and sub/one.dll
    wizard->cmdCancel_Click(); // "Close"
    ASSERT_EQ(services.saves, 1);
    // What the start chose was for this start: the stored search stays as it was.
    EXPECT_TRUE(services.stored.SearchSystem);
    EXPECT_EQ(services.stored.Folder, root + "/elsewhere");
    EXPECT_EQ(services.stored.Mask, "*.exe;*.dll");
    EXPECT_TRUE(services.stored.SubFolders);
}

TEST_F(WizardStart, OnAFileReadsThatFileAloneAndStoresOnlyWhatTheUserChanged) {
    startWith(root + "/modules/two.dll");
    goTo(1);
    EXPECT_TRUE(view.isChecked(C::optSearchFolder));
    EXPECT_EQ(view.text(C::txtFolder), root + "/modules");
    EXPECT_EQ(view.text(C::txtMask), "two.dll");
    EXPECT_FALSE(view.isChecked(C::chkSubFolders));
    // The user widens the mask; that is stored, the rest of the start's choice is not.
    view.setText(C::txtMask, "*.dll");
    runToTheEnd();
    EXPECT_EQ(view.statsCount("BITMAP"), "3"); // one.dll and two.dll, not sub/
    wizard->cmdCancel_Click();
    EXPECT_TRUE(services.stored.SearchSystem);
    EXPECT_EQ(services.stored.Folder, root + "/elsewhere");
    EXPECT_TRUE(services.stored.SubFolders);
    EXPECT_EQ(services.stored.Mask, "*.dll");
}

TEST_F(WizardStart, OnAFileWithoutChangesRunsOneModule) {
    startWith(root + "/modules/two.dll");
    runToTheEnd();
    EXPECT_EQ(view.statsCount("BITMAP"), "2");
    const std::string index = ReadText(root + "/Resources/Bitmaps/__index.txt");
    EXPECT_NE(index.find("two.dll"), std::string::npos);
    EXPECT_EQ(index.find("one.dll"), std::string::npos);
}

} // namespace
} // namespace harvix::test
