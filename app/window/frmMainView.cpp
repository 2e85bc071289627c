#include "app/window/frmMainView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace harvix {

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

frmMainView::frmMainView(frmMain& form, IWizardDialogs& dialogs)
    : m_form(form), m_c(form.Controls()), m_dialogs(dialogs) {}

QWidget* frmMainView::widget(WizardControl control) const {
    using C = WizardControl;
    switch (control) {
    case C::fraScreenHdr:
        return m_c.fraScreenHdr;
    case C::fraWatermark:
        return m_c.fraWatermark;
    case C::lblScrnTitle:
        return m_c.lblScrnTitle;
    case C::lblScrnSubTitle:
        return m_c.lblScrnSubTitle;
    case C::cmdBack:
        return m_c.cmdBack;
    case C::cmdNext:
        return m_c.cmdNext;
    case C::cmdCancel:
        return m_c.cmdCancel;
    case C::optSearchSystem:
        return m_c.optSearchSystem;
    case C::optSearchFolder:
        return m_c.optSearchFolder;
    case C::txtFolder:
        return m_c.txtFolder;
    case C::cmdBrowse:
        return m_c.cmdBrowse;
    case C::chkSubFolders:
        return m_c.chkSubFolders;
    case C::chkContainers:
        return m_c.chkContainers;
    case C::cmdAdvanced:
        return m_c.cmdAdvanced;
    case C::fraMask:
        return m_c.fraMask;
    case C::txtMask:
        return m_c.txtMask;
    case C::fraPerformance:
        return m_c.fraPerformance;
    case C::sldAccel:
        return m_c.sldAccel;
    case C::lblPriority:
        return m_c.lblPriority;
    case C::lvResTypes:
        return m_c.lvResTypes;
    case C::txtDestPath:
        return m_c.txtDestPath;
    case C::cmdBrowseDest:
        return m_c.cmdBrowseDest;
    case C::chkUnique:
        return m_c.chkUnique;
    case C::lblStatus:
        return m_c.lblStatus;
    case C::l3dProgressBack:
        return m_c.l3dProgressBack;
    case C::prbProgress:
        return m_c.prbProgress;
    case C::lvResStats:
        return m_c.lvResStats;
    case C::aniAnim:
        return m_c.aniAnim;
    case C::cmdShowFolder:
        return m_c.cmdShowFolder;
    case C::lblSummary:
        return m_c.lblSummary;
    }
    return nullptr;
}

void frmMainView::setPageVisible(int page, bool visible) {
    m_c.fraScreen[static_cast<std::size_t>(page)]->setVisible(visible);
}

void frmMainView::bringPageToFront(int page) {
    m_c.fraScreen[static_cast<std::size_t>(page)]->raise();
}

void frmMainView::setVisible(WizardControl control, bool visible) {
    widget(control)->setVisible(visible);
}

void frmMainView::bringToFront(WizardControl control) {
    widget(control)->raise();
    // The picture strip is a pixel taller than the page area: the bottom band stays
    // above it, so that the band's separator line runs unbroken across the window.
    m_c.fraBottomBack->raise();
}

void frmMainView::setEnabled(WizardControl control, bool enabled) {
    widget(control)->setEnabled(enabled);
}

void frmMainView::setText(WizardControl control, const std::string& text) {
    QWidget* w = widget(control);
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(qt(text));
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(qt(text));
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(qt(text));
    else if (auto* frame = qobject_cast<QGroupBox*>(w))
        frame->setTitle(qt(text));
}

std::string frmMainView::text(WizardControl control) const {
    QWidget* w = widget(control);
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text().toStdString();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text().toStdString();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text().toStdString();
    if (auto* frame = qobject_cast<QGroupBox*>(w))
        return frame->title().toStdString();
    return {};
}

void frmMainView::setChecked(WizardControl control, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget(control)))
        button->setChecked(checked);
}

bool frmMainView::isChecked(WizardControl control) const {
    QWidget* w = widget(control);
    // A check box counts as checked in any state but unchecked.
    if (auto* box = qobject_cast<QCheckBox*>(w))
        return box->checkState() != Qt::Unchecked;
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->isChecked();
    return false;
}

void frmMainView::setFocus(WizardControl control) {
    widget(control)->setFocus(Qt::OtherFocusReason);
}

void frmMainView::setDefaultButton(WizardControl button) {
    for (QPushButton* each : {m_c.cmdBack, m_c.cmdNext, m_c.cmdCancel})
        each->setDefault(each == widget(button));
}

void frmMainView::keepFocusOnPage(WizardControl button) {
    QWidget* before = m_focusBefore.data();
    if (before != nullptr && before->isVisible() && before->isEnabled()) {
        if (!before->hasFocus())
            before->setFocus(Qt::OtherFocusReason);
        return;
    }
    QWidget* target = widget(button);
    if (!target->isEnabled())
        target = m_c.cmdCancel;
    target->setFocus(Qt::OtherFocusReason);
}

