// harvix: the wizard window. It takes --help, --version, or one folder or file to start
// with (how a file manager's "Open with Harvix" runs it).
#include "generated/Version.h"
#include "app/wizard/StartChoice.h"
#include "app/window/WizardWindow.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: harvix [FOLDER | FILE]\n"
    "       harvix --help | --version\n"
    "Starts the Harvix wizard, which finds Windows modules and saves the pictures,\n"
    "icons, cursors, clips and web pages they hold as files, without running them.\n"
    "Given a FOLDER, the wizard starts with that folder chosen for the search; given a\n"
    "FILE, with the file's folder and the file's name as the mask, so that the run\n"
    "reads that one module. Without a display, harvix-cli does the same from the\n"
    "command line (see harvix-cli --help).\n";

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

// The folder or file to start with: the one argument that is not an option ("--" ends
// the options, for a path that begins with "-").
struct Arguments {
    std::optional<std::string> path;
    int status = -1; // the exit status when the program ends at once
};

Arguments readArguments(int argc, char* argv[]) {
    Arguments out;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options && argc == 2 && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            out.status = 0;
            return out;
        }
        if (options && argc == 2 && arg == "--version") {
            std::printf("harvix %s\n", harvix::kVersion);
            out.status = 0;
            return out;
        }
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if ((options && arg.size() > 1 && arg.front() == '-') || out.path) {
            std::fprintf(stderr, "harvix: unknown argument '%s'\n%s", arg.c_str(), kUsage);
            out.status = 2;
            return out;
        }
        out.path = arg;
    }
    return out;
}

} // namespace

int main(int argc, char* argv[]) {
    const Arguments arguments = readArguments(argc, argv);
    if (arguments.status >= 0)
        return arguments.status;
    std::optional<harvix::StartChoice> start;
    if (arguments.path) {
        std::error_code ignored;
        auto choice = harvix::StartChoiceForPath(*arguments.path, std::filesystem::current_path(ignored).string());
        if (!choice) {
            std::fprintf(stderr, "harvix: %s\n%s", choice.error().message.c_str(), kUsage);
            return 2;
        }
        start = *choice;
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
    // Qt sees the program's name only: the arguments are ours, read above, and a path
    // must never be taken for one of Qt's own options.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
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
    if (start)
        window.Logic().ChooseAtStart(*start);
    // Unloading the window ends the program, also from inside a running search.
    window.setClosedHandler([] { QCoreApplication::quit(); });
    window.Show();
    return QApplication::exec();
}
