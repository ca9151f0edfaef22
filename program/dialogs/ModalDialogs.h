// The three sub-dialogs, each run modally over the main window from its own template: the
// window makes the dialog, the dialog's class fills and checks it.
#pragma once

#include "app/Platform.h"
#include "app/ProgramState.h"
#include "app/View.h"
#include "dialogs/SubDialogs.h"
#include "link/ProgrammerLibrary.h"
#include "settings/ProfileStore.h"
#include "settings/Settings.h"

namespace octo {

class ModalDialogs final : public SubDialogs {
public:
    ModalDialogs(View& view, const Platform& platform, LibrarySlot& library, ProfileStore& profile,
                 const Settings& settings, ProgramState& state)
        : view_(view), platform_(platform), library_(library), profile_(profile),
          settings_(settings), state_(state) {}

    void runAboutBox() override;
    bool runReadOutDialog() override;
    void runSignalsDialog() override;

private:
    View& view_;
    const Platform& platform_;
    LibrarySlot& library_;
    ProfileStore& profile_;
    const Settings& settings_;
    ProgramState& state_;
};

} // namespace octo
