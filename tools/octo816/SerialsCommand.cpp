// octo816 serials: what a station's serial ledger holds, read without changing it (the
// listing, one record, the programmed records as CSV, a consistent copy), and bringing a
// ledger older than the station's logs up to date with them.
#include "CommandSupport.h"

#include "Escape.h"
#include "Json.h"

#include "files/atomic_file.h"
#include "files/output_file.h"
#include "serials/ledger_files.h"
#include "serials/serial_ledger.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace octo::cli {

namespace {

using serials::LedgerSummary;
using serials::NumberRun;
using serials::RecordEntry;
using serials::StateSummary;
using serials::VoidRecord;

constexpr char kExportHeader[] = "value,number,run,socket,unit,time,image_crc32";
constexpr size_t kCrcDigits = 8;

std::string rangeText(const NumberRun& run) {
    return run.first == run.last ? std::to_string(run.first)
                                 : std::to_string(run.first) + "-" + std::to_string(run.last);
}

std::string rangesText(const std::vector<NumberRun>& runs) {
    std::string text;
    for (const NumberRun& run : runs) {
        text += (text.empty() ? "" : ", ") + rangeText(run);
    }
    return text;
}

std::string recordName(const std::optional<uint64_t>& number, const std::string& value) {
    return number ? std::to_string(*number) : value;
}

std::string crcText(const std::optional<uint32_t>& crc) {
    if (!crc) {
        return {};
    }
    char digits[kCrcDigits + 1];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(*crc));
    return digits;
}

std::string numberJson(const std::optional<uint64_t>& number) {
    return number ? std::to_string(*number) : "null";
}

LedgerSummary inspect(const std::string& path) {
    try {
        return serials::SerialLedger::inspect(path);
    } catch (const serials::LedgerError& e) {
        throw Failure(kExitBadInput, e.what());
    }
}

void printSummary(const std::string& path, const LedgerSummary& summary, std::FILE* out) {
    std::fprintf(out, "ledger %s: %s, %lld runs\n", printable(path).c_str(),
                 summary.scheme.empty() ? "no scheme yet" : printable(summary.scheme).c_str(),
                 static_cast<long long>(summary.runs));
    if (summary.inUse) {
        std::fprintf(out, "in use by a station: as of its last commit, its run's records "
                          "reserved\n");
    }
    for (const StateSummary& s : summary.states) {
        std::fprintf(out, "%-11s %8llu  %s\n", std::string(serials::stateName(s.state)).c_str(),
                     static_cast<unsigned long long>(s.count), rangesText(s.ranges).c_str());
    }
    if (summary.releasedOutside.count != 0) {
        std::fprintf(out, "released, outside the scheme %llu  %s\n",
                     static_cast<unsigned long long>(summary.releasedOutside.count),
                     rangesText(summary.releasedOutside.ranges).c_str());
    }
    if (!summary.voids.empty()) {
        std::fprintf(out, "void records:\n");
    }
    for (const VoidRecord& v : summary.voids) {
        std::fprintf(out, "  %s  run %lld socket %d  %s  %s\n",
                     printable(recordName(v.number, v.value)).c_str(),
                     static_cast<long long>(v.run), v.socket, printable(v.reason).c_str(),
                     printable(v.time).c_str());
    }
}

std::string rangesJson(const StateSummary& s) {
    std::vector<std::string> runs;
    for (const NumberRun& run : s.ranges) {
        runs.push_back(JsonObject()
                           .addJson("first", std::to_string(run.first))
                           .addJson("last", std::to_string(run.last))
                           .text());
    }
    return jsonArray(runs);
}

constexpr char kOutsideKey[] = "released_outside_scheme";

std::string summaryJson(const std::string& path, const LedgerSummary& summary) {
    JsonObject counts;
    JsonObject ranges;
    for (const StateSummary& s : summary.states) {
        const std::string name(serials::stateName(s.state));
        counts.add(name.c_str(), s.count);
        ranges.addJson(name.c_str(), rangesJson(s));
    }
    counts.add(kOutsideKey, summary.releasedOutside.count);
    ranges.addJson(kOutsideKey, rangesJson(summary.releasedOutside));
    std::vector<std::string> voids;
    for (const VoidRecord& v : summary.voids) {
        voids.push_back(JsonObject()
                            .add("value", v.value)
                            .addJson("number", numberJson(v.number))
                            .add("reason", v.reason)
                            .add("run", v.run)
                            .add("socket", int64_t{v.socket})
                            .add("time", v.time)
                            .text());
    }
    return JsonObject()
        .add("command", "serials")
        .add("ledger", path)
        .add("scheme", summary.scheme)
        .add("runs", summary.runs)
        .add("in_use", summary.inUse)
        .addJson("counts", counts.text())
        .addJson("ranges", ranges.text())
        .addJson("voids", jsonArray(voids))
        .text();
}

