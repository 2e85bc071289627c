// The search page: statistics, animation, the run started from inside the page change,
// its end on the last page, cancel and the engine-error path.
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/modbuilder/WindowsTree.h"
#include "tests/wizard/WizardFixture.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <fstream>

namespace harvix::test {
namespace {

using C = WizardControl;
namespace mb = modbuilder;

// Two bitmaps, one icon group of two images and one web page.
void writeModule(const std::string& path) {
    mb::ModuleBuilder b;
    b.add(ResId::of(ResType::Bitmap), ResId::number(101), 0x0409,
          mb::makeDib(32, 32, 8, mb::pictures::gradient()));
    b.add(ResId::of(ResType::Bitmap), ResId::number(102), 0x0409,
          mb::makeDib(24, 24, 24, mb::pictures::rings()));
    mb::addIconGroup(b, ResId::number(1), 1, {{32, 32, 8}, {16, 16, 8}},
                     mb::pictures::disc({200, 0, 0, 255}));
    b.add(ResId::of(ResType::Html), ResId::name("README.HTM"), 0x0409, mb::makeHtml("Read me", "Hello"));
    ASSERT_TRUE(mb::writeFile(path, b.build()).ok());
}

class WizardRun : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        std::filesystem::create_directories(root + "/modules/sub");
        writeModule(root + "/modules/one.dll");
        writeModule(root + "/modules/sub/two.exe");
        std::ofstream(root + "/modules/notes.txt") << "not a module";
        services.useRealSearch = true;
        services.stored.SearchSystem = false;
        services.stored.SubFolders = true;
    }
};

// The run reads modules with their satellite resource files, and in the language, that
// the settings store: the German web page of a Windows stub's language file, or nothing
// of the stub's satellites with the switch off.
TEST_F(WizardRun, SatellitesAreReadAsTheSettingsSay) {
    auto tree = mb::writeWindowsTree(root + "/disk");
    ASSERT_TRUE(tree.ok()) << tree.error().message;
    services.stored.Folder = std::filesystem::path(tree->stub).parent_path().string();
    services.stored.SubFolders = false;
    services.stored.Mask = "*.dll";
    services.stored.ResTypes = {false, false, false, false, false, true, false};
    services.stored.Language = "de-DE";
    for (const bool read : {true, false}) {
        SCOPED_TRACE(read ? "satellites read" : "satellites off");
        services.stored.Satellites = read;
        services.stored.DestPath = root + (read ? "/with" : "/without");
        load();
        goTo(4);
        wizard->cmdNext_Click();
        ASSERT_EQ(wizard->CurrentPage(), 6);
        const std::string index = ReadText(services.stored.DestPath + "/Web pages/__index.txt");
        EXPECT_EQ(index.find("SOURCE FILE = " + tree->german) != std::string::npos, read) << index;
        EXPECT_EQ(index.find("SOURCE FILE = " + tree->english), std::string::npos) << index;
    }
}

