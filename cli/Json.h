// JSON for harvix-cli's script output (list --format json, the run report), written with
// nlohmann-json. Paths are bytes, not always UTF-8: a path is written as a text with
// every invalid byte sequence replaced by U+FFFD, and, only when that lost something,
// beside it as "<key>_bytes", the array of its bytes (0-255), from which the exact path
// can be rebuilt.
#pragma once

#include "module/ResourceType.h"

#include <nlohmann/json.hpp>

#include <string>

namespace harvix {

using Json = nlohmann::ordered_json;

// True when `text` is valid UTF-8.
bool IsValidUtf8(const std::string& text);

// Sets object[key] to the path, and object[key + "_bytes"] when it is not valid UTF-8.
void PutPath(Json& object, const std::string& key, const std::string& path);

// A resource type or name: its number, or its text.
Json IdValue(const ResId& id);

// The usual name of a resource type: RT_ and the type's name for a numbered type, the
// clips' type name itself; null for any other type.
Json TypeNameValue(const ResId& type);

// The JSON text of a value on one line (no line break at its end); invalid UTF-8 in
// texts that were not written by PutPath becomes U+FFFD.
std::string JsonLine(const Json& value);
// The same, indented for people.
std::string JsonDocument(const Json& value);

} // namespace harvix
