// octo816 firmware: a new firmware in the unit, as the window's firmware upgrade installs it.
#include "CommandSupport.h"

#include "Json.h"
#include "Progress.h"

#include "objfile/firmware.h"
#include "objfile/firmware_file.h"

#include <thread>

namespace octo::cli {

namespace {

// The window's first expectation of the firmware erase, for the progress bar.
constexpr uint32_t kFirmwareEraseExpectedMs = 2000;
// The temporary loader needs this long to start, new firmware this long to initialise.
constexpr auto kTempLoaderStart = std::chrono::milliseconds(600);
constexpr auto kFirmwareStart = std::chrono::milliseconds(1000);

// The file's firmware image, read and checked by the library before anything is erased;
// its later load sends what was read here. Read here too for the messages with the line
// and the bytes for the progress.
objfile::FirmwareFile firmwareFile(const std::string& path) {
    objfile::FirmwareFile file = objfile::readFirmwareFile(path, fileName(path));
    using Problem = objfile::FirmwareFile::Problem;
    switch (file.problem) {
    case Problem::None:
        return file;
    case Problem::CannotOpen:
    case Problem::FileIo:
        throw Failure(kExitBadInput, path + ": " + file.read.error->message);
    case Problem::NotObjectFile:
        throw Failure(kExitBadInput, path + ": " + file.read.error->describe());
    case Problem::NotFirmware:
        break;
    }
    throw Failure(kExitBadInput, path + ": not a firmware file of the unit: " + file.check.problem);
}

void eraseFirmware(Progress& progress, uint32_t start, uint32_t length) {
    progress.start("Erasing firmware", kFirmwareEraseExpectedMs);
    const int32_t result = OctoEraseFirmware(start, length);
    progress.finish();
    if (result != kOk) {
        fail(result, "erasing the unit's firmware");
    }
}

void loadFirmware(Progress& progress, const std::string& what, uint64_t bytes, uint32_t baud) {
    progress.start("Loading " + fileName(what), streamMs(bytes, baud));
    const int32_t result = OctoLoadFirmware(what.c_str());
    progress.finish();
    if (result != kOk) {
        fail(result, "loading " + what);
    }
}

} // namespace

int firmwareCommand(const Invocation& in, std::FILE* out) {
    const std::string& path = in.files.front();
    const objfile::FirmwareFile file = firmwareFile(path);
    if (const int32_t checked = OctoCheckFirmware(path.c_str()); checked != kOk) {
        fail(checked, "checking " + path);
    }
    UnitLink link(in);
    Progress progress;
    const auto started = Clock::now();
    const trace::UnitIdentity before = trace::unitIdentity(readBlock("reading the unit"));
    if (before.thirdVersion.value_or(0) < objfile::kLoaderlessThirdVersion) {
        // An old boot loader takes new firmware only through the library's loader. The
        // loader area is erased twice, as the window does; only the second answer counts.
        OctoEraseFirmware(objfile::kLoaderAreaStart, objfile::kLoaderAreaLength);
        eraseFirmware(progress, objfile::kLoaderAreaStart, objfile::kLoaderAreaLength);
        loadFirmware(progress, objfile::kTempLoaderName, objfile::kLoaderAreaLength, in.baud);
        std::this_thread::sleep_for(kTempLoaderStart);
    }
    eraseFirmware(progress, objfile::kFirmwareAreaStart, objfile::kFirmwareAreaLength);
    loadFirmware(progress, path, file.image.byteCount(), in.baud);
    std::this_thread::sleep_for(kFirmwareStart);
    const trace::UnitIdentity after = trace::unitIdentity(readBlock("reading the unit"));
    const double ms = msSince(started);
    if (in.json) {
        std::fprintf(out, "%s\n",
                     JsonObject()
                         .add("command", "firmware")
                         .addJson("unit", unitJson(in.port, after))
                         .add("file", path)
                         .add("duration_ms", static_cast<int64_t>(ms))
                         .addJson("result", resultJson(kOk))
                         .text()
                         .c_str());
    } else {
        std::fprintf(out, "Firmware %s \"%s\" installed in %s.\n",
                     trace::versionText(after.firmwareVersion).c_str(),
                     after.firmwareName.value_or("").c_str(), seconds(ms).c_str());
    }
    return kExitPassed;
}

} // namespace octo::cli
