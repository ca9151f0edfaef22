#include "files/atomic_file.h"

namespace octo::files {

std::string temporaryPathFor(const std::string& path) {
    return path + ".octo-tmp";
}

} // namespace octo::files
