#include "YieldOutput.h"

#include "Escape.h"
#include "Json.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace octo::yield {

namespace {

constexpr size_t kNumberChars = 32;
constexpr size_t kRatePercentChars = 16;
constexpr double kPercent = 100;

// A rate or p-value as a JSON number, with the digits it carries.
std::string number(double value) {
    std::array<char, kNumberChars> text{};
    std::snprintf(text.data(), text.size(), "%.6g", std::isfinite(value) ? value : 0.0);
    return text.data();
}

std::string percent(double share) {
    std::array<char, kRatePercentChars> text{};
    std::snprintf(text.data(), text.size(), "%.2f %%", share * kPercent);
    return text.data();
}

std::string socketJson(int socket, const SocketCounts& c, uint64_t inUse) {
    return cli::JsonObject()
        .add("socket", int32_t{socket})
        .add("chips", c.chips)
        .add("passed", c.passed())
        .add("not_found", c.at(Stage::NotFound))
        .add("not_connected", c.at(Stage::NotConnected))
        .add("erase_check", c.at(Stage::EraseCheck))
        .add("verify", c.at(Stage::Verify))
        .add("secure", c.at(Stage::Secure))
        .add("erase_or_program", c.at(Stage::EraseOrProgram))
        .add("in_use", inUse)
        .text();
}

std::string alarmJson(const Alarm& a) {
    return cli::JsonObject()
        .add("socket", int32_t{a.socket})
        .add("since", timeText(a.since))
        .addJson("failure_rate", number(a.failureRate))
        .addJson("others_rate", number(a.othersRate))
        .addJson("p_value", number(a.pValue))
        .addJson("since_run", a.sinceRunNumber ? std::to_string(*a.sinceRunNumber) : "null")
        .addJson("ratio", std::isfinite(a.ratio) ? number(a.ratio) : "null")
        .addJson("maintenance_since",
                 a.maintenanceSince ? cli::jsonString(timeText(*a.maintenanceSince)) : "null")
        .text();
}

std::string socketsJson(const UnitReport& unit) {
    std::vector<std::string> sockets;
    for (size_t s = 0; s < kSockets; ++s) {
        sockets.push_back(socketJson(static_cast<int>(s) + 1, unit.sockets[s], unit.inUse[s]));
    }
    return cli::jsonArray(sockets);
}

std::string stretchesJson(const UnitReport& unit) {
    std::vector<std::string> stretches;
    for (const EmptyStretch& e : unit.emptyStretches) {
        stretches.push_back(cli::JsonObject()
                                .add("socket", int32_t{e.socket})
                                .add("from", timeText(e.from))
                                .add("to", timeText(e.to))
                                .add("runs", e.runs)
                                .text());
    }
    return cli::jsonArray(stretches);
}

std::string askedJson(const Report& report) {
    cli::JsonObject asked;
    for (const auto& [steps, runs] : report.asked) {
        asked.add(steps.c_str(), runs);
    }
    return asked.text();
}

std::string tenths(double value) {
    std::array<char, kNumberChars> text{};
    std::snprintf(text.data(), text.size(), "%.1f", value);
    return text.data();
}

std::string chipJson(const SerialChip& chip) {
    return cli::JsonObject()
        .add("unit", chip.unit)
        .addJson("run", chip.run ? std::to_string(*chip.run) : "null")
        .add("socket", int32_t{chip.socket})
        .add("time", timeText(chip.time))
        .add("file", chip.file)
        .add("line", chip.line)
        .text();
}

std::string serialsJson(const Report& report) {
    std::vector<std::string> serials;
    for (const SerialOnChips& found : report.serialsOnTwoChips) {
        std::vector<std::string> chips;
        for (const SerialChip& chip : found.chips) {
            chips.push_back(chipJson(chip));
        }
        serials.push_back(cli::JsonObject()
                              .add("serial", found.serial)
                              .addJson("chips", cli::jsonArray(chips))
                              .text());
    }
    return cli::jsonArray(serials);
}

std::string chipPlace(const SerialChip& chip) {
    return "unit " + cli::printable(chip.unit) +
           (chip.run ? " run " + std::to_string(*chip.run) : std::string()) + " socket " +
           std::to_string(chip.socket) + " (" + cli::printable(chip.file) + ":" +
           std::to_string(chip.line) + ")";
}

} // namespace

