// A window for the wizard logic that keeps the state of every control in memory and
// answers the dialogs from scripts.
#pragma once

#include "extract/Prompt.h"
#include "tests/support/ScriptedPrompt.h"
#include "app/wizard/WizardView.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvix::test {

class FakeWizardView final : public IWizardView {
public:
    struct Row {
        std::string key, text;
        int icon = 0;
        bool checked = false;
        std::string sub[4];
    };
    struct StatsRow {
        std::string key, text;
        int icon = 0;
        std::string count;
    };

    FakeWizardView() {
        // The state at creation, as the window lays it out.
        for (int page = 0; page < 7; ++page)
            pageVisible[page] = page == 0;
        visible[WizardControl::fraWatermark] = true;
        visible[WizardControl::fraScreenHdr] = false;
        visible[WizardControl::fraMask] = false;
        visible[WizardControl::fraPerformance] = false;
        visible[WizardControl::l3dProgressBack] = false;
        enabled[WizardControl::cmdBack] = false;
        checked[WizardControl::optSearchSystem] = true;
        checked[WizardControl::chkSubFolders] = true;
        texts[WizardControl::cmdNext] = "&Next >";
        texts[WizardControl::cmdCancel] = "&Cancel";
        windowCaption = "Harvix";
        values[WizardControl::sldAccel] = 1;
    }

    // Page frames
    void setPageVisible(int page, bool v) override { pageVisible[page] = v; }
    void bringPageToFront(int page) override {
        log.push_back("front page " + std::to_string(page));
    }

    void setVisible(WizardControl c, bool v) override { visible[c] = v; }
    void bringToFront(WizardControl c) override {
        log.push_back("front " + std::to_string(int(c)));
    }
    void setEnabled(WizardControl c, bool e) override { enabled[c] = e; }
    void setText(WizardControl c, const std::string& t) override { texts[c] = t; }
    std::string text(WizardControl c) const override {
        auto it = texts.find(c);
        return it == texts.end() ? std::string() : it->second;
    }
    void setChecked(WizardControl c, bool on) override {
        checked[c] = on;
        if (on && c == WizardControl::optSearchSystem)
            checked[WizardControl::optSearchFolder] = false;
        if (on && c == WizardControl::optSearchFolder)
            checked[WizardControl::optSearchSystem] = false;
    }
    bool isChecked(WizardControl c) const override {
        auto it = checked.find(c);
        return it != checked.end() && it->second;
    }
    void setFocus(WizardControl c) override { focus = c; }
    void setDefaultButton(WizardControl c) override { defaultButton = c; }
    void keepFocusOnPage(WizardControl c) override { focusAfterPageChange = c; }
    void setValue(WizardControl c, int v) override { values[c] = v; }
    int value(WizardControl c) const override {
        auto it = values.find(c);
        return it == values.end() ? 0 : it->second;
    }

    void setCaption(const std::string& c) override {
        windowCaption = c;
        captions.push_back(c);
    }
    std::string caption() const override { return windowCaption; }
    void lockPainting() override {
        ++lockDepth;
        log.push_back("lock");
    }
    void unlockPainting() override {
        --lockDepth;
        log.push_back("unlock");
    }
    void repaintNow() override { log.push_back("repaint"); }
    void repaintControl(WizardControl c) override {
        log.push_back("repaint " + std::to_string(int(c)));
        statusTexts.push_back(text(c));
    }
    void removeCloseCommand() override { closeCommandRemoved = true; }
    void processEvents() override {
        ++pumps;
        if (onProcessEvents)
            onProcessEvents();
    }

    void addResTypeRow(const std::string& key, const std::string& t, int icon) override {
        rows.push_back(Row{key, t, icon, false, {}});
    }
    void setResTypeChecked(const std::string& key, bool on) override { row(key).checked = on; }
    bool resTypeChecked(const std::string& key) const override { return row(key).checked; }
    void setResTypeSubItem(const std::string& key, int column, const std::string& t) override {
        row(key).sub[column] = t;
    }
    std::string resTypeSubItem(const std::string& key, int column) const override {
        return row(key).sub[column];
    }
    int selectedResTypeIndex() const override { return selectedRow; }

