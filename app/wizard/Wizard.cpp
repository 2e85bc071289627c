#include "app/wizard/Wizard.h"

#include "extract/Destination.h"
#include "run/LimitText.h"
#include "run/RunSettings.h"
#include "run/SatelliteReading.h"
#include "common/Paths.h"
#include "app/wizard/RunSummary.h"
#include "app/wizard/TempFile.h"
#include "common/Text.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string_view>

namespace harvix {


namespace {

std::string kindKey(ResourceKind kind) {
    return std::string(KindKey(kind));
}

const char* const kLimitColumnNames[] = {"", "Colour depth", "Width", "Height"};
const char* const kLimitFieldNames[] = {"", "the colour depth limit", "the width limit",
                                        "the height limit"};

constexpr std::array<LimitCell, 8> kLimitCells{{
    {ResourceKind::Bitmap, 1},
    {ResourceKind::Bitmap, 2},
    {ResourceKind::Bitmap, 3},
    {ResourceKind::Icon, 1},
    {ResourceKind::Icon, 2},
    {ResourceKind::Icon, 3},
    {ResourceKind::Image, 2},
    {ResourceKind::Image, 3},
}};

// The cells of one row, in column order; none for a row without limits.
std::vector<LimitCell> cellsOf(ResourceKind kind) {
    std::vector<LimitCell> cells;
    for (const LimitCell& cell : kLimitCells)
        if (cell.kind == kind)
            cells.push_back(cell);
    return cells;
}

LimitRange* rangeOf(ExtractionOptions& options, const LimitCell& cell) {
    struct Ranges {
        LimitRange* depth;
        LimitRange* width;
        LimitRange* height;
    };
    const Ranges ranges =
        cell.kind == ResourceKind::Bitmap
            ? Ranges{&options.bitmapDepth, &options.bitmapWidth, &options.bitmapHeight}
        : cell.kind == ResourceKind::Icon
            ? Ranges{&options.iconDepth, &options.iconWidth, &options.iconHeight}
            : Ranges{nullptr, &options.imageWidth, &options.imageHeight};
    return cell.column == 1 ? ranges.depth : cell.column == 2 ? ranges.width : ranges.height;
}

// The limits a start begins with, as a cell shows them.
std::string defaultLimitText(const LimitCell& cell) {
    ExtractionOptions defaults;
    return LimitText(*rangeOf(defaults, cell));
}

// How the limits of a row are typed: three for bitmaps and icons, two for images.
const char* formatHintFor(std::size_t cellCount) {
    return cellCount == 2 ? kSideLimitFormatHint : kLimitFormatHint;
}

// The path as seen from the current folder, made whole; an absolute one stays as it is.
std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path.front() == '/')
        return path;
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(path, error);
    return error ? path : whole.lexically_normal().string();
}

// A message of the parser as the first sentence of a message box.
std::string Capitalised(std::string message) {
    if (!message.empty())
        message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
    return message;
}

const char* const kCountWords[] = {"no", "one", "two", "three"};

std::string CountWord(std::size_t n) {
    return n < std::size(kCountWords) ? kCountWords[n] : std::to_string(n);
}

// The editor's refusal of an answer with too few or too many limits: what the row takes
// and what the answer held ("The Bitmap row takes three limits (colour depth, width and
// height); "abc" is one").
std::string wrongCountMessage(ResourceKind kind, const std::vector<LimitCell>& cells,
                              const std::string& answer, std::size_t typed) {
    std::string fields;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        std::string name = kLimitColumnNames[cells[i].column];
        name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        fields += (i == 0 ? "" : i + 1 == cells.size() ? " and " : ", ") + name;
    }
    return "The " + std::string(KindLabel(kind)) + " row takes " + CountWord(cells.size()) +
           " limits (" + fields + "); \"" + answer + "\" is " + CountWord(typed);
}

} // namespace