void frmMainView::setValue(WizardControl control, int value) {
    if (control == WizardControl::sldAccel)
        m_c.sldAccel->setValue(value);
    else if (control == WizardControl::prbProgress)
        m_c.prbProgress->setValue(value);
}

int frmMainView::value(WizardControl control) const {
    if (control == WizardControl::sldAccel)
        return m_c.sldAccel->Value();
    if (control == WizardControl::prbProgress)
        return m_c.prbProgress->Value();
    return 0;
}

void frmMainView::setCaption(const std::string& caption) {
    m_form.setWindowTitle(qt(caption));
}

std::string frmMainView::caption() const {
    return m_form.windowTitle().toStdString();
}

void frmMainView::lockPainting() {
    if (m_lockDepth++ == 0) {
        m_form.setUpdatesEnabled(false);
        QWidget* focus = QApplication::focusWidget();
        m_focusBefore = focus != nullptr && focus->window() == &m_form ? focus : nullptr;
    }
}

void frmMainView::unlockPainting() {
    if (m_lockDepth > 0 && --m_lockDepth == 0)
        m_form.setUpdatesEnabled(true);
}

void frmMainView::repaintNow() {
    m_form.repaint();
}

void frmMainView::repaintControl(WizardControl control) {
    widget(control)->repaint();
}

void frmMainView::removeCloseCommand() {
    // The window manager's close button stays drawn; the window refuses to close by it.
    m_closeCommandRemoved = true;
}

void frmMainView::processEvents() {
    QCoreApplication::processEvents();
}

void frmMainView::addResTypeRow(const std::string& key, const std::string& text, int icon) {
    (void)m_c.lvResTypes->Add(qt(key), qt(text), icon);
    // The kind names ("Animated cursor", "Video (AVI)") are wider than the laid-out
    // first column in this toolkit's fonts; widen it to fit rather than cut them short.
    // The limit columns keep their width, and the list has room to spare for this.
    const int laidOut = m_c.lvResTypes->columnWidth(0);
    m_c.lvResTypes->resizeColumnToContents(0);
    if (m_c.lvResTypes->columnWidth(0) < laidOut)
        m_c.lvResTypes->setColumnWidth(0, laidOut);
}

void frmMainView::setResTypeChecked(const std::string& key, bool checked) {
    m_c.lvResTypes->Item(qt(key)).setChecked(checked);
}

bool frmMainView::resTypeChecked(const std::string& key) const {
    return m_c.lvResTypes->Item(qt(key)).Checked();
}

void frmMainView::setResTypeSubItem(const std::string& key, int column, const std::string& text) {
    m_c.lvResTypes->Item(qt(key)).setSubItems(column, qt(text));
}

std::string frmMainView::resTypeSubItem(const std::string& key, int column) const {
    return m_c.lvResTypes->Item(qt(key)).SubItems(column).toStdString();
}

int frmMainView::selectedResTypeIndex() const {
    return m_c.lvResTypes->SelectedItem().Index();
}

void frmMainView::addStatsRow(const std::string& key, const std::string& text, int icon,
                              const std::string& count) {
    m_c.lvResStats->Add(qt(key), qt(text), icon).setSubItems(1, qt(count));
}

void frmMainView::setStatsCount(const std::string& key, const std::string& count) {
    m_c.lvResStats->Item(qt(key)).setSubItems(1, qt(count));
}

std::string frmMainView::statsCount(const std::string& key) const {
    return m_c.lvResStats->Item(qt(key)).SubItems(1).toStdString();
}

void frmMainView::autoSizeStatsColumns() {
    m_c.lvResStats->AutoSizeColumns();
}

void frmMainView::openAnimation(const std::string& path) {
    (void)m_c.aniAnim->Open(qt(path));
}

void frmMainView::playAnimation() {
    m_c.aniAnim->Play();
}

void frmMainView::stopAnimation() {
    m_c.aniAnim->Stop();
}

std::optional<std::string> frmMainView::inputBox(const std::string& prompt,
                                                 const std::string& answer) {
    return m_dialogs.InputBox(&m_form, prompt, answer);
}

std::optional<std::string> frmMainView::browseForFolder(const std::string& title,
                                                        const std::string& startFolder) {
    return m_dialogs.BrowseForFolder(&m_form, title, startFolder);
}

void frmMainView::openFolder(const std::string& path, std::function<void()> failed) {
    m_dialogs.OpenFolder(&m_form, path, std::move(failed));
}

void frmMainView::closeWindow() {
    if (m_close)
        m_close();
}

} // namespace harvix