TEST_F(WizardRun, FolderRunFromFinishToLastPage) {
    services.stored.Priority = 2;
    load();
    goTo(4);
    wizard->cmdNext_Click(); // "Finish"

    // The run ended on the last page, nested in the change to page 5.
    EXPECT_EQ(wizard->CurrentPage(), 6);
    EXPECT_EQ(view.visiblePage(), 6);
    EXPECT_EQ(wizard->Run()->End(), RunEnd::Completed);
    EXPECT_EQ(view.caption(), "Harvix");
    EXPECT_EQ(view.text(C::cmdCancel), "&Close");
    EXPECT_TRUE(view.closeCommandRemoved);
    EXPECT_EQ(services.priorities, std::vector<std::int16_t>{2});

    // One row per kind, all six chosen; counts of both modules.
    ASSERT_EQ(view.stats.size(), 6u);
    EXPECT_EQ(view.statsAutoSized, 1);
    EXPECT_EQ(view.statsCount("BITMAP"), "4");
    EXPECT_EQ(view.statsCount("ICON"), "2");
    EXPECT_EQ(view.statsCount("HTML"), "2");
    EXPECT_EQ(view.statsCount("CURSOR"), "0");

    // The outputs and one record per output in each kind's index file.
    const std::string dest = root + "/Resources/";
    std::size_t bitmaps = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dest + "Bitmaps"))
        bitmaps += entry.path().extension() == ".bmp";
    EXPECT_EQ(bitmaps, 4u);
    const std::string bitmapIndex = ReadText(dest + "Bitmaps/__index.txt");
    EXPECT_EQ(std::count(bitmapIndex.begin(), bitmapIndex.end(), '\n'), 5 + 4);

    // The progress went to the caption in rising even percentages, following the files
    // handled, so the last one brings 100 %.
    ASSERT_GE(view.captions.size(), 2u);
    EXPECT_EQ(view.captions.back(), "Harvix");
    int last = 0;
    for (std::size_t i = 0; i + 1 < view.captions.size(); ++i) {
        int percent = -1;
        ASSERT_EQ(std::sscanf(view.captions[i].c_str(), "Harvix - %d%% completed", &percent), 1);
        EXPECT_EQ(percent % 2, 0);
        EXPECT_GT(percent, last);
        last = percent;
    }
    EXPECT_TRUE(view.isVisible(C::l3dProgressBack));
    EXPECT_EQ(last, 100);
    EXPECT_EQ(view.value(C::prbProgress), 50);

    // The animation's file existed while the page was shown and is gone after it.
    EXPECT_EQ(services.clipRequests, std::vector<std::string>{"FINDFILES"});
    const std::string anim = wizard->AnimTempFile();
    EXPECT_EQ(view.animationPath, anim);
    EXPECT_TRUE(view.animationPlaying);
    EXPECT_EQ(std::filesystem::path(anim).parent_path(), services.tempFolder);
    const std::string name = std::filesystem::path(anim).filename();
    EXPECT_EQ(name.substr(0, 3), "ifr");
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
    EXPECT_FALSE(std::filesystem::exists(anim));

    // "Show resources", then "Close" saves and ends.
    wizard->cmdShowFolder_Click();
    EXPECT_EQ(view.openedFolders, std::vector<std::string>{root + "/Resources"});
    // No browser could be started: the message names the folder.
    ASSERT_TRUE(view.openFailed);
    view.openFailed();
    ASSERT_EQ(prompt.errors.size(), 1u);
    EXPECT_EQ(prompt.errors[0], "The folder \"" + root +
                                    "/Resources\" could not be opened.\r\nNo file browser could "
                                    "be started for it.");
    prompt.errors.clear();
    EXPECT_FALSE(wizard->Form_QueryClose()); // the window's own close stays refused
    EXPECT_EQ(view.closed, 0);
    wizard->cmdCancel_Click();
    EXPECT_TRUE(prompt.questions.empty());
    EXPECT_EQ(view.closed, 1);
    EXPECT_EQ(services.saves, 1);
    EXPECT_EQ(services.stored.Priority, 2);
}

