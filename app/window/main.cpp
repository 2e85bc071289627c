// harvix: the wizard window. It takes no arguments.
#include "WizardWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(harvix::frmMain::kAppTitle));
    harvix::WizardWindow window;
    // Unloading the window ends the program, also from inside a running search.
    window.setClosedHandler([] { QCoreApplication::quit(); });
    window.Show();
    return QApplication::exec();
}
