#include "tools/modbuilder/KwajBuilder.h"

namespace harvix::modbuilder {

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putText(std::vector<std::uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

} // namespace

std::vector<std::uint8_t> makeKwajFile(const KwajFile& file) {
    constexpr std::uint16_t kHasLength = 0x0001;
    constexpr std::uint16_t kHasName = 0x0008;
    constexpr std::uint16_t kHasExtension = 0x0010;
    std::optional<std::uint32_t> length = file.length;
    if (!length && file.method != KwajMethod::Szdd)
        length = static_cast<std::uint32_t>(file.data.size());

    std::vector<std::uint8_t> out = {'K', 'W', 'A', 'J', 0x88, 0xF0, 0x27, 0xD1};
    put16(out, static_cast<std::uint16_t>(file.method));
    const std::size_t startAt = out.size();
    put16(out, 0); // where the data starts, set below
    put16(out, static_cast<std::uint16_t>((length ? kHasLength : 0) | (file.name.empty() ? 0 : kHasName) |
                                          (file.extension.empty() ? 0 : kHasExtension)));
    if (length)
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<std::uint8_t>((*length >> shift) & 0xFF));
    if (!file.name.empty())
        putText(out, file.name);
    if (!file.extension.empty())
        putText(out, file.extension);
    const auto start = static_cast<std::uint16_t>(out.size());
    out[startAt] = static_cast<std::uint8_t>(start & 0xFF);
    out[startAt + 1] = static_cast<std::uint8_t>(start >> 8);
    for (std::uint8_t byte : file.data)
        out.push_back(file.method == KwajMethod::Xor ? static_cast<std::uint8_t>(byte ^ 0xFF) : byte);
    return out;
}

} // namespace harvix::modbuilder
