// The main dialog wired to the in-memory view, the fake platform and the scripted library:
// the bases of the tests of the dialog and its subsystems.
#pragma once

#include "app/ProgrammerDialog.h"
#include "resources/resource.h"
#include "support/FakeLibrary.h"
#include "support/FakePlatform.h"
#include "support/InMemoryView.h"

#include <gtest/gtest.h>

#include <memory>

namespace octo::testing {

// A dialog as constructed, wired to the in-memory view (commands, timers, close), the fake
// platform and the scripted library, all sharing one event log.
template <typename Dialog = ProgrammerDialog>
class DialogUnderTest : public ::testing::Test {
protected:
    DialogUnderTest() : view(&log), platform(&log), dialog(view, platform, state) {
        auto fake = std::make_unique<FakeLibrary>(&log);
        fake->portNamed = true;
        library = fake.get();
        dialog.useLibrary(std::move(fake));
        view.connectTo(dialog);
    }

    EventLog log;
    InMemoryView view;
    FakePlatform platform;
    ProgramState state;
    Dialog dialog;
    FakeLibrary* library = nullptr;
};

// The dialog initialised the way the window does it, with the target power lists filled
// as the start-up command fills them.
template <typename Dialog = ProgrammerDialog>
class DialogFixture : public DialogUnderTest<Dialog> {
protected:
    DialogFixture() {
        this->dialog.showMembers();
        this->dialog.onInitDialog();
        this->dialog.targetPower().fillTargetPowerLists();
        this->dialog.showMembers();
        this->dialog.progress().setPeriod(kProgressPeriodMs);
        this->dialog.results().fillStatusLampTable();
        this->log.clear();
    }

    // The library calls made since the fixture was set up, or since the last clear.
    std::vector<std::string> libraryCalls() const { return this->library->callLog(); }

    static constexpr uint16_t kProgressPeriodMs = 100;
};

} // namespace octo::testing
