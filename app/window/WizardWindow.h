// The program's one window: frmMain with the wizard logic bound to it. Clicks and other
// events of the controls go to the logic's handlers; the logic shows its effects on the
// controls through frmMainView and asks the user through message boxes. The prompt,
// the dialogs and the services can be replaced (tests answer every question by script
// and keep the settings in a store of their own).
#pragma once

#include "app/wizard/Wizard.h"
#include "app/window/WizardDialogs.h"
#include "app/wizard/WizardServices.h"
#include "app/window/frmMain.h"
#include "app/window/frmMainView.h"

#include <QObject>
#include <functional>
#include <memory>

namespace harvix {

// The program's services with its own search animation.
class WindowServices final : public SystemWizardServices {
public:
    std::vector<std::uint8_t> LoadAnimationClip(const std::string& ResID) override;
};

class WizardWindow final : public QObject {
public:
    struct Parts {
        IPrompt* prompt = nullptr;           // message boxes when none
        IWizardDialogs* dialogs = nullptr;   // the toolkit's dialogs when none
        IWizardServices* services = nullptr; // WindowServices when none
    };

    WizardWindow();
    explicit WizardWindow(Parts parts);
    ~WizardWindow() override;

    // Loads the settings and the lists, then shows the window on its first page.
    void Show();

    // Called once the window has been unloaded (settings saved) and closed.
    void setClosedHandler(std::function<void()> handler) { m_closed = std::move(handler); }

    [[nodiscard]] frmMain& Form() { return *m_form; }
    [[nodiscard]] WizardLogic& Logic() { return *m_logic; }
    [[nodiscard]] bool Closed() const { return m_isClosed; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();
    void closeForm();

    std::unique_ptr<frmMain> m_form;
    std::unique_ptr<IPrompt> m_ownPrompt;
    std::unique_ptr<IWizardDialogs> m_ownDialogs;
    std::unique_ptr<IWizardServices> m_ownServices;
    std::unique_ptr<frmMainView> m_view;
    std::unique_ptr<WizardLogic> m_logic;
    std::function<void()> m_closed;
    bool m_inCloseEvent = false;
    bool m_isClosed = false;
};

} // namespace harvix
