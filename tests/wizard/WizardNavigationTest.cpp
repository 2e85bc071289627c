// Pages, buttons, the checks that keep the user on a page, and the settings that each
// page takes and gives back.
#include "tests/wizard/WizardFixture.h"

#include <fstream>

namespace harvix::test {
namespace {

using C = WizardControl;

TEST_F(WizardTest, LoadFillsTitlesAndListButChangesNoPage) {
    load();
    EXPECT_EQ(services.loads, 1);
    EXPECT_EQ(wizard->CurrentPage(), 0);
    EXPECT_EQ(view.visiblePage(), 0);
    ASSERT_EQ(wizard->PageTitles().size(), 7u);
    EXPECT_EQ(wizard->PageTitles()[0], "");
    EXPECT_EQ(wizard->PageTitles()[5], "Search in progress...");
    EXPECT_EQ(wizard->PageSubTitles()[4], "Harvix is ready for the search.");
    EXPECT_EQ(wizard->PageSubTitles()[6], "");
    ASSERT_EQ(view.rows.size(), 7u);
    const char* keys[] = {"BITMAP", "ICON", "CURSOR", "ANICURSOR", "VIDEO", "HTML", "IMAGE"};
    const char* texts[] = {"Bitmap",      "Icon",     "Cursor", "Animated cursor",
                           "Video (AVI)", "Web page", "Image"};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(view.rows[i].key, keys[i]);
        EXPECT_EQ(view.rows[i].text, texts[i]);
        EXPECT_EQ(view.rows[i].icon, static_cast<int>(i) + 1);
    }
    EXPECT_EQ(view.row("BITMAP").sub[1] + ";" + view.row("BITMAP").sub[2] + ";" +
                  view.row("BITMAP").sub[3],
              "8-32;0-3000;16-48");
    EXPECT_EQ(view.row("ICON").sub[1] + ";" + view.row("ICON").sub[2] + ";" +
                  view.row("ICON").sub[3],
              "8-32;16-32;16-32");
    EXPECT_EQ(view.row("CURSOR").sub[1], "");
    EXPECT_EQ(view.row("IMAGE").sub[1], "");
}

// What every page shows when it is reached by Next.
struct PageState {
    int page;
    bool backEnabled, nextEnabled;
    const char* nextCaption;
    bool header, watermark;
    const char* title;
    C returnKey; // the button Return presses
};

class PageStates : public WizardTest, public ::testing::WithParamInterface<PageState> {};

TEST_P(PageStates, ButtonsHeaderAndFrame) {
    const PageState& s = GetParam();
    auto check = [&] {
        EXPECT_EQ(wizard->CurrentPage(), s.page);
        EXPECT_EQ(view.visiblePage(), s.page);
        EXPECT_EQ(view.isEnabled(C::cmdBack), s.backEnabled);
        EXPECT_EQ(view.isEnabled(C::cmdNext), s.nextEnabled);
        EXPECT_EQ(view.text(C::cmdNext), s.nextCaption);
        EXPECT_EQ(view.isVisible(C::fraScreenHdr), s.header);
        EXPECT_EQ(view.isVisible(C::fraWatermark), s.watermark);
        EXPECT_EQ(view.text(C::lblScrnTitle), s.title);
        EXPECT_EQ(view.defaultButton, s.returnKey);
        EXPECT_EQ(view.lockDepth, 0);
    };
    load();
    if (s.page == 5) {
        // The run ends by moving on to page 6; page 5 is seen from inside the run, at
        // its tenth file.
        services.scripted.hits.assign(10, {root + "/not-a-module.dll", 0});
        bool seen = false;
        services.scripted.beforeHit = [&](std::int32_t file) {
            if (file != 10)
                return;
            check();
            EXPECT_TRUE(view.closeCommandRemoved);
            seen = true;
        };
        goTo(4);
        wizard->cmdNext_Click();
        EXPECT_TRUE(seen);
        EXPECT_EQ(wizard->CurrentPage(), 6);
        return;
    }
    goTo(s.page);
    check();
}

INSTANTIATE_TEST_SUITE_P(
    Wizard, PageStates,
    ::testing::Values(
        PageState{1, true, true, "&Next >", true, false, "Search mode", C::cmdNext},
        PageState{2, true, true, "&Next >", true, false, "Resource types", C::cmdNext},
        PageState{3, true, true, "&Next >", true, false, "Destination", C::cmdNext},
        PageState{4, true, true, "&Finish", true, false, "Ready", C::cmdNext},
        // Next is off during the run: Return presses nothing.
        PageState{5, false, false, "&Finish", true, false, "Search in progress...", C::cmdNext},
        PageState{6, false, false, "&Finish", false, true, "", C::cmdCancel}));

TEST_F(WizardTest, BackToWelcomePageHidesHeaderAndDisablesBack) {
    load();
    goTo(2);
    wizard->cmdBack_Click();
    wizard->cmdBack_Click();
    EXPECT_EQ(wizard->CurrentPage(), 0);
    EXPECT_EQ(view.visiblePage(), 0);
    EXPECT_FALSE(view.isVisible(C::fraScreenHdr));
    EXPECT_FALSE(view.isEnabled(C::cmdBack));
    // Back from the first page is no page at all: nothing changes.
    wizard->ShowPage(-1);
    EXPECT_EQ(wizard->CurrentPage(), 0);
    EXPECT_EQ(view.visiblePage(), 0);
}

TEST_F(WizardTest, FirstPageFollowsSettingsAndOptionsDriveFolderControls) {
    services.stored.SearchSystem = false;
    services.stored.SubFolders = false;
    services.stored.Priority = 4;
    load();
    goTo(1);
    EXPECT_TRUE(view.isChecked(C::optSearchFolder));
    EXPECT_FALSE(view.isChecked(C::optSearchSystem));
    EXPECT_TRUE(view.isEnabled(C::txtFolder));
    EXPECT_TRUE(view.isEnabled(C::cmdBrowse));
    EXPECT_TRUE(view.isEnabled(C::chkSubFolders));
    EXPECT_FALSE(view.isChecked(C::chkSubFolders));
    EXPECT_EQ(view.text(C::txtFolder), root + "/modules");
    EXPECT_EQ(view.text(C::txtMask), "*.exe;*.dll");
    EXPECT_EQ(view.value(C::sldAccel), 4);
    EXPECT_EQ(view.text(C::lblPriority), "High priority");

    view.setChecked(C::optSearchSystem, true);
    wizard->optSearchSystem_Click();
    EXPECT_FALSE(view.isEnabled(C::txtFolder));
    EXPECT_FALSE(view.isEnabled(C::cmdBrowse));
    EXPECT_FALSE(view.isEnabled(C::chkSubFolders));
}

TEST_F(WizardTest, MissingSearchFolderKeepsUserOnFirstPageEitherWay) {
    services.stored.SearchSystem = false;
    load();
    goTo(1);
    for (const std::string& folder : {root + "/nowhere", std::string(), root + "/tmp/../nowhere"}) {
        for (bool back : {false, true}) {
            prompt.errors.clear();
            view.focus.reset();
            view.setText(C::txtFolder, folder);
            back ? wizard->cmdBack_Click() : wizard->cmdNext_Click();
            EXPECT_EQ(wizard->CurrentPage(), 1) << folder;
            EXPECT_EQ(view.visiblePage(), 1);
            ASSERT_EQ(prompt.errors.size(), 1u);
            EXPECT_EQ(prompt.errors[0],
                      "The folder could not be found.\r\nPlease specify a valid folder.");
            EXPECT_EQ(view.focus, C::txtFolder);
            // What was typed is stored all the same.
            EXPECT_EQ(wizard->Settings().Folder, folder);
        }
    }
    // A file is not a folder either.
    std::ofstream(root + "/plain.txt") << "x";
    view.setText(C::txtFolder, root + "/plain.txt");
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 1);
}

