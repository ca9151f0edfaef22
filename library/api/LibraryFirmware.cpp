// The unit's firmware: erasing a part of its area, and loading a firmware file or the
// library's temporary loader.
#include "api/Library.h"
#include "api/LibraryInternal.h"

#include <objfile/crc32.h>
#include <objfile/firmware.h>
#include <objfile/firmware_file.h>

#include <utility>

namespace octo::library {

using protocol::LinkError;
using wire::Command;
using wire::Status;

namespace {

// Longest the unit may work on a firmware erase, and on starting the temporary loader.
constexpr uint32_t kFirmwareEraseLimitMs = 120000;
// The name OctoLoadFirmware takes for the library's own temporary loader.
constexpr const char* kTempLoaderName = "__TempLoader__";

} // namespace

int32_t Library::eraseFirmware(uint32_t start, uint32_t length) {
    if (const int32_t code = ensureLink()) {
        return failedTransfer("Firmware section not erased:", code);
    }
    status("Erasing firmware section 0x" + hex(start, 4) + "-0x" + hex(start + length - 1, 4) +
               " ...",
           kLampBusy);
    protocol::TransactOptions options;
    options.workLimitMs = kFirmwareEraseLimitMs;
    const auto exchange = client_.transact(
        Command::FirmwareErase, wire::FirmwareEraseRequest{start, length}.encode(), options);
    if (!exchange.ok()) {
        return linkFailure(exchange.error, "Firmware section not erased:");
    }
    switch (exchange.response.status) {
    case Status::Ok:
        return status("Firmware section erased.", kLampSuccess);
    case Status::BadArgument:
        return status("ERROR: 0x" + hex(start, 4) + "-0x" + hex(start + length - 1, 4) +
                          " is not part of the firmware section !",
                      kLampError, kOutOfRange);
    default:
        return status(
            "ERROR: Firmware section cannot be erased ! (The unit's boot loader needs the "
            "temporary loader first.)",
            kLampError, kFailed);
    }
}

int32_t Library::readFirmware(const std::string& path, objfile::Image& image) {
    const std::string fileName = baseName(path);
    objfile::FirmwareFile file = objfile::readFirmwareFile(path, fileName);
    using Problem = objfile::FirmwareFile::Problem;
    switch (file.problem) {
    case Problem::CannotOpen:
        return status("ERROR: Unable to open file " + fileName + " !", kLampError, kCannotOpenFile);
    case Problem::FileIo:
        return status("ERROR: Error during file I/O reading " + fileName + " !", kLampError,
                      kFileIo);
    case Problem::NotObjectFile:
        return status("ERROR: " + fileName + ", " + file.read.error->describe(), kLampError,
                      static_cast<int32_t>(file.read.code()));
    case Problem::NotFirmware:
        return status("ERROR: Selected file is not a Firmware Update file ! " + fileName + ": " +
                          file.check.problem + ".",
                      kLampError, kNotFirmware);
    case Problem::None:
        break;
    }
    image = std::move(file.image);
    return kOk;
}

int32_t Library::checkFirmware(const std::string& path) {
    checkedFirmware_.reset();
    objfile::Image image;
    if (const int32_t code = readFirmware(path, image)) {
        return code;
    }
    const objfile::FirmwareCheck check = objfile::identifyFirmware(image);
    checkedFirmware_ = CheckedFirmware{path, std::move(image)};
    return status("Firmware " + objfile::formatFirmwareVersion(check.info->version) + " \"" +
                      check.info->name + "\" in " + baseName(path) + " checked.",
                  kLampSuccess);
}

int32_t Library::loadFirmware(const std::string& pathOrLoader) {
    const bool loader = pathOrLoader == kTempLoaderName;
    const std::string fileName = loader ? "the temporary loader" : baseName(pathOrLoader);
    objfile::Image image;
    if (loader) {
        image = objfile::temporaryLoaderImage();
    } else if (checkedFirmware_ && checkedFirmware_->path == pathOrLoader) {
        // What was checked before the erase is what goes to the unit, whatever the file
        // holds by now.
        image = std::move(checkedFirmware_->image);
        checkedFirmware_.reset();
    } else if (const int32_t code = readFirmware(pathOrLoader, image)) {
        // The whole file is read and identified before anything goes to the unit.
        return code;
    }

    if (const int32_t code = ensureLink()) {
        return failedTransfer("Firmware not loaded:", code);
    }
    const uint64_t total = image.byteCount();
    const wire::FirmwareBeginRequest begin{loader ? wire::FirmwareKind::Loader
                                                  : wire::FirmwareKind::Firmware,
                                           static_cast<uint32_t>(total)};
    const auto started = client_.transact(Command::FirmwareBegin, begin.encode());
    if (!started.ok()) {
        return linkFailure(started.error, "Firmware not loaded:");
    }
    if (started.response.status != Status::Ok) {
        return status(
            loader ? "ERROR: Unable to load the temporary loader: its area is not erased !"
                   : "ERROR: Unable to load Firmware: the firmware section is not erased, or "
                     "the unit needs the temporary loader first !",
            kLampError, kFailed);
    }
    status("Loading " + fileName + " ...", kLampBusy);
    progress(0, total);
    const auto pieces = piecesOf(image);
    protocol::SendDirection direction(pieces);
    const uint64_t deadline = streamDeadline(total, kSendLineBytesPerChunk);
    const auto outcome =
        stream(direction, Command::FirmwareData, total, deadline, "Loading " + fileName);
    if (outcome.error != LinkError::None) {
        return linkFailure(outcome.error, "Transfer of " + fileName + " interrupted.");
    }
    if (outcome.refusal) {
        return status("ERROR: The programmer unit refused the data of " + fileName +
                          " (did it restart?) !",
                      kLampError, kFailed);
    }
    const auto ended = client_.transact(
        Command::FirmwareEnd,
        wire::FirmwareEndRequest{static_cast<uint32_t>(total), objfile::imageCrc32(image)}.encode(),
        protocol::TransactOptions{.attempts = kConfirmAttempts, .deadlineMs = deadline});
    if (!ended.ok()) {
        return linkFailure(ended.error, "End of " + fileName + " not confirmed.");
    }
    const auto confirmed = okReply<wire::FirmwareEndReply>(ended);
    if (!confirmed) {
        return status("ERROR: Unable to load Firmware: the unit did not accept " + fileName + " !",
                      kLampError, kFailed);
    }
    if (loader) {
        protocol::TransactOptions options;
        options.workLimitMs = kFirmwareEraseLimitMs;
        const auto start = client_.transact(Command::TempLoader, {}, options);
        if (!start.ok()) {
            return linkFailure(start.error, "Temporary loader not started:");
        }
        if (start.response.status != Status::Ok) {
            return status("ERROR: The temporary loader did not start !", kLampError, kFailed);
        }
        return status("Temporary loader started.", kLampSuccess);
    }
    return status("Firmware " + objfile::formatFirmwareVersion(confirmed->version) + " \"" +
                      confirmed->name + "\" loaded.",
                  kLampSuccess);
}

} // namespace octo::library
