// What the window's operations share: the objects each of them works with, given once by
// the window, and the base that keeps them under the names the operations use.
#pragma once

#include "app/OperationFlags.h"
#include "app/Platform.h"
#include "app/ProgramState.h"
#include "app/View.h"
#include "devices/DeviceType.h"
#include "link/OperationBracket.h"
#include "link/ProgrammerLibrary.h"
#include "link/ProgressBar.h"
#include "link/StatusLine.h"
#include "ops/TargetPower.h"
#include "settings/ProfileStore.h"
#include "settings/Settings.h"

namespace octo {

// Owned by the window.
struct OperationParts {
    View& view;
    Platform& platform;
    LibrarySlot& library;
    ProfileStore& profile;
    Settings& settings;
    const DeviceType& deviceType;
    OperationFlags& flags;
    ProgramState& state;
    StatusLine& status;
    OperationBracket& bracket;
    ProgressBar& progress;
    const TargetPower& power;
};

class Operation {
protected:
    explicit Operation(const OperationParts& parts)
        : view_(parts.view), platform_(parts.platform), library_(parts.library),
          profile_(parts.profile), settings_(parts.settings), deviceType_(parts.deviceType),
          flags_(parts.flags), state_(parts.state), status_(parts.status), bracket_(parts.bracket),
          progress_(parts.progress), power_(parts.power) {}

    View& view_;
    Platform& platform_;
    LibrarySlot& library_;
    ProfileStore& profile_;
    Settings& settings_;
    const DeviceType& deviceType_;
    OperationFlags& flags_;
    ProgramState& state_;
    StatusLine& status_;
    OperationBracket& bracket_;
    ProgressBar& progress_;
    const TargetPower& power_;
};

} // namespace octo
