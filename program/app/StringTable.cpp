#include "app/StringTable.h"

namespace octo {

namespace {

struct StringRow {
    int id;
    std::string_view text;
};

#define OCTO_STRING(name, id, text) StringRow{id, text},
constexpr StringRow kStrings[] = {
#include "resources/strings.def"
};
#undef OCTO_STRING

} // namespace

std::string_view stringTableText(int id) {
    for (const StringRow& row : kStrings) {
        if (row.id == id) {
            return row.text;
        }
    }
    return {};
}

} // namespace octo
