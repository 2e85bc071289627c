// What the writers of every kind share: looking a resource up and loading it, the
// little-endian fields of the files they build, and the words of why a resource is left
// out.
#pragma once

#include "module/ModuleAccess.h"
#include "extract/ResourceKind.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace harvix {

inline constexpr std::uint64_t kMaxField32 = std::numeric_limits<std::uint32_t>::max();

// The identifier under which a resource that the enumeration gave as `name` is looked
// up: a name of decimal digits only stands for that numeric identifier (Windows takes
// "#123" and "123" alike as the number 123), so such a resource is found by number or not
// at all; every other name, and every number, is itself.
ResId LookupName(const ResId& name);

// The bytes of a resource; empty when it can't be found, is empty, or can't be read in
// full (its data runs past the end of the file).
std::vector<std::uint8_t> LoadResourceBytes(const IResourceModule& module, const ResId& type,
                                            const ResId& name);

// Why a resource gave no bytes, in a user's words: it is empty, or its data runs past
// the end of the file.
std::string NoBytes(const IResourceModule& module, const ResId& type, const ResId& name);

// Little-endian fields appended to a file being built.
void PutU8(std::vector<std::uint8_t>& out, std::uint64_t value);
void PutU16(std::vector<std::uint8_t>& out, std::uint64_t value);
void PutU32(std::vector<std::uint8_t>& out, std::uint64_t value);

// "8-32": a limit as it is typed.
std::string RangeText(const LimitRange& range);

// "bitmap height 3000 outside the limit 16-48"
std::string OutsideLimit(const std::string& what, std::int64_t value, const LimitRange& range);

} // namespace harvix
