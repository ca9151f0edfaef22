// Makes the library's C interface callable. Natively it is linked in; on Windows octo816.exe
// takes the functions from OCTO816.DLL beside it at start-up, as the window does.
#pragma once

namespace octo::cli {

// False when the library cannot be loaded or lacks a function the tool calls.
bool loadLibrary();
// Whether the library has the target-record functions, which only serialization calls: an
// older library serves every other command without them.
bool hasTargetData();

} // namespace octo::cli
