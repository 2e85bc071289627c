// Helpers of the window tests.
#pragma once

#include "app/window/WizardDialogs.h"
#include "assets/Assets.h"
#include "app/wizard/WizardServices.h"
#include "tests/support/TestFiles.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace harvix::test {

// A scratch folder for one window test, with the registry store inside it
// (HARVIX_REGISTRY), so that the test never reads or writes the user's own settings.
inline std::string ScratchWithOwnStore(const std::string& name) {
    const std::string root = harvix::testing::MakeScratchFolder(name).string();
    ::setenv("HARVIX_REGISTRY", (root + "/registry.sqlite3").c_str(), 1);
    return root;
}

// The wizard's dialogs, answered from the test: the input box gives `inputAnswer` (none:
// cancelled), the folder chooser `browseAnswer` (none: cancelled), and nothing is opened.
// Every default, title and folder they were given is kept.
class ScriptedDialogs final : public IWizardDialogs {
public:
    std::optional<std::string> InputBox(QWidget*, const std::string&,
                                        const std::string& answer) override {
        defaults.push_back(answer);
        return inputAnswer;
    }
    std::optional<std::string> BrowseForFolder(QWidget*, const std::string& title,
                                               const std::string& startFolder) override {
        titles.push_back(title);
        starts.push_back(startFolder);
        return browseAnswer;
    }
    void OpenFolder(QWidget*, const std::string& path, std::function<void()>) override {
        opened.push_back(path);
    }

    std::optional<std::string> inputAnswer;
    std::optional<std::string> browseAnswer;
    std::vector<std::string> defaults, titles, starts, opened;
};

// Runs the window's event loop until `done` holds, for at most `limitMs`; true when it
// held. The run of the wizard executes on a thread of its own and shows its effects
// through this loop.
inline bool waitUntil(const std::function<bool()>& done, int limitMs = 30000) {
    QElapsedTimer since;
    since.start();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || since.elapsed() > limitMs)
            loop.quit();
    });
    tick.start(5);
    if (!done())
        loop.exec();
    return done();
}

// The program's own services (registry store, file system, search, clock, priority),
// with another search when one is given.
class ProgramServices final : public SystemWizardServices {
public:
    explicit ProgramServices(IRunSearch* search = nullptr, IRunClock* clock = nullptr)
        : m_search(search), m_clock(clock) {}
    IRunSearch& Search() override {
        return m_search ? *m_search : SystemWizardServices::Search();
    }
    IRunClock& Clock() override { return m_clock ? *m_clock : SystemWizardServices::Clock(); }
    std::vector<std::uint8_t> LoadAnimationClip(const std::string& ResID) override {
        const QByteArray clip = aviResource(QString::fromStdString(ResID));
        return {clip.begin(), clip.end()};
    }

private:
    IRunSearch* m_search;
    IRunClock* m_clock;
};

} // namespace harvix::test
