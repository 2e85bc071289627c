// The one prompt fake of the tests: answers questions from a script (No to a yes/no
// question and Cancel to retry/cancel once the script has run out) and records every
// text it was shown.
#pragma once

#include "extract/Prompt.h"

#include <deque>
#include <string>
#include <vector>

namespace harvix::testing {

class ScriptedPrompt : public IPrompt {
public:
    std::deque<Answer> answers;
    std::vector<std::string> questions; // every question, of either kind, in order
    std::vector<std::string> yesNo, retryCancel, errors;

    Answer AskYesNo(const std::string& text) override {
        questions.push_back(text);
        yesNo.push_back(text);
        return next(Answer::No);
    }
    Answer AskRetryCancel(const std::string& text) override {
        questions.push_back(text);
        retryCancel.push_back(text);
        return next(Answer::Cancel);
    }
    void ShowError(const std::string& text) override { errors.push_back(text); }

private:
    Answer next(Answer fallback) {
        if (answers.empty())
            return fallback;
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
};

} // namespace harvix::testing
