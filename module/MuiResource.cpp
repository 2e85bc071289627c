#include "module/MuiResource.h"

#include "common/ByteCursor.h"
#include "module/PeModule.h"

namespace harvix {

namespace {

constexpr std::uint32_t kMuiSignature = 0xFECDFECDu;
constexpr std::uint64_t kHeaderSize = 0x84;
constexpr std::uint64_t kFileTypeAt = 16;
constexpr std::uint64_t kLanguageAt = 116;
constexpr std::uint64_t kFallbackLanguageAt = 124;
constexpr std::uint32_t kRoleMask = 0x0F;
constexpr std::uint32_t kRoleNeutral = 1;
constexpr std::uint32_t kRoleSpecific = 2;
// A language tag is a few characters ("en-US", "sr-Latn-RS"); a longer text is not one.
constexpr std::uint32_t kLongestTag = 2 * 85;

// The language text at the offset and length stored at `field`: within the resource and
// past the header, or absent (offset and length 0). Nothing when it is neither.
std::optional<std::string> LanguageText(const ByteCursor& resource, std::uint64_t size, std::uint64_t field) {
    const std::uint32_t offset = resource.peekAt<std::uint32_t>(field).valueOr(0);
    const std::uint32_t length = resource.peekAt<std::uint32_t>(field + 4).valueOr(0);
    if (length == 0)
        return std::string();
    if (offset < kHeaderSize || length > kLongestTag || length > size || offset > size - length)
        return std::nullopt;
    auto units = resource.slice(offset, length);
    if (!units)
        return std::nullopt;
    return utf16ToUtf8(*units);
}

} // namespace

Result<MuiFacts> ReadMuiResource(std::span<const std::uint8_t> bytes) {
    ByteCursor c(bytes);
    if (c.peekAt<std::uint32_t>(0).valueOr(0) != kMuiSignature)
        return makeError(ErrorKind::NotLoadable, "no resource configuration signature");
    // The size field covers the header and the texts after it; padding may follow.
    const std::uint32_t size = c.peekAt<std::uint32_t>(4).valueOr(0);
    if (size < kHeaderSize || size > bytes.size())
        return makeError(ErrorKind::Truncated, "resource configuration cut short");
    MuiFacts facts;
    const std::uint32_t role = c.peekAt<std::uint32_t>(kFileTypeAt).valueOr(0) & kRoleMask;
    if (role == kRoleNeutral)
        facts.role = MuiRole::LanguageNeutral;
    else if (role == kRoleSpecific)
        facts.role = MuiRole::LanguageSpecific;
    else
        return makeError(ErrorKind::Unsupported, "file type " + std::to_string(role) + " of a resource configuration");
    const ByteCursor resource(bytes.first(size));
    auto language = LanguageText(resource, size, kLanguageAt);
    auto fallback = LanguageText(resource, size, kFallbackLanguageAt);
    if (!language || !fallback)
        return makeError(ErrorKind::Truncated, "language of a resource configuration outside it");
    facts.language = std::move(*language);
    facts.fallbackLanguage = std::move(*fallback);
    return facts;
}

std::optional<MuiFacts> MuiFactsOf(const IResourceModule& module) {
    const ResId type = ResId::name(std::string(kMuiTypeName));
    const std::vector<ResId> names = module.names(type);
    if (names.empty())
        return std::nullopt;
    auto facts = ReadMuiResource(module.load(type, names.front()));
    if (!facts)
        return std::nullopt;
    return std::move(facts).value();
}

} // namespace harvix
