// Helpers of the window tests.
#pragma once

#include "assets/Assets.h"
#include "app/wizard/WizardServices.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace harvix::test {

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
    explicit ProgramServices(run::IRunSearch* search = nullptr, run::IRunClock* clock = nullptr)
        : m_search(search), m_clock(clock) {}
    run::IRunSearch& Search() override {
        return m_search ? *m_search : SystemWizardServices::Search();
    }
    run::IRunClock& Clock() override { return m_clock ? *m_clock : SystemWizardServices::Clock(); }
    std::vector<std::uint8_t> LoadAnimationClip(const std::string& ResID) override {
        const QByteArray clip = assets::aviResource(QString::fromStdString(ResID));
        return {clip.begin(), clip.end()};
    }

private:
    run::IRunSearch* m_search;
    run::IRunClock* m_clock;
};

} // namespace harvix::test
