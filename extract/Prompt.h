// How the engine and the destination preparation talk to the user. The wizard answers
// with message boxes, the command-line tool with its terminal or non-interactive policy,
// and tests with scripted answers. Every box carries the application title kAppTitle; a
// text of two sentences holds them on two lines joined by CR LF.
#pragma once

#include "common/AppTitle.h"

#include <string>

namespace harvix {

enum class Answer { Ok, Yes, No, Retry, Cancel };

class IPrompt {
public:
    virtual ~IPrompt() = default;

    // A question with the buttons Yes and No and the warning icon. Yes or No.
    virtual Answer AskYesNo(const std::string& text) = 0;

    // A failure that may be retried (a full disk): the buttons Retry and Cancel with the
    // error icon. Retry or Cancel.
    virtual Answer AskRetryCancel(const std::string& text) = 0;

    // A failure to report: the error icon and an OK button.
    virtual void ShowError(const std::string& text) = 0;
};

} // namespace harvix
