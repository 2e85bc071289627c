// The sub-commands of harvix-cli. Each takes the arguments after its own name and
// returns the process exit status: 0 success, 1 a run stopped by an error, 2 bad usage
// or a refused folder or destination (with a one-line message on stderr).
#pragma once

#include <string>
#include <vector>

namespace harvix {

using Args = std::vector<std::string>;

int RunList(const Args& args);
int RunVersion(const Args& args);
int RunSettings(const Args& args);
int RunExtract(const Args& args);
int RunPng(const Args& args);
int RunThumbnail(const Args& args);
int RunIcon(const Args& args);
int RunCursorTheme(const Args& args);

// Usage text of each command, for --help: the synopsis on the first line, indented by
// two blanks, then the explanation, indented further. main.cpp answers
// "harvix-cli COMMAND --help" with it, so a command never sees --help itself.
extern const char* const kListUsage;
extern const char* const kVersionUsage;
extern const char* const kSettingsUsage;
extern const char* const kExtractUsage;
extern const char* const kPngUsage;
extern const char* const kThumbnailUsage;
extern const char* const kIconUsage;
extern const char* const kCursorThemeUsage;

} // namespace harvix
