// octo816 report: the yield report of traceability logs, as a page (--out), JSON (--json) or
// a few lines, with the maintenance done on the units' sockets (--maintenance) and the least
// effect an alarm names (--min-ratio, --min-points). Needs no unit and no library.
#include "CommandSupport.h"
#include "Escape.h"

#include "files/atomic_file.h"
#include "files/output_file.h"
#include "yield/YieldOutput.h"
#include "yield/YieldReport.h"

#include <filesystem>
#include <fstream>
#include <vector>

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

// The page is written only as a new file or over a page of this tool's (or an empty file),
// as the log is appended to only when it is one: a mistyped --out never replaces a log, a
// ledger or any other file, nor one a link leads to.
void checkPage(const std::string& path) {
    using files::OutputCheck;
    const files::OutputTarget target = files::checkOutputFile(path);
    switch (target.check) {
    case OutputCheck::Writable:
        break;
    case OutputCheck::EmptyPath:
        throw Failure(kExitBadInput, "--out needs a file name");
    case OutputCheck::Directory:
        throw Failure(kExitBadInput, path + ": cannot be written: it is a folder");
    case OutputCheck::NotRegular:
        throw Failure(kExitBadInput, path + ": cannot be written: it is not a regular file");
    case OutputCheck::ReadOnly:
        throw Failure(kExitBadInput, path + ": cannot be written: it is write-protected");
    case OutputCheck::CannotCreate:
        throw Failure(kExitBadInput, path + ": cannot be written");
    }
    std::error_code error;
    if (!std::filesystem::exists(target.path, error)) {
        return;
    }
    std::ifstream page(target.path, std::ios::binary);
    std::string first(yield::kPageStart.size(), '\0');
    page.read(first.data(), static_cast<std::streamsize>(first.size()));
    first.resize(static_cast<size_t>(page.gcount()));
    if (!page.is_open() || page.bad() || !yield::startsAsPage(first)) {
        throw Failure(kExitBadInput, path + " is not a yield report page (it does not begin as "
                                            "one): name a new file or an earlier report");
    }
}

// The logs, and the maintenance file first when there is one (a missing one is bad input:
// without it the alarms would look at histories it was meant to cut).
void readLogs(const Invocation& in, yield::Aggregator& aggregator) {
    std::vector<std::string> paths = in.files;
    if (!in.maintenancePath.empty()) {
        paths.insert(paths.begin(), in.maintenancePath);
    }
    uintmax_t total = 0;
    for (const std::string& path : paths) {
        total += logSize(path);
        if (total > kMaxLogBytes) {
            throw Failure(kExitBadInput, path + ": the logs together exceed " +
                                             std::to_string(kMaxLogBytes >> 20) + " MiB");
        }
    }
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            throw Failure(kExitBadInput, path + ": cannot be read");
        }
        if (i == 0 && !in.maintenancePath.empty()) {
            aggregator.readMaintenance(file, path);
        } else {
            aggregator.read(file, path);
        }
        if (file.bad()) {
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
    if (!in.outPath.empty()) {
        checkPage(in.outPath);
    }
    yield::AlarmRule rule;
    rule.minRatio = in.minRatio.value_or(rule.minRatio);
    rule.minPoints = in.minPoints.value_or(rule.minPoints);
    yield::Aggregator aggregator(since, rule);
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
