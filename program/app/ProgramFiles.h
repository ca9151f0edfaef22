// The files that lie beside the program, by their fixed names (the name under which the
// program was started does not matter), and the version-resource values read from them.
#pragma once

namespace octo::program_folder {

inline constexpr char kProgramName[] = "OCTO816.EXE";
inline constexpr char kLibraryName[] = "OCTO816.DLL";
inline constexpr char kConfigName[] = "OCTO816.INI";
inline constexpr char kLogName[] = "OCTO816.LOG";

inline constexpr char kFileVersion[] = "FileVersion";
inline constexpr char kCopyright[] = "LegalCopyright";

} // namespace octo::program_folder