int listCommand(const Invocation& in, std::FILE* out) {
    const LedgerSummary summary = inspect(in.ledgerPath);
    if (in.json) {
        std::fprintf(out, "%s\n", summaryJson(in.ledgerPath, summary).c_str());
    } else {
        printSummary(in.ledgerPath, summary, out);
    }
    return kExitPassed;
}

std::string entryJson(const RecordEntry& r) {
    return JsonObject()
        .add("value", r.value)
        .addJson("number", numberJson(r.number))
        .add("state", std::string(serials::stateName(r.state)))
        .add("run", r.run)
        .add("socket", int64_t{r.socket})
        .add("unit", r.unit)
        .add("time", r.time)
        .addJson("image_crc32", r.imageCrc32 ? jsonString(crcText(r.imageCrc32)) : "null")
        .add("reason", r.reason)
        .text();
}

int findCommand(const Invocation& in, std::FILE* out) {
    std::vector<RecordEntry> found;
    try {
        found = serials::SerialLedger::find(in.ledgerPath, in.findValue);
    } catch (const serials::LedgerError& e) {
        throw Failure(kExitBadInput, e.what());
    } catch (const std::invalid_argument& e) {
        throw Failure(kExitBadInput, std::string("--find ") + e.what());
    }
    if (in.json) {
        std::vector<std::string> records;
        for (const RecordEntry& r : found) {
            records.push_back(entryJson(r));
        }
        std::fprintf(out, "%s\n",
                     JsonObject()
                         .add("command", "serials")
                         .add("ledger", in.ledgerPath)
                         .add("find", in.findValue)
                         .addJson("records", jsonArray(records))
                         .text()
                         .c_str());
        return kExitPassed;
    }
    if (found.empty()) {
        std::fprintf(out, "%s: not in the ledger %s, which never gave it out\n",
                     printable(in.findValue).c_str(), printable(in.ledgerPath).c_str());
    }
    for (const RecordEntry& r : found) {
        std::string line = "record " + recordName(r.number, r.value);
        if (r.number) {
            line += " (" + r.value + ")";
        }
        line += ": " + std::string(serials::stateName(r.state)) + ", run " + std::to_string(r.run) +
                " socket " + std::to_string(r.socket) + ", unit " + r.unit + ", " + r.time;
        if (r.imageCrc32) {
            line += ", image CRC-32 " + crcText(r.imageCrc32);
        }
        if (!r.reason.empty()) {
            line += ", " + r.reason;
        }
        std::fprintf(out, "%s\n", printable(line).c_str());
    }
    return kExitPassed;
}

// A CSV field, quoted when it holds a separator, a quote or a line end.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string firstBytes(const std::string& path, size_t count) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(count, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<size_t>(file.gcount()));
    return bytes;
}

// The file an export or a copy goes to: a new file, or one that what may be replaced (an
// earlier export, an earlier copy) says it is; never the ledger itself.
std::string outputFile(const std::string& option, const std::string& path,
                       const std::string& ledger, bool (*replaceable)(const std::string& bytes)) {
    using files::OutputCheck;
    const files::OutputTarget target = files::checkOutputFile(path);
    const std::string refused = option + " cannot write " + path;
    switch (target.check) {
    case OutputCheck::Writable:
        break;
    case OutputCheck::Directory:
        throw Failure(kExitBadInput, refused + ": it is a folder");
    case OutputCheck::NotRegular:
        throw Failure(kExitBadInput, refused + ": it is not a regular file");
    case OutputCheck::ReadOnly:
        throw Failure(kExitBadInput, refused + ": it is write-protected");
    case OutputCheck::EmptyPath:
    case OutputCheck::CannotCreate:
        throw Failure(kExitBadInput, refused);
    }
    std::error_code ec;
    if (std::filesystem::exists(target.path, ec)) {
        if (std::filesystem::equivalent(target.path, ledger, ec)) {
            throw Failure(kExitBadInput, refused + ": it is the ledger");
        }
        constexpr size_t kProbeBytes = 128;
        const std::string bytes = firstBytes(target.path, kProbeBytes);
        if (!bytes.empty() && !replaceable(bytes)) {
            throw Failure(kExitBadInput,
                          refused + ": it holds something else, which is never replaced");
        }
    }
    return target.path;
}

