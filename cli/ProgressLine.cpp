#include "cli/ProgressLine.h"

namespace harvix::cli {

namespace {

std::string Counted(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

std::string ProgressLineText(const ProgressFacts& facts) {
    std::string line;
    const auto part = [&line](const std::string& text) {
        if (!line.empty())
            line += "  ";
        line += text;
    };
    if (facts.percent >= 0)
        part(std::to_string(facts.percent) + "% completed");
    if (facts.files > 0 || facts.resources > 0)
        part(Counted(facts.files, "file", "files") + " handled, " +
             Counted(facts.resources, "resource", "resources") + " written");
    if (!facts.status.empty())
        part(facts.status);
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
    const bool firstCounts = m_files == 0 && m_resources == 0 && (facts.files > 0 || facts.resources > 0);
    const bool changed = !m_drawn || firstCounts || facts.percent != m_percent ||
                         facts.status != m_status;
    const bool counted = facts.files != m_files || facts.resources != m_resources;
    if (!changed && !(counted && now - m_last >= kInterval))
        return false;
    m_drawn = true;
    m_percent = facts.percent;
    m_status = facts.status;
    m_files = facts.files;
    m_resources = facts.resources;
    m_last = now;
    return true;
}

} // namespace harvix::cli