TEST_F(WizardRun, LastPageSaysWhatTheRunDidAndWhatItPassedOver) {
    mb::ModuleBuilder b;
    b.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x0409, mb::makeDib(8, 8, 8, mb::pictures::rings()));
    b.add(ResId::of(ResType::Bitmap), ResId::number(2), 0x0409, std::vector<std::uint8_t>{7, 0, 0, 0, 1});
    b.add(ResId::of(ResType::Html), ResId::name("EMPTY.HTM"), 0x0409, std::vector<std::uint8_t>{});
    ASSERT_TRUE(mb::writeFile(root + "/modules/odd.dll", b.build()).ok());
    load();
    goTo(4);
    EXPECT_EQ(view.text(C::lblSummary), "");
    wizard->cmdNext_Click();
    ASSERT_EQ(wizard->CurrentPage(), 6);
    // The counts of the search page stay on the last one, with what was passed over.
    std::string summary = view.text(C::lblSummary);
    for (std::size_t at = summary.find("\u00A0"); at != std::string::npos;
         at = summary.find("\u00A0"))
        summary.replace(at, 2, " "); // the no-break spaces that keep a count on its line
    EXPECT_EQ(summary,
              "Files written: Bitmap 4, Icon 2, Cursor 0, Animated cursor 0, Video (AVI) 0, "
              "Web page 2.\n"
              "Left out by the limits: Bitmap 1.\n"
              "The limits are set on the \"Resource types\" page: widen them there in another "
              "run to take these too.\n"
              "Not well formed: Bitmap 1.\n"
              "Empty or missing: Web page 1.");
}

// The check box on the page before the run: off at first (every resource its own file);
// checked, the second module of the same pictures adds records only, and the last page
// says how many copies were not written again.
TEST_F(WizardRun, EachPictureOnceWhenChosenBeforeTheRun) {
    load();
    goTo(4);
    EXPECT_FALSE(view.isChecked(C::chkUnique));
    view.setChecked(C::chkUnique, true);
    wizard->cmdNext_Click();
    ASSERT_EQ(wizard->CurrentPage(), 6);
    std::string summary = view.text(C::lblSummary);
    for (std::size_t at = summary.find("\u00A0"); at != std::string::npos;
         at = summary.find("\u00A0"))
        summary.replace(at, 2, " ");
    EXPECT_EQ(summary,
              "Files written: Bitmap 4, Icon 2, Cursor 0, Animated cursor 0, Video (AVI) 0, "
              "Web page 2.\n"
              "Copies not written again (a file written earlier holds the same bytes): Bitmap 2, "
              "Icon 3, Web page 1.");
    std::vector<std::string> bitmaps;
    for (const auto& entry : std::filesystem::directory_iterator(root + "/Resources/Bitmaps"))
        bitmaps.push_back(entry.path().filename().string());
    EXPECT_EQ(bitmaps.size(), 3u); // two files and the index
}

TEST_F(WizardRun, ARelativeDestinationIsOpenedAsAWholePath) {
    // The destination as typed, relative to the folder the program started in.
    const auto started = std::filesystem::current_path();
    std::filesystem::current_path(root);
    services.stored.DestPath = "./Resources";
    load();
    goTo(4);
    wizard->cmdNext_Click();
    ASSERT_EQ(wizard->CurrentPage(), 6);
    wizard->cmdShowFolder_Click();
    std::filesystem::current_path(started);
    EXPECT_EQ(view.openedFolders, std::vector<std::string>{root + "/Resources"});
    EXPECT_TRUE(std::filesystem::exists(root + "/Resources/Bitmaps/__index.txt"));
}

TEST_F(WizardRun, StatisticsListShowsChosenKindsOnly) {
    services.stored.ResTypes = {false, true, false, false, false, true};
    load();
    goTo(4);
    wizard->cmdNext_Click();
    ASSERT_EQ(view.stats.size(), 2u);
    EXPECT_EQ(view.stats[0].text, "Icon");
    EXPECT_EQ(view.stats[0].icon, 2);
    EXPECT_EQ(view.stats[1].text, "Web page");
    EXPECT_EQ(view.stats[1].icon, 6);
    EXPECT_EQ(view.stats[0].count, "2");
    EXPECT_FALSE(std::filesystem::exists(root + "/Resources/Bitmaps"));
}

