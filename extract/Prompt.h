// How the run, the engine and the destination preparation talk to the user. Each
// question has a name of its own; a front end decides its answer by the question, never
// by the words. The wizard shows every question as a message box with the product's
// text (BoxPrompt), the command-line tool answers from its terminal or its options, and
// tests answer from a script. Every box carries the application title kAppTitle; a text
// of two sentences holds them on two lines joined by CR LF.
#pragma once

#include "common/AppTitle.h"

#include <string>

namespace harvix {

enum class Answer { Ok, Yes, No, Retry, Cancel };

// What a reported failure is about.
enum class Failure {
    RefusedInput,       // a page's check refused what the user entered
    InvalidDestination, // the destination folder cannot be made or written
    WriteFailed,        // an output file or an index record could not be written
    RunStopped,         // the run ends because of an error
    FolderNotShown,     // no file browser could show the destination
};

// A failure to report: what it is about, the text the window shows, and, when known,
// what failed and why in the system's words (a path and a reason), for a front end that
// can say more than the window's box.
struct ShownError {
    Failure failure = Failure::RefusedInput;
    std::string text;
    std::string detail;
};

// The texts the window shows for the questions.
inline constexpr const char* kCancelQuestion = "Are you sure you want to cancel the search?";
inline constexpr const char* kFolderExistsQuestion =
    "The specified folder already exists.\r\nDo you want to continue?";
inline constexpr const char* kDiskFullMessage =
    "The drive is full.\r\nPlease free some space on the drive.";

class IPrompt {
public:
    virtual ~IPrompt() = default;

    // Asked by the run when Cancel was pressed. Yes stops the run, No lets it go on.
    virtual Answer confirmCancel() = 0;

    // Asked by the destination preparation when `folder` exists already. Yes goes on
    // into it (what is there stays), No keeps the user on the destination.
    virtual Answer continueIntoExisting(const std::string& folder) = 0;

    // Asked by the engine when the disk filled while `path` was written (nothing of it
    // stays). Retry writes it again, Cancel stops the extraction.
    virtual Answer retryDiskFull(const std::string& path) = 0;

    // A failure to report; the caller goes on (or stops) by itself.
    virtual void showError(const ShownError& error) = 0;
};

// A prompt that shows each question as a message box with its text: a question with Yes
// and No and the warning icon, a full disk with Retry and Cancel and the error icon, a
// failure with OK and the error icon. The window derives from it and draws the boxes.
class BoxPrompt : public IPrompt {
public:
    Answer confirmCancel() override { return YesNoBox(kCancelQuestion); }
    Answer continueIntoExisting(const std::string&) override {
        return YesNoBox(kFolderExistsQuestion);
    }
    Answer retryDiskFull(const std::string&) override { return RetryCancelBox(kDiskFullMessage); }
    // A refused destination gets a line more, with the cause in the words harvix-cli
    // prints ("... cannot be made: its parent folder ... does not exist").
    void showError(const ShownError& error) override {
        if (error.failure == Failure::InvalidDestination && !error.detail.empty())
            ErrorBox(error.text + "\r\n" + error.detail);
        else
            ErrorBox(error.text);
    }

protected:
    // Yes or No.
    virtual Answer YesNoBox(const std::string& text) = 0;
    // Retry or Cancel.
    virtual Answer RetryCancelBox(const std::string& text) = 0;
    virtual void ErrorBox(const std::string& text) = 0;
};

} // namespace harvix
