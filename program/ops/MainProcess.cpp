#include "ops/MainProcess.h"

#include "resources/StringIds.h"
#include "resources/resource.h"
#include "settings/ConfigKeys.h"

namespace octo {

namespace {

namespace option = wire::option;

constexpr int32_t kResultFailedRun = 50; // block filled, but the run counts as failed

// The estimate's terms, in ms: reaching the targets, per ms of settling time, the erase,
// per KiB for erase check and verify (each counted three times), per KiB programmed, the
// extra per KiB of a large image and the fuse.
constexpr double kRunBaseMs = 1210;
constexpr double kSettleFactor = 4;
constexpr double kEraseMs = 220;
constexpr double kCheckMsPerKib = 7.6;
constexpr double kCheckPasses = 3;
constexpr double kProgramMsPerKib = 115;
constexpr uint32_t kLargeImageKib = 60;
constexpr double kLargeProgramMsPerKib = 60;
constexpr double kSecureMs = 160;
// The boot-loader memory takes five times as long per word as the rest.
constexpr uint32_t kBslWeight = 5;
constexpr uint32_t kBytesPerWord = 2;
constexpr int kKibShift = 10;
// DuoLink is this much slower; the lower JTAG speeds by JtagSpeed times this.
constexpr uint32_t kDuoLinkSlowdown = 64;
constexpr double kSpeedSlowdown = 4.5;

uint32_t bit(int flag, uint32_t value) {
    return flag != 0 ? value : 0;
}
uint32_t bit(bool flag, uint32_t value) {
    return flag ? value : 0;
}
double one(int flag) {
    return flag != 0 ? 1.0 : 0.0;
}

} // namespace

ProgrammingParameters programmingParameters(const Settings& s, const DeviceType& type,
                                            uint16_t settleMs) {
    const bool erase = s.erase != 0;
    const bool check = s.eraseCheck != 0;
    const bool info = s.eraseInfo != 0;
    const bool main = s.eraseMain != 0;
    const bool pinfo = info && s.erasePinfo != 0;
    const bool bsl = s.eraseBslSegm != 0;
    ProgrammingParameters p;
    p.options = bit(erase && info, option::kEraseInfo) | bit(erase && main, option::kEraseMain) |
                bit(erase && pinfo, option::kErasePinfo) | bit(s.program, option::kProgram) |
                bit(s.verify, option::kVerify) | bit(s.blowFuse, option::kSecure) |
                bit(check && info, option::kCheckInfo) | bit(check && main, option::kCheckMain) |
                bit(check && pinfo, option::kCheckPinfo) |
                bit(s.useDlk != 0 && type.dlkAble != 0, option::kDuoLink) |
                (static_cast<uint32_t>(s.jtagSpeed) << option::kSpeedShift) |
                bit(s.verifyMarginal, option::kMarginal) | bit(erase && bsl, option::kEraseBsl) |
                bit(check && bsl, option::kCheckBsl) |
                bit(s.program != 0 && bsl, option::kProgramBsl);
    const bool supplied = s.supplyByProg != 0;
    p.targetVcc = (supplied ? static_cast<uint32_t>(s.supplyVoltage + kLowestSupplyTenths) : 0) |
                  bit(s.switchVccOff, kSwitchVccOffFlag);
    p.settleMs = supplied ? settleMs : kExternalSupplySettleMs;
    return p;
}

uint32_t estimatedRunMs(const Settings& s, const DeviceType& type, uint16_t settleMs) {
    const uint32_t sizeK =
        ((type.flashWords + type.infoWords + kBslWeight * type.bslWords) * kBytesPerWord) >>
        kKibShift;
    const double kib = sizeK;
    double ms =
        (kSettleFactor * settleMs + kRunBaseMs) + kEraseMs * one(s.erase) +
        kCheckMsPerKib * kib * (kCheckPasses * one(s.eraseCheck) + kCheckPasses * one(s.verify)) +
        kProgramMsPerKib * kib * one(s.program) +
        (sizeK > kLargeImageKib ? kLargeProgramMsPerKib * kib * one(s.program) : 0.0) +
        kSecureMs * one(s.blowFuse);
    auto estimate = static_cast<uint32_t>(ms);
    if (s.useDlk != 0) {
        estimate *= kDuoLinkSlowdown;
    } else if (s.jtagSpeed != 0) {
        estimate *= static_cast<uint32_t>(s.jtagSpeed * kSpeedSlowdown);
    }
    return estimate;
}

MainProcess::MainProcess(const MainProcessParts& parts)
    : view_(parts.view), platform_(parts.platform), library_(parts.library),
      profile_(parts.profile), settings_(parts.settings), deviceType_(parts.deviceType),
      flags_(parts.flags), state_(parts.state), status_(parts.status), bracket_(parts.bracket),
      progress_(parts.progress), results_(parts.results), catalogue_(parts.catalogue),
      power_(parts.power), report_(parts.view, parts.settings, parts.state.logPath) {}

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
    catalogue_.applyDeviceType();
    flags_.estimateStale = true;
}

bool MainProcess::runUnit() {
    if (sendParameters() != 0) {
        return false;
    }
    if (library_->mainProcess(libraryTimeout(settings_.timeOctoProg)) != 0) {
        return false;
    }
    const int32_t result = library_->getResult(state_.runResult.data());
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
