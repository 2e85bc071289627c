#include "WizardDialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace harvix {

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// Messages keep their lines joined by CR LF; the toolkit wants a plain line feed.
QString messageText(const std::string& text) {
    QString out = qt(text);
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return out;
}

QMessageBox::StandardButton ask(QWidget* parent, QMessageBox::Icon icon, const std::string& text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton first) {
    QMessageBox box(icon, QString::fromLatin1(kAppTitle), messageText(text), buttons, parent);
    box.setDefaultButton(first);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

std::optional<std::string> QtWizardDialogs::InputBox(QWidget* parent, const std::string& prompt,
                                                     const std::string& answer) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent, QString::fromLatin1(kAppTitle), qt(prompt),
                                               QLineEdit::Normal, qt(answer), &ok);
    if (!ok)
        return std::nullopt;
    return text.toStdString();
}

std::string QtWizardDialogs::BrowseForFolder(QWidget* parent, const std::string& title) {
    // The chooser always starts at the top of the user's own files, whatever the text
    // box holds.
    const QString folder = QFileDialog::getExistingDirectory(parent, qt(title), QDir::homePath(),
                                                             QFileDialog::ShowDirsOnly);
    return folder.toStdString();
}

void QtWizardDialogs::OpenFolder(const std::string& path) {
    // The path goes over as one argument: blanks need no quoting.
    (void)QDesktopServices::openUrl(QUrl::fromLocalFile(qt(path)));
}

Answer MessageBoxPrompt::AskYesNo(const std::string& text) {
    return ask(m_parent, QMessageBox::Warning, text, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::Yes) == QMessageBox::Yes
               ? Answer::Yes
               : Answer::No;
}

Answer MessageBoxPrompt::AskRetryCancel(const std::string& text) {
    return ask(m_parent, QMessageBox::Critical, text, QMessageBox::Retry | QMessageBox::Cancel,
               QMessageBox::Retry) == QMessageBox::Retry
               ? Answer::Retry
               : Answer::Cancel;
}

void MessageBoxPrompt::ShowError(const std::string& text) {
    (void)ask(m_parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace harvix
