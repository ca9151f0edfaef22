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
// A few lines for a terminal: the totals and the alarms.
std::string reportText(const Report& report);

} // namespace octo::yield
