// The wizard of frmMain without its widgets: the seven pages, what each page takes from
// the settings when it is entered and gives back when it is left, the checks that keep
// the user on a page, the buttons, the resource-type list with its limits, the folder
// choosers, the statistics and the animation of the search page, the priority slider,
// and the search run started from inside the page change. The window forwards its
// events to the handlers below and shows the effects through IWizardView; the user is
// asked through IPrompt.
#pragma once

#include "extract/Prompt.h"
#include "run/RunAccount.h"
#include "extract/ResCore.h"
#include "extract/ResourceKind.h"
#include "run/RunAssembly.h"
#include "run/RunHandOff.h"
#include "run/SearchRun.h"
#include "settings/Settings.h"
#include "app/wizard/StartChoice.h"
#include "app/wizard/WizardPages.h"
#include "app/wizard/WizardServices.h"
#include "app/wizard/WizardTexts.h"
#include "app/wizard/WizardView.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harvix {

// The limit cells of the resource-type list: rows BITMAP and ICON, sub-items 1 to 3, and
// row IMAGE, sub-items 2 and 3 (a picture kept whole is limited by its sides only).
struct LimitCell {
    ResourceKind kind;
    int column; // 1 colour depth, 2 width, 3 height
};

// Reads the eight limit cells into the ranges of `options`. When a cell does not hold
// two whole numbers joined by "-", nothing is changed and the result names the cell.
[[nodiscard]] Status ReadLimits(const IWizardView& view, ExtractionOptions& options);

class WizardLogic {
public:
    // With a way to post tasks to the window's thread, the search run executes on a
    // worker thread and the window stays responsive; without one (tests of the logic,
    // which have no event loop) it executes inside the page change, as a nested call.
    WizardLogic(IWizardView& view, IPrompt& prompt, IWizardServices& services,
                RunHandOff::Post postToWindow = {});
    WizardLogic(const WizardLogic&) = delete;
    WizardLogic& operator=(const WizardLogic&) = delete;
    ~WizardLogic();

    // The folder or file the program was started with (`harvix PATH`), applied to the
    // settings when the window loads; call it before Form_Load.
    void ChooseAtStart(StartChoice choice) { m_startChoice = std::move(choice); }

    // The window's life.
    void Form_Load();
    void Form_Unload();
    // The window's own close command (title-bar button, window manager). Unloads the
    // window on pages 0 to 4; refused (false) from the search page on.
    bool Form_QueryClose();

    // Buttons and controls.
    void cmdNext_Click();
    void cmdBack_Click();
    void cmdCancel_Click();
    void cmdAdvanced_Click();
    void optSearchFolder_Click();
    void optSearchSystem_Click();
    void cmdBrowse_Click();
    void cmdBrowseDest_Click();
    void lvResTypes_DblClick();
    void sldAccel_Scroll();
    void cmdShowFolder_Click();

    // Page changes: the only way from one page to another. Before the first page the
    // wizard stays where it is; past the last one the window unloads.
    void ShowPage(int page);
    void ShowPage(Page page) { ShowPage(PageIndex(page)); }
    // Commits and checks the page being left; true keeps the user on it.
    bool LeavePage(int page);
    // Fills the page being entered.
    void EnterPage(int page);

    void InitPageTitles();
    bool CheckFolder(const std::string& path);
    bool CheckResTypes();
    void RemoveCloseMenu();
    void FillResTypeList();
    // Builds the run from the final settings and options; once, when the search page is
    // entered.
    void BuildRun();
    void FillStatsList();
    std::string LoadAnim(const std::string& ResID);
    void StartSearch();

    [[nodiscard]] int CurrentPage() const { return PageIndex(m_currentPage); }
    [[nodiscard]] Page CurrentPageName() const { return m_currentPage; }
    [[nodiscard]] const harvix::Settings& Settings() const { return m_settings; }
    [[nodiscard]] const ExtractionOptions& Options() const { return m_options; }
    [[nodiscard]] const std::string& AnimTempFile() const { return m_animTempFile; }
    [[nodiscard]] const std::vector<std::string>& PageTitles() const { return m_pageTitles; }
    [[nodiscard]] const std::vector<std::string>& PageSubTitles() const { return m_pageSubTitles; }
    [[nodiscard]] bool Unloaded() const { return m_unloaded; }
    // The run, once the search page has been entered. Its state may be read once the
    // hand-off says the run has finished.
    [[nodiscard]] const SearchRun* Run() const { return m_searchRun; }
    [[nodiscard]] const RunHandOff* HandOff() const { return m_handOff; }
    // What the engine passed over in this run: files it could not read, resources left
    // out and why.
    [[nodiscard]] const RunAccount& Account() const { return m_account; }

private:
    class RunView;

    // Each page's own steps: what it fills when it is entered, what it commits and
    // checks when it is left (true: the user stays).
    struct PageSteps {
        void (WizardLogic::*enter)();
        bool (WizardLogic::*leave)();
    };
    static const std::array<PageSteps, kPageCount> kPageSteps;

    void enterNothing() {}
    bool leaveNothing() { return false; }
    void enterSearchMode();
    bool leaveSearchMode();
    void enterResourceTypes();
    bool leaveResourceTypes();
    void enterDestination();
    bool leaveDestination();
    bool leaveReady();
    void enterSearch();
    bool leaveSearch();
    void enterFinished();

    void setPageButtons(const PageLayout& layout);
    // A folder chooser with `title` for the text box `box`.
    void browseInto(WizardControl box, const char* title);
    void statsChanged(int row, const std::string& count);
    void removeAnimTempFile();

    IWizardView& m_view;
    IPrompt& m_prompt;
    IWizardServices& m_services;
    RunHandOff::Post m_postToWindow;

    harvix::Settings m_settings;
    ExtractionOptions m_options;
    // The start's folder or file, and the settings before and right after it was applied.
    std::optional<StartChoice> m_startChoice;
    harvix::Settings m_settingsBeforeChoice;
    harvix::Settings m_settingsChosen;
    Page m_currentPage = Page::Welcome;
    std::vector<std::string> m_pageTitles;
    std::vector<std::string> m_pageSubTitles;
    std::string m_animTempFile;
    bool m_closeCommandRemoved = false;
    bool m_unloaded = false;

    // The run, made when the search page is entered. It goes first (its hand-off waits
    // for the worker), the window side it posts to last.
    std::unique_ptr<RunView> m_runView;
    std::vector<std::string> m_statsKeys; // row keys of the statistics list
    RunAccount m_account;             // what the engine passed over, for page 6
    std::unique_ptr<RunAssembly> m_run;
    SearchRun* m_searchRun = nullptr; // m_run's, once it is made
    RunHandOff* m_handOff = nullptr;       // m_run's, once it is made
};

} // namespace harvix
