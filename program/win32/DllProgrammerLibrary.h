// The Programmer library loaded at run time from a DLL: every call goes through the
// function pointers resolved at load.
#pragma once

#include "link/ProgrammerLibrary.h"

#include <memory>
#include <string>

namespace octo {

// Loads the DLL at path and resolves all 21 functions; null when the file cannot be
// loaded or one of the names is missing (the DLL is released again then). The two
// target-record exports are resolved at their first call.
std::unique_ptr<ProgrammerLibrary> loadDllProgrammerLibrary(const std::string& path);

} // namespace octo