Status ReadLimits(const IWizardView& view, ExtractionOptions& options) {
    ExtractionOptions read = options;
    for (const LimitCell& cell : kLimitCells) {
        const std::string text = view.resTypeSubItem(kindKey(cell.kind), cell.column);
        Result<LimitRange> range = ParseLimitText(text);
        if (!range.ok()) {
            return makeError(ErrorKind::Malformed, "The limit \"" + text + "\" in the " +
                                                       kLimitColumnNames[cell.column] +
                                                       " column of the " +
                                                       std::string(KindLabel(cell.kind)) +
                                                       " row is not valid.\r\n" +
                                                       formatHintFor(cellsOf(cell.kind).size()));
        }
        *rangeOf(read, cell) = range.value();
    }
    options = read;
    return success();
}

// The window's side of the search run: its effects on the controls, on the window's
// thread, where the hand-off applies them.
class WizardLogic::RunView final : public IRunView {
public:
    explicit RunView(WizardLogic& wizard) : m_wizard(wizard) {}

    void setStatusText(const std::string& text) override {
        m_wizard.m_view.setText(WizardControl::lblStatus, text);
    }
    void repaintStatus() override { m_wizard.m_view.repaintControl(WizardControl::lblStatus); }
    void setCancelEnabled(bool enabled) override {
        m_wizard.m_view.setEnabled(WizardControl::cmdCancel, enabled);
    }
    void showProgressFrame() override {
        m_wizard.m_view.setVisible(WizardControl::l3dProgressBack, true);
    }
    void setProgressValue(int value) override {
        m_wizard.m_view.setValue(WizardControl::prbProgress, value);
    }
    void setCaption(const std::string& text) override { m_wizard.m_view.setCaption(text); }
    void stopAnimation() override { m_wizard.m_view.stopAnimation(); }
    void statsChanged(int row, const std::string& count) override {
        m_wizard.statsChanged(row, count);
    }
    // The window runs its own event loop; a click on Cancel reaches the run through the
    // hand-off, which takes it up on the worker.
    void pumpEvents() override {}
    void searchFinished() override { m_wizard.cmdNext_Click(); }
    void closeProgram() override { m_wizard.Form_Unload(); }

private:
    WizardLogic& m_wizard;
};

WizardLogic::WizardLogic(IWizardView& view, IPrompt& prompt, IWizardServices& services,
                         RunHandOff::Post postToWindow)
    : m_view(view), m_prompt(prompt), m_services(services), m_postToWindow(std::move(postToWindow)),
      m_runView(std::make_unique<RunView>(*this)) {}

WizardLogic::~WizardLogic() = default;

// ---------------------------------------------------------------------------------
// The window's life

void WizardLogic::Form_Load() {
    InitPageTitles();
    m_settings = m_services.LoadSettings();
    if (m_startChoice) {
        m_settingsBeforeChoice = m_settings;
        m_settings = WithStartChoice(m_settings, *m_startChoice);
        m_settingsChosen = m_settings;
    }
    m_options.kindEnabled = m_settings.ResTypes;
    m_options.destinationFolder = m_settings.DestPath;
    FillResTypeList();
}

void WizardLogic::Form_Unload() {
    // The search run and the window may both ask to unload; the settings are written
    // once and the window closes once.
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_services.SaveSettings(m_startChoice
                                ? SettingsToStore(m_settings, m_settingsBeforeChoice, m_settingsChosen)
                                : m_settings);
    // A run that ends the program (Cancel, a write error) never leaves its page: the
    // animation's file goes now, or it would stay in the temporary folder for good.
    if (m_currentPage == Page::Search)
        removeAnimTempFile();
    m_view.closeWindow();
}

bool WizardLogic::Form_QueryClose() {
    if (m_unloaded)
        return true;
    if (m_closeCommandRemoved)
        return false;
    Form_Unload();
    return true;
}

// ---------------------------------------------------------------------------------
// Navigation

void WizardLogic::cmdNext_Click() {
    ShowPage(CurrentPage() + 1);
}

void WizardLogic::cmdBack_Click() {
    ShowPage(CurrentPage() - 1);
}

void WizardLogic::cmdCancel_Click() {
    if (m_unloaded)
        return;
    if (m_currentPage == Page::Search && m_handOff != nullptr) {
        // The run asks its question from where it stands, within moments.
        m_handOff->RequestCancel();
        return;
    }
    Form_Unload();
}

