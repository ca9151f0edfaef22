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
    : view_(parts.view), platform_(parts.platform), library_(parts.library),
      profile_(parts.profile), settings_(parts.settings), deviceType_(parts.deviceType),
      flags_(parts.flags), state_(parts.state), status_(parts.status), bracket_(parts.bracket),
      progress_(parts.progress), results_(parts.results), catalogue_(parts.catalogue),
      power_(parts.power), report_(parts.view, parts.settings, parts.state.logPath),
      trace_(parts.view, parts.library, parts.settings, parts.deviceType) {}

void MainProcess::onStart() {
    if (flags_.reloadRequired) {
        view_.messageBox(kReloadWarning, kReloadWarningCaption, mb::kOk | mb::kIconExclamation);
        return;
    }
    loadSetting(profile_, settings_, &Settings::repeatOctoprog);
    if (settings_.repeatOctoprog == 0) {
        flags_.continualMain = false;
        runMainProcess();
        return;
    }
    flags_.continualMain = !flags_.continualMain;
    if (flags_.continualMain) {
        view_.setText(IDC_START, kStopCaption);
        report_.open(power_.settleMs());
        flags_.runsLeft = settings_.repeatOctoprog;
        runMainProcess();
    } else {
        // Also reached from inside a run, while the library waits for the unit: that run
        // completes, and its end enables the button again and starts no further run.
        view_.setText(IDC_START, kStartCaption);
        view_.setEnabled(IDC_START, false);
        report_.close(settings_.timeOctoProg);
        view_.setText(IDC_STATUS_LINE, kSeriesTerminated);
    }
}

void MainProcess::runMainProcess() {
    takeControls(view_, settings_);
    if (supplyBelowMinimum()) {
        return;
    }
    resyncDeviceType();
    writeBusy(true);
    bracket_.beginOperation();
    estimateProgTime();
    progress_.startProgress(settings_.timeOctoProg, progress_.period(), true);
    const uint32_t startMs = platform_.tickCount();
    const bool succeeded = runUnit();
    progress_.stopProgress(true);
    bracket_.endOperation();
    if (succeeded) {
        showRunOutcome(startMs);
    }
    writeBusy(false);
    if (flags_.continualMain) {
        continueSeries(succeeded);
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

bool MainProcess::runUnit() {
    if (sendParameters() != 0) {
        return false;
    }
    if (library_->mainProcess(libraryTimeout(settings_.timeOctoProg)) != 0) {
        return false;
    }
    const int32_t result = library_->getResult(state_.runResult.data());
    if (result == 0 || result == kResultFailedRun) {
        trace_.record(state_.runResult, result);
    }
    if (result == kResultFailedRun) {
        // The unit's own verdict is shown at once, though the run counts as failed.
        results_.showResult(true);
    }
    return result == 0;
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

void MainProcess::continueSeries(bool succeeded) {
    if (succeeded) {
        platform_.sleep(kSeriesPauseMs);
    } else {
        view_.messageBox(kSeriesFailed, kSeriesFailedCaption, mb::kOk);
    }
    if (--flags_.runsLeft != 0) {
        // Through the message queue, so the window repaints and takes the operator's
        // Stop before the next run starts waiting for the unit.
        view_.postCommand(IDC_RUN_MAIN_PROCESS);
        return;
    }
    onStart();
    view_.setEnabled(IDC_START, true);
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
