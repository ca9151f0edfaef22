// octo816 report: the yield report of traceability logs, as a page (--out), JSON (--json) or
// a few lines. Needs no unit and no library.
#include "CommandSupport.h"
#include "Escape.h"

#include "files/atomic_file.h"
#include "yield/YieldOutput.h"

#include <filesystem>
#include <fstream>

namespace octo::cli {

namespace {

// All logs of one report together: far beyond a year of a line's runs, and small enough that
// the counts of their runs stay well inside memory.
constexpr uintmax_t kMaxLogBytes = uintmax_t{1} << 30;

// The size of the log at path, which must be a regular file.
uintmax_t logSize(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        throw Failure(kExitBadInput, path + ": no such file");
    }
    if (!std::filesystem::is_regular_file(status)) {
        throw Failure(kExitBadInput, path + ": not a regular file");
    }
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        throw Failure(kExitBadInput, path + ": cannot be read");
    }
    return size;
}

void readLogs(const Invocation& in, yield::Aggregator& aggregator) {
    uintmax_t total = 0;
    for (const std::string& path : in.files) {
        total += logSize(path);
        if (total > kMaxLogBytes) {
            throw Failure(kExitBadInput, path + ": the logs together exceed " +
                                             std::to_string(kMaxLogBytes >> 20) + " MiB");
        }
    }
    for (const std::string& path : in.files) {
        std::ifstream log(path, std::ios::binary);
        if (!log) {
            throw Failure(kExitBadInput, path + ": cannot be read");
        }
        aggregator.read(log, path);
        if (log.bad()) {
            throw Failure(kExitBadInput, path + ": reading failed");
        }
    }
}

void tellMalformed(const yield::Report& report) {
    for (const yield::Malformed& m : report.malformed) {
        std::fprintf(stderr, "octo816: %s:%llu: %s, skipped\n", printable(m.file).c_str(),
                     static_cast<unsigned long long>(m.line), printable(m.reason).c_str());
    }
    if (report.malformedCount > report.malformed.size()) {
        std::fprintf(
            stderr, "octo816: %llu more malformed lines skipped\n",
            static_cast<unsigned long long>(report.malformedCount - report.malformed.size()));
    }
}

} // namespace

int reportCommand(const Invocation& in, std::FILE* out) {
    std::optional<int64_t> since;
    if (!in.since.empty()) {
        since = yield::parseTime(in.since);
    }
    yield::Aggregator aggregator(since);
    readLogs(in, aggregator);
    const yield::Report report = aggregator.finish();
    tellMalformed(report);
    if (!in.outPath.empty() &&
        files::replaceFile(in.outPath, yield::reportHtml(report)) != files::ReplaceResult::Ok) {
        throw Failure(kExitBadInput, in.outPath + ": cannot be written");
    }
    const std::string text = in.json ? yield::reportJson(report) : yield::reportText(report);
    std::fputs(text.c_str(), out);
    return kExitPassed;
}

} // namespace octo::cli
