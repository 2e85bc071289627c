// File-name wildcard match, as the search applies each mask to a file's name.
#pragma once

#include <string_view>

namespace harvix {

// True when the whole of `name` matches the mask text `mask`:
// - not case-sensitive: ASCII letters, and the letters of Latin-1, Latin Extended-A,
//   Greek and Cyrillic in UTF-8 (simple one-to-one case pairs); other characters are
//   compared exactly;
// - "*" stands for any run of characters (also none), "?" for exactly one character
//   (one UTF-8 sequence; a byte that is not valid UTF-8 counts as one character);
// - a mask text that is exactly "*.*" matches every name, with or without a dot;
// - a mask text holding ";" is a list of masks, any one of which may match; each has its
//   leading blanks skipped (trailing blanks stay part of it), and inside such a list
//   "*.*" is an ordinary pattern that needs a dot;
// - an empty mask matches nothing.
// Runs in time proportional to name length times mask length, whatever the input.
bool MatchesWildcard(std::string_view name, std::string_view mask);

} // namespace harvix