TEST_F(WizardTest, AllDrivesModeStoresButNeverChecksTheFolder) {
    load();
    goTo(1);
    view.setText(C::txtFolder, root + "/nowhere");
    view.setChecked(C::chkSubFolders, false);
    view.setText(C::txtMask, "  *.ocx ");
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 2);
    EXPECT_TRUE(prompt.errors.empty());
    EXPECT_TRUE(wizard->Settings().SearchSystem);
    EXPECT_EQ(wizard->Settings().Folder, root + "/nowhere");
    EXPECT_FALSE(wizard->Settings().SubFolders);
    EXPECT_EQ(wizard->Settings().Mask, "  *.ocx ");
}

TEST_F(WizardTest, TheContainersCheckBoxShowsAndStoresTheSetting) {
    load();
    goTo(1);
    // Unchecked on a first start; the choice goes into the settings when the page is left.
    EXPECT_FALSE(view.isChecked(C::chkContainers));
    view.setChecked(C::chkContainers, true);
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 2);
    EXPECT_TRUE(wizard->Settings().Containers);
    wizard->cmdBack_Click();
    EXPECT_TRUE(view.isChecked(C::chkContainers));
}

TEST_F(WizardTest, AdvancedFramesStayOnceShown) {
    load();
    goTo(1);
    wizard->cmdAdvanced_Click();
    EXPECT_FALSE(view.isVisible(C::cmdAdvanced));
    EXPECT_TRUE(view.isVisible(C::fraMask));
    EXPECT_TRUE(view.isVisible(C::fraPerformance));
    goTo(2);
    wizard->cmdBack_Click();
    EXPECT_EQ(wizard->CurrentPage(), 1);
    EXPECT_FALSE(view.isVisible(C::cmdAdvanced));
    EXPECT_TRUE(view.isVisible(C::fraMask));
}

