// A main dialog wired to the in-memory view, the fake platform and the scripted library,
// initialised the way the window does it, with the target power lists filled as the
// start-up command fills them. Base of the tests of the dialog's subsystems.
#pragma once

#include "app/ProgrammerDialog.h"
#include "resources/resource.h"
#include "support/FakeLibrary.h"
#include "support/FakePlatform.h"
#include "support/InMemoryView.h"

#include <gtest/gtest.h>

#include <memory>

namespace octo::testing {

template <typename Dialog = ProgrammerDialog>
class DialogFixture : public ::testing::Test {
protected:
    DialogFixture() : view(&log), platform(&log), dialog(view, platform, state) {
        auto fake = std::make_unique<FakeLibrary>(&log);
        library = fake.get();
        dialog.useLibrary(std::move(fake));
        view.connectTo(dialog);
        dialog.showMembers();
        dialog.onInitDialog();
        dialog.targetPower().fillTargetPowerLists();
        dialog.showMembers();
        dialog.progress().setPeriod(kProgressPeriodMs);
        dialog.results().fillStatusLampTable();
        log.clear();
    }

    // The library calls made since the fixture was set up, or since the last clear.
    std::vector<std::string> libraryCalls() const { return library->callLog(); }

    static constexpr uint16_t kProgressPeriodMs = 100;

    EventLog log;
    InMemoryView view;
    FakePlatform platform;
    ProgramState state;
    Dialog dialog;
    FakeLibrary* library = nullptr;
};

} // namespace octo::testing
