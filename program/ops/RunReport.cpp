#include "ops/RunReport.h"

#include "link/ResultGrid.h"

namespace octo {

namespace {

constexpr double kTenthsPerVolt = 10.0;
constexpr double kMsPerSecond = 1000.0;
constexpr double kPercent = 100.0;

} // namespace

void RunReport::open(uint16_t settleMs) {
    if (!wanted()) {
        return;
    }
    file_.reset(std::fopen(path_.c_str(), "w+"));
    sessions_ = 0;
    connectedTotal_ = 0;
    errorTotal_ = 0;
    takeControls(view_, settings_);
    if (!file_) {
        return; // the series runs without a report
    }
    std::FILE* f = file_.get();
    std::fputs("Continual Main Process Test on Octo Programmer for ZEL816 FLASH devices\n\n", f);
    std::fputs("Conditions:\n", f);
    std::fprintf(f, "   File:           %s\n", settings_.imageFile.c_str());
    std::fprintf(f, "   File2:          %s\n", settings_.image2File.c_str());
    std::fprintf(f, "   Supply Voltage: %3.1f V\n",
                 (settings_.supplyVoltage + kLowestSupplyTenths) / kTenthsPerVolt);
    std::fprintf(f, "   Settle Time:    %3.1f s\n", settleMs / kMsPerSecond);
    std::fprintf(f, "   Mass Erase:     %d\n", settings_.erase);
    std::fprintf(f, "   Erase Check:    %d\n", settings_.eraseCheck);
    std::fprintf(f, "   Program:        %d\n", settings_.program);
    std::fprintf(f, "   Verify:         %d\n", settings_.verify);
    std::fprintf(f, "   Blow Fuse:      %d\n", settings_.blowFuse);
    std::fputs("\n", f);
    std::fflush(f);
}

void RunReport::row(std::span<const uint8_t> result) {
    if (!file_) {
        return;
    }
    std::FILE* f = file_.get();
    if (sessions_ % kReportRowsPerHead == 0) {
        std::fputs("Session   Overall         Connected Errors    Percentage\n", f);
    }
    ++sessions_;
    std::fprintf(f, "%7d   ", sessions_);
    const uint8_t connected = result[kConnectedByte];
    const uint8_t passed = result[kOverAllByte];
    for (int target = 0; target < kResultTargets; ++target) {
        const bool isConnected = (connected >> target) & 1;
        if (isConnected) {
            ++connectedTotal_;
        }
        if ((passed >> target) & 1) {
            std::fputs("1 ", f);
        } else {
            std::fputs("0 ", f);
            if (isConnected) {
                ++errorTotal_;
            }
        }
    }
    if (connectedTotal_ == 0) {
        std::fprintf(f, "   %6d %6d      ---- %%\n", connectedTotal_, errorTotal_);
    } else {
        std::fprintf(f, "   %6d %6d    %6.2f %%\n", connectedTotal_, errorTotal_,
                     errorTotal_ * kPercent / connectedTotal_);
    }
    std::fflush(f);
}

void RunReport::close(uint32_t timeOctoProgMs) {
    if (!file_) {
        return;
    }
    std::fprintf(file_.get(), "\nTime for one successful session: %4.1f s\n",
                 timeOctoProgMs / kMsPerSecond);
    file_.reset();
}

} // namespace octo
