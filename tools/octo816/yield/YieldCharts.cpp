#include "YieldCharts.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

namespace octo::yield {

namespace {

// A socket's chart in SVG units; four to a row, on the screen and on A4.
constexpr int kWidth = 180;
constexpr int kHeight = 104;
constexpr int kPlotLeft = 32;
constexpr int kPlotRight = 174;
constexpr int kPlotTop = 24;
constexpr int kPlotBottom = 96;
constexpr int kLabelsEnd = 29; // the scale's labels, left of the plot
constexpr double kPercent = 100;

// The rate at the top of a unit's charts: the least of these at or above every rate shown.
constexpr std::array<double, 10> kScaleTops = {0.01, 0.02, 0.03, 0.05, 0.1,
                                               0.15, 0.2,  0.3,  0.5,  1.0};
// A rate of fewer chips than this sets the scale only when no rate has as many, so that a
// short last stretch of a few runs does not flatten the unit's charts; its bar is cut at the
// top.
constexpr uint64_t kScaleChips = 20;

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    std::string text(static_cast<size_t>(std::snprintf(nullptr, 0, pattern, args...)), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, args...);
    return text;
}

double rate(uint64_t failed, uint64_t chips) {
    return chips == 0 ? 0 : static_cast<double>(failed) / static_cast<double>(chips);
}

std::string percent(double share) {
    return format("%.1f %%", share * kPercent);
}

// The points as drawn: at most kChartPoints, neighbours merged in groups of equal size.
std::vector<TrendPoint> drawnPoints(const std::vector<TrendPoint>& points) {
    const size_t group = (points.size() + kChartPoints - 1) / kChartPoints;
    std::vector<TrendPoint> merged;
    for (size_t i = 0; i < points.size(); i += group) {
        TrendPoint sum = points[i];
        for (size_t j = i + 1; j < std::min(points.size(), i + group); ++j) {
            sum.chips += points[j].chips;
            sum.failed += points[j].failed;
            sum.othersChips += points[j].othersChips;
            sum.othersFailed += points[j].othersFailed;
        }
        merged.push_back(sum);
    }
    return merged;
}

// One scale for all charts of a unit, so that its sockets compare at a glance.
double scaleTop(const std::array<std::vector<TrendPoint>, kSockets>& drawn) {
    double highest = 0;
    double highestOfFew = 0;
    bool anyOfMany = false;
    const auto note = [&](uint64_t failed, uint64_t chips) {
        const bool many = chips >= kScaleChips;
        anyOfMany = anyOfMany || many;
        double& into = many ? highest : highestOfFew;
        into = std::max(into, rate(failed, chips));
    };
    for (const std::vector<TrendPoint>& points : drawn) {
        for (const TrendPoint& p : points) {
            note(p.failed, p.chips);
            note(p.othersFailed, p.othersChips);
        }
    }
    const double shown = anyOfMany ? highest : highestOfFew;
    for (const double top : kScaleTops) {
        if (top >= shown) {
            return top;
        }
    }
    return kScaleTops.back();
}

// Where the unit's runs (in time order) and the rates stand on a chart.
struct Plot {
    size_t runs; // at least 1
    double top;
    double x(size_t run) const {
        return kPlotLeft + (kPlotRight - kPlotLeft) * static_cast<double>(std::min(run, runs)) /
                               static_cast<double>(runs);
    }
    double y(double share) const {
        return kPlotBottom - (kPlotBottom - kPlotTop) * std::min(share / top, 1.0);
    }
    // The runs of point i: from its first run to the next point's first run.
    size_t end(const std::vector<TrendPoint>& points, size_t i) const {
        return i + 1 < points.size() ? points.at(i + 1).firstRun : runs;
    }
};

std::string verticalLine(const char* type, double x, const std::string& title) {
    return format("<line class=\"%s\" x1=\"%.1f\" x2=\"%.1f\" y1=\"%d\" y2=\"%d\"><title>", type, x,
                  x, kPlotTop, kPlotBottom) +
           title + "</title></line>";
}

// A maintenance note as a mark's title: its first kMarkNoteBytes, cut between characters.
std::string noteText(std::string_view note) {
    if (note.size() <= kMarkNoteBytes) {
        return escaped(note);
    }
    size_t end = kMarkNoteBytes;
    while (end > 0 && (static_cast<uint8_t>(note[end]) & 0xC0) == 0x80) {
        --end;
    }
    return escaped(note.substr(0, end)) + "…";
}

// The lines at 0, half the scale and its top, labelled.
std::string scaleLines(const Plot& plot) {
    std::string grid;
    std::string labels;
    for (int step = 0; step <= 2; ++step) {
        const double share = plot.top * step / 2;
        grid += format("M%d %.0fH%d", kPlotLeft, plot.y(share), kPlotRight);
        labels += format("<text class=\"scale\" x=\"%d\" y=\"%.0f\">%g %%</text>", kLabelsEnd,
                         plot.y(share), share * kPercent);
    }
    return "<path class=\"grid\" d=\"" + grid + "\"/>" + labels;
}

// The socket's rate as bars (one path), the others' rate as a step line, and the stretches
// in which the socket was not in use as grey bands.
std::string rates(const Plot& plot, const std::vector<TrendPoint>& points, const char* alarmed) {
    std::string idle;
    std::string bars;
    std::string others;
    bool othersDrawn = false;
    for (size_t i = 0; i < points.size(); ++i) {
        const TrendPoint& p = points[i];
        const double x0 = plot.x(p.firstRun);
        const double x1 = plot.x(plot.end(points, i));
        if (p.chips == 0) {
            idle +=
                format("<rect class=\"idle\" x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\"/>",
                       x0, kPlotTop, std::max(x1 - x0, 0.0), kPlotBottom - kPlotTop);
        }
        if (i == 0) {
            bars = format("M%.1f %d", x0, kPlotBottom);
        }
        bars += format("V%.1fH%.1f", plot.y(rate(p.failed, p.chips)), x1);
        if (p.othersChips == 0) {
            othersDrawn = false;
            continue;
        }
        const double y = plot.y(rate(p.othersFailed, p.othersChips));
        others += othersDrawn ? format("V%.1fH%.1f", y, x1) : format("M%.1f %.1fH%.1f", x0, y, x1);
        othersDrawn = true;
    }
    std::string svg = idle;
    if (!bars.empty()) {
        svg += format("<path class=\"own%s\" d=\"%sV%dZ\"/>", alarmed, bars.c_str(), kPlotBottom);
    }
    if (!others.empty()) {
        svg += "<path class=\"others\" d=\"" + others + "\"/>";
    }
    return svg;
}

std::string sinceText(const Alarm& alarm) {
    return "since " + timeText(alarm.since) +
           (alarm.sinceRunNumber ? " (run " + std::to_string(*alarm.sinceRunNumber) + ")"
                                 : std::string());
}

std::string chart(const UnitReport& unit, int socket, const std::vector<TrendPoint>& points,
                  const Plot& plot) {
    const size_t s = static_cast<size_t>(socket - 1);
    std::vector<const Alarm*> alarms;
    for (const Alarm& a : unit.alarms) {
        if (a.socket == socket) {
            alarms.push_back(&a);
        }
    }
    // The latest marks, in time order.
    std::vector<const MaintenanceMark*> marks;
    for (const MaintenanceMark& m : unit.trends[s].maintenance) {
        marks.push_back(&m);
    }
    std::ranges::stable_sort(marks, {}, [](const MaintenanceMark* m) { return m->time; });
    const size_t unmarked = marks.size() - std::min(marks.size(), kMostMarks);
    marks.erase(marks.begin(), marks.begin() + static_cast<ptrdiff_t>(unmarked));

    TrendPoint sum;
    for (const TrendPoint& p : points) {
        sum.chips += p.chips;
        sum.failed += p.failed;
        sum.othersChips += p.othersChips;
        sum.othersFailed += p.othersFailed;
    }
    const std::string name = "Socket " + std::to_string(socket);
    std::string title = name + ": ";
    if (sum.chips == 0) {
        title += "no runs to show";
    } else {
        title += percent(rate(sum.failed, sum.chips)) + " of its chips failed, " +
                 (sum.othersChips == 0
                      ? std::string("no other socket in use")
                      : "the other sockets " + percent(rate(sum.othersFailed, sum.othersChips)));
    }
    for (const Alarm* a : alarms) {
        title += "; alarm " + sinceText(*a);
    }
    if (!marks.empty()) {
        title += "; maintenance " + timeText(marks.back()->time);
    }

    const char* alarmed = alarms.empty() ? "" : " alarmed";
    std::string svg = "<svg class=\"socket-trend\" data-unit=\"" + escaped(unit.unit) +
                      "\" data-socket=\"" + std::to_string(socket) +
                      format("\" viewBox=\"0 0 %d %d\" role=\"img\"><title>", kWidth, kHeight) +
                      title + ".</title>";
    svg += std::string("<rect class=\"frame") + alarmed + "\" width=\"100%\" height=\"100%\"/>";
    svg += format("<text class=\"name%s\" x=\"6\" y=\"15\">", alarmed) + name +
           (alarms.empty() ? "" : ": alarm") + "</text>";
    svg += scaleLines(plot) + rates(plot, points, alarmed);
    if (points.empty()) {
        svg += "<text class=\"empty\" x=\"50%\" y=\"50%\">no runs to show</text>";
    }
    for (const MaintenanceMark* m : marks) {
        const std::string note = m->note.empty() ? std::string() : ": " + noteText(m->note);
        svg += verticalLine("maintenance", plot.x(m->beforeRun),
                            "maintenance " + timeText(m->time) + note);
    }
    for (const Alarm* a : alarms) {
        svg += verticalLine("change-point", plot.x(a->sinceRun), "change point: " + sinceText(*a));
    }
    return svg + "</svg>";
}

// The legend's colours are the style sheet's (kTrendStyle).
std::string legend() {
    return "<p class=\"legend\"><span><i style=\"background:#1f77b4\"></i>the socket's failure "
           "rate</span><span><b style=\"color:#888\"></b>the other sockets in use</span><span><b "
           "style=\"color:#b00;border-top-style:dashed\"></b>change point of an "
           "alarm</span><span><b style=\"color:#2ca02c;border-top-style:dotted\"></b>maintenance"
           "</span><span><i style=\"background:#eee\"></i>the socket not in use</span></p>";
}

} // namespace

std::string socketTrends(const UnitReport& unit) {
    std::array<std::vector<TrendPoint>, kSockets> drawn;
    bool anyInUse = false;
    for (size_t s = 0; s < kSockets; ++s) {
        if (unit.inUse[s] > 0) {
            drawn[s] = drawnPoints(unit.trends[s].points);
            anyInUse = true;
        }
    }
    if (!anyInUse) {
        return {};
    }
    const Plot plot{.runs = std::max<size_t>(unit.runs, 1), .top = scaleTop(drawn)};
    std::string html =
        "<h3>Each socket over the unit's runs</h3>" + legend() + "<div class=\"trends\">";
    for (size_t s = 0; s < kSockets; ++s) {
        if (unit.inUse[s] > 0) {
            html += chart(unit, static_cast<int>(s) + 1, drawn[s], plot);
        }
    }
    return html + "</div>";
}

} // namespace octo::yield