void replace(const std::string& option, const std::string& path, const std::string& bytes) {
    if (files::replaceFile(path, bytes) != files::ReplaceResult::Ok) {
        throw Failure(kExitBadInput, option + " cannot write " + path);
    }
}

int exportCommand(const Invocation& in, std::FILE* out) {
    const std::string path =
        outputFile("--export", in.exportPath, in.ledgerPath,
                   [](const std::string& bytes) { return bytes.starts_with(kExportHeader); });
    std::vector<RecordEntry> records;
    try {
        records = serials::SerialLedger::programmed(in.ledgerPath);
    } catch (const serials::LedgerError& e) {
        throw Failure(kExitBadInput, e.what());
    }
    std::string csv = std::string(kExportHeader) + "\n";
    for (const RecordEntry& r : records) {
        csv += r.value + "," + (r.number ? std::to_string(*r.number) : std::string()) + "," +
               std::to_string(r.run) + "," + std::to_string(r.socket) + "," + csvField(r.unit) +
               "," + csvField(r.time) + "," + crcText(r.imageCrc32) + "\n";
    }
    replace("--export", path, csv);
    if (in.json) {
        std::fprintf(out, "%s\n",
                     JsonObject()
                         .add("command", "serials")
                         .add("ledger", in.ledgerPath)
                         .add("export", in.exportPath)
                         .add("records", static_cast<uint64_t>(records.size()))
                         .text()
                         .c_str());
    } else {
        std::fprintf(out, "%zu programmed records written to %s\n", records.size(),
                     printable(in.exportPath).c_str());
    }
    return kExitPassed;
}

int backupCommand(const Invocation& in, std::FILE* out) {
    const std::string path =
        outputFile("--backup", in.backupPath, in.ledgerPath, [](const std::string& bytes) {
            const std::optional<serials::DatabaseHeader> header = serials::databaseHeader(bytes);
            return header && header->applicationId == serials::kLedgerApplicationId;
        });
    std::string copy;
    try {
        copy = serials::SerialLedger::backup(in.ledgerPath);
    } catch (const serials::LedgerError& e) {
        throw Failure(kExitBadInput, e.what());
    }
    replace("--backup", path, copy);
    if (in.json) {
        std::fprintf(out, "%s\n",
                     JsonObject()
                         .add("command", "serials")
                         .add("ledger", in.ledgerPath)
                         .add("backup", in.backupPath)
                         .add("bytes", static_cast<uint64_t>(copy.size()))
                         .text()
                         .c_str());
    } else {
        std::fprintf(out, "ledger %s copied to %s (%zu bytes)\n", printable(in.ledgerPath).c_str(),
                     printable(in.backupPath).c_str(), copy.size());
    }
    return kExitPassed;
}

int reconcileCommand(const Invocation& in, std::FILE* out) {
    std::vector<serials::ReconcileCount> counts;
    try {
        counts = serials::SerialLedger::reconcile(in.ledgerPath, in.reconcileLogs);
    } catch (const serials::LedgerError& e) {
        throw Failure(kExitBadInput, e.what());
    }
    std::vector<std::string> logs;
    for (const serials::ReconcileCount& c : counts) {
        if (in.json) {
            logs.push_back(JsonObject()
                               .add("log", c.log)
                               .add("programmed", c.programmed)
                               .add("void", c.voided)
                               .add("known", c.known)
                               .add("other_kind", c.otherKind)
                               .add("malformed", c.malformed)
                               .text());
            continue;
        }
        std::fprintf(out,
                     "%s: %llu records noted programmed, %llu void; %llu already known; %llu "
                     "lines with records of another length, %llu lines not read\n",
                     printable(c.log).c_str(), static_cast<unsigned long long>(c.programmed),
                     static_cast<unsigned long long>(c.voided),
                     static_cast<unsigned long long>(c.known),
                     static_cast<unsigned long long>(c.otherKind),
                     static_cast<unsigned long long>(c.malformed));
    }
    if (in.json) {
        std::fprintf(out, "%s\n",
                     JsonObject()
                         .add("command", "serials")
                         .add("ledger", in.ledgerPath)
                         .addJson("reconciled", jsonArray(logs))
                         .text()
                         .c_str());
    }
    return kExitPassed;
}

} // namespace

int serialsCommand(const Invocation& in, std::FILE* out) {
    if (!in.findValue.empty()) {
        return findCommand(in, out);
    }
    if (!in.exportPath.empty()) {
        return exportCommand(in, out);
    }
    if (!in.backupPath.empty()) {
        return backupCommand(in, out);
    }
    if (!in.reconcileLogs.empty()) {
        return reconcileCommand(in, out);
    }
    return listCommand(in, out);
}

} // namespace octo::cli