TEST_F(WizardTest, SliderShowsItsTextAndStoresPriorityAtOnce) {
    load();
    goTo(1);
    const char* texts[] = {"Lowest priority", "Low priority", "Default priority", "High priority",
                           "Highest priority"};
    for (int position = 1; position <= 5; ++position) {
        view.setValue(C::sldAccel, position);
        wizard->sldAccel_Scroll();
        EXPECT_EQ(view.text(C::lblPriority), texts[position - 1]);
        EXPECT_EQ(wizard->Settings().Priority, position);
    }
    // The process priority waits for the run.
    EXPECT_TRUE(services.priorities.empty());
}

TEST_F(WizardTest, NoKindCheckedKeepsUserOnSecondPageEitherWay) {
    load();
    goTo(2);
    for (auto& row : view.rows)
        row.checked = false;
    for (bool back : {false, true}) {
        prompt.errors.clear();
        back ? wizard->cmdBack_Click() : wizard->cmdNext_Click();
        EXPECT_EQ(wizard->CurrentPage(), 2);
        ASSERT_EQ(prompt.errors.size(), 1u);
        EXPECT_EQ(prompt.errors[0], "Please choose at least one resource type.");
        EXPECT_EQ(view.focus, C::lvResTypes);
    }
    view.row("VIDEO").checked = true;
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 3);
    const KindSwitches expected{false, false, false, false, true, false, false};
    EXPECT_EQ(wizard->Settings().ResTypes, expected);
    EXPECT_EQ(wizard->Options().kindEnabled, expected);
}

TEST_F(WizardTest, SecondPageChecksFollowSettings) {
    services.stored.ResTypes = {false, true, false, false, false, true, true};
    load();
    goTo(2);
    for (const auto& row : view.rows)
        EXPECT_EQ(row.checked, row.key == "ICON" || row.key == "HTML" || row.key == "IMAGE") << row.key;
}

// A first start checks every row but the images', so that Finish writes what it wrote
// before pictures kept whole were looked for; checking it is stored with the rest.
TEST_F(WizardTest, TheImageRowIsUncheckedUntilChosen) {
    services.stored.ResTypes = DefaultSettings().ResTypes;
    load();
    goTo(2);
    for (const auto& row : view.rows)
        EXPECT_EQ(row.checked, row.key != "IMAGE") << row.key;
    view.row("IMAGE").checked = true;
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 3);
    EXPECT_TRUE(wizard->Settings().ResTypes[KindIndex(ResourceKind::Image)]);
    EXPECT_TRUE(wizard->Options().enabled(ResourceKind::Image));
}

TEST_F(WizardTest, DestinationPagePreparesFolderEachTimeItIsLeft) {
    services.stored.ResTypes = {false, true, false, false, false, false};
    load();
    goTo(3);
    EXPECT_EQ(view.text(C::txtDestPath), root + "/Resources");
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 4);
    EXPECT_TRUE(std::filesystem::is_directory(root + "/Resources/Icons"));
    EXPECT_FALSE(std::filesystem::exists(root + "/Resources/Bitmaps"));
    EXPECT_EQ(wizard->Options().destinationFolder, root + "/Resources");

    // Back to page 3 and forward again: the folder exists now. No keeps the user there.
    wizard->cmdBack_Click();
    EXPECT_EQ(wizard->CurrentPage(), 3);
    prompt.answers = {Answer::No};
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 3);
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(prompt.questions[0],
              "The specified folder already exists.\r\nDo you want to continue?");
    EXPECT_EQ(view.focus, C::txtDestPath);
    // Back is refused the same way; Yes lets the user go and adds a header block.
    prompt.answers = {Answer::Yes};
    wizard->cmdBack_Click();
    EXPECT_EQ(wizard->CurrentPage(), 2);
    const std::string text = ReadText(root + "/Resources/Icons/__index.txt");
    std::size_t blocks = 0;
    for (std::size_t at = text.find("File mask: "); at != std::string::npos;
         at = text.find("File mask: ", at + 1))
        ++blocks;
    EXPECT_EQ(blocks, 2u);
}

