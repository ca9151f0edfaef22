#include "files/atomic_file.h"

#include <atomic>

namespace octo::files {

// The platform's id of this process.
unsigned long currentProcessId();

std::string temporaryPathFor(const std::string& path) {
    static std::atomic<unsigned long> writes{0};
    return path + "." + std::to_string(currentProcessId()) + "-" + std::to_string(writes++) +
           ".octo-tmp";
}

} // namespace octo::files
