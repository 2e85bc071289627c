#include "extract/writers/Support.h"

namespace harvix {

ResId LookupName(const ResId& name) {
    if (name.numeric)
        return name;
    // A name of digits beyond 65535 stands for no identifier: it is looked up as the
    // name it is, which no numeric entry can match.
    return ResIdFromText(name.text).value_or(name);
}

std::vector<std::uint8_t> LoadResourceBytes(const IResourceModule& module, const ResId& type,
                                            const ResId& name) {
    // A module gives a resource whole or not at all (IResourceModule::load): data that
    // runs past the end of the file loads as nothing, so it is left out as empty instead
    // of being written short as if it were whole.
    return module.load(type, LookupName(name));
}

std::string NoBytes(const IResourceModule& module, const ResId& type, const ResId& name) {
    const ResId lookup = LookupName(name);
    const auto versions = module.languages(type, lookup);
    if (versions.empty() && !name.numeric && lookup.numeric)
        return "named " + name.text + ", which is looked up as the number " + lookup.toText() +
               ", under which the module holds nothing";
    if (versions.empty())
        return "not in the module";
    return versions.front().size == 0 ? "empty resource" : "data cut by the end of the file";
}

void PutU8(std::vector<std::uint8_t>& out, std::uint64_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}
void PutU16(std::vector<std::uint8_t>& out, std::uint64_t value) {
    PutU8(out, value);
    PutU8(out, value >> 8);
}
void PutU32(std::vector<std::uint8_t>& out, std::uint64_t value) {
    PutU16(out, value);
    PutU16(out, value >> 16);
}

std::string RangeText(const LimitRange& range) {
    return std::to_string(range.min) + "-" + std::to_string(range.max);
}

std::string OutsideLimit(const std::string& what, std::int64_t value, const LimitRange& range) {
    return what + " " + std::to_string(value) + " outside the limit " + RangeText(range);
}

} // namespace harvix
