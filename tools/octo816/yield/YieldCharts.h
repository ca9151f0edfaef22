// The small multiples of a unit's panel on the page: one chart per socket in use, its failure
// rate over the unit's runs against the other sockets' rate, with the alarm's change point and
// the maintenance marked. Inline SVG, nothing fetched, no script.
#pragma once

#include "YieldReport.h"

#include <string>
#include <string_view>

namespace octo::yield {

// A socket's chart holds at most kChartPoints points (neighbours merged) and this many
// maintenance marks (the latest), with notes cut to kMarkNoteBytes, so that the page stays
// bounded whatever the report holds.
inline constexpr size_t kMostMarks = 5;
inline constexpr size_t kMarkNoteBytes = 48;

// The CSS the charts need, for the page's style sheet.
inline constexpr std::string_view kTrendStyle = R"(
.trends { display: grid; grid-template-columns: repeat(4, 1fr); gap: 0.5em; max-width: 45em; }
.trends svg { max-width: none; }
.trends svg text { font-size: 9px; }
.socket-trend .frame { fill: none; stroke: #ccc; stroke-width: 2; }
.socket-trend .frame.alarmed { fill: #fdf1ef; stroke: #b00; stroke-width: 4; }
.socket-trend .name { font-weight: bold; fill: #1f77b4; font-size: 11px; }
.socket-trend .grid { stroke: #ddd; }
.socket-trend .scale { text-anchor: end; dominant-baseline: middle; }
.socket-trend .empty { text-anchor: middle; }
.socket-trend .idle { fill: #eee; }
.socket-trend .own { fill: #1f77b4; fill-opacity: 0.8; }
.socket-trend .others { fill: none; stroke: #888; stroke-width: 1.2; }
.socket-trend .change-point { stroke: #b00; stroke-width: 1.5; stroke-dasharray: 5 3; }
.socket-trend .maintenance { stroke: #2ca02c; stroke-width: 1.5; stroke-dasharray: 2 2; }
.socket-trend .name.alarmed, .socket-trend .own.alarmed { fill: #b00; }
@media print { .trends { max-width: none; } }
.legend b { display: inline-block; width: 1.2em; height: 0; margin: 0 0.3em 0.25em 0; border-top: 2px solid; vertical-align: middle; }
)";

// Text from the logs made safe inside HTML text and attributes (YieldHtml.cpp).
std::string escaped(std::string_view text);

// The unit's charts with their legend, one <svg class="socket-trend"> per socket in use;
// nothing when no socket was in use.
std::string socketTrends(const UnitReport& unit);

} // namespace octo::yield
