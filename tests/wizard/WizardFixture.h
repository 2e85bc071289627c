// The wizard logic over the fake view, with services that keep the settings in memory,
// use the real file system and search inside a scratch folder, and tick a fake clock.
#pragma once

#include "tests/wizard/FakeWizardView.h"
#include "run/RunBindings.h"
#include "app/wizard/Wizard.h"
#include "app/wizard/WizardServices.h"
#include "tests/support/TestFiles.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace harvix::test {

using harvix::testing::ReadText;

// Reports a fixed list of files (name, folder count at that file) and then the end.
class ScriptedSearch final : public IRunSearch {
public:
    struct Hit {
        std::string file;
        std::int32_t dirCount = 0;
    };
    SearchCount CountTree(bool AllDrives, const std::string& BaseDir, bool,
                          const std::string&) override {
        countCalls.push_back({AllDrives, BaseDir});
        return total;
    }
    void SearchForFiles(const std::string& FileRoot, bool Recurse, const std::string& FileMask,
                        cSearchCoreEvents& events) override {
        searches.push_back(FileRoot + "|" + (Recurse ? "sub" : "flat") + "|" + FileMask);
        play(events);
    }
    void SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) override {
        searches.push_back("all|" + FileMask);
        play(events);
    }

    SearchCount total; // what the count before the search finds
    std::vector<Hit> hits;
    // Called before each hit is reported, with its number (first: 1).
    std::function<void(std::int32_t)> beforeHit;
    std::vector<std::pair<bool, std::string>> countCalls;
    std::vector<std::string> searches;

private:
    void play(cSearchCoreEvents& events) {
        std::int32_t count = 0;
        for (const Hit& hit : hits) {
            std::string name = hit.file;
            std::int32_t fileCount = ++count;
            if (beforeHit)
                beforeHit(fileCount);
            std::int32_t dirCount = hit.dirCount;
            bool cancel = false;
            events.FileFound(name, fileCount, dirCount, cancel);
            if (cancel)
                break;
        }
        events.SearchFinished();
    }
};

class FakeClock final : public IRunClock {
public:
    std::uint32_t GetTickCount() override { return now += step; }
    void Sleep(std::uint32_t milliseconds) override { slept += milliseconds; }
    std::uint32_t now = 0, step = 0, slept = 0;
};

class FakeServices final : public IWizardServices {
public:
    FakeServices() : m_realSearch(m_searchCore) {}

    Settings LoadSettings() override {
        ++loads;
        return stored;
    }
    void SaveSettings(const Settings& settings) override {
        ++saves;
        stored = settings;
    }
    IFileSystem& FileSystem() override { return RealFileSystem(); }
    IRunSearch& Search() override {
        if (useRealSearch)
            return m_realSearch;
        return scripted;
    }
    IRunClock& Clock() override { return clock; }
    void ApplyPriority(std::int16_t position) override { priorities.push_back(position); }
    std::string TempFolder() override { return tempFolder; }
    std::vector<std::uint8_t> LoadAnimationClip(const std::string& ResID) override {
        clipRequests.push_back(ResID);
        return clip;
    }

    Settings stored;
    int loads = 0, saves = 0;
    bool useRealSearch = false;
    ScriptedSearch scripted;
    FakeClock clock;
    std::vector<std::int16_t> priorities;
    std::string tempFolder;
    std::vector<std::uint8_t> clip{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '};
    std::vector<std::string> clipRequests;

private:
    cSearchCore m_searchCore;
    SearchCoreBinding m_realSearch;
};

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = harvix::testing::MakeScratchFolder("harvix-wizard").string();
        services.tempFolder = root + "/tmp";
        std::filesystem::create_directory(services.tempFolder);
        std::filesystem::create_directory(root + "/modules");
        services.stored = defaults();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    Settings defaults() const {
        Settings s;
        s.SearchSystem = true;
        s.Folder = root + "/modules";
        s.SubFolders = true;
        s.Mask = "*.exe;*.dll";
        s.ResTypes = {true, true, true, true, true, true};
        s.DestPath = root + "/Resources";
        s.Priority = 3;
        return s;
    }

    WizardLogic& load() {
        wizard = std::make_unique<WizardLogic>(view, prompt, services);
        wizard->Form_Load();
        return *wizard;
    }

    // From the welcome page to `page`, by Next, with the settings as they are.
    void goTo(int page) {
        while (wizard->CurrentPage() < page) {
            const int before = wizard->CurrentPage();
            wizard->cmdNext_Click();
            ASSERT_NE(wizard->CurrentPage(), before) << "stuck on page " << before;
        }
    }

    std::string root;
    FakeWizardView view;
    ScriptedPrompt prompt;
    FakeServices services;
    std::unique_ptr<WizardLogic> wizard;
};

} // namespace harvix::test