const std::array<WizardLogic::PageSteps, kPageCount> WizardLogic::kPageSteps{{
    {&WizardLogic::enterNothing, &WizardLogic::leaveNothing},             // Welcome
    {&WizardLogic::enterSearchMode, &WizardLogic::leaveSearchMode},       // SearchMode
    {&WizardLogic::enterResourceTypes, &WizardLogic::leaveResourceTypes}, // ResourceTypes
    {&WizardLogic::enterDestination, &WizardLogic::leaveDestination},     // Destination
    {&WizardLogic::enterNothing, &WizardLogic::leaveReady},               // Ready
    {&WizardLogic::enterSearch, &WizardLogic::leaveSearch},               // Search
    {&WizardLogic::enterFinished, &WizardLogic::leaveNothing},            // Finished
}};

void WizardLogic::ShowPage(int index) {
    if (m_unloaded)
        return;
    if (LeavePage(PageIndex(m_currentPage)))
        return;
    // An index outside the pages changes nothing on the screen: before the first page
    // the wizard stays where it is, past the last one the window unloads.
    if (index < 0)
        return;
    const std::optional<Page> page = PageAt(index);
    if (!page) {
        Form_Unload();
        return;
    }
    m_currentPage = *page;
    const PageLayout& layout = LayoutOf(*page);

    m_view.lockPainting();
    m_view.setText(WizardControl::lblScrnTitle, m_pageTitles[static_cast<std::size_t>(index)]);
    m_view.setText(WizardControl::lblScrnSubTitle, m_pageSubTitles[static_cast<std::size_t>(index)]);
    EnterPage(index);
    for (int i = 0; i < kPageCount; ++i)
        m_view.setPageVisible(i, i == index);
    m_view.bringPageToFront(index);
    if (layout.band == PageBand::None) {
        m_view.setVisible(WizardControl::fraScreenHdr, false);
    } else {
        m_view.setVisible(WizardControl::fraWatermark, false);
        m_view.setVisible(WizardControl::fraScreenHdr, true);
        m_view.bringToFront(WizardControl::fraScreenHdr);
    }
    setPageButtons(layout);
    m_view.unlockPainting();

    if (*page == Page::Search) {
        // The search page goes on the screen before the long run begins; the run then
        // executes inside this call, and its end moves the wizard on to the last page
        // from inside it.
        m_view.repaintNow();
        StartSearch();
    }
}

void WizardLogic::setPageButtons(const PageLayout& layout) {
    m_view.setEnabled(WizardControl::cmdBack, layout.backEnabled);
    m_view.setEnabled(WizardControl::cmdNext, layout.nextEnabled);
    if (layout.nextCaption != nullptr)
        m_view.setText(WizardControl::cmdNext, layout.nextCaption);
    m_view.setDefaultButton(layout.returnKey);
    // The last page shows the picture strip instead of the header band.
    if (layout.band == PageBand::Watermark) {
        m_view.setVisible(WizardControl::fraScreenHdr, false);
        m_view.setVisible(WizardControl::fraWatermark, true);
        m_view.bringToFront(WizardControl::fraWatermark);
    }
    m_view.keepFocusOnPage(layout.returnKey);
}

bool WizardLogic::LeavePage(int index) {
    const std::optional<Page> page = PageAt(index);
    if (!page)
        return false;
    return (this->*kPageSteps[static_cast<std::size_t>(index)].leave)();
}

void WizardLogic::EnterPage(int index) {
    if (PageAt(index))
        (this->*kPageSteps[static_cast<std::size_t>(index)].enter)();
}

bool WizardLogic::leaveSearchMode() {
    m_settings.SearchSystem = m_view.isChecked(WizardControl::optSearchSystem);
    m_settings.Folder = m_view.text(WizardControl::txtFolder);
    m_settings.SubFolders = m_view.isChecked(WizardControl::chkSubFolders);
    m_settings.Containers = m_view.isChecked(WizardControl::chkContainers);
    m_settings.Mask = m_view.text(WizardControl::txtMask);
    if (m_view.isChecked(WizardControl::optSearchFolder))
        return CheckFolder(m_view.text(WizardControl::txtFolder));
    return false;
}

