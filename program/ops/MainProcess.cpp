#include "ops/MainProcess.h"

#include "resources/StringIds.h"
#include "resources/resource.h"
#include "settings/ConfigKeys.h"

namespace octo {

namespace {

constexpr int32_t kResultFailedRun = 50; // block filled, but the run counts as failed

} // namespace

run::ProgrammingChoice programmingChoice(const Settings& s) {
    return {.erase = s.erase,
            .eraseCheck = s.eraseCheck,
            .eraseInfo = s.eraseInfo,
            .eraseMain = s.eraseMain,
            .erasePinfo = s.erasePinfo,
            .eraseBsl = s.eraseBslSegm,
            .program = s.program,
            .verify = s.verify,
            .secure = s.blowFuse,
            .verifyMarginal = s.verifyMarginal,
            .useDuoLink = s.useDlk,
            .jtagSpeed = s.jtagSpeed,
            .supplyByProgrammer = s.supplyByProg,
            .supplyTenths = s.supplyVoltage + kLowestSupplyTenths,
            .switchVccOff = s.switchVccOff};
}

ProgrammingParameters programmingParameters(const Settings& s, const DeviceType& type,
                                            uint16_t settleMs) {
    return run::programmingParameters(programmingChoice(s), type.dlkAble != 0, settleMs);
}

uint32_t estimatedRunMs(const Settings& s, const DeviceType& type, uint16_t settleMs) {
    return run::estimatedRunMs(programmingChoice(s),
                               {type.flashWords, type.infoWords, type.bslWords}, settleMs);
}

MainProcess::MainProcess(const MainProcessParts& parts)
    : Operation(parts.common), results_(parts.results), catalogue_(parts.catalogue),
      report_(view_, settings_, state_.logPath),
      trace_(view_, library_, settings_, deviceType_, state_),
      serialization_(view_, library_, settings_, deviceType_, state_),
      series_(view_, platform_, flags_, &OperationFlags::continualMain,
              {IDC_START, kStartCaption, kStopCaption, kSeriesTerminated, IDC_RUN_MAIN_PROCESS}) {}

void MainProcess::onStart() {
    if (flags_.reloadRequired) {
        view_.messageBox(kReloadWarning, kReloadWarningCaption, mb::kOk | mb::kIconExclamation);
        return;
    }
    loadSetting(profile_, settings_, &Settings::repeatOctoprog);
    switch (series_.press(settings_.repeatOctoprog)) {
    case Series::Press::Started:
        report_.open(power_.settleMs());
        runMainProcess();
        return;
    case Series::Press::Ended:
        report_.close(settings_.timeOctoProg);
        return;
    case Series::Press::SingleRun:
        runMainProcess();
        return;
    }
}

void MainProcess::runMainProcess() {
    takeControls(view_, settings_);
    if (!supplyBelowMinimum()) {
        runGuarded();
    }
    // Told after a single run, or once when the series has ended: an unattended series
    // does not wait for the operator.
    if (!series_.active()) {
        trace_.reportFailure();
    }
}

void MainProcess::runGuarded() {
    resyncDeviceType();
    // The records are reserved and handed over before the unit is touched; without them
    // no run starts, and a series ends here. They go only with the options this run sends.
    const uint32_t options =
        programmingParameters(settings_, deviceType_, power_.settleMs()).options;
    if (!serialization_.prepare(options)) {
        if (series_.endNow()) {
            report_.close(settings_.timeOctoProg);
        }
        return;
    }
    writeBusy(true);
    bracket_.beginOperation();
    estimateProgTime();
    progress_.startProgress(settings_.timeOctoProg, progress_.period(), true);
    const uint32_t startMs = platform_.tickCount();
    const UnitRunEnd end = runUnit();
    const std::optional<int32_t>& result = end.result;
    const bool succeeded = result == 0;
    progress_.stopProgress(true);
    bracket_.endOperation();
    if (succeeded) {
        showRunOutcome(startMs);
    }
    serialization_.settle(end);
    // After the bracket and the measured duration, which its file work must not lengthen.
    if (result == 0 || result == kResultFailedRun) {
        trace_.record(state_.runResult, *result, serialization_.recordValues());
    }
    writeBusy(false);
    if (series_.active()) {
        series_.afterRun(succeeded ? nullptr : kSeriesFailed, [this] { onStart(); });
    }
}

bool MainProcess::supplyBelowMinimum() {
    const int supplyTenths = settings_.supplyVoltage + kLowestSupplyTenths;
    const bool raised = settings_.supplyByProg != 0 &&
                        (settings_.erase != 0 || settings_.program != 0) &&
                        supplyTenths < deviceType_.vpp;
    if (!raised) {
        return false;
    }
    settings_.supplyVoltage = deviceType_.vpp - kLowestSupplyTenths;
    showSettings(view_, settings_);
    if (settings_.repeatOctoprog != 0) {
        flags_.continualMain = false;
    }
    status_.showStatus(kShowString, IDS_VOLTAGE_TOO_LOW);
    results_.setStatusLamp(kStatusLampInfo);
    view_.beep(kGuardBeepHz, kGuardBeepMs);
    return true;
}

void MainProcess::resyncDeviceType() {
    // The configuration file names the type of the image last loaded into the unit.
    const int32_t loaded = profile_.readInt(ini::kSystem, ini::kDevType, 1);
    if (loaded == settings_.devType) {
        return;
    }
    settings_.devType = loaded;
    showSettings(view_, settings_);
    // Applying the type also makes the estimate of the run duration stale.
    catalogue_.applyDeviceType();
}

UnitRunEnd MainProcess::runUnit() {
    UnitRunEnd end;
    if (sendParameters() != 0) {
        return end;
    }
    end.started = true;
    end.mainProcess = library_->mainProcess(libraryTimeout(settings_.timeOctoProg));
    if (end.mainProcess != 0) {
        return end;
    }
    end.result = library_->getResult(state_.runResult.data());
    if (end.result == kResultFailedRun) {
        // The unit's own verdict is shown at once, though the run counts as failed.
        results_.showResult(true);
    }
    return end;
}

void MainProcess::showRunOutcome(uint32_t startMs) {
    report_.row(state_.runResult);
    state_.lastResult = results_.showResult(true);
    if (state_.lastResult != 0) {
        status_.showStatus(kShowString, kFirstProgramCode + state_.lastResult);
        return;
    }
    status_.showStatus(kShowString, IDS_SEE_RESULTS);
    if (state_.runResult[kOverAllByte] == 0) {
        return; // nobody passed: the run says nothing about the duration
    }
    settings_.timeOctoProg = platform_.tickCount() - startMs;
    // DuoLink runs take far longer; the stored duration is the one of the usual interface.
    if (settings_.useDlk == 0) {
        writeTiming(profile_, ini::kTimeOctoProg, settings_.timeOctoProg);
    }
}

int32_t MainProcess::sendParameters() {
    takeControls(view_, settings_);
    const ProgrammingParameters p =
        programmingParameters(settings_, deviceType_, power_.settleMs());
    state_.lastResult = library_->loadParameters(p.options, p.targetVcc, p.settleMs);
    return state_.lastResult;
}

void MainProcess::estimateProgTime() {
    if (!flags_.estimateStale) {
        loadSetting(profile_, settings_, &Settings::timeOctoProg);
        return;
    }
    takeControls(view_, settings_);
    settings_.timeOctoProg = estimatedRunMs(settings_, deviceType_, power_.settleMs());
    writeTiming(profile_, ini::kTimeOctoProg, settings_.timeOctoProg);
    flags_.estimateStale = false;
}

void MainProcess::writeBusy(bool busy) {
    profile_.write(ini::kDiagnostic, ini::kBusy, busy ? "1" : "0");
}

} // namespace octo
