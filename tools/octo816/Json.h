// A JSON object built field by field on one line, as a script reads it from a pipe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace octo::cli {

// The text as a JSON string, quotes included.
std::string jsonString(const std::string& text);
// Items that are JSON texts already, as an array.
std::string jsonArray(const std::vector<std::string>& items);

class JsonObject {
public:
    JsonObject& add(const char* key, const std::string& value);
    JsonObject& add(const char* key, const char* value);
    JsonObject& add(const char* key, bool value);
    JsonObject& add(const char* key, int64_t value);
    JsonObject& add(const char* key, int32_t value) { return add(key, int64_t{value}); }
    JsonObject& add(const char* key, uint32_t value) { return add(key, int64_t{value}); }
    JsonObject& add(const char* key, uint64_t value) {
        return add(key, static_cast<int64_t>(value));
    }
    // A value that is a JSON text already (an object, an array, null).
    JsonObject& addJson(const char* key, const std::string& json);
    std::string text() const { return "{" + fields_ + "}"; }

private:
    std::string fields_;
};

} // namespace octo::cli
