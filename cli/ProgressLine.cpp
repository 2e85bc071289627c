#include "cli/ProgressLine.h"

namespace harvix {

namespace {

// "13,502": groups of three digits, whatever the locale, as in the line's example.
std::string Grouped(std::int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return n < 0 ? "-" + digits : digits;
}

std::string Counted(std::int64_t n, const char* one, const char* many) {
    return Grouped(n) + " " + (n == 1 ? one : many);
}

// The run's texts put a blank before each unit of a duration ("Remaining time:  2 min");
// on one line a single blank reads better.
std::string SingleBlanks(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != ' ' || out.empty() || out.back() != ' ')
            out.push_back(c);
    return out;
}

} // namespace

int PercentOf(const ProgressFacts& facts) {
    if (facts.total <= 0)
        return -1;
    // A tree that grew since it was counted stays at 100.
    if (facts.files >= facts.total)
        return 100;
    return static_cast<int>(facts.files * 100 / facts.total);
}

std::string ProgressLineText(const ProgressFacts& facts) {
    std::string line;
    const auto part = [&line](const std::string& text) {
        if (!line.empty())
            line += " - ";
        line += text;
    };
    if (facts.total > 0) {
        part(std::to_string(PercentOf(facts)) + " % - " + Grouped(facts.files) + " of " +
             Counted(facts.total, "file", "files"));
        part(Counted(facts.resources, "resource", "resources") + " written");
    } else if (facts.files > 0 || facts.resources > 0) {
        part(Counted(facts.files, "file", "files") + " handled");
        part(Counted(facts.resources, "resource", "resources") + " written");
    }
    if (!facts.status.empty())
        part(SingleBlanks(facts.status));
    return line;
}

std::string CutToColumns(const std::string& text, std::size_t columns) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue; // inside a character
        if (characters == columns)
            return text.substr(0, i);
        ++characters;
    }
    return text;
}

bool ProgressPacer::due(const ProgressFacts& facts, Clock::time_point now) {
    // The first counts are drawn at once: they are what shows that the run has begun.
    const bool firstCounts = m_last.files == 0 && m_last.resources == 0 &&
                             (facts.files > 0 || facts.resources > 0);
    const bool changed = !m_drawn || firstCounts || facts.total != m_last.total ||
                         PercentOf(facts) != PercentOf(m_last) || facts.status != m_last.status;
    const bool counted = facts.files != m_last.files || facts.resources != m_last.resources;
    if (!changed && !(counted && now - m_lastAt >= kInterval))
        return false;
    m_drawn = true;
    m_last = facts;
    m_lastAt = now;
    return true;
}

} // namespace harvix
