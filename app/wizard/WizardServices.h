// Everything the wizard logic uses besides its window and the user: the settings
// store, the file system, the file search, the clock, the process priority, the
// temporary folder and the program's own animation clip. The program uses
// SystemWizardServices; tests replace single pieces.
#pragma once

#include "extract/FileSystem.h"
#include "search/SearchCore.h"
#include "run/SearchRun.h"
#include "settings/Settings.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace harvix {

class IWizardServices {
public:
    virtual ~IWizardServices() = default;

    [[nodiscard]] virtual Settings LoadSettings() = 0;
    // Called once, when the window is unloaded; a failure is the store's to report.
    virtual void SaveSettings(const Settings& settings) = 0;

    virtual IFileSystem& FileSystem() = 0;
    virtual IRunSearch& Search() = 0;
    virtual IRunClock& Clock() = 0;
    virtual void ApplyPriority(std::int16_t position) = 0;

    // The folder in which the animation's temporary file is made.
    [[nodiscard]] virtual std::string TempFolder() = 0;
    // The bytes of one of the program's own AVI clips; empty when there is none.
    [[nodiscard]] virtual std::vector<std::uint8_t> LoadAnimationClip(const std::string& ResID) = 0;
};

// The real pieces: the registry store, the POSIX file system, cSearchCore over the
// machine's folders and drives, a monotonic clock, setpriority and the system
// temporary folder. The clip is left to the window, which holds the program's
// resources: this one has none.
class SystemWizardServices : public IWizardServices {
public:
    SystemWizardServices();
    ~SystemWizardServices() override;

    Settings LoadSettings() override;
    void SaveSettings(const Settings& settings) override;
    IFileSystem& FileSystem() override;
    IRunSearch& Search() override;
    IRunClock& Clock() override;
    void ApplyPriority(std::int16_t position) override;
    std::string TempFolder() override;
    std::vector<std::uint8_t> LoadAnimationClip(const std::string& ResID) override;

    [[nodiscard]] cSearchCore& SearchCore() { return m_searchCore; }

private:
    cSearchCore m_searchCore;
    std::unique_ptr<IRunSearch> m_search;
    SystemClock m_clock;
};

} // namespace harvix
