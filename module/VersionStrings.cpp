#include "module/VersionStrings.h"

#include "common/ByteCursor.h"
#include "module/PeModule.h"
#include "module/ResourceType.h"

#include <algorithm>
#include <optional>

namespace harvix {

namespace {

// The blocks read nest three deep below the root (StringFileInfo, a table, its strings),
// each level read once; a level is read up to this many blocks.
constexpr int kMostChildren = 1024;

std::uint64_t alignTo4(std::uint64_t offset) { return (offset + 3) & ~std::uint64_t{3}; }

struct Block {
    std::string key;
    std::span<const std::uint8_t> value;    // the value's bytes
    std::span<const std::uint8_t> children; // the blocks it holds
    std::uint64_t length = 0;               // of the whole block
    bool text = false;
};

// One block at the start of `bytes`: length, value length, type, key (UTF-16, NUL), the
// value aligned to 32 bits, then the children aligned to 32 bits.
std::optional<Block> readBlock(std::span<const std::uint8_t> bytes) {
    ByteCursor c(bytes);
    auto length = c.peekAt<std::uint16_t>(0);
    auto valueLength = c.peekAt<std::uint16_t>(2);
    auto type = c.peekAt<std::uint16_t>(4);
    if (!length || !valueLength || !type || *length < 6)
        return std::nullopt;
    Block block;
    block.length = std::min<std::uint64_t>(*length, bytes.size());
    const auto whole = bytes.first(static_cast<std::size_t>(block.length));
    std::uint64_t at = 6;
    while (at + 2 <= whole.size() && (whole[at] != 0 || whole[at + 1] != 0))
        at += 2;
    if (at + 2 > whole.size())
        return std::nullopt;
    block.key = utf16ToUtf8(whole.subspan(6, static_cast<std::size_t>(at - 6)));
    block.text = *type == 1;
    const std::uint64_t valueStart = std::min<std::uint64_t>(alignTo4(at + 2), whole.size());
    // A text's length counts 16-bit units, which some compilers write as bytes: the value
    // is cut to what the block holds.
    const std::uint64_t valueBytes = block.text ? std::uint64_t{*valueLength} * 2 : *valueLength;
    const std::uint64_t valueEnd = std::min<std::uint64_t>(valueStart + valueBytes, whole.size());
    block.value = whole.subspan(static_cast<std::size_t>(valueStart), static_cast<std::size_t>(valueEnd - valueStart));
    const std::uint64_t childStart = std::min<std::uint64_t>(alignTo4(valueEnd), whole.size());
    block.children = whole.subspan(static_cast<std::size_t>(childStart));
    return block;
}

std::vector<Block> childrenOf(std::span<const std::uint8_t> area) {
    std::vector<Block> out;
    std::uint64_t at = 0;
    while (at < area.size() && static_cast<int>(out.size()) < kMostChildren) {
        auto block = readBlock(area.subspan(static_cast<std::size_t>(at)));
        if (!block)
            break;
        at = alignTo4(at + block->length);
        out.push_back(std::move(*block));
    }
    return out;
}

} // namespace

std::string VersionStrings::get(std::string_view key) const {
    auto folded = [](std::string_view s) {
        std::string out(s);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return out;
    };
    const std::string wanted = folded(key);
    for (const auto& [k, v] : entries)
        if (folded(k) == wanted)
            return v;
    return {};
}

VersionStrings ParseVersionStrings(std::span<const std::uint8_t> resource) {
    VersionStrings out;
    auto root = readBlock(resource);
    if (!root || root->key != "VS_VERSION_INFO")
        return out;
    for (const Block& info : childrenOf(root->children)) {
        if (info.key != "StringFileInfo")
            continue;
        for (const Block& table : childrenOf(info.children)) {
            for (const Block& string : childrenOf(table.children)) {
                if (string.key.empty() || !out.get(string.key).empty())
                    continue;
                std::string text = utf16ToUtf8(string.value.first(string.value.size() & ~std::size_t{1}));
                while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
                    text.pop_back();
                out.entries.emplace_back(string.key, std::move(text));
            }
        }
    }
    return out;
}

VersionStrings ReadVersionStrings(const IResourceModule& module) {
    const ResId type = ResId::of(ResType::Version);
    const std::vector<ResId> names = module.names(type);
    if (names.empty())
        return {};
    return ParseVersionStrings(module.load(type, names.front()));
}

} // namespace harvix
