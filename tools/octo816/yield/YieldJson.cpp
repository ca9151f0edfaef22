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

} // namespace

std::string reportJson(const Report& report) {
    std::vector<std::string> units;
    for (const UnitReport& unit : report.units) {
        std::vector<std::string> sockets;
        for (int s = 0; s < kSockets; ++s) {
            sockets.push_back(socketJson(s + 1, unit.sockets[static_cast<size_t>(s)]));
        }
        std::vector<std::string> alarms;
        for (const Alarm& alarm : unit.alarms) {
            alarms.push_back(alarmJson(alarm));
        }
        units.push_back(cli::JsonObject()
                            .add("unit", std::string(unit.unit))
                            .add("runs", unit.runs)
                            .addJson("sockets", cli::jsonArray(sockets))
                            .addJson("alarms", cli::jsonArray(alarms))
                            .text());
    }
    return cli::JsonObject()
               .add("runs", report.runs)
               .add("chips", report.chips)
               .addJson("first_pass_yield", number(report.firstPassYield()))
               .addJson("units", cli::jsonArray(units))
               .text() +
           "\n";
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
    return text;
}

} // namespace octo::yield
