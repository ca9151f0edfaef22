#include "files/atomic_file.h"
#include "files/atomic_file_platform.h"

#include <atomic>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

namespace octo::files {

namespace {

bool allDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The writer's process id of a name made by temporaryPathFor: "<name>.<process>-<n>.octo-tmp".
std::optional<unsigned long> writerOf(std::string_view name) {
    if (!name.ends_with(kTemporarySuffix)) {
        return std::nullopt;
    }
    name.remove_suffix(kTemporarySuffix.size());
    const auto dash = name.find_last_of('-');
    const auto dot = name.find_last_of('.');
    if (dash == std::string_view::npos || dot == std::string_view::npos || dot == 0 || dot > dash) {
        return std::nullopt;
    }
    const std::string_view process = name.substr(dot + 1, dash - dot - 1);
    if (!allDigits(process) || !allDigits(name.substr(dash + 1)) ||
        process.size() > std::numeric_limits<unsigned long long>::digits10) {
        return std::nullopt;
    }
    const unsigned long long id = std::stoull(std::string(process));
    if (id > std::numeric_limits<unsigned long>::max()) {
        return std::nullopt;
    }
    return static_cast<unsigned long>(id);
}

} // namespace

std::string temporaryPathFor(const std::string& path) {
    static std::atomic<unsigned long> writes{0};
    return path + "." + std::to_string(currentProcessId()) + "-" + std::to_string(writes++) +
           std::string(kTemporarySuffix);
}

int removeLeftoverTemporaries(const std::string& path) {
    int removed = 0;
    for (const FolderEntry& entry : filesBeside(path)) {
        const std::optional<unsigned long> writer = writerOf(entry.name);
        if (writer && (entry.ageSeconds >= kLeftoverAgeSeconds || !processRunning(*writer)) &&
            removeFile(entry.path)) {
            ++removed;
        }
    }
    return removed;
}

} // namespace octo::files
