// The application title: the window's caption, the title of every message box, the
// start of the progress caption and the toolkit's application name. Defined here only.
#pragma once

namespace harvix {

inline constexpr const char* kAppTitle = "Harvix";

} // namespace harvix
