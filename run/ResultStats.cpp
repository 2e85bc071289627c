#include "run/ResultStats.h"

namespace harvix {

void ResultStats::FillStatsList(const KindSwitches& kindEnabled) {
    m_rows.clear();
    for (const KindInfo& info : kKinds) {
        const int kind = KindIndex(info.kind);
        if (!kindEnabled[static_cast<std::size_t>(kind)])
            continue;
        m_rows.push_back(StatsRow{kind, std::string(info.key), std::string(info.label), kind + 1, 0});
    }
}

int ResultStats::ResFound(std::int32_t kind) {
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].kind == kind) {
            ++m_rows[row].count;
            return static_cast<int>(row);
        }
    }
    return -1;
}

std::int64_t ResultStats::countOf(int kind) const {
    for (const StatsRow& row : m_rows)
        if (row.kind == kind)
            return row.count;
    return 0;
}

} // namespace harvix
