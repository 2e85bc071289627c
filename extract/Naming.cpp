#include "extract/Naming.h"

#include <algorithm>

namespace harvix {

std::string SanitizeResourceName(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 32 || std::string_view("\\/:*?<>|\"").find(c) != std::string_view::npos)
            c = '_';
    }
    return out;
}

StemAndExtension SplitExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || name.find(' ', dot) != std::string_view::npos)
        return {std::string(name), {}};
    return {std::string(name.substr(0, dot)), std::string(name.substr(dot))};
}

std::string CollisionSuffix(std::uint64_t n) {
    if (n <= 1)
        return {};
    return " (" + std::to_string(n) + ")";
}

std::string_view CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t cut = maxBytes;
    // Step back over at most three continuation bytes to the start of the character
    // that the cut would split; bytes that are no UTF-8 at all are cut anywhere.
    for (int i = 0; i < 3 && cut > 0; ++i) {
        const auto byte = static_cast<unsigned char>(text[cut]);
        if ((byte & 0xC0) != 0x80)
            break;
        --cut;
    }
    if (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        cut = maxBytes; // not a character we know how to keep whole
    return text.substr(0, cut);
}

std::string BuildFileName(const NameParts& parts, std::string_view suffix) {
    std::string_view source = parts.source;
    std::string_view stem = parts.html ? std::string_view(parts.stem) : std::string_view();
    std::string_view extension = parts.extension;
    const std::string_view separator = parts.html ? " - " : "";

    auto total = [&] {
        return source.size() + separator.size() + stem.size() + suffix.size() + extension.size();
    };
    // Cuts one part by as much as the name is too long, never below nothing.
    auto shorten = [&](std::string_view& part) {
        const std::size_t length = total();
        if (length <= kMaxFileNameBytes)
            return;
        const std::size_t excess = length - kMaxFileNameBytes;
        part = CutUtf8(part, part.size() > excess ? part.size() - excess : 0);
    };
    shorten(stem);
    shorten(source);
    shorten(extension);

    std::string name;
    name.reserve(total());
    name.append(source).append(separator).append(stem).append(suffix).append(extension);
    return name;
}

std::string FreeNames::keyOf(const std::string& folder, const NameParts& parts) {
    std::string key = folder;
    key.append(1, '\0').append(parts.source).append(1, '\0').append(parts.stem);
    key.append(1, '\0').append(parts.extension).append(1, parts.html ? '\1' : '\0');
    return key;
}

FreeNames::Name FreeNames::Probe(IFileSystem& fs, const std::string& folder,
                                 const NameParts& parts) {
    const auto kept = m_resume.find(keyOf(folder, parts));
    for (std::uint64_t n = kept == m_resume.end() ? 1 : kept->second;; ++n) {
        std::string candidate = folder + BuildFileName(parts, CollisionSuffix(n));
        if (!m_onItsWay.contains(candidate) && !fs.Exists(candidate)) {
            if (kept != m_resume.end())
                kept->second = n;
            return Name{std::move(candidate), n};
        }
    }
}

void FreeNames::Taken(const std::string& folder, const NameParts& parts, const Name& name,
                      bool onItsWay) {
    if (onItsWay)
        m_onItsWay.insert(name.path);
    std::string key = keyOf(folder, parts);
    const auto kept = m_resume.find(key);
    if (kept != m_resume.end()) {
        kept->second = std::max(kept->second, name.number + 1);
        return;
    }
    // The first file of a name: its own path is the one test its next probe repeats.
    if (name.number == 1)
        return;
    if (m_resume.size() >= kMostResumePoints)
        m_resume.clear();
    m_resume.emplace(std::move(key), name.number + 1);
}

namespace {

void AppendOneLine(std::string& out, std::string_view part) {
    for (char c : part)
        out.push_back(c == '\r' || c == '\n' ? '_' : c);
}

} // namespace

std::string WithoutLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendOneLine(out, text);
    return out;
}

std::string IndexRecord(std::string_view fileName, std::string_view sourcePath,
                        std::string_view typeText, std::string_view nameText) {
    std::string line;
    line.reserve(fileName.size() + sourcePath.size() + typeText.size() + nameText.size() + 64);
    AppendOneLine(line, fileName);
    line += " - SOURCE FILE = ";
    AppendOneLine(line, sourcePath);
    line += " RESOURCE TYPE = ";
    AppendOneLine(line, typeText);
    line += " RESOURCE NAME = ";
    AppendOneLine(line, nameText);
    line += "\r\n";
    return line;
}

} // namespace harvix
