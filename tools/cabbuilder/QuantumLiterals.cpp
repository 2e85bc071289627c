#include "tools/cabbuilder/QuantumLiterals.h"

#include <algorithm>
#include <utility>

namespace harvix::cabbuilder {

namespace {

constexpr unsigned kSelectors = 7;       // four of literals, three of matches
constexpr unsigned kLiteralsAModel = 64; // the byte values a literal model holds
constexpr unsigned kStep = 8;            // what a symbol coded adds to its frequency
constexpr unsigned kMostTotal = 3800;    // beyond this total the model is rescaled
constexpr int kRescalesBetweenSorts = 50;

} // namespace

QuantumLiterals::Model::Model(unsigned first, unsigned count) {
    // Every symbol of frequency 1, in the order of their values.
    for (unsigned i = 0; i <= count; ++i)
        entries.push_back({first + i, count - i});
}

std::size_t QuantumLiterals::Model::indexOf(unsigned symbol) const {
    const auto found = std::find_if(entries.begin(), entries.end() - 1,
                                    [symbol](const Entry& e) { return e.symbol == symbol; });
    return static_cast<std::size_t>(found - entries.begin());
}

// After the symbol at `index` was coded: it and those before it in the table gain, and
// past the most total the frequencies are halved, every 50th time as frequencies sorted
// most frequent first (a sort that swaps as a selection sort does: ties keep the order
// the reader gives them).
void QuantumLiterals::Model::update(std::size_t index) {
    for (std::size_t i = 0; i <= index; ++i)
        entries[i].cumulative += kStep;
    if (entries.front().cumulative <= kMostTotal)
        return;
    const std::size_t count = entries.size() - 1;
    if (--rescalesBeforeSort != 0) {
        for (std::size_t i = count; i-- > 0;) {
            entries[i].cumulative >>= 1;
            if (entries[i].cumulative <= entries[i + 1].cumulative)
                entries[i].cumulative = entries[i + 1].cumulative + 1;
        }
        return;
    }
    rescalesBeforeSort = kRescalesBetweenSorts;
    for (std::size_t i = 0; i < count; ++i)
        entries[i].cumulative = (entries[i].cumulative - entries[i + 1].cumulative + 1) >> 1;
    for (std::size_t i = 0; i + 1 < count; ++i)
        for (std::size_t j = i + 1; j < count; ++j)
            if (entries[i].cumulative < entries[j].cumulative)
                std::swap(entries[i], entries[j]);
    for (std::size_t i = count; i-- > 0;)
        entries[i].cumulative += entries[i + 1].cumulative;
}

QuantumLiterals::QuantumLiterals() : m_selector(0, kSelectors) {
    for (unsigned first = 0; first < 256; first += kLiteralsAModel)
        m_literals.emplace_back(first, kLiteralsAModel);
}

std::vector<std::uint8_t> QuantumLiterals::frame(std::span<const std::uint8_t> bytes) {
    m_out.clear();
    m_low = 0;
    m_high = 0xFFFF;
    m_pending = 0;
    for (const std::uint8_t byte : bytes) {
        code(m_selector, byte / kLiteralsAModel);
        code(m_literals[byte / kLiteralsAModel], byte);
    }
    // The reader has taken 16 bits ahead of what it shifted out: the low end's 16 bits
    // lie in the last range, the first of them followed by the bits owed.
    putFollowed((m_low >> 15) & 1U);
    for (unsigned i = 15; i-- > 0;)
        put((m_low >> i) & 1U);
    while (m_used != 0)
        put(0);
    return std::move(m_out);
}

// Narrows the range to the symbol's share, updates the model, and shifts out the bits
// the range's ends agree on; a range that straddles the middle closely is widened, the
// bit it owes put after the next one.
void QuantumLiterals::code(Model& model, unsigned symbol) {
    const std::size_t index = model.indexOf(symbol);
    const std::uint32_t range = m_high - m_low + 1;
    const std::uint32_t total = model.entries.front().cumulative;
    const std::uint32_t high = m_low + model.entries[index].cumulative * range / total - 1;
    const std::uint32_t low = m_low + model.entries[index + 1].cumulative * range / total;
    m_high = high & 0xFFFF;
    m_low = low & 0xFFFF;
    model.update(index);
    for (;;) {
        if (((m_low ^ m_high) & 0x8000U) == 0) {
            putFollowed(m_high >> 15);
        } else if ((m_low & 0x4000U) != 0 && (m_high & 0x4000U) == 0) {
            ++m_pending;
            m_low &= 0x3FFFU;
            m_high |= 0x4000U;
        } else {
            break;
        }
        m_low = (m_low << 1) & 0xFFFFU;
        m_high = ((m_high << 1) | 1U) & 0xFFFFU;
    }
}

void QuantumLiterals::put(unsigned bit) {
    m_byte = (m_byte << 1) | (bit & 1U);
    if (++m_used == 8) {
        m_out.push_back(static_cast<std::uint8_t>(m_byte));
        m_byte = 0;
        m_used = 0;
    }
}

void QuantumLiterals::putFollowed(unsigned bit) {
    put(bit);
    for (; m_pending > 0; --m_pending)
        put(bit ^ 1U);
}

} // namespace harvix::cabbuilder
