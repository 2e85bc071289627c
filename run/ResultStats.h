// The per-kind counts of one run, as the statistics list on the search page shows them:
// one row per chosen kind, in kind order, each with the kind's caption and the number
// of resources of that kind written so far.
#pragma once

#include "extract/ResourceKind.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace harvix {

struct StatsRow {
    int kind = 0;              // the kind's index
    std::string key;           // row key: the kind's key, "ICON"
    std::string caption;       // first column: the kind's label, "Icon"
    int imageIndex = 0;        // small icon: kind + 1
    std::int64_t count = 0;    // second column

    [[nodiscard]] std::string countText() const { return std::to_string(count); }
};

class ResultStats {
public:
    // Makes one row, at "0", for each chosen kind, in kind order. Called once when the
    // search page is entered; a second call starts again from empty rows.
    void FillStatsList(const KindSwitches& kindEnabled);

    // One resource of `kind` was written. Returns the row that changed, or -1 when the
    // kind is outside 0 to 5 or has no row (the table then stays as it was).
    int ResFound(std::int32_t kind);

    [[nodiscard]] const std::vector<StatsRow>& rows() const { return m_rows; }
    // The count of a kind; 0 for a kind without a row.
    [[nodiscard]] std::int64_t countOf(int kind) const;

private:
    std::vector<StatsRow> m_rows;
};

} // namespace harvix
