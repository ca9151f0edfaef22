// The names of the string table's ids, made from the table itself so that a name and its
// text can never part.
#pragma once

namespace octo {

enum StringId : int {
#define OCTO_STRING(name, id, text) name = id,
#include "resources/strings.def"
#undef OCTO_STRING
};

} // namespace octo