TEST_F(WizardTest, InvalidDestinationKeepsUserOnThirdPage) {
    load();
    goTo(3);
    view.setText(C::txtDestPath, root + "/no/such/parent/out");
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 3);
    ASSERT_EQ(prompt.errors.size(), 1u);
    EXPECT_EQ(prompt.errors[0], "The specified folder is invalid.\r\nPlease type another name.");
    // The cause, in harvix-cli's words, goes with it: the message box shows it on a line
    // of its own below the two sentences.
    ASSERT_EQ(prompt.shown.size(), 1u);
    const std::string cause = root + "/no/such/parent/out cannot be made: its parent folder " +
                              root + "/no/such/parent does not exist";
    EXPECT_EQ(prompt.shown[0].detail, cause);
    struct Box final : BoxPrompt {
        Answer YesNoBox(const std::string&) override { return Answer::No; }
        Answer RetryCancelBox(const std::string&) override { return Answer::Cancel; }
        void ErrorBox(const std::string& text) override { shown = text; }
        std::string shown;
    } box;
    box.showError(prompt.shown[0]);
    EXPECT_EQ(box.shown,
              "The specified folder is invalid.\r\nPlease type another name.\r\n" + cause);
    EXPECT_EQ(view.focus, C::txtDestPath);
    EXPECT_EQ(wizard->Settings().DestPath, root + "/no/such/parent/out");
}

TEST_F(WizardTest, FolderChoosersOpenAtTheBoxAndCancelKeepsIt) {
    load();
    goTo(1);
    view.setText(C::txtFolder, "");
    view.browseAnswers = {root + "/modules", std::nullopt};
    wizard->cmdBrowse_Click();
    EXPECT_EQ(view.text(C::txtFolder), root + "/modules");
    wizard->cmdBrowse_Click(); // cancelled
    EXPECT_EQ(view.text(C::txtFolder), root + "/modules");
    EXPECT_EQ(view.browseTitles[0], "Please choose the folder in which to search for resources.");
    // An empty box leaves the start to the chooser; a folder typed is where it opens.
    EXPECT_EQ(view.browseStarts, (std::vector<std::string>{"", root + "/modules"}));

    goTo(3);
    // A destination still to be made: the chooser opens at the nearest folder above it
    // that exists.
    view.setText(C::txtDestPath, root + "/new/deeper/out");
    view.browseAnswers = {std::nullopt, root + "/picked"};
    wizard->cmdBrowseDest_Click();
    EXPECT_EQ(view.browseStarts.back(), root);
    EXPECT_EQ(view.text(C::txtDestPath), root + "/new/deeper/out");
    wizard->cmdBrowseDest_Click();
    EXPECT_EQ(view.text(C::txtDestPath), root + "/picked");
    EXPECT_EQ(view.browseTitles[2],
              "Please choose the folder in which the resources are to be saved.");
}

TEST_F(WizardTest, ClosingSavesWhatWasCommittedOnly) {
    services.stored.SearchSystem = false;
    load();
    goTo(2);
    wizard->cmdBack_Click();
    view.setText(C::txtFolder, root + "/edited-but-not-left");
    view.setValue(C::sldAccel, 5);
    wizard->sldAccel_Scroll();
    EXPECT_TRUE(wizard->Form_QueryClose());
    EXPECT_EQ(services.saves, 1);
    EXPECT_EQ(view.closed, 1);
    EXPECT_EQ(services.stored.Folder, root + "/modules");
    EXPECT_EQ(services.stored.Priority, 5); // the slider stores at once
    // A second request (the window's close after Cancel) saves nothing more.
    wizard->cmdCancel_Click();
    EXPECT_EQ(services.saves, 1);
    EXPECT_EQ(view.closed, 1);
}

TEST_F(WizardTest, CancelBeforeTheRunClosesWithoutAsking) {
    load();
    goTo(3);
    wizard->cmdCancel_Click();
    EXPECT_TRUE(prompt.questions.empty());
    EXPECT_EQ(services.saves, 1);
    EXPECT_EQ(view.closed, 1);
}

} // namespace
} // namespace harvix::test
