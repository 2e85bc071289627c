#include "cli/Json.h"

namespace harvix {

bool IsValidUtf8(const std::string& text) {
    // The library checks every text it writes: a strict dump throws on the first byte
    // sequence that is not UTF-8.
    try {
        (void)Json(text).dump(-1, ' ', false, Json::error_handler_t::strict);
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

void PutPath(Json& object, const std::string& key, const std::string& path) {
    object[key] = path;
    if (!IsValidUtf8(path)) {
        Json bytes = Json::array();
        for (const char c : path)
            bytes.push_back(static_cast<unsigned char>(c));
        object[key + "_bytes"] = std::move(bytes);
    }
}

Json IdValue(const ResId& id) {
    return id.numeric ? Json(id.id) : Json(id.text);
}

Json TypeNameValue(const ResId& type) {
    if (!type.numeric)
        return type.is(kAviTypeName) ? Json(type.text) : Json(nullptr);
    const auto name = ResTypeName(type.id);
    return name ? Json(std::string(*name)) : Json(nullptr);
}

std::string JsonLine(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string JsonDocument(const Json& value) {
    return value.dump(2, ' ', false, Json::error_handler_t::replace);
}

} // namespace harvix
