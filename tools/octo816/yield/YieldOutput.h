// The yield report as one self-contained HTML page (inline CSS and SVG, no script, printable
// on A4) and as one JSON object.
#pragma once

#include "YieldReport.h"

#include <string>

namespace octo::yield {

std::string reportHtml(const Report& report);
std::string reportJson(const Report& report);
// A few lines for a terminal: the totals and the alarms.
std::string reportText(const Report& report);

} // namespace octo::yield
