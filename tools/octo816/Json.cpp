#include "Json.h"

#include "Escape.h"

#include <cstdio>

namespace octo::cli {

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr size_t kEscapeChars = 8;
// A byte that is not part of UTF-8 becomes the lone surrogate U+DC00 + byte: no character
// of a text is ever one, so it stands for that byte alone (Python's "surrogateescape").
constexpr unsigned kStrayByteBase = 0xDC00;

void appendCodeUnit(std::string& out, unsigned unit) {
    char escape[kEscapeChars];
    std::snprintf(escape, sizeof escape, "\\u%04x", unit);
    out += escape;
}

} // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const char c = text[at];
        const auto byte = static_cast<unsigned char>(c);
        const size_t length = utf8Length(text, at);
        if (length == 0) {
            appendCodeUnit(out, kStrayByteBase + byte);
            ++at;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < kFirstPrintable) {
            appendCodeUnit(out, byte);
        } else {
            out.append(text, at, length);
        }
        at += length;
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
