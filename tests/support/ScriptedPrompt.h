// The one prompt fake of the tests: answers every question from one script, in the
// order of asking (No to a yes/no question and Cancel to a full disk once the script has
// run out), and records each question by name, with the text the window would show, and
// every failure reported.
#pragma once

#include "extract/Prompt.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace harvix::testing {

// The questions a prompt is asked, by name.
enum class Question {
    ConfirmCancel,        // the user pressed Cancel during the run: stop it?
    ContinueIntoExisting, // the destination folder exists already: go on into it?
    RetryDiskFull,        // the disk is full while a resource was written: try again?
};

// The text of `question` as the window shows it.
[[nodiscard]] constexpr const char* QuestionText(Question question) {
    switch (question) {
    case Question::ConfirmCancel:
        return kCancelQuestion;
    case Question::ContinueIntoExisting:
        return kFolderExistsQuestion;
    case Question::RetryDiskFull:
        break;
    }
    return kDiskFullMessage;
}

class ScriptedPrompt : public IPrompt {
public:
    std::deque<Answer> answers;
    std::vector<Question> asked;        // every question, in order
    std::vector<std::string> questions; // the text of each, as the window shows it
    std::vector<std::string> paths;     // the folder or file each was about (none: empty)
    std::vector<std::string> errors;    // the text of each failure reported
    std::vector<ShownError> shown;      // the failures themselves
    std::function<void(Question)> onAsk; // called as each question is asked

    Answer confirmCancel() override { return ask(Question::ConfirmCancel, {}, Answer::No); }
    Answer continueIntoExisting(const std::string& folder) override {
        return ask(Question::ContinueIntoExisting, folder, Answer::No);
    }
    Answer retryDiskFull(const std::string& path) override {
        return ask(Question::RetryDiskFull, path, Answer::Cancel);
    }
    void showError(const ShownError& error) override {
        errors.push_back(error.text);
        shown.push_back(error);
    }

    // How many times `question` was asked.
    [[nodiscard]] std::size_t count(Question question) const {
        std::size_t n = 0;
        for (Question q : asked)
            n += q == question ? 1 : 0;
        return n;
    }

protected:
    Answer ask(Question question, const std::string& path, Answer fallback) {
        asked.push_back(question);
        if (onAsk)
            onAsk(question);
        questions.emplace_back(QuestionText(question));
        paths.push_back(path);
        if (answers.empty())
            return fallback;
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
};

} // namespace harvix::testing
