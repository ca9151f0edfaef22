#include "link/ProgrammerLibrary.h"

namespace octo {

std::string NoLibrary::getErrorString(int32_t) {
    return "ERROR: Programmer library OCTO816.DLL not loaded !";
}

int32_t NoLibrary::getDevice(const std::string&, const OctoSegmentEntry** table) {
    if (table != nullptr) {
        *table = nullptr;
    }
    return kNoLibraryResult;
}

} // namespace octo
