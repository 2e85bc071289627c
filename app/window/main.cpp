// harvix: the wizard window. It takes no arguments but --help and --version.
#include "generated/Version.h"
#include "app/window/WizardWindow.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: harvix [--help | --version]\n"
    "Starts the Harvix wizard, which finds Windows modules and saves the pictures,\n"
    "icons, cursors, clips and web pages they hold as files, without running them.\n"
    "It takes no other arguments. Without a display, harvix-cli does the same from\n"
    "the command line (see harvix-cli --help).\n";

constexpr const char* kUseTheTool = "harvix-cli extracts without one (see harvix-cli --help)";

const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// What Qt reports while it opens the display is held back: when the display cannot be
// opened, Qt ends with a fatal message (and would abort), and the user gets one line
// of ours instead of Qt's several; when it can, the held messages are passed on.
std::vector<std::string> g_heldMessages;

void messageWhileStarting(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        const char* display = environment("WAYLAND_DISPLAY");
        if (display == nullptr)
            display = environment("DISPLAY");
        std::fprintf(stderr, "harvix: the display '%s' cannot be opened; %s\n",
                     display != nullptr ? display : "", kUseTheTool);
        std::_Exit(1);
    }
    g_heldMessages.push_back(qFormatLogMessage(type, context, text).toStdString());
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1) {
        const std::string arg = argv[1];
        if (argc == 2 && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argc == 2 && arg == "--version") {
            std::printf("harvix %s\n", harvix::kVersion);
            return 0;
        }
        std::fprintf(stderr, "harvix: unknown argument '%s'\n%s", arg.c_str(), kUsage);
        return 2;
    }
    // A platform named in QT_QPA_PLATFORM (offscreen for the tests, or another one) is
    // Qt's business; otherwise there must be a display to open.
    if (environment("QT_QPA_PLATFORM") == nullptr && environment("DISPLAY") == nullptr &&
        environment("WAYLAND_DISPLAY") == nullptr) {
        std::fprintf(stderr, "harvix: no display found (DISPLAY and WAYLAND_DISPLAY are not set); %s\n",
                     kUseTheTool);
        return 1;
    }

    const QtMessageHandler previousHandler = qInstallMessageHandler(messageWhileStarting);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    for (const std::string& message : g_heldMessages)
        std::fprintf(stderr, "%s\n", message.c_str());
    g_heldMessages.clear();

    QApplication::setApplicationName(QString::fromLatin1(harvix::frmMain::kAppTitle));
    QApplication::setApplicationVersion(QString::fromLatin1(harvix::kVersion));
    // The desktop entry's name: Wayland's application id, and the icon theme name of
    // the window icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(harvix::kDesktopId));
    harvix::WizardWindow window;
    // Unloading the window ends the program, also from inside a running search.
    window.setClosedHandler([] { QCoreApplication::quit(); });
    window.Show();
    return QApplication::exec();
}
