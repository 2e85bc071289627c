// What the wizard logic needs from its window. The window binds these operations to
// its widgets; tests use a fake that records every call. The logic never sees a widget.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace harvix {

// The controls the wizard logic addresses by name. The page frames are addressed by
// their index through the page operations instead.
enum class WizardControl {
    fraScreenHdr,
    fraWatermark,
    lblScrnTitle,
    lblScrnSubTitle,
    cmdBack,
    cmdNext,
    cmdCancel,
    // page 1
    optSearchSystem,
    optSearchFolder,
    txtFolder,
    cmdBrowse,
    chkSubFolders,
    chkContainers, // the search looks inside installers, archives and disc images
    cmdAdvanced,
    fraMask,
    txtMask,
    fraPerformance,
    sldAccel,
    lblPriority,
    // page 2
    lvResTypes,
    // page 3
    txtDestPath,
    cmdBrowseDest,
    // page 4
    chkUnique, // each picture written once
    // page 5
    lblStatus,
    l3dProgressBack,
    prbProgress,
    lvResStats,
    aniAnim,
    // page 6
    cmdShowFolder,
    lblSummary, // what the run did, below cmdShowFolder
};

class IWizardView {
public:
    virtual ~IWizardView() = default;

    // Page frames fraScreen(0) to fraScreen(6).
    virtual void setPageVisible(int page, bool visible) = 0;
    virtual void bringPageToFront(int page) = 0;

    // Any named control.
    virtual void setVisible(WizardControl control, bool visible) = 0;
    virtual void bringToFront(WizardControl control) = 0;
    virtual void setEnabled(WizardControl control, bool enabled) = 0;
    // The caption of a button, label or frame, the text of a text box.
    virtual void setText(WizardControl control, const std::string& text) = 0;
    [[nodiscard]] virtual std::string text(WizardControl control) const = 0;
    // Option buttons and check boxes. Selecting an option from code deselects its
    // sibling; it does not run the click handler (the logic does that itself).
    virtual void setChecked(WizardControl control, bool checked) = 0;
    [[nodiscard]] virtual bool isChecked(WizardControl control) const = 0;
    virtual void setFocus(WizardControl control) = 0;
    // The button of the bottom band that Return presses wherever the focus is (but on
    // another button, which Return presses itself); the others lose that role.
    virtual void setDefaultButton(WizardControl button) = 0;
    // After a page change: the focus stays where it was when that control is still shown
    // and usable (the button that was pressed); otherwise (it was on the page that went)
    // it goes to `button`, or to Cancel when `button` is off.
    virtual void keepFocusOnPage(WizardControl button) = 0;
    // Sliders and progress bars.
    virtual void setValue(WizardControl control, int value) = 0;
    [[nodiscard]] virtual int value(WizardControl control) const = 0;

    // The window.
    virtual void setCaption(const std::string& caption) = 0;
    [[nodiscard]] virtual std::string caption() const = 0;
    virtual void lockPainting() = 0;
    virtual void unlockPainting() = 0;
    virtual void repaintNow() = 0;
    // Repaints one control at once (the status label during the run).
    virtual void repaintControl(WizardControl control) = 0;
    // The window's own close command (title bar button, Alt+F4) stops working for good.
    virtual void removeCloseCommand() = 0;
    // Lets the window process its pending events once, then returns.
    virtual void processEvents() = 0;

    // The resource-type list (lvResTypes): rows found by key, sub-items 1 to 3.
    virtual void addResTypeRow(const std::string& key, const std::string& text, int icon) = 0;
    virtual void setResTypeChecked(const std::string& key, bool checked) = 0;
    [[nodiscard]] virtual bool resTypeChecked(const std::string& key) const = 0;
    virtual void setResTypeSubItem(const std::string& key, int column, const std::string& text) = 0;
    [[nodiscard]] virtual std::string resTypeSubItem(const std::string& key, int column) const = 0;
    // Position (from 1) of the selected row; 0 when no row is selected.
    [[nodiscard]] virtual int selectedResTypeIndex() const = 0;

    // The statistics list (lvResStats): two columns, rows found by key.
    virtual void addStatsRow(const std::string& key, const std::string& text, int icon,
                             const std::string& count) = 0;
    virtual void setStatsCount(const std::string& key, const std::string& count) = 0;
    [[nodiscard]] virtual std::string statsCount(const std::string& key) const = 0;
    virtual void autoSizeStatsColumns() = 0;

    // The animation control.
    virtual void openAnimation(const std::string& path) = 0;
    virtual void playAnimation() = 0;
    virtual void stopAnimation() = 0;

    // Dialogs. The input box gives nothing when it is cancelled.
    [[nodiscard]] virtual std::optional<std::string> inputBox(const std::string& prompt,
                                                              const std::string& answer) = 0;
    // A folder chooser with this title, opened at `startFolder` (an existing folder, or
    // "" for the chooser's own starting place); nothing when it is cancelled.
    [[nodiscard]] virtual std::optional<std::string> browseForFolder(const std::string& title,
                                                                     const std::string& startFolder) = 0;
    // Opens a folder in the desktop's file browser. `failed` runs later, on the window's
    // thread, when no browser could be started for it or the one started gave up.
    virtual void openFolder(const std::string& path, std::function<void()> failed) = 0;

    // Closes the window for good (after the settings have been saved).
    virtual void closeWindow() = 0;
};

} // namespace harvix
