// The yield report as one self-contained HTML page (inline CSS and SVG, no script, printable
// on A4) and as one JSON object.
#pragma once

#include "YieldReport.h"

#include <string>
#include <string_view>

namespace octo::yield {

// How every page of reportHtml begins, and so how a file that --out may replace begins.
inline constexpr std::string_view kPageStart =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Yield "
    "report</title>";
// True when a file's first bytes (kPageStart.size() of them, or all of a shorter file) are
// a page's: nothing, or the start of one.
bool startsAsPage(std::string_view firstBytes);

std::string reportHtml(const Report& report);
std::string reportJson(const Report& report);
// A few lines for a terminal: the totals, the alarms and the sockets counted as not in use.
std::string reportText(const Report& report);

// The finding of an alarm, as the text and the page give it, the unit's name written as
// they need it: "Unit U-0002, socket 6: 9.8 % of its chips fail since 2026-12-08 14:02 (run
// 1512), the other sockets 1.1 %; 4.1 times the others."
std::string alarmSentence(std::string_view unit, const Alarm& alarm);
// "Unit U-0002, socket 8: no chip in 500 runs in a row (2026-12-08 10:00 to 14:10), counted
// as not in use."
std::string stretchSentence(std::string_view unit, const EmptyStretch& stretch);
// "2 earlier stretches of runs without a chip, not listed."
std::string unlistedStretches(const UnitReport& unit);

} // namespace octo::yield
