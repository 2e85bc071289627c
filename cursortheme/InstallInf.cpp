#include "cursortheme/InstallInf.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <string_view>
#include <vector>

namespace harvix {

namespace {

// The most %name% substitutions nested in one another, and the longest text they may
// make: enough for any real file, and no file can make them grow without bound.
constexpr int kMostNesting = 4;
constexpr std::size_t kLongestValue = 8192;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void putUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The file as text: UTF-16 (little or big endian, by its byte order mark) becomes UTF-8,
// a UTF-8 mark is dropped, anything else is taken byte for byte (the names that matter
// are ASCII). A lone surrogate becomes U+FFFD.
std::string textOf(ByteView file) {
    const bool le = file.size() >= 2 && file[0] == 0xFF && file[1] == 0xFE;
    const bool be = file.size() >= 2 && file[0] == 0xFE && file[1] == 0xFF;
    if (!le && !be) {
        std::size_t start = file.size() >= 3 && file[0] == 0xEF && file[1] == 0xBB && file[2] == 0xBF ? 3 : 0;
        return std::string(file.begin() + static_cast<std::ptrdiff_t>(start), file.end());
    }
    std::string out;
    out.reserve(file.size() / 2);
    auto unit = [&](std::size_t i) -> std::uint32_t {
        const std::uint32_t first = file[i], second = file[i + 1];
        return le ? (first | second << 8) : (first << 8 | second);
    };
    for (std::size_t i = 2; i + 1 < file.size(); i += 2) {
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < file.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        putUtf8(out, cp);
    }
    return out;
}

// The line without its comment (";" outside quotes).
std::string_view withoutComment(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ';' && !quoted)
            return line.substr(0, i);
    }
    return line;
}

// A field without the quotes around it ("" inside quotes stands for one quote).
std::string unquote(std::string_view field) {
    field = trim(field);
    std::string out;
    bool quoted = false;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '"') {
            if (quoted && i + 1 < field.size() && field[i + 1] == '"') {
                out.push_back('"');
                ++i;
            } else {
                quoted = !quoted;
            }
        } else {
            out.push_back(field[i]);
        }
    }
    return std::string(trim(out));
}

// The fields of a line, split at the commas outside quotes, each unquoted.
std::vector<std::string> fieldsOf(std::string_view line) {
    std::vector<std::string> fields;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] == '"')
            quoted = !quoted;
        else if (i == line.size() || (line[i] == ',' && !quoted)) {
            fields.push_back(unquote(line.substr(start, i - start)));
            start = i + 1;
        }
    }
    return fields;
}

using Strings = std::map<std::string, std::string>; // by the key in lower case

// The text with every %key% of the [Strings] section replaced by its value, the values'
// own %key% too, up to kMostNesting deep. "%%" is one "%". A directory number (%10%, the
// Windows folder) and a key the section lacks become nothing: only the last part of a
// path is used.
std::string substitute(std::string_view text, const Strings& strings, int depth = 0) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && out.size() <= kLongestValue; ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        const std::size_t end = text.find('%', i + 1);
        if (end == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        const std::string key = lower(text.substr(i + 1, end - i - 1));
        if (key.empty())
            out.push_back('%');
        else if (auto found = strings.find(key); found != strings.end())
            out += depth < kMostNesting ? substitute(found->second, strings, depth + 1) : found->second;
        i = end;
    }
    if (out.size() > kLongestValue)
        out.resize(kLongestValue);
    return out;
}

// The last part of a path as an install.inf writes it ("%10%\Cursors\Pack\arrow.cur").
std::string fileNameOf(std::string_view path) {
    path = trim(path);
    const auto slash = path.find_last_of("\\/");
    if (slash != std::string_view::npos)
        path = path.substr(slash + 1);
    return std::string(trim(path));
}

// A registry key as written, in lower case, with single backslashes and none at either end.
std::string keyOf(std::string_view key) {
    std::string out;
    for (const char c : lower(key)) {
        if ((c == '\\' || c == '/') && (out.empty() || out.back() == '\\'))
            continue;
        out.push_back(c == '/' ? '\\' : c);
    }
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    return out;
}

