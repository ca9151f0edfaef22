// Reading a target out into an object file, and access to a target's registers.
#include "api/FileOutput.h"
#include "api/Library.h"
#include "api/LibraryInternal.h"

#include <objfile/writers.h>
#include <wire/checksums.h>

namespace octo::library {

using protocol::LinkError;
using wire::Command;
using wire::Status;

namespace {

// Longest the unit may work on reading a target into its buffer (a whole 1 MiB target over
// DuoLink at the slowest interface speed).
constexpr uint32_t kReadLimitMs = 30 * 60 * 1000;

} // namespace

int32_t Library::readTargetFile(uint8_t target, uint32_t start, uint32_t length,
                                const std::string& path, uint32_t format) {
    const std::string targetName = "Target " + std::to_string(target + 1);
    const std::string fileName = baseName(path);
    if (const int32_t code = ensureLink()) {
        return failedTransfer(targetName + " not read:", code);
    }
    status("Reading target " + std::to_string(target + 1) + " ...", kLampBusy);
    progress(0, length);
    protocol::TransactOptions options;
    options.workLimitMs = kReadLimitMs;
    const auto begun =
        client_.transact(Command::ReadTargetBegin,
                         wire::ReadTargetBeginRequest{target, start, length}.encode(), options);
    if (!begun.ok()) {
        return linkFailure(begun.error, targetName + " not read:");
    }
    const auto reply = okReply<wire::ReadTargetBeginReply>(begun);
    if (!reply || reply->length != length) {
        return refused(begun.response, targetName);
    }
    std::vector<uint8_t> data;
    protocol::FetchDirection direction(data);
    const auto outcome = stream(direction, Command::ReadTargetData, length,
                                streamDeadline(length, kFetchLineBytesPerChunk),
                                "Reading target " + std::to_string(target + 1));
    if (outcome.error != LinkError::None) {
        // The link failed: the next call opens the line anew and starts with a Hello.
        return linkFailure(outcome.error,
                           "Read-out of " + targetName + " interrupted; no file written.");
    }
    // The read-out ends here, whole or not: the unit frees its buffer, and the next
    // read-out never meets this one's answers.
    endReadOut();
    if (outcome.refusal || data.size() != length) {
        return status("ERROR: The programmer unit stopped the read-out of " + targetName +
                          "; no file written !",
                      kLampError, kFailed);
    }
    if (wire::crc32(data) != reply->crc) {
        return status("ERROR: The read-out of " + targetName +
                          " arrived damaged; no file written !",
                      kLampError, kFrameErrors);
    }

    objfile::Image image;
    image.insert(start, data);
    const std::string content = objfile::writeObject(
        image, format == OCTO_FORMAT_QX_TEXT ? objfile::Format::QxText : objfile::Format::IntelHex);
    const int32_t written = writeFileAtomically(path, content);
    if (written != kOk) {
        return status(written == kCannotOpenFile
                          ? "ERROR: Unable to create file " + fileName + " !"
                          : "ERROR: Error during file I/O writing " + fileName + " !",
                      kLampError, written);
    }
    return status(targetName + " read: " + std::to_string(length) + " bytes from 0x" +
                      hex(start, 4) + " written to " + fileName + ".",
                  kLampSuccess);
}

void Library::endReadOut() {
    const auto ended = client_.transact(Command::ReadTargetEnd, {});
    if (!ended.ok()) {
        // Not ended: a new session (Hello) before the next request ends it instead.
        stale_ = true;
    }
}

int32_t Library::accessTargetSfr(uint8_t target, uint8_t operation, uint16_t address,
                                 uint16_t& value) {
    if (const int32_t code = ensureLink()) {
        return code;
    }
    wire::AccessSfrRequest request;
    request.target = target;
    request.operation = static_cast<wire::SfrOperation>(operation);
    request.address = address;
    request.value = value;
    const auto exchange = client_.transact(Command::AccessSfr, request.encode());
    if (!exchange.ok()) {
        return linkCode(exchange.error);
    }
    const auto reply = okReply<wire::AccessSfrReply>(exchange);
    if (!reply) {
        return exchange.response.status == Status::BadArgument ? kOutOfRange : kFailed;
    }
    value = reply->value;
    return kOk;
}

} // namespace octo::library