// A folder searched without its subfolders shows its progress as a tree does: its files
// are counted first (here one module and a text file the mask leaves out).
TEST_F(WizardRun, FlatFolderRunShowsItsProgressToo) {
    services.stored.SubFolders = false;
    load();
    goTo(4);
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 6);
    EXPECT_TRUE(view.isVisible(C::l3dProgressBack));
    EXPECT_EQ(view.value(C::prbProgress), 50);
    EXPECT_EQ(view.captions, (std::vector<std::string>{"Harvix - 100% completed", "Harvix"}));
    EXPECT_EQ(wizard->Run()->TotalFiles(), 1);
    EXPECT_EQ(view.statsCount("BITMAP"), "2");
    EXPECT_EQ(view.statusTexts.front(),
              "Please wait while Harvix is looking for resources.\r\nInitializing...");
    EXPECT_EQ(view.text(C::lblStatus), "Please wait while Harvix is looking for resources.\r\n");
}

TEST_F(WizardRun, EngineErrorEndsTheProgram) {
    load();
    goTo(4);
    // An index file that cannot be written to stops the engine at the first bitmap.
    std::filesystem::remove(root + "/Resources/Bitmaps/__index.txt");
    std::filesystem::create_directory(root + "/Resources/Bitmaps/__index.txt");
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->Run()->End(), RunEnd::Failed);
    ASSERT_FALSE(prompt.errors.empty());
    EXPECT_EQ(prompt.errors.back(),
              "An error has occurred during the search.\r\nHarvix will now close.");
    EXPECT_FALSE(view.isEnabled(C::cmdCancel));
    EXPECT_FALSE(view.animationPlaying);
    EXPECT_EQ(services.clock.slept, 1500u);
    EXPECT_EQ(view.closed, 1);
    EXPECT_EQ(services.saves, 1);
    EXPECT_EQ(wizard->CurrentPage(), 5);
    EXPECT_FALSE(std::filesystem::exists(wizard->AnimTempFile()));
}

class WizardCancel : public WizardTest {};

TEST_F(WizardCancel, AnsweredNoTheRunGoesOnAnsweredYesItEnds) {
    services.stored.SearchSystem = false;
    services.stored.SubFolders = false;
    for (int i = 1; i <= 30; ++i)
        services.scripted.hits.push_back({root + "/f" + std::to_string(i) + ".dll", 0});
    load();
    goTo(4);
    services.scripted.beforeHit = [&](std::int32_t file) {
        // The user presses Cancel just before the 10th and the 20th file; the run asks
        // before it handles that file.
        if (file == 20) {
            EXPECT_EQ(view.closed, 0); // No changed nothing
            EXPECT_TRUE(view.isEnabled(C::cmdCancel));
        }
        if (file == 10 || file == 20) {
            prompt.answers = {file == 10 ? Answer::No : Answer::Yes};
            wizard->cmdCancel_Click();
        }
    };
    wizard->cmdNext_Click();
    ASSERT_EQ(prompt.questions.size(), 2u);
    EXPECT_EQ(prompt.questions[0], "Are you sure you want to cancel the search?");
    EXPECT_EQ(wizard->Run()->End(), RunEnd::Cancelled);
    EXPECT_TRUE(wizard->Run()->CancelRequested());
    EXPECT_FALSE(view.isEnabled(C::cmdCancel));
    EXPECT_EQ(services.saves, 1);
    EXPECT_EQ(view.closed, 1);
    // The program ended on page 5, without a move to page 6; the clip's file went
    // with it.
    EXPECT_EQ(wizard->CurrentPage(), 5);
    ASSERT_FALSE(wizard->AnimTempFile().empty());
    EXPECT_FALSE(std::filesystem::exists(wizard->AnimTempFile()));
}

