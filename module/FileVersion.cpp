#include "module/FileVersion.h"

#include "common/ByteCursor.h"

#include <algorithm>
#include <string_view>

namespace harvix {

namespace {

constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr std::uint64_t kFixedInfoSize = 52;
constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";

std::uint64_t alignTo4(std::uint64_t offset) { return (offset + 3) & ~std::uint64_t{3}; }

} // namespace

cFileVersion::cFileVersion(const std::string& sFileName) : m_fileName(sFileName) {
    if (auto module = OpenModule(sFileName))
        readModule(**module);
}

cFileVersion::cFileVersion(const IResourceModule& module) { readModule(module); }

void cFileVersion::readModule(const IResourceModule& module) {
    // The first version resource in the directory, in its first language.
    const ResId type = ResId::of(ResType::Version);
    const std::vector<ResId> names = module.names(type);
    if (names.empty())
        return;
    const std::vector<std::uint8_t> bytes = module.load(type, names.front());
    m_parts = ParseVersionResource(bytes);
}

std::optional<std::array<std::uint16_t, 4>> cFileVersion::ParseVersionResource(
    std::span<const std::uint8_t> resource) {
    // The root block: length, value length, then (in a 32-bit module) a type and the key
    // "VS_VERSION_INFO" in UTF-16, or (in a 16-bit module) the key in 8-bit characters
    // right after the value length; the key's NUL, padding to 32 bits, then the value, a
    // VS_FIXEDFILEINFO.
    ByteCursor whole(resource);
    auto length = whole.peekAt<std::uint16_t>(0);
    auto valueLength = whole.peekAt<std::uint16_t>(2);
    if (!length || !valueLength)
        return std::nullopt;
    // The block may not claim more than the resource holds.
    auto block = whole.slice(0, std::min<std::uint64_t>(*length, resource.size()));
    if (!block)
        return std::nullopt;
    ByteCursor c(*block);
    auto keyMatches = [&](std::uint64_t at, std::size_t unitSize) {
        if (!c.seek(at))
            return false;
        for (char16_t expected : kRootKey) {
            auto unit = unitSize == 2 ? c.u16() : Result<std::uint16_t>(c.u8().valueOr(0xFF));
            if (!unit || *unit != expected)
                return false;
        }
        auto terminator = unitSize == 2 ? c.u16() : Result<std::uint16_t>(c.u8().valueOr(0xFF));
        return terminator && *terminator == 0;
    };
    if (!keyMatches(6, 2) && !keyMatches(4, 1))
        return std::nullopt;
    // Some resource compilers write a value length larger than the record; a smaller one
    // means there is no fixed record.
    if (*valueLength < kFixedInfoSize)
        return std::nullopt;
    if (!c.seek(alignTo4(c.position())))
        return std::nullopt;
    auto signature = c.u32();
    auto structVersion = c.u32();
    auto fileMs = c.u32();
    auto fileLs = c.u32();
    if (!signature || !structVersion || !fileMs || !fileLs || *signature != kFixedInfoSignature)
        return std::nullopt;
    return std::array<std::uint16_t, 4>{static_cast<std::uint16_t>(*fileMs >> 16),
                                        static_cast<std::uint16_t>(*fileMs & 0xFFFF),
                                        static_cast<std::uint16_t>(*fileLs >> 16),
                                        static_cast<std::uint16_t>(*fileLs & 0xFFFF)};
}

std::string cFileVersion::Version() const {
    if (!m_parts)
        return {};
    return std::to_string(Major()) + "." + std::to_string(Minor()) + "." + std::to_string(Build()) + "." +
           std::to_string(Revision());
}

int cFileVersion::Compare(const cFileVersion& other) const {
    for (std::size_t i = 0; i < 4; ++i) {
        if (part(i) != other.part(i))
            return part(i) < other.part(i) ? -1 : 1;
    }
    return 0;
}

} // namespace harvix
