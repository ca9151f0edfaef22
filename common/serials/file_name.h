// The name SQLite is to open for a file name as the program has it.
#pragma once

#include <string>

namespace octo::serials {

std::string sqliteFileName(const std::string& path);

} // namespace octo::serials
