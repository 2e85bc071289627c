// The name that begins every message a program writes on standard error: "harvix" for
// the wizard, "harvix-cli list", "harvix-cli extract", ... for the tool's commands. Code
// that both programs share (the settings store) writes its messages after it, so that
// a user sees which program, and which command, is speaking.
#pragma once

#include <string>
#include <utility>

namespace harvix {

namespace detail {
inline std::string& MessageSourceName() {
    static std::string name = "harvix";
    return name;
}
} // namespace detail

// Set once, before anything else runs (the tool sets it to its command).
inline void SetMessageSource(std::string name) {
    detail::MessageSourceName() = std::move(name);
}

// "harvix-cli extract: " while that command runs; "harvix: " by default.
[[nodiscard]] inline std::string MessagePrefix() {
    return detail::MessageSourceName() + ": ";
}

} // namespace harvix
