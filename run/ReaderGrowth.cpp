#include "run/ReaderGrowth.h"

#include <algorithm>

namespace harvix {

bool ReaderGrowth::MeasureNext() {
    if (!CanGrow())
        return false;
    if (m_cachedInARow < kCachedRun || ++m_unmeasured >= kSparse) {
        m_unmeasured = 0;
        return true;
    }
    return false;
}

unsigned ReaderGrowth::Opened(const OpenCost& cost) {
    if (!CanGrow())
        return 0;
    m_cachedInARow = cost.blocksRead == 0 ? m_cachedInARow + 1 : 0;
    ++m_opens;
    // A read from the disk that took little more than its processor time (a fast disk, a
    // few blocks) leaves nothing for another reader to overlap.
    if (cost.blocksRead > 0 && cost.elapsed >= 2 * cost.cpu)
        ++m_diskWaits;
    if (m_opens < std::max(kSample, m_readers))
        return 0;
    const bool waiting = 2 * m_diskWaits > m_opens && m_runWaits > 0;
    // Each decision looks at a fresh sample: the part of the run under way now.
    m_opens = m_diskWaits = m_runWaits = 0;
    if (!waiting)
        return 0;
    const unsigned added = std::min(m_readers, m_most - m_readers);
    m_readers += added;
    return added;
}

} // namespace harvix
