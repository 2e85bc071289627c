#include "app/window/WizardDialogs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::optional<std::string> QtWizardDialogs::BrowseForFolder(QWidget* parent,
                                                            const std::string& title,
                                                            const std::string& startFolder) {
    const QString start = startFolder.empty() ? QDir::homePath() : qt(startFolder);
    const QString folder =
        QFileDialog::getExistingDirectory(parent, qt(title), start, QFileDialog::ShowDirsOnly);
    // The chooser gives no folder only when it was cancelled.
    if (folder.isEmpty())
        return std::nullopt;
    return folder.toStdString();
}

void QtWizardDialogs::OpenFolder(QWidget* parent, const std::string& path,
                                 std::function<void()> failed) {
    // xdg-open hands the folder to the desktop's file browser. It gets the folder as a
    // file:// address, one argument, so blanks and other characters need no quoting.
    QByteArray address = QUrl::fromLocalFile(qt(path)).toEncoded();
    char program[] = "xdg-open";
    char* argv[] = {program, address.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program, nullptr, nullptr, argv, environ) != 0) {
        failed(); // no xdg-open on this system
        return;
    }
    // xdg-open ends as soon as the browser has the folder, with a status other than 0
    // when it found none or the one it tried failed. It is watched from the event loop,
    // so the window goes on meanwhile; one that runs the browser in its own place and
    // so does not end soon has found one.
    constexpr int kWatchMs = 30000;
    auto* watch = new QTimer(parent);
    QElapsedTimer since;
    since.start();
    QObject::connect(watch, &QTimer::timeout, watch, [watch, since, child, failed] {
        int status = 0;
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == 0 && since.elapsed() < kWatchMs)
            return;
        watch->stop();
        watch->deleteLater();
        if (ended == child && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
            failed();
    });
    watch->start(50);
}

Answer MessageBoxPrompt::YesNoBox(const std::string& text) {
    return ask(m_parent, QMessageBox::Warning, text, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::Yes) == QMessageBox::Yes
               ? Answer::Yes
               : Answer::No;
}

Answer MessageBoxPrompt::RetryCancelBox(const std::string& text) {
    return ask(m_parent, QMessageBox::Critical, text, QMessageBox::Retry | QMessageBox::Cancel,
               QMessageBox::Retry) == QMessageBox::Retry
               ? Answer::Retry
               : Answer::Cancel;
}

void MessageBoxPrompt::ErrorBox(const std::string& text) {
    (void)ask(m_parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace harvix
