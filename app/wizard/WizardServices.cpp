#include "app/wizard/WizardServices.h"

#include "run/Priority.h"
#include "run/RunBindings.h"

#include <filesystem>
#include <system_error>

namespace harvix {

SystemWizardServices::SystemWizardServices()
    : m_search(std::make_unique<SearchCoreBinding>(m_searchCore)) {}

SystemWizardServices::~SystemWizardServices() = default;

Settings SystemWizardServices::LoadSettings() {
    return LoadSettingsOrDefaults();
}

void SystemWizardServices::SaveSettings(const Settings& settings) {
    // The program ends right after; a store that refuses the write has said so on stderr.
    (void)SaveSettingsAtExit(settings);
}

IFileSystem& SystemWizardServices::FileSystem() {
    return RealFileSystem();
}

IRunSearch& SystemWizardServices::Search() {
    return *m_search;
}

IRunClock& SystemWizardServices::Clock() {
    return m_clock;
}

void SystemWizardServices::ApplyPriority(std::int16_t position) {
    harvix::ApplyPriority(position); // the run's own, for this process
}

std::string SystemWizardServices::TempFolder() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    return error ? std::string() : folder.string();
}

std::vector<std::uint8_t> SystemWizardServices::LoadAnimationClip(const std::string&) {
    return {};
}

} // namespace harvix