bool WizardLogic::leaveDestination() {
    m_settings.DestPath = m_view.text(WizardControl::txtDestPath);
    m_options.destinationFolder = m_settings.DestPath;
    const IndexHeaderInfo header{m_settings.Folder, m_settings.SubFolders, m_settings.Mask};
    const bool stay = PrepareDestination(m_settings.DestPath, m_options.kindEnabled, header,
                                         m_prompt, m_services.FileSystem())
                          .has_value();
    if (stay)
        m_view.setFocus(WizardControl::txtDestPath);
    return stay;
}

bool WizardLogic::leaveReady() {
    m_options.unique = m_view.isChecked(WizardControl::chkUnique);
    return false;
}

bool WizardLogic::leaveSearch() {
    removeAnimTempFile();
    return false;
}

bool WizardLogic::leaveResourceTypes() {
    for (ResourceKind kind : kAllResourceKinds)
        m_settings.ResTypes[static_cast<std::size_t>(KindIndex(kind))] =
            m_view.resTypeChecked(kindKey(kind));
    m_options.kindEnabled = m_settings.ResTypes;
    // A cell the limit editor refused can only come from elsewhere; the run must not
    // start on a limit nobody can read, so the page is not left.
    if (Status limits = ReadLimits(m_view, m_options); !limits.ok()) {
        m_prompt.showError({Failure::RefusedInput, limits.error().message, {}});
        m_view.setFocus(WizardControl::lvResTypes);
        return true;
    }
    return CheckResTypes();
}

void WizardLogic::enterSearchMode() {
    m_view.setChecked(m_settings.SearchSystem ? WizardControl::optSearchSystem
                                              : WizardControl::optSearchFolder,
                      true);
    if (m_settings.SearchSystem)
        optSearchSystem_Click();
    else
        optSearchFolder_Click();
    m_view.setText(WizardControl::txtFolder, m_settings.Folder);
    m_view.setChecked(WizardControl::chkSubFolders, m_settings.SubFolders);
    m_view.setChecked(WizardControl::chkContainers, m_settings.Containers);
    m_view.setText(WizardControl::txtMask, m_settings.Mask);
    m_view.setValue(WizardControl::sldAccel, m_settings.Priority);
    sldAccel_Scroll();
}

void WizardLogic::enterResourceTypes() {
    for (ResourceKind kind : kAllResourceKinds)
        m_view.setResTypeChecked(kindKey(kind),
                                 m_settings.ResTypes[static_cast<std::size_t>(KindIndex(kind))]);
}

void WizardLogic::enterDestination() {
    m_view.setText(WizardControl::txtDestPath, m_settings.DestPath);
}

void WizardLogic::enterSearch() {
    BuildRun();
    FillStatsList();
    m_animTempFile = LoadAnim(kSearchAnimation);
    m_view.playAnimation();
    RemoveCloseMenu();
}

void WizardLogic::enterFinished() {
    m_view.setCaption(kAppTitle);
    m_view.setText(WizardControl::cmdCancel, kCloseCaption);
    // The counts of the search page go with it: the last page keeps them, with what the
    // run passed over.
    if (m_run)
        m_view.setText(WizardControl::lblSummary,
                       RunSummaryText(m_searchRun->Stats().rows(), m_account));
}

void WizardLogic::InitPageTitles() {
    m_pageTitles.assign(kPageCount, std::string());
    m_pageSubTitles.assign(kPageCount, std::string());
    for (std::size_t i = 0; i < kPages.size(); ++i) {
        m_pageTitles[i] = kPages[i].header.title;
        m_pageSubTitles[i] = kPages[i].header.subTitle;
    }
}

bool WizardLogic::CheckFolder(const std::string& path) {
    if (!path.empty() && m_services.FileSystem().IsDirectory(path))
        return false;
    m_prompt.showError({Failure::RefusedInput, kFolderNotFound, {}});
    m_view.setFocus(WizardControl::txtFolder);
    return true;
}

bool WizardLogic::CheckResTypes() {
    for (bool on : m_settings.ResTypes)
        if (on)
            return false;
    m_prompt.showError({Failure::RefusedInput, kNoResourceType, {}});
    m_view.setFocus(WizardControl::lvResTypes);
    return true;
}

