// octo816 serials: what a station's serial ledger holds, read without changing it.
#include "CommandSupport.h"

#include "Json.h"

#include "serials/serial_ledger.h"

namespace octo::cli {

namespace {

using serials::LedgerSummary;
using serials::NumberRun;
using serials::StateSummary;
using serials::VoidRecord;

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

std::string recordName(const VoidRecord& record) {
    return record.number ? std::to_string(*record.number) : record.value;
}

void printSummary(const std::string& path, const LedgerSummary& summary, std::FILE* out) {
    std::fprintf(out, "ledger %s: %s, %lld runs\n", path.c_str(),
                 summary.scheme.empty() ? "no scheme yet" : summary.scheme.c_str(),
                 static_cast<long long>(summary.runs));
    for (const StateSummary& s : summary.states) {
        std::fprintf(out, "%-11s %8llu  %s\n", std::string(serials::stateName(s.state)).c_str(),
                     static_cast<unsigned long long>(s.count), rangesText(s.ranges).c_str());
    }
    if (!summary.voids.empty()) {
        std::fprintf(out, "void records:\n");
    }
    for (const VoidRecord& v : summary.voids) {
        std::fprintf(out, "  %s  run %lld socket %d  %s  %s\n", recordName(v).c_str(),
                     static_cast<long long>(v.run), v.socket, v.reason.c_str(), v.time.c_str());
    }
}

std::string summaryJson(const std::string& path, const LedgerSummary& summary) {
    JsonObject counts;
    JsonObject ranges;
    for (const StateSummary& s : summary.states) {
        const std::string name(serials::stateName(s.state));
        counts.add(name.c_str(), s.count);
        std::vector<std::string> runs;
        for (const NumberRun& run : s.ranges) {
            runs.push_back(JsonObject()
                               .addJson("first", std::to_string(run.first))
                               .addJson("last", std::to_string(run.last))
                               .text());
        }
        ranges.addJson(name.c_str(), jsonArray(runs));
    }
    std::vector<std::string> voids;
    for (const VoidRecord& v : summary.voids) {
        voids.push_back(JsonObject()
                            .add("value", v.value)
                            .addJson("number", v.number ? std::to_string(*v.number) : "null")
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
        .addJson("counts", counts.text())
        .addJson("ranges", ranges.text())
        .addJson("voids", jsonArray(voids))
        .text();
}

} // namespace

int serialsCommand(const Invocation& in, std::FILE* out) {
    LedgerSummary summary;
    try {
        summary = serials::SerialLedger::inspect(in.ledgerPath);
    } catch (const serials::LedgerError& e) {
        throw Failure(kExitBadInput, e.what());
    }
    if (in.json) {
        std::fprintf(out, "%s\n", summaryJson(in.ledgerPath, summary).c_str());
    } else {
        printSummary(in.ledgerPath, summary, out);
    }
    return kExitPassed;
}

} // namespace octo::cli
