// The report of a continual series, OCTO816.LOG beside the program: the conditions of the
// series, one row per run that delivered a result with the targets that passed and the
// running totals, and at the end the duration of one successful run. Written only when
// the configuration asks for a report of a series.
#pragma once

#include "app/View.h"
#include "settings/Settings.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace octo {

// A new table head every this many rows.
inline constexpr int32_t kReportRowsPerHead = 50;

class RunReport {
public:
    RunReport(View& view, Settings& settings, const std::string& path)
        : view_(view), settings_(settings), path_(path) {}

    // Creates the file anew with the conditions taken from the window, when the report is
    // wanted; settleMs is the settling time the runs use (0 while the unit does not supply
    // the targets). A file that cannot be created leaves the series without a report.
    void open(uint16_t settleMs);
    // One row from the result block of a run; nothing while no report is open. Each row
    // reaches the file at once, so a series cut short keeps every row reported.
    void row(std::span<const uint8_t> result);
    // The timing line, from the duration of one run in ms; then the file is closed. Rows
    // and the timing line go only to a report that open() created.
    void close(uint32_t timeOctoProgMs);

private:
    bool wanted() const { return settings_.createLogFile != 0 && settings_.repeatOctoprog != 0; }

    struct CloseFile {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    View& view_;
    Settings& settings_;
    const std::string& path_;
    std::unique_ptr<std::FILE, CloseFile> file_;
    int32_t sessions_ = 0;
    int32_t connectedTotal_ = 0;
    int32_t errorTotal_ = 0;
};

} // namespace octo
