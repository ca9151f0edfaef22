// The program's string table, the same rows the resource script compiles.
#pragma once

#include <string_view>

namespace octo {

// The text of string id; empty when the table has none.
std::string_view stringTableText(int id);

} // namespace octo
