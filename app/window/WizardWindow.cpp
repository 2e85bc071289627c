#include "app/window/WizardWindow.h"

#include "assets/Assets.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QRadioButton>

#include <utility>

namespace harvix {

std::vector<std::uint8_t> WindowServices::LoadAnimationClip(const std::string& ResID) {
    const QByteArray clip = aviResource(QString::fromStdString(ResID));
    return {clip.begin(), clip.end()};
}

WizardWindow::WizardWindow() : WizardWindow(Parts{}) {}

WizardWindow::WizardWindow(Parts parts) : m_form(std::make_unique<frmMain>()) {
    if (!parts.prompt) {
        m_ownPrompt = std::make_unique<MessageBoxPrompt>(m_form.get());
        parts.prompt = m_ownPrompt.get();
    }
    if (!parts.dialogs) {
        m_ownDialogs = std::make_unique<QtWizardDialogs>();
        parts.dialogs = m_ownDialogs.get();
    }
    if (!parts.services) {
        m_ownServices = std::make_unique<WindowServices>();
        parts.services = m_ownServices.get();
    }
    m_view = std::make_unique<frmMainView>(*m_form, *parts.dialogs);
    m_view->setCloseHandler([this] { closeForm(); });
    // The search run executes on a worker thread; what it shows and asks arrives here as
    // queued tasks, run by this window's event loop in the order they were posted.
    RunHandOff::Post postHere = [this](std::function<void()> task) {
        QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
    };
    m_logic =
        std::make_unique<WizardLogic>(*m_view, *parts.prompt, *parts.services, std::move(postHere));
    m_form->installEventFilter(this);
    connectControls();
}

WizardWindow::~WizardWindow() {
    m_form->removeEventFilter(this);
}

void WizardWindow::Show() {
    m_logic->Form_Load();
    m_form->show();
}

void WizardWindow::connectControls() {
    const frmMainControls& c = m_form->Controls();
    WizardLogic* logic = m_logic.get();
    // The buttons of the pages, each with its handler.
    using Handler = void (WizardLogic::*)();
    const std::pair<QAbstractButton*, Handler> clicks[] = {
        {c.cmdNext, &WizardLogic::cmdNext_Click},
        {c.cmdBack, &WizardLogic::cmdBack_Click},
        {c.cmdCancel, &WizardLogic::cmdCancel_Click},
        {c.cmdAdvanced, &WizardLogic::cmdAdvanced_Click},
        {c.optSearchFolder, &WizardLogic::optSearchFolder_Click},
        {c.optSearchSystem, &WizardLogic::optSearchSystem_Click},
        {c.cmdBrowse, &WizardLogic::cmdBrowse_Click},
        {c.cmdBrowseDest, &WizardLogic::cmdBrowseDest_Click},
        {c.cmdShowFolder, &WizardLogic::cmdShowFolder_Click},
    };
    for (const auto& [button, handler] : clicks)
        QObject::connect(button, &QAbstractButton::clicked, this,
                         [logic, handler = handler] { (logic->*handler)(); });
    QObject::connect(c.lvResTypes, &ListView::DblClick, this,
                     [logic] { logic->lvResTypes_DblClick(); });
    // Keyboard users open the limit editor with Return or F2 on the selected row.
    QObject::connect(c.lvResTypes, &ListView::EditKey, this,
                     [logic] { logic->lvResTypes_DblClick(); });
    QObject::connect(c.sldAccel, &Slider::Scroll, this, [logic] { logic->sldAccel_Scroll(); });

    // The small buttons keep their plain look when they get the focus: none of them
    // ever becomes the button that Enter presses.
    for (QPushButton* button : {c.cmdBrowse, c.cmdBrowseDest, c.cmdShowFolder}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
}

bool WizardWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_form.get() || event->type() != QEvent::Close || m_isClosed)
        return QObject::eventFilter(watched, event);
    // The window's own close command: the logic unloads the window (saving the
    // settings) on the first pages and refuses from the search page on.
    m_inCloseEvent = true;
    const bool mayClose = m_logic->Form_QueryClose();
    m_inCloseEvent = false;
    if (!mayClose) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void WizardWindow::closeForm() {
    if (m_isClosed)
        return;
    m_isClosed = true;
    // Inside the window's own close event the window is closing already.
    if (!m_inCloseEvent)
        m_form->close();
    if (m_closed)
        m_closed();
}

} // namespace harvix
