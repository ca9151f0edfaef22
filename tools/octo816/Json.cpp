#include "Json.h"

#include <cstdio>

namespace octo::cli {

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr size_t kEscapeChars = 8;

} // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < kFirstPrintable) {
            char escape[kEscapeChars];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string jsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        out += (i == 0 ? "" : ",") + items[i];
    }
    return out + "]";
}

JsonObject& JsonObject::add(const char* key, const std::string& value) {
    return addJson(key, jsonString(value));
}

JsonObject& JsonObject::add(const char* key, const char* value) {
    return addJson(key, jsonString(value));
}

JsonObject& JsonObject::add(const char* key, bool value) {
    return addJson(key, value ? "true" : "false");
}

JsonObject& JsonObject::add(const char* key, int64_t value) {
    return addJson(key, std::to_string(value));
}

JsonObject& JsonObject::addJson(const char* key, const std::string& json) {
    if (!fields_.empty()) {
        fields_ += ',';
    }
    fields_ += jsonString(key) + ":" + json;
    return *this;
}

} // namespace octo::cli