struct Line {
    std::string section; // in lower case
    std::string text;
};

} // namespace

bool CursorScheme::empty() const {
    return std::all_of(files.begin(), files.end(), [](const std::string& f) { return f.empty(); });
}

Result<CursorScheme> ReadInstallInf(ByteView file) {
    if (file.size() > kMaxInstallInfBytes)
        return makeError(ErrorKind::TooLarge, "install.inf is larger than " +
                                                  std::to_string(kMaxInstallInfBytes >> 10) + " KiB");
    const std::string text = textOf(file);

    // The lines with their sections; the [Strings] section may come last, so the
    // substitutions are known before any registry line is read.
    std::vector<Line> lines;
    Strings strings;
    std::string section;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line = trim(withoutComment(std::string_view(text).substr(start, end - start)));
        start = end + 1;
        if (line.empty())
            continue;
        if (line.front() == '[') {
            section = lower(trim(line.substr(1, line.find(']') == std::string_view::npos ? line.size() - 1
                                                                                           : line.find(']') - 1)));
            continue;
        }
        // [Strings] and its translations ([Strings.0407]).
        if (section == "strings" || section.rfind("strings.", 0) == 0) {
            const auto equals = line.find('=');
            if (equals == std::string_view::npos)
                continue;
            const std::string key = lower(unquote(line.substr(0, equals)));
            // The first definition stands; a translation does not replace it.
            if (!key.empty())
                strings.emplace(key, unquote(line.substr(equals + 1)));
            continue;
        }
        lines.push_back(Line{section, std::string(line)});
    }

    CursorScheme scheme;
    std::array<std::string, kCursorRoleCount> fromSchemeLine;
    bool schemeLineRead = false;
    for (const Line& line : lines) {
        // HKCU,"Control Panel\Cursors\Schemes","%SCHEME_NAME%",,"path,path,..."
        // HKCU,"Control Panel\Cursors",Arrow,0x00020000,"%10%\%CUR_DIR%\%pointer%"
        std::vector<std::string> fields = fieldsOf(line.text);
        if (fields.size() < 4)
            continue;
        const std::string root = lower(fields[0]);
        if (root != "hkcu" && root != "hkey_current_user" && root != "hklm" && root != "hkey_local_machine" &&
            root != "hku" && root != "hkey_users")
            continue;
        const std::string key = keyOf(substitute(fields[1], strings));
        const std::string valueName = substitute(fields[2], strings);
        // The data: what follows the flags; an unquoted list keeps its commas.
        std::string data;
        for (std::size_t i = 4; i < fields.size(); ++i)
            data += (i > 4 ? "," : "") + fields[i];
        data = substitute(data, strings);

        auto endsWith = [&key](std::string_view tail) {
            return key.size() >= tail.size() && key.compare(key.size() - tail.size(), tail.size(), tail) == 0;
        };
        const bool schemesKey = endsWith("control panel\\cursors\\schemes");
        const bool cursorsKey = endsWith("control panel\\cursors");
        if (schemesKey && !schemeLineRead) {
            schemeLineRead = true;
            if (scheme.name.empty())
                scheme.name = valueName;
            std::size_t role = 0;
            std::size_t from = 0;
            while (role < kCursorRoleCount && from <= data.size()) {
                std::size_t comma = data.find(',', from);
                if (comma == std::string::npos)
                    comma = data.size();
                fromSchemeLine[role++] = fileNameOf(std::string_view(data).substr(from, comma - from));
                from = comma + 1;
            }
        } else if (cursorsKey) {
            if (const auto role = RoleFromRegistryName(valueName)) {
                std::string& slot = scheme.files[static_cast<std::size_t>(*role)];
                if (slot.empty())
                    slot = fileNameOf(data);
            } else if (valueName.empty() && scheme.name.empty()) {
                // The key's default value is the name of the scheme in use.
                scheme.name = data;
            }
        }
    }
    // A role the value lines leave out takes the scheme's file.
    for (std::size_t i = 0; i < kCursorRoleCount; ++i)
        if (scheme.files[i].empty())
            scheme.files[i] = fromSchemeLine[i];
    return scheme;
}

} // namespace harvix
