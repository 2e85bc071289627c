// The dialogs of the wizard window: message boxes for the questions and messages of the
// wizard, the search run and the engine, the input box of the limit editor, the folder
// chooser, and the file browser that shows the results. Tests put scripted ones in.
#pragma once

#include "extract/Prompt.h"

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace harvix {

class IWizardDialogs {
public:
    virtual ~IWizardDialogs() = default;
    // An input box titled with the application title; nothing when it is cancelled.
    [[nodiscard]] virtual std::optional<std::string>
    InputBox(QWidget* parent, const std::string& prompt, const std::string& answer) = 0;
    // Lets the user choose one existing folder, starting at `startFolder` (the user's
    // home folder when it is ""); nothing when the chooser is cancelled.
    [[nodiscard]] virtual std::optional<std::string>
    BrowseForFolder(QWidget* parent, const std::string& title, const std::string& startFolder) = 0;
    // Shows a folder in the desktop's file browser. `failed` runs later, on this thread,
    // when no browser could be started for it or the one started gave up.
    virtual void OpenFolder(QWidget* parent, const std::string& path,
                            std::function<void()> failed) = 0;
};

// The toolkit's dialogs.
class QtWizardDialogs final : public IWizardDialogs {
public:
    std::optional<std::string> InputBox(QWidget* parent, const std::string& prompt,
                                        const std::string& answer) override;
    std::optional<std::string> BrowseForFolder(QWidget* parent, const std::string& title,
                                               const std::string& startFolder) override;
    void OpenFolder(QWidget* parent, const std::string& path,
                    std::function<void()> failed) override;
};

// Message boxes titled "Harvix": a question with Yes and No and the warning icon, a full
// disk with Retry and Cancel and the error icon, a message with OK and the error icon.
// The two sentences of a message stand on two lines.
class MessageBoxPrompt final : public BoxPrompt {
public:
    explicit MessageBoxPrompt(QWidget* parent) : m_parent(parent) {}

protected:
    Answer YesNoBox(const std::string& text) override;
    Answer RetryCancelBox(const std::string& text) override;
    void ErrorBox(const std::string& text) override;

private:
    QWidget* m_parent;
};

} // namespace harvix