// Cancel pressed while a module of thousands of bitmaps is written, and answered Yes:
// nothing more is written or recorded, from that module or the next. (The files are
// written behind the engine: what it had prepared when the question came is written
// before the question is asked, and counted.)
TEST_F(WizardCancel, YesInsideAModuleStopsItsWritingAtOnce) {
    mb::ModuleBuilder b;
    for (std::uint16_t id = 1; id <= 2000; ++id)
        b.add(ResId::of(ResType::Bitmap), ResId::number(id), 0x0409,
              mb::makeDib(16, 16, 24, mb::pictures::rings()));
    const std::vector<std::uint8_t> module = b.build();
    for (const char* name : {"/modules/many.dll", "/modules/more.dll"})
        ASSERT_TRUE(mb::writeFile(root + name, module).ok());
    services.useRealSearch = true;
    services.stored.SearchSystem = false;
    services.stored.SubFolders = false;
    services.stored.ResTypes = {true, false, false, false, false, false};
    load();
    goTo(4);
    const std::string bitmaps = root + "/Resources/Bitmaps";
    auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(bitmaps))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    int counts = 0;
    std::vector<std::string> atQuestion;
    prompt.onAsk = [&](harvix::testing::Question) { atQuestion = listing(); };
    view.onStatsCount = [&] {
        if (++counts == 1) { // the first bitmap written: the user presses Cancel
            prompt.answers = {Answer::Yes};
            wizard->cmdCancel_Click();
        }
    };
    wizard->cmdNext_Click();

    EXPECT_EQ(prompt.asked, std::vector<testing::Question>{testing::Question::ConfirmCancel});
    EXPECT_EQ(wizard->Run()->End(), RunEnd::Cancelled);
    EXPECT_EQ(view.closed, 1);
    const std::vector<std::string> written = listing();
    EXPECT_EQ(written, atQuestion);
    ASSERT_GE(written.size(), 2u);
    EXPECT_EQ(written[0], "__index.txt");
    const int files = static_cast<int>(written.size()) - 1;
    EXPECT_LT(files, 2000); // stopped inside the first module
    EXPECT_EQ(wizard->Run()->Stats().countOf(0), files);
    std::istringstream index(ReadText(bitmaps + "/__index.txt"));
    int records = 0;
    for (std::string line; std::getline(index, line);)
        records += line.find(".bmp") != std::string::npos ? 1 : 0;
    EXPECT_EQ(records, files);
}

TEST_F(WizardCancel, AllDrivesRunCountsFirstWithCancelDisabled) {
    services.scripted.total = {4, 3};
    services.scripted.hits = {{"/a.dll", 1}, {"/b.dll", 2}, {"/c.dll", 4}};
    load();
    goTo(4);
    wizard->cmdNext_Click();
    ASSERT_EQ(services.scripted.countCalls.size(), 1u);
    EXPECT_TRUE(services.scripted.countCalls[0].first);
    EXPECT_EQ(services.scripted.searches, std::vector<std::string>{"all|*.exe;*.dll"});
    ASSERT_GE(view.statusTexts.size(), 2u);
    EXPECT_EQ(view.statusTexts[0],
              "Please wait while Harvix is looking for resources.\r\nInitializing...");
    EXPECT_EQ((std::vector<std::string>(view.captions.begin(), view.captions.end() - 1)),
              (std::vector<std::string>{"Harvix - 34% completed", "Harvix - 66% completed",
                                        "Harvix - 100% completed"}));
}

TEST_F(WizardTest, AnimationWithoutTemporaryFolderIsSkipped) {
    services.tempFolder = "";
    load();
    EXPECT_EQ(wizard->LoadAnim("FINDFILES"), "");
    services.tempFolder = root + "/missing";
    EXPECT_EQ(wizard->LoadAnim("FINDFILES"), "");
    EXPECT_EQ(view.animationPath, "");
    services.tempFolder = root + "/tmp";
    const std::string path = wizard->LoadAnim("FINDFILES");
    EXPECT_EQ(view.animationPath, path);
    EXPECT_EQ(ReadText(path), std::string(services.clip.begin(), services.clip.end()));
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // Two clips never share a file.
    EXPECT_NE(wizard->LoadAnim("FINDFILES"), path);
}

} // namespace
} // namespace harvix::test
