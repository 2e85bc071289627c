// The short account of a finished run that the last page shows below "Show resources":
// what the run wrote, per kind, and, only when it applies, what it passed over and why.
// Without it the per-kind counts of the search page vanish with that page, and nothing
// says that the limits kept most bitmaps and icon images out.
#pragma once

#include "run/ResultStats.h"
#include "run/RunAccount.h"

#include <string>
#include <vector>

namespace harvix {

// One line for each part, joined by line breaks:
//   "Files written: Bitmap 20, Icon 512, Web page 2." with every chosen kind (the rows of
//   the statistics list, in their order);
//   then, each only when it applies and with the chosen kinds it met:
//   "Left out by the limits: Bitmap 125, Icon 40."
//   "The limits are set on the "Resource types" page: widen them there in another run to
//   take these too."
//   "Not well formed: Bitmap 12."
//   "Empty or missing: Icon 1."
//   "Files that could not be read: 3."
// Within each "caption count" pair the words are joined by no-break spaces (U+00A0), so
// that a wrapped line breaks only between pairs.
std::string RunSummaryText(const std::vector<StatsRow>& rows, const RunAccount& account);

} // namespace harvix
