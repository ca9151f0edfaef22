// The configuration file on Win32: the write time in 100 ns units, a replace through a
// temporary file and ReplaceFile (files::replaceFile), and the read-only attribute and
// other processes' locks
// honoured the way the private-profile functions honour them.
#pragma once

#include "settings/FileAccess.h"

namespace octo {

std::unique_ptr<FileAccess> makeWin32FileAccess();

} // namespace octo
