// harvix: the wizard window.
#include "frmMain.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(harvix::frmMain::kAppTitle));
    harvix::frmMain window;
    window.show();
    return QApplication::exec();
}
