#include "YieldOutput.h"

#include "YieldCharts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace octo::yield {

namespace {

constexpr double kPercent = 100;
// The charts' size in SVG units; the page scales them to its width.
constexpr int kChartWidth = 720;
constexpr int kChartHeight = 200;
constexpr int kAxisLeft = 48;
constexpr int kAxisBottom = 24;
constexpr int kChartTop = 10;
// A yield axis starts at the tenth below the lowest value shown, at most here.
constexpr double kHighestAxisFloor = 0.9;
constexpr double kAxisStep = 0.1;
constexpr int kAxisTicks = 4;

// The stages a chip can fail at, in the order of a run, with their names and colours.
struct StageLook {
    Stage stage;
    const char* name;
    const char* colour;
};
constexpr std::array<StageLook, kStages - 1> kFailures = {{
    {Stage::NotFound, "no target found", "#7f7f7f"},
    {Stage::NotConnected, "not connected", "#9467bd"},
    {Stage::EraseCheck, "erase check", "#ff7f0e"},
    {Stage::EraseOrProgram, "erase or program", "#bcbd22"},
    {Stage::Verify, "verify", "#d62728"},
    {Stage::Secure, "secure", "#8c564b"},
}};

constexpr const char* kStyle = R"(
body { font-family: sans-serif; margin: 1.5em; color: #222; max-width: 60em; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; }
h2 { font-size: 1.2em; margin-top: 1.4em; border-bottom: 1px solid #999; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { border: 1px solid #bbb; padding: 0.15em 0.5em; text-align: right; white-space: nowrap; }
th:first-child, td:first-child { text-align: left; }
tr.alarmed td { background: #fde0dc; font-weight: bold; }
.alarm { color: #b00; font-weight: bold; }
.meta { color: #555; }
.unit { margin-bottom: 1.5em; }
svg { width: 100%; max-width: 45em; height: auto; display: block; }
svg text { font-size: 11px; fill: #333; }
.legend span { display: inline-block; margin-right: 1em; }
.legend i { display: inline-block; width: 0.8em; height: 0.8em; margin-right: 0.3em; }
@page { size: A4; margin: 12mm; }
@media print {
  body { margin: 0; font-size: 9.5pt; max-width: none; }
  .unit, section, table, svg { break-inside: avoid; }
  .unit { break-before: auto; }
}
)";

} // namespace

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    std::string text(static_cast<size_t>(std::snprintf(nullptr, 0, pattern, args...)), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, args...);
    return text;
}

std::string percent(double share) {
    return format("%.2f %%", share * kPercent);
}

double share(uint64_t part, uint64_t whole) {
    return whole == 0 ? 0 : static_cast<double>(part) / static_cast<double>(whole);
}

std::string yieldCell(uint64_t passed, uint64_t chips) {
    if (chips == 0) {
        return "<td>–</td><td>–</td>";
    }
    const Interval i = wilsonInterval(passed, chips);
    return "<td>" + percent(share(passed, chips)) + "</td><td>" + percent(i.low) + " – " +
           percent(i.high) + "</td>";
}

// A yield axis from floor to 100 %: its y for a share, its lines and labels.
struct YieldAxis {
    double floor = 0;
    double y(double value) const {
        const double plot = kChartHeight - kAxisBottom - kChartTop;
        return kChartTop + plot * (1 - (value - floor) / (1 - floor));
    }
    std::string draw() const {
        std::string svg;
        for (int t = 0; t <= kAxisTicks; ++t) {
            const double value = floor + (1 - floor) * t / kAxisTicks;
            svg += format("<line x1=\"%d\" x2=\"%d\" y1=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>",
                          kAxisLeft, kChartWidth, y(value), y(value));
            svg += format("<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%.1f%%</text>",
                          kAxisLeft - 4, y(value) + 4, value * kPercent);
        }
        return svg;
    }
};

YieldAxis axisFor(double lowest) {
    const double floor = std::floor(std::max(0.0, lowest) / kAxisStep) * kAxisStep;
    return {std::min(floor, kHighestAxisFloor)};
}

std::string svgOpen(const char* label) {
    return format("<svg viewBox=\"0 0 %d %d\" role=\"img\" aria-label=\"", kChartWidth,
                  kChartHeight) +
           label + "\">";
}

// Each socket's yield with its interval as a whisker, and its failures by stage as a stack.
std::string socketChart(const UnitReport& unit) {
    double lowest = 1;
    uint64_t mostFailures = 1;
    for (const SocketCounts& s : unit.sockets) {
        lowest = std::min(lowest, wilsonInterval(s.passed(), s.chips).low);
        mostFailures = std::max(mostFailures, s.chips - s.passed());
    }
    const YieldAxis axis = axisFor(lowest);
    const double column = static_cast<double>(kChartWidth - kAxisLeft) / kSockets;
    std::string svg = svgOpen("yield and failures by socket") + axis.draw();
    const double base = kChartHeight - kAxisBottom;
    for (int s = 0; s < kSockets; ++s) {
        const SocketCounts& c = unit.sockets[static_cast<size_t>(s)];
        const double x = kAxisLeft + column * (s + 0.5);
        // Failures as a stacked bar on the left half of the column, scaled to the worst socket.
        double top = base;
        for (const StageLook& look : kFailures) {
            const double h = (base - kChartTop) * share(c.at(look.stage), mostFailures) / 2;
            top -= h;
            if (h > 0) {
                svg += format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" ",
                              x - column * 0.4, top, column * 0.3, h) +
                       "fill=\"" + look.colour + "\"/>";
            }
        }
        if (top < base) {
            svg += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%llu</text>",
                          x - column * 0.25, top - 3,
                          static_cast<unsigned long long>(c.chips - c.passed()));
        }
        if (c.chips > 0) {
            const Interval i = wilsonInterval(c.passed(), c.chips);
            svg +=
                format("<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" y2=\"%.1f\" stroke=\"#1f77b4\" "
                       "stroke-width=\"2\"/>",
                       x + column * 0.15, x + column * 0.15, axis.y(i.low), axis.y(i.high));
            svg += format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"#1f77b4\"/>",
                          x + column * 0.15, axis.y(share(c.passed(), c.chips)));
        }
        svg += format("<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">socket %d</text>", x,
                      kChartHeight - 6, s + 1);
    }
    return svg + "</svg>";
}

// The stages are named only where some run of the unit asked for their step.
std::string legend(const UnitReport& unit) {
    std::string html = "<p class=\"legend\"><span><i style=\"background:#1f77b4\"></i>yield, 95 "
                       "% interval (axis)</span><span>failures (count above)</span>";
    for (const StageLook& look : kFailures) {
        if (unit.names(look.stage)) {
            html += std::string("<span><i style=\"background:") + look.colour + "\"></i>" +
                    look.name + "</span>";
        }
    }
    return html + "</p>";
}

std::string socketTable(const UnitReport& unit) {
    std::string html =
        "<table><tr><th>Socket</th><th>Chips</th><th>Passed</th><th>Yield</th><th>95 "
        "% interval</th>";
    for (const StageLook& look : kFailures) {
        if (unit.names(look.stage)) {
            html += std::string("<th>") + look.name + "</th>";
        }
    }
    html += "</tr>";
    for (int s = 0; s < kSockets; ++s) {
        const SocketCounts& c = unit.sockets[static_cast<size_t>(s)];
        const bool alarmed = std::any_of(unit.alarms.begin(), unit.alarms.end(),
                                         [&](const Alarm& a) { return a.socket == s + 1; });
        html += std::string("<tr") + (alarmed ? " class=\"alarmed\"" : "") + "><td>" +
                std::to_string(s + 1) + "</td><td>" + std::to_string(c.chips) + "</td><td>" +
                std::to_string(c.passed()) + "</td>" + yieldCell(c.passed(), c.chips);
        for (const StageLook& look : kFailures) {
            if (unit.names(look.stage)) {
                html += "<td>" + std::to_string(c.at(look.stage)) + "</td>";
            }
        }
        html += "</tr>";
    }
    return html + "</table>";
}

std::string summary(const Report& report) {
    std::string html = "<section id=\"summary\"><h2>Summary</h2><table><tr><th>Runs</th><th>Chips</"
                       "th><th>Passed</th><th>First-pass yield</th><th>95 % interval</th></tr><tr>"
                       "<td>" +
                       std::to_string(report.runs) + "</td><td>" + std::to_string(report.chips) +
                       "</td><td>" + std::to_string(report.passed) + "</td>" +
                       yieldCell(report.passed, report.chips) + "</tr></table>";
    html += "<table><tr><th>Device type</th><th>Image CRC-32</th><th>Runs</th><th>Chips</"
            "th><th>Passed</th><th>Yield</th><th>95 % interval</th></tr>";
    for (size_t i = 0; i < report.products.size(); ++i) {
        const ProductCounts& p = report.products[i];
        const bool summed = report.otherProducts > 0 && i + 1 == report.products.size();
        html += (summed ? "<tr id=\"other-products\"><td colspan=\"2\">" +
                              std::to_string(report.otherProducts) +
                              " other device types and images, summed</td><td>"
                        : "<tr><td>" + escaped(p.deviceType) + "</td><td>" + escaped(p.imageCrc32) +
                              "</td><td>") +
                std::to_string(p.runs) + "</td><td>" + std::to_string(p.chips) + "</td><td>" +
                std::to_string(p.passed) + "</td>" + yieldCell(p.passed, p.chips) + "</tr>";
    }
    return html + "</table></section>";
}

std::string alarms(const Report& report) {
    std::string html = "<section id=\"alarms\"><h2>Socket alarms</h2>";
    std::string items;
    std::string stretches;
    for (size_t u = 0; u < report.units.size(); ++u) {
        const UnitReport& unit = report.units[u];
        const std::string data = "\" data-unit=\"" + escaped(unit.unit) + "\" data-socket=\"";
        for (const Alarm& a : unit.alarms) {
            items += "<li class=\"alarm\" id=\"alarm-" + std::to_string(u + 1) + "-" +
                     std::to_string(a.socket) + data + std::to_string(a.socket) + "\">" +
                     alarmSentence(escaped(unit.unit), a) + "</li>";
        }
        for (const EmptyStretch& e : unit.emptyStretches) {
            stretches += "<li class=\"empty-stretch" + data + std::to_string(e.socket) + "\">" +
                         stretchSentence(escaped(unit.unit), e) + "</li>";
        }
        if (unit.unlistedStretches > 0) {
            stretches +=
                "<li>Unit " + escaped(unit.unit) + ": " + unlistedStretches(unit) + "</li>";
        }
    }
    if (items.empty()) {
        html += "<p id=\"no-alarms\">No socket fails significantly more often than the other "
                "sockets of its unit.</p>";
    } else {
        html += "<ul>" + items + "</ul>";
    }
    if (!stretches.empty()) {
        html += "<p>Sockets without a chip in " + std::to_string(kEmptyStretch) +
                " or more runs in a row, counted as not in use then:</p><ul "
                "id=\"empty-stretches\">" +
                stretches + "</ul>";
    }
    return html + "</section>";
}

std::string serialChipRows(const SerialOnChips& found) {
    std::string rows;
    for (const SerialChip& chip : found.chips) {
        rows += "<tr class=\"serial-twice\" data-serial=\"" + escaped(found.serial) + "\"><td>" +
                escaped(found.serial) + "</td><td>" + escaped(chip.unit) + "</td><td>" +
                (chip.run ? std::to_string(*chip.run) : std::string("–")) + "</td><td>" +
                std::to_string(chip.socket) + "</td><td>" + timeText(chip.time) + "</td><td>" +
                escaped(chip.file) + ":" + std::to_string(chip.line) + "</td></tr>";
    }
    return rows;
}

// The records that more than one passed chip carries: each is a chip too many.
std::string serialsOnTwoChips(const Report& report) {
    std::string html = "<section id=\"serials\"><h2>Records on two chips</h2>";
    if (report.serialsOnTwoChips.empty()) {
        return html + "<p id=\"no-serials-on-two-chips\">" +
               (report.serialChips == 0
                    ? std::string("No passed chip in these logs has a serial record.")
                    : "No record is carried by two passed chips (" +
                          std::to_string(report.serialChips) + " passed chips with a record).") +
               "</p></section>";
    }
    html += "<p class=\"alarm\">" + std::to_string(report.serialsOnTwoChips.size()) +
            (report.serialsOnTwoChips.size() == 1 ? " record is" : " records are") +
            " carried by more than one passed chip:</p><table id=\"serials-on-two-chips\"><tr>"
            "<th>Record</th><th>Unit</th><th>Run</th><th>Socket</th><th>Time</th><th>Log "
            "line</th></tr>";
    for (const SerialOnChips& found : report.serialsOnTwoChips) {
        html += serialChipRows(found);
    }
    html += "</table>";
    if (report.unlistedSerialChips > 0) {
        html += "<p>" + std::to_string(report.unlistedSerialChips) +
                " more passed chips carry a record seen before; they are not listed.</p>";
    }
    return html + "</section>";
}

std::string overTime(const Report& report) {
    if (report.buckets.empty()) {
        return {};
    }
    double lowest = 1;
    for (const Bucket& b : report.buckets) {
        lowest = std::min(lowest, share(b.passed, b.chips));
    }
    const YieldAxis axis = axisFor(lowest);
    const double width =
        static_cast<double>(kChartWidth - kAxisLeft) / static_cast<double>(report.buckets.size());
    std::string svg = svgOpen("yield over time") + axis.draw();
    for (size_t i = 0; i < report.buckets.size(); ++i) {
        const double y = axis.y(share(report.buckets[i].passed, report.buckets[i].chips));
        svg += format("<rect x=\"%.2f\" y=\"%.1f\" width=\"%.2f\" height=\"%.1f\" "
                      "fill=\"#2ca02c\"><title>",
                      kAxisLeft + width * static_cast<double>(i), y, std::max(width - 1, 0.5),
                      kChartHeight - kAxisBottom - y) +
               escaped(report.buckets[i].label) + "</title></rect>";
    }
    svg += "<text x=\"" + std::to_string(kAxisLeft) + "\" y=\"" + std::to_string(kChartHeight - 6) +
           "\">" + escaped(report.buckets.front().label) + "</text>";
    svg += "<text x=\"" + std::to_string(kChartWidth) + "\" y=\"" +
           std::to_string(kChartHeight - 6) + "\" text-anchor=\"end\">" +
           escaped(report.buckets.back().label) + "</text></svg>";
    const std::string per =
        report.hourly ? "per hour" : "per " + std::to_string(kRunsPerBucket) + " runs";
    return "<section id=\"over-time\"><h2>Yield over time (" + per + ")</h2>" + svg + "</section>";
}

std::string malformedLines(const Report& report) {
    if (report.malformedCount == 0) {
        return {};
    }
    std::string html = "<section id=\"malformed\"><h2>Lines skipped</h2><p>" +
                       std::to_string(report.malformedCount) +
                       " malformed lines were skipped.</p><ul>";
    for (const Malformed& m : report.malformed) {
        html += "<li>" + escaped(m.file) + ":" + std::to_string(m.line) + ": " + escaped(m.reason) +
                "</li>";
    }
    return html + "</ul></section>";
}

} // namespace