void WizardLogic::RemoveCloseMenu() {
    m_closeCommandRemoved = true;
    m_view.removeCloseCommand();
}

// ---------------------------------------------------------------------------------
// Page 1

void WizardLogic::cmdAdvanced_Click() {
    m_view.setVisible(WizardControl::cmdAdvanced, false);
    m_view.setVisible(WizardControl::fraMask, true);
    m_view.setVisible(WizardControl::fraPerformance, true);
}

void WizardLogic::optSearchFolder_Click() {
    m_view.setEnabled(WizardControl::txtFolder, true);
    m_view.setEnabled(WizardControl::cmdBrowse, true);
    m_view.setEnabled(WizardControl::chkSubFolders, true);
}

void WizardLogic::optSearchSystem_Click() {
    m_view.setEnabled(WizardControl::txtFolder, false);
    m_view.setEnabled(WizardControl::cmdBrowse, false);
    m_view.setEnabled(WizardControl::chkSubFolders, false);
}

void WizardLogic::cmdBrowse_Click() {
    browseInto(WizardControl::txtFolder, kBrowseSearchFolderTitle);
}

void WizardLogic::browseInto(WizardControl box, const char* title) {
    // The chooser opens where the box points: the folder typed, or the nearest folder
    // above it that exists, so that a folder near the one typed is a click away. A
    // cancelled chooser leaves the box as it was.
    std::string start;
    const std::string typed = m_view.text(box);
    if (!typed.empty()) {
        std::filesystem::path folder = std::filesystem::path(AbsolutePath(typed)).lexically_normal();
        while (!m_services.FileSystem().IsDirectory(folder.string()) && folder.has_relative_path())
            folder = folder.parent_path();
        start = folder.string();
    }
    if (const std::optional<std::string> picked = m_view.browseForFolder(title, start))
        m_view.setText(box, *picked);
}

void WizardLogic::sldAccel_Scroll() {
    const int position = m_view.value(WizardControl::sldAccel);
    if (position >= 1 && position <= static_cast<int>(kPriorityTexts.size()))
        m_view.setText(WizardControl::lblPriority,
                       kPriorityTexts[static_cast<std::size_t>(position - 1)]);
    m_settings.Priority = static_cast<std::int16_t>(position);
}

// ---------------------------------------------------------------------------------
// Page 2

void WizardLogic::FillResTypeList() {
    for (const KindInfo& info : kKinds)
        m_view.addResTypeRow(std::string(info.key), std::string(info.label),
                             KindIndex(info.kind) + 1);
    for (const LimitCell& cell : kLimitCells)
        m_view.setResTypeSubItem(kindKey(cell.kind), cell.column, defaultLimitText(cell));
}

void WizardLogic::lvResTypes_DblClick() {
    // Only the rows with limits open the editor: bitmaps and icons (positions 1 and 2)
    // and pictures kept whole (the last row).
    const int position = m_view.selectedResTypeIndex();
    if (position < 1 || position > kResourceKindCount)
        return;
    const ResourceKind kind = kAllResourceKinds[static_cast<std::size_t>(position - 1)];
    const std::vector<LimitCell> cells = cellsOf(kind);
    if (cells.empty())
        return;
    const std::string key = kindKey(kind);
    std::string current;
    for (const LimitCell& cell : cells)
        current += (current.empty() ? "" : ";") + m_view.resTypeSubItem(key, cell.column);
    const std::optional<std::string> answer =
        m_view.inputBox(cells.size() == 2 ? kSideLimitPrompt : kLimitPrompt, current);
    if (!answer || answer->empty())
        return;
    // The row keeps its limits unless every one typed can be read: the message says
    // what is wrong and how they are typed.
    const auto refuse = [&](const std::string& what) {
        m_prompt.showError({Failure::RefusedInput, what + ".\r\n" + formatHintFor(cells.size()), {}});
        m_view.setFocus(WizardControl::lvResTypes);
    };
    const std::vector<std::string_view> parts = SplitAt(*answer, ';');
    if (parts.size() != cells.size()) {
        refuse(wrongCountMessage(kind, cells, *answer, parts.size()));
        return;
    }
    // Each part must be readable as a range, or leaving the page could not read it.
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (auto range = ParseLimitText(parts[i], kLimitFieldNames[cells[i].column]); !range.ok()) {
            refuse(Capitalised(range.error().message));
            return;
        }
    }
    for (std::size_t i = 0; i < parts.size(); ++i)
        m_view.setResTypeSubItem(key, cells[i].column, std::string(parts[i]));
}

