// The wizard logic's view of frmMain: every operation of IWizardView on the window's
// named controls.
#pragma once

#include "app/window/WizardDialogs.h"
#include "app/wizard/WizardView.h"
#include "app/window/frmMain.h"

#include <QPointer>

#include <functional>

namespace harvix {

class frmMainView final : public IWizardView {
public:
    frmMainView(frmMain& form, IWizardDialogs& dialogs);

    // What closing the window means; the wizard window closes the dialog.
    void setCloseHandler(std::function<void()> handler) { m_close = std::move(handler); }
    [[nodiscard]] bool CloseCommandRemoved() const { return m_closeCommandRemoved; }

    void setPageVisible(int page, bool visible) override;
    void bringPageToFront(int page) override;
    void setVisible(WizardControl control, bool visible) override;
    void bringToFront(WizardControl control) override;
    void setEnabled(WizardControl control, bool enabled) override;
    void setText(WizardControl control, const std::string& text) override;
    std::string text(WizardControl control) const override;
    void setChecked(WizardControl control, bool checked) override;
    bool isChecked(WizardControl control) const override;
    void setFocus(WizardControl control) override;
    void setDefaultButton(WizardControl button) override;
    void keepFocusOnPage(WizardControl button) override;
    void setValue(WizardControl control, int value) override;
    int value(WizardControl control) const override;

    void setCaption(const std::string& caption) override;
    std::string caption() const override;
    void lockPainting() override;
    void unlockPainting() override;
    void repaintNow() override;
    void repaintControl(WizardControl control) override;
    void removeCloseCommand() override;
    void processEvents() override;

    void addResTypeRow(const std::string& key, const std::string& text, int icon) override;
    void setResTypeChecked(const std::string& key, bool checked) override;
    bool resTypeChecked(const std::string& key) const override;
    void setResTypeSubItem(const std::string& key, int column, const std::string& text) override;
    std::string resTypeSubItem(const std::string& key, int column) const override;
    int selectedResTypeIndex() const override;

    void addStatsRow(const std::string& key, const std::string& text, int icon,
                     const std::string& count) override;
    void setStatsCount(const std::string& key, const std::string& count) override;
    std::string statsCount(const std::string& key) const override;
    void autoSizeStatsColumns() override;

    void openAnimation(const std::string& path) override;
    void playAnimation() override;
    void stopAnimation() override;

    std::optional<std::string> inputBox(const std::string& prompt,
                                        const std::string& answer) override;
    std::optional<std::string> browseForFolder(const std::string& title,
                                               const std::string& startFolder) override;
    void openFolder(const std::string& path, std::function<void()> failed) override;
    void closeWindow() override;

private:
    [[nodiscard]] QWidget* widget(WizardControl control) const;

    frmMain& m_form;
    const frmMainControls& m_c;
    IWizardDialogs& m_dialogs;
    std::function<void()> m_close;
    int m_lockDepth = 0;
    // Where the focus was when the page change began (the painting was locked).
    QPointer<QWidget> m_focusBefore;
    bool m_closeCommandRemoved = false;
};

} // namespace harvix