bool startsAsPage(std::string_view firstBytes) {
    return firstBytes.empty() || firstBytes.starts_with(kPageStart);
}

std::string reportHtml(const Report& report) {
    std::string html = std::string(kPageStart) + "<style>" + kStyle + std::string(kTrendStyle) +
                       "</style></head><body><h1>Yield report</h1>";
    const uint64_t units = report.units.size() + report.otherUnits;
    html += "<p class=\"meta\">" + std::to_string(units) + (units == 1 ? " unit" : " units") +
            (report.since ? ", runs since " + timeText(*report.since) : std::string()) + "</p>";
    html += summary(report) + alarms(report) + serialsOnTwoChips(report);
    for (size_t u = 0; u < report.units.size(); ++u) {
        const UnitReport& unit = report.units[u];
        html += "<section class=\"unit\" id=\"unit-" + std::to_string(u + 1) + "\"><h2>Unit " +
                escaped(unit.unit) + " (" + std::to_string(unit.runs) + " runs)</h2>" +
                socketChart(unit) + legend(unit) + socketTable(unit) + socketTrends(unit) +
                "</section>";
    }
    if (report.otherUnits > 0) {
        html += "<section class=\"unit\" id=\"other-units\"><h2>" +
                std::to_string(report.otherUnits) + " other units, summed (" +
                std::to_string(report.others.runs) + " runs)</h2><p>The first " +
                std::to_string(kMostUnits) +
                " units found have a panel of their own; the runs of the others are summed "
                "here, without socket alarms.</p>" +
                socketChart(report.others) + legend(report.others) + socketTable(report.others) +
                "</section>";
    }
    return html + overTime(report) + malformedLines(report) + "</body></html>\n";
}

} // namespace octo::yield
