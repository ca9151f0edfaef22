// Status and progress: the caller's status line, lamp and progress bar, the texts of
// failures, and streams that show their progress as they go.
#include "api/Library.h"
#include "api/LibraryInternal.h"

namespace octo::library {

using protocol::LinkError;
using wire::Command;
using wire::Status;

namespace {

// A stream may take kStreamLineTimes its bytes' time on the line, and kLoadSlackMs more.
constexpr uint64_t kStreamLineTimes = 4;
constexpr uint64_t kLoadSlackMs = 10000;
// The status line shows a stream's progress in steps of this many percent.
constexpr uint64_t kProgressStepPercent = 10;

} // namespace

void Library::text(const std::string& message) {
    if (statusLine_) {
        host_.setText(statusLine_, message);
    }
}

void Library::lamp(Lamp picture) {
    if (lamps_) {
        host_.setPicture(lamps_->entry[0], lamps_->entry[picture]);
    }
}

int32_t Library::status(const std::string& message, Lamp picture, int32_t code) {
    text(message);
    lamp(picture);
    return code;
}

void Library::progress(uint64_t position, uint64_t range) {
    if (progressBar_) {
        // The bar counts in 32 bits; the image sizes of this family fit.
        host_.setProgress(progressBar_, static_cast<uint32_t>(position),
                          static_cast<uint32_t>(range));
    }
}

int32_t Library::initProgress(OctoHandle statusLine, OctoHandle progressBar) {
    statusLine_ = statusLine;
    progressBar_ = progressBar;
    return kOk;
}

int32_t Library::initStatusLamp(const OctoStatusLampTable& table) {
    lamps_ = table;
    return kOk;
}

int32_t Library::failedTransfer(const std::string& what, int32_t code) {
    return status("ERROR: " + what + " " + errorText(code), kLampError, code);
}

int32_t Library::linkFailure(LinkError error, const std::string& what) {
    return failedTransfer(what, linkCode(error));
}

int32_t Library::refused(const wire::Response& response, const std::string& target) {
    const auto fault = wire::TargetFaultReply::decode(response.body);
    std::string message = "ERROR: The programmer unit refused the command !";
    int32_t code = kFailed;
    if (response.status == Status::BadArgument) {
        message = "ERROR: The programmer unit refused an argument as out of range !";
        code = kOutOfRange;
    } else if (fault) {
        switch (fault->fault) {
        case wire::TargetFault::NotPresent:
            message = "ERROR: " + target + ": no device in the socket !";
            break;
        case wire::TargetFault::NoAnswer:
            message = "ERROR: " + target + " does not answer (supply, interface or device type?) !";
            break;
        case wire::TargetFault::Secured:
            message = "ERROR: " + target + " is secured (fuse blown) and cannot be accessed !";
            break;
        case wire::TargetFault::NoParameters:
            message = "ERROR: No programming parameters were sent to the programmer unit !";
            break;
        case wire::TargetFault::NoFirmware:
            message = "ERROR: The programmer unit has no firmware: upgrade its firmware first !";
            break;
        }
    }
    return status(message, kLampError, code);
}

uint64_t Library::streamDeadline(uint64_t total, uint32_t lineBytesPerChunk) const {
    const uint64_t lineBytes =
        total + (total / protocol::Client::kSmallestChunk + 1) * lineBytesPerChunk;
    return clock_() + uint64_t{protocol::lineMs(lineBytes, rate_)} * kStreamLineTimes +
           kLoadSlackMs;
}

protocol::StreamOutcome Library::stream(protocol::StreamDirection& direction, Command command,
                                        uint64_t total, uint64_t deadline,
                                        const std::string& what) {
    uint64_t shownPercent = 0;
    auto outcome = client_.stream(direction, command, total, deadline, [&](uint64_t done) {
        progress(done, total);
        const uint64_t percent = done * 100 / total;
        if (percent >= shownPercent + kProgressStepPercent) {
            shownPercent = percent - percent % kProgressStepPercent;
            text(what + " ... " + std::to_string(shownPercent) + " %");
        }
    });
    if (outcome.error != LinkError::None || outcome.refusal) {
        // Answers of the broken stream may still be on their way: a new session (Hello)
        // before the next request leaves none of them to be taken for its answer.
        stale_ = true;
    }
    return outcome;
}

} // namespace octo::library