std::string reportJson(const Report& report) {
    std::vector<std::string> units;
    for (const UnitReport& unit : report.units) {
        std::vector<std::string> alarms;
        for (const Alarm& alarm : unit.alarms) {
            alarms.push_back(alarmJson(alarm));
        }
        cli::JsonObject object;
        object.add("unit", std::string(unit.unit))
            .add("runs", unit.runs)
            .addJson("sockets", socketsJson(unit))
            .addJson("alarms", cli::jsonArray(alarms))
            .addJson("empty_stretches", stretchesJson(unit));
        if (unit.unlistedStretches > 0) {
            object.add("empty_stretches_unlisted", unit.unlistedStretches);
        }
        units.push_back(object.text());
    }
    cli::JsonObject object;
    object.add("runs", report.runs)
        .add("chips", report.chips)
        .addJson("first_pass_yield", number(report.firstPassYield()))
        .addJson("units", cli::jsonArray(units));
    if (report.otherUnits > 0) {
        object.addJson("other_units", cli::JsonObject()
                                          .add("units", report.otherUnits)
                                          .add("runs", report.others.runs)
                                          .addJson("sockets", socketsJson(report.others))
                                          .text());
    }
    object.addJson("serials_on_two_chips", serialsJson(report));
    if (report.unlistedSerialChips > 0) {
        object.add("serials_on_two_chips_unlisted", report.unlistedSerialChips);
    }
    object.addJson("asked", askedJson(report));
    return object.text() + "\n";
}

std::string alarmSentence(std::string_view unit, const Alarm& a) {
    std::string text = "Unit " + std::string(unit) + ", socket " + std::to_string(a.socket) + ": " +
                       tenths(a.failureRate * kPercent) + " % of its chips fail since " +
                       minuteText(a.since);
    if (a.sinceRunNumber) {
        text += " (run " + std::to_string(*a.sinceRunNumber) + ")";
    }
    text += ", the other sockets " + tenths(a.othersRate * kPercent) + " %";
    return text + (std::isfinite(a.ratio) ? "; " + tenths(a.ratio) + " times the others."
                                          : " (none failed).");
}

std::string unlistedStretches(const UnitReport& unit) {
    return std::to_string(unit.unlistedStretches) +
           (unit.unlistedStretches == 1 ? " earlier stretch" : " earlier stretches") +
           " of runs without a chip, not listed.";
}

std::string stretchSentence(std::string_view unit, const EmptyStretch& e) {
    const std::string from = minuteText(e.from);
    const std::string to = minuteText(e.to);
    // The end's date only when it is another day.
    const size_t date = to.find(' ');
    return "Unit " + std::string(unit) + ", socket " + std::to_string(e.socket) + ": no chip in " +
           std::to_string(e.runs) + " runs in a row (" + from + " to " +
           (to.substr(0, date) == from.substr(0, date) ? to.substr(date + 1) : to) +
           "), counted as not in use.";
}

std::string reportText(const Report& report) {
    std::string text = "runs " + std::to_string(report.runs) + ", chips " +
                       std::to_string(report.chips) + ", first-pass yield " +
                       percent(report.firstPassYield()) + "\n";
    for (const UnitReport& unit : report.units) {
        for (const Alarm& a : unit.alarms) {
            text += alarmSentence(cli::printable(unit.unit), a) + "\n";
        }
    }
    for (const UnitReport& unit : report.units) {
        for (const EmptyStretch& e : unit.emptyStretches) {
            text += stretchSentence(cli::printable(unit.unit), e) + "\n";
        }
        if (unit.unlistedStretches > 0) {
            text += "Unit " + cli::printable(unit.unit) + ": " + unlistedStretches(unit) + "\n";
        }
    }
    if (report.otherUnits > 0) {
        text += std::to_string(report.otherUnits) + " more units summed in one (" +
                std::to_string(report.others.runs) + " runs): the page and --json show the first " +
                std::to_string(kMostUnits) + " found one by one\n";
    }
    for (const SerialOnChips& found : report.serialsOnTwoChips) {
        text += "record " + cli::printable(found.serial) + " on " +
                std::to_string(found.chips.size()) + " passed chips:";
        for (size_t i = 0; i < found.chips.size(); ++i) {
            text += (i == 0 ? " " : ", ") + chipPlace(found.chips[i]);
        }
        text += "\n";
    }
    if (report.unlistedSerialChips > 0) {
        text += std::to_string(report.unlistedSerialChips) +
                " more passed chips carry a record seen before (not listed)\n";
    }
    return text;
}

} // namespace octo::yield