    void addStatsRow(const std::string& key, const std::string& t, int icon,
                     const std::string& count) override {
        stats.push_back(StatsRow{key, t, icon, count});
    }
    void setStatsCount(const std::string& key, const std::string& count) override {
        for (auto& s : stats)
            if (s.key == key)
                s.count = count;
        if (onStatsCount)
            onStatsCount();
    }
    std::string statsCount(const std::string& key) const override {
        for (const auto& s : stats)
            if (s.key == key)
                return s.count;
        return {};
    }
    void autoSizeStatsColumns() override { ++statsAutoSized; }

    void openAnimation(const std::string& path) override { animationPath = path; }
    void playAnimation() override { animationPlaying = true; }
    void stopAnimation() override { animationPlaying = false; }

    std::optional<std::string> inputBox(const std::string& prompt,
                                        const std::string& answer) override {
        inputPrompts.push_back(prompt);
        inputDefaults.push_back(answer);
        if (inputAnswers.empty())
            return std::nullopt;
        auto next = inputAnswers.front();
        inputAnswers.pop_front();
        return next;
    }
    std::optional<std::string> browseForFolder(const std::string& title,
                                               const std::string& startFolder) override {
        browseTitles.push_back(title);
        browseStarts.push_back(startFolder);
        if (browseAnswers.empty())
            return std::nullopt;
        auto next = browseAnswers.front();
        browseAnswers.pop_front();
        return next;
    }
    void openFolder(const std::string& path, std::function<void()> failed) override {
        openedFolders.push_back(path);
        openFailed = std::move(failed);
    }
    void closeWindow() override { ++closed; }

    Row& row(const std::string& key) {
        for (auto& r : rows)
            if (r.key == key)
                return r;
        throw std::runtime_error("no row " + key);
    }
    const Row& row(const std::string& key) const {
        return const_cast<FakeWizardView*>(this)->row(key);
    }
    bool isVisible(WizardControl c) const {
        auto it = visible.find(c);
        return it == visible.end() || it->second;
    }
    bool isEnabled(WizardControl c) const {
        auto it = enabled.find(c);
        return it == enabled.end() || it->second;
    }
    int visiblePage() const {
        int found = -1;
        for (const auto& [page, v] : pageVisible)
            if (v) {
                if (found >= 0)
                    return -2; // more than one
                found = page;
            }
        return found;
    }

    std::map<int, bool> pageVisible;
    std::map<WizardControl, bool> visible, enabled, checked;
    std::map<WizardControl, std::string> texts;
    std::map<WizardControl, int> values;
    std::optional<WizardControl> focus;
    std::optional<WizardControl> defaultButton = WizardControl::cmdNext; // as created
    std::optional<WizardControl> focusAfterPageChange;
    std::string windowCaption;
    std::vector<std::string> captions, statusTexts, log;
    int lockDepth = 0;
    bool closeCommandRemoved = false;
    int pumps = 0;
    std::function<void()> onProcessEvents;
    std::function<void()> onStatsCount; // after a count has changed
    std::vector<Row> rows;
    int selectedRow = 0;
    std::vector<StatsRow> stats;
    int statsAutoSized = 0;
    std::string animationPath;
    bool animationPlaying = false;
    std::deque<std::optional<std::string>> inputAnswers;
    std::vector<std::string> inputPrompts, inputDefaults;
    std::deque<std::optional<std::string>> browseAnswers; // nothing: cancelled
    std::vector<std::string> browseTitles, browseStarts, openedFolders;
    std::function<void()> openFailed; // what the window does when no browser starts
    int closed = 0;
};

// The tests' common scripted prompt.
using ScriptedPrompt = harvix::testing::ScriptedPrompt;

} // namespace harvix::test