// ---------------------------------------------------------------------------------
// Page 3

void WizardLogic::cmdBrowseDest_Click() {
    browseInto(WizardControl::txtDestPath, kBrowseDestFolderTitle);
}

// ---------------------------------------------------------------------------------
// Page 5: the search run

void WizardLogic::BuildRun() {
    if (m_run)
        return;
    // The settings and options are final once the search page is entered; the run takes
    // its own copy, so the window's stay the window's.
    RunChoice choice;
    choice.search = SearchSettingsFrom(m_settings);
    choice.options = m_options;
    // Modules are read with their satellites as the settings say; a stored language that
    // is no tag stands for the locale's.
    choice.satellites.read = m_settings.Satellites;
    if (IsLanguageChoice(m_settings.Language))
        choice.satellites.language = m_settings.Language;
    // The containers the search meets are opened when the check box said so.
    choice.containers.search = m_settings.Containers;
    m_run = std::make_unique<RunAssembly>(
        choice, *m_runView, m_prompt, m_postToWindow,
        RunServices{.walk = m_services.Search(),
                         .fileSystem = m_services.FileSystem(),
                         .clock = m_services.Clock(),
                         .observers = {&m_account}});
    m_searchRun = &m_run->Run();
    m_handOff = m_run->HandOff();
    m_searchRun->setPriorityApplier(
        [this](std::int16_t position) { m_services.ApplyPriority(position); });
}

void WizardLogic::FillStatsList() {
    if (!m_searchRun)
        return;
    m_statsKeys.clear();
    for (const StatsRow& row : m_searchRun->Stats().rows()) {
        m_statsKeys.push_back(row.key);
        m_view.addStatsRow(row.key, row.caption, row.imageIndex, row.countText());
    }
    m_view.autoSizeStatsColumns();
}

void WizardLogic::statsChanged(int row, const std::string& count) {
    if (row < 0 || static_cast<std::size_t>(row) >= m_statsKeys.size())
        return;
    m_view.setStatsCount(m_statsKeys[static_cast<std::size_t>(row)], count);
}

std::string WizardLogic::LoadAnim(const std::string& ResID) {
    const std::string folder = m_services.TempFolder();
    if (folder.empty())
        return {};
    Result<std::string> made = MakeTempFile(folder, "ifr");
    if (!made.ok())
        return {};
    const std::string path = made.value();
    const std::vector<std::uint8_t> clip = m_services.LoadAnimationClip(ResID);
    // An empty file stays behind as it is and is removed with the full one.
    if (!WriteWholeFile(path, clip).ok())
        return path;
    m_view.openAnimation(path);
    return path;
}

void WizardLogic::removeAnimTempFile() {
    // A failure leaves a stray file behind, nothing more.
    if (!m_animTempFile.empty())
        std::remove(m_animTempFile.c_str());
}

void WizardLogic::StartSearch() {
    if (m_run)
        m_run->Start();
}

// ---------------------------------------------------------------------------------
// Page 6

void WizardLogic::cmdShowFolder_Click() {
    // The destination was prepared relative to the folder the program started in; the
    // browser, which runs elsewhere, gets the whole path.
    const std::string folder = AbsolutePath(m_settings.DestPath);
    m_view.openFolder(folder, [this, folder] {
        // The message is put together from the parts around "%s" rather than by
        // replacing inside a copy: GCC 12 at -O3 takes that replace for an overlapping
        // copy (-Wrestrict), wrongly.
        const std::string_view text = kFolderNotOpened;
        const std::size_t at = text.find("%s");
        std::string message(text.substr(0, at));
        message += folder;
        message += text.substr(at + 2);
        m_prompt.showError({Failure::FolderNotShown, message, folder});
    });
}

} // namespace harvix
