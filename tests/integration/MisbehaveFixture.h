// A library test against a unit that misbehaves: each case names the scenario keys, the step
// they spoil and the codes that step may end with. Every call must end within its bound and
// tell the truth; once the unit's power was cycled (which ends the misbehaviour) the same
// step must work again.
#pragma once

#include "LibraryFixture.h"
#include "Operations.h"

#include <csignal>
#include <set>

namespace octo::testing {

enum class Step { Result, Supply, Signals, Load, MainProcess, ReadOut };

struct MisbehaveCase {
    const char* name;
    std::vector<std::string> settings;
    Step step;
    std::set<int32_t> codes;
};

class MisbehaveTest : public SimulatedUnitTest {
protected:
    static constexpr uint32_t kRunTenths = 30;
    static constexpr uint32_t kSockets = 8;
    static constexpr uint8_t kSupply = 30;
    static constexpr uint32_t kReadStart = 0xF000;
    static constexpr uint32_t kReadLength = 0x1000;
    static constexpr uint16_t kSignalWord = 0x0101;

    void startUnit(std::vector<std::string> settings) {
        // Every socket holds an A449 with random contents, dumped for the read-out checks.
        settings.insert(settings.begin(), {"dump_targets=yes", "target.all.type=ZEL816 A449",
                                           "target.all.memory=random"});
        start(settings);
        operations = std::make_unique<Operations>(*unit, kRate);
    }

    // What the step needs before it: an erased image memory, a loaded image, the supply on.
    void prepare(Step step) {
        if (step == Step::Load || step == Step::MainProcess) {
            ASSERT_EQ(operations->eraseImage().code, 0) << lastText();
        }
        if (step == Step::MainProcess) {
            ASSERT_EQ(operations->loadImage(samplePath("A449_full.hex"), "ZEL816 A449").code, 0)
                << lastText();
        }
        if (step == Step::ReadOut) {
            ASSERT_EQ(operations->setSupply(kSupply).code, 0) << lastText();
            std::filesystem::remove(readOutPath());
        }
    }

    Outcome perform(Step step) {
        switch (step) {
        case Step::Result:
            return operations->getResult();
        case Step::Supply:
            return operations->setSupply(kSupply);
        case Step::Signals:
            return operations->setSignals(kSignalWord);
        case Step::Load:
            return operations->loadImage(samplePath("A413_overlap_1.hex"), "ZEL816 A413");
        case Step::MainProcess:
            return operations->mainProcess(kRunTenths, kSockets);
        case Step::ReadOut:
            return operations->readOut(0, kReadStart, kReadLength, readOutPath());
        }
        return {};
    }

    std::filesystem::path readOutPath() const { return unit->folder() / "readout.txt"; }

    void runCases(const std::vector<MisbehaveCase>& cases) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            startUnit(c.settings);
            prepare(c.step);
            if (HasFatalFailure()) {
                return;
            }
            const Outcome spoiled = perform(c.step);
            EXPECT_TRUE(c.codes.contains(spoiled.code)) << spoiled.code << ": " << lastText();
            EXPECT_LE(spoiled.ms, spoiled.boundMs);
            EXPECT_TRUE(spoiled.truthful) << spoiled.detail;
            EXPECT_NE(unit->state("misbehave.hits"), "0") << "the misbehaviour never happened";

            unit->signal(SIGUSR2);
            ASSERT_TRUE(unit->waitFor("misbehave.active", "no"));
            prepare(c.step);
            if (HasFatalFailure()) {
                return;
            }
            const Outcome healed = perform(c.step);
            EXPECT_EQ(healed.code, 0) << lastText();
            EXPECT_LE(healed.ms, healed.boundMs);
            EXPECT_TRUE(healed.truthful) << healed.detail;
            operations.reset();
            unit.reset();
        }
    }

    std::unique_ptr<Operations> operations;
};

} // namespace octo::testing
