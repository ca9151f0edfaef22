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

std::string socketJson(int socket, const SocketCounts& c) {
    return cli::JsonObject()
        .add("socket", int32_t{socket})
        .add("chips", c.chips)
        .add("passed", c.passed())
        .add("not_found", c.at(Stage::NotFound))
        .add("not_connected", c.at(Stage::NotConnected))
        .add("erase_check", c.at(Stage::EraseCheck))
        .add("verify", c.at(Stage::Verify))
        .add("secure", c.at(Stage::Secure))
        .text();
}

std::string alarmJson(const Alarm& a) {
    return cli::JsonObject()
        .add("socket", int32_t{a.socket})
        .add("since", timeText(a.since))
        .addJson("failure_rate", number(a.failureRate))
        .addJson("others_rate", number(a.othersRate))
        .addJson("p_value", number(a.pValue))
        .text();
}

std::string socketsJson(const UnitReport& unit) {
    std::vector<std::string> sockets;
    for (int s = 0; s < kSockets; ++s) {
        sockets.push_back(socketJson(s + 1, unit.sockets[static_cast<size_t>(s)]));
    }
    return cli::jsonArray(sockets);
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
        units.push_back(cli::JsonObject()
                            .add("unit", std::string(unit.unit))
                            .add("runs", unit.runs)
                            .addJson("sockets", socketsJson(unit))
                            .addJson("alarms", cli::jsonArray(alarms))
                            .text());
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
    return object.text() + "\n";
}

std::string reportText(const Report& report) {
    std::string text = "runs " + std::to_string(report.runs) + ", chips " +
                       std::to_string(report.chips) + ", first-pass yield " +
                       percent(report.firstPassYield()) + "\n";
    for (const UnitReport& unit : report.units) {
        for (const Alarm& a : unit.alarms) {
            text += "alarm: unit " + cli::printable(unit.unit) + " socket " +
                    std::to_string(a.socket) + " since " + timeText(a.since) + ": fails " +
                    percent(a.failureRate) + " against " + percent(a.othersRate) +
                    " (p = " + number(a.pValue) + ")\n";
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
