// Each target's own record (a serial number, a MAC address, a key) for the window's main
// process, when key Ledger of section Serial names the station's ledger: before a run one
// record a socket is reserved in the ledger and handed to the library, after it each record
// is settled by how the run ended, and the Over All lamps' tooltips name the records.
#pragma once

#include "app/ProgramState.h"
#include "app/View.h"
#include "devices/DeviceType.h"
#include "link/ProgrammerLibrary.h"
#include "serials/serial_ledger.h"
#include "settings/Settings.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace octo {

inline constexpr char kSerialCaption[] = "Serial numbers";
inline constexpr char kSerialNotStarted[] = "The run was not started.";
// Records go only with an image this process loaded: the library checks them against it,
// and the ledger notes its CRC.
inline constexpr char kSerialNeedsImage[] =
    "Serial numbers need an image that this program loaded since it started.\nPress Load "
    "Image(s) first, then Start.";

// How one pass of the unit ended, as far as the records depend on it.
struct UnitRunEnd {
    bool started = false;          // OctoMainProcess was called
    int32_t mainProcess = 0;       // ... and answered this
    std::optional<int32_t> result; // OctoGetResult's answer; none when it was not asked
};

// What the ledger notes as the unit of a run: its serial number (as OctoGetUnitInfo tells
// it) and the port, "OCTO-0042 COM1"; the port alone when the unit does not say.
std::string ledgerUnit(const std::string& unitSerial, const std::string& port);

// The scheme section Serial describes: the list file when one is named, else the numbers.
// Throws serials::SchemeError naming what is wrong.
serials::SerialScheme serialSchemeOf(const Settings& settings);

class Serialization {
public:
    Serialization(View& view, LibrarySlot& library, const Settings& settings,
                  const DeviceType& deviceType, const ProgramState& state)
        : view_(view), library_(library), settings_(settings), deviceType_(deviceType),
          state_(state) {}

    bool configured() const { return !settings_.serialLedger.empty(); }
    // Before the unit is touched, for a pass with this option word: checks that this process
    // loaded the image and that the pass erases and programs the memory the records go to,
    // then opens the ledger, reserves a record for each socket and hands them to the
    // library. False, after a message box, when the run must not start; then nothing is
    // left reserved or set. True at once when nothing is configured.
    bool prepare(uint32_t options);
    // After the pass: the records settled by how it ended, the ledger closed, so that a
    // listing can read it between runs, and the Over All lamps' tooltips naming them.
    void settle(const UnitRunEnd& end);
    // Each socket's record of the last run settled, as the ledger keeps it ([0] socket 1);
    // empty strings after a run without records.
    const std::array<std::string, serials::kSockets>& recordValues() const { return values_; }

private:
    // What became of each socket's record, as the ledger is told.
    enum class Fate { Programmed, Void, Released };
    using Fates = std::array<Fate, serials::kSockets>;

    // Every record back unused: the unit never received any.
    void releaseAll();
    void showRecords(const Fates& fates);
    void close();
    void tell(const std::string& text);

    // Why a pass with these options must not get records; empty when it may.
    std::string refusal(uint32_t options, size_t recordLength);
    // The unit and its port, for the ledger's runs.
    std::string unitName();

    View& view_;
    LibrarySlot& library_;
    const Settings& settings_;
    const DeviceType& deviceType_;
    const ProgramState& state_;
    std::optional<serials::SerialScheme> scheme_;
    std::optional<serials::SerialLedger> ledger_;
    std::optional<serials::Reservation> reservation_;
    std::array<std::string, serials::kSockets> values_{};
};

} // namespace octo
