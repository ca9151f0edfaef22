#include "api/Library.h"

#include "api/FileOutput.h"
#include "api/NativeHooks.h"

#include <devices/device_table.h>
#include <objfile/crc32.h>
#include <objfile/firmware.h>
#include <objfile/firmware_file.h>
#include <objfile/load.h>
#include <objfile/writers.h>
#include <wire/checksums.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

namespace octo::library {

using protocol::LinkError;
using wire::Command;
using wire::Status;

namespace {

constexpr int kHelloAttempts = 2;
// The largest payload the library sends: a data frame of the largest chunk.
constexpr uint16_t kLargestPayloadSent =
    protocol::Client::kLargestChunk + wire::ImageDataRequest::kHeaderBytes;
constexpr int kPollAttempts = 4;
constexpr uint32_t kEraseLimitMs = 120000;
// A stream may take kStreamLineTimes its bytes' time on the line, and kLoadSlackMs more.
constexpr uint64_t kStreamLineTimes = 4;
constexpr uint64_t kLoadSlackMs = 10000;
// Line bytes around each smallest chunk of a stream (framing and headers of the request
// and its answer, with room to spare), for the stream's deadline.
constexpr uint32_t kSendLineBytesPerChunk = 24;
constexpr uint32_t kFetchLineBytesPerChunk = 32;
// The status line shows a stream's progress in steps of this many percent.
constexpr uint64_t kProgressStepPercent = 10;
// The closing exchange of a stream is asked again up to this often, within the transfer's
// deadline: the unit answers a repeat from its cache, and on a noisy line five tries can
// all be lost after every byte of the data has arrived.
constexpr int kConfirmAttempts = 20;
// Longest the unit may work on a firmware erase, and on reading a target into its buffer
// (a whole 1 MiB target over DuoLink at the slowest interface speed).
constexpr uint32_t kFirmwareEraseLimitMs = 120000;
constexpr uint32_t kReadLimitMs = 30 * 60 * 1000;
constexpr uint32_t kTenthMs = 100;
// The name OctoLoadFirmware takes for the library's own temporary loader.
constexpr const char* kTempLoaderName = "__TempLoader__";

std::string hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The image's runs as the pieces of a stream, in ascending address order.
std::vector<protocol::Piece> piecesOf(const objfile::Image& image) {
    std::vector<protocol::Piece> pieces;
    for (const auto& run : image.runs()) {
        pieces.push_back(protocol::Piece{run.start, run.bytes});
    }
    return pieces;
}

std::optional<uint8_t> baudIndex(uint32_t rate) {
    for (size_t i = 0; i < wire::kBaudRates.size(); ++i) {
        if (wire::kBaudRates[i] == rate) {
            return static_cast<uint8_t>(i);
        }
    }
    return std::nullopt;
}

// The reply an answer carries when the unit said Ok and the body decodes; none otherwise.
template <typename Reply>
std::optional<Reply> okReply(const protocol::Exchange& exchange) {
    return exchange.response.status == Status::Ok ? Reply::decode(exchange.response.body)
                                                  : std::nullopt;
}

} // namespace

Library& Library::instance() {
    static Library library(platformHost(), serial::makeSerialPort());
    return library;
}

Library::Library(Host& host, std::unique_ptr<serial::SerialPort> port,
                 std::function<uint64_t()> clock)
    : host_(host), port_(std::move(port)), clock_(std::move(clock)),
      client_(
          *port_, [this] { host_.pumpMessages(); }, clock_) {}

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

int32_t Library::hello(int attempts) {
    client_.setRate(rate_);
    protocol::TransactOptions options;
    options.attempts = attempts;
    const auto exchange = client_.transact(Command::Hello, wire::HelloRequest{}.encode(), options);
    const auto reply = okReply<wire::HelloReply>(exchange);
    if (!exchange.ok() || !reply) {
        return kNoUnit;
    }
    // A unit of another protocol version, or one that cannot take our largest data frame,
    // would misread what we send: talk to it no further.
    if (reply->protocolVersion != wire::kProtocolVersion ||
        reply->maxPayload < kLargestPayloadSent) {
        return kFailed;
    }
    return kOk;
}

int32_t Library::linkCode(LinkError error) {
    switch (error) {
    case LinkError::None:
        return kOk;
    case LinkError::NoPort:
        return kNoUnit;
    case LinkError::PortFailed:
        port_->close();
        stale_ = true;
        return kTimeout;
    case LinkError::Timeout:
        stale_ = true;
        return kTimeout;
    case LinkError::FrameErrors:
        stale_ = true;
        return kFrameErrors;
    }
    return kFailed;
}

int32_t Library::ensureLink() {
    if (path_.empty()) {
        return kNoUnit;
    }
    if (port_->isOpen() && !stale_) {
        return kOk;
    }
    // A port that failed stays dead even after the unit is back: open it anew.
    if (!port_->open(path_, rate_)) {
        stale_ = true;
        return kNoUnit;
    }
    client_.reset();
    client_.setRate(rate_);
    int32_t code = hello(kHelloAttempts);
    if (code == kNoUnit) {
        // A unit that was reset (power cycle, replug) runs at its power-on rate again.
        code = fetchUnit();
    }
    if (code != kOk) {
        stale_ = true;
        return code;
    }
    stale_ = false;
    return kOk;
}

int32_t Library::initCom(const std::string& path, uint32_t rate) {
    const auto wanted = baudIndex(rate);
    if (!wanted) {
        return kOutOfRange;
    }
    port_->close();
    // Another port may have another unit behind it, with results of its own.
    lastRun_.reset();
    path_ = path;
    rate_ = rate;
    stale_ = true;
    if (!port_->open(path_, rate_)) {
        return kCannotOpenPort;
    }
    client_.reset();
    const int32_t greeted = hello(kHelloAttempts);
    if (greeted != kNoUnit) {
        stale_ = greeted != kOk;
        return greeted;
    }
    // The unit may still run at another rate (left there by an earlier session): find
    // it and tell it to come to ours. The port stays open either way: a unit that turns
    // up later answers the next call.
    const int32_t found = fetchUnit();
    stale_ = found != kOk;
    return found;
}

int32_t Library::fetchUnit() {
    const uint32_t wanted = rate_;
    const auto index = baudIndex(wanted);
    int32_t code = kNoUnit;
    for (auto it = wire::kBaudRates.rbegin(); index && it != wire::kBaudRates.rend(); ++it) {
        if (*it == wanted) {
            continue;
        }
        rate_ = *it;
        if (!port_->setRate(rate_) || hello(1) != kOk) {
            continue;
        }
        const auto exchange =
            client_.transact(Command::SetBaud, wire::SetBaudRequest{*index}.encode());
        rate_ = wanted;
        port_->setRate(rate_);
        if (exchange.ok() && exchange.response.status == Status::Ok) {
            code = hello(kHelloAttempts);
        }
        break;
    }
    rate_ = wanted;
    port_->setRate(rate_);
    client_.setRate(rate_);
    return code;
}

int32_t Library::releaseCom() {
    port_->close();
    lastRun_.reset();
    path_.clear();
    stale_ = false;
    return kOk;
}

int32_t Library::getResult(uint8_t* block) {
    if (const int32_t code = ensureLink()) {
        return code;
    }
    protocol::TransactOptions options;
    options.attempts = kPollAttempts;
    const auto exchange = client_.transact(Command::GetResult, {}, options);
    if (!exchange.ok()) {
        return linkCode(exchange.error);
    }
    auto result = okReply<wire::ResultReply>(exchange);
    if (!result) {
        return kFailed;
    }
    if (lastRun_) {
        result->run = lastRun_->run;
        result->runFailed = lastRun_->runFailed;
    }
    std::fill(block, block + OCTO_RESULT_BLOCK_BYTES, uint8_t{0});
    std::copy(result->run.begin(), result->run.end(), block);
    block[8] = static_cast<uint8_t>(result->hardwareVersion >> 8);
    block[9] = static_cast<uint8_t>(result->hardwareVersion);
    block[10] = static_cast<uint8_t>(result->firmwareVersion >> 8);
    block[11] = static_cast<uint8_t>(result->firmwareVersion);
    if (result->firmwareName) {
        // Bytes 12..29: the name and its terminating zero.
        std::copy(result->firmwareName->begin(), result->firmwareName->end(), block + 12);
    } else {
        block[12] = 0xFF;
    }
    block[30] = static_cast<uint8_t>(result->thirdVersion >> 8);
    block[31] = static_cast<uint8_t>(result->thirdVersion);
    // Only the read that follows a main process reports that run's failure; any other
    // read wants the identification and gets it with 0.
    const bool afterRun = std::exchange(runPending_, false);
    return afterRun && result->runFailed ? kRunFailed : kOk;
}

int32_t Library::selectBaudrate(uint32_t index) {
    if (const int32_t code = ensureLink()) {
        return status(errorText(code), kLampError, code);
    }
    const uint32_t newRate = wire::kBaudRates[index];
    const auto exchange = client_.transact(
        Command::SetBaud, wire::SetBaudRequest{static_cast<uint8_t>(index)}.encode());
    if (exchange.ok() && exchange.response.status != Status::Ok) {
        return status("ERROR: The programmer unit refused the baud rate !", kLampError, kFailed);
    }
    // Answered or not, the unit may have switched: follow it and look.
    const int32_t code = exchange.ok() ? kOk : linkCode(exchange.error);
    if (code == kTimeout && !port_->isOpen()) {
        return code;
    }
    rate_ = newRate;
    if (!port_->setRate(rate_)) {
        stale_ = true;
        return kTimeout;
    }
    if (hello(kHelloAttempts) == kOk) {
        stale_ = false;
        return kOk;
    }
    stale_ = true;
    return code == kOk ? kTimeout : code;
}

int32_t Library::setVccTarget(uint32_t code) {
    if (const int32_t linkError = ensureLink()) {
        return status(errorText(linkError), kLampError, linkError);
    }
    const auto exchange = client_.transact(
        Command::SetSupply, wire::SetSupplyRequest{static_cast<uint8_t>(code)}.encode());
    if (!exchange.ok()) {
        const int32_t result = linkCode(exchange.error);
        return status(errorText(result), kLampError, result);
    }
    switch (exchange.response.status) {
    case Status::Ok:
        return kOk;
    case Status::NotSupplied:
        return kNotSupplied;
    default: {
        char message[96];
        std::snprintf(message, sizeof message,
                      "ERROR: The programmer unit cannot supply the targets with %u.%u V !",
                      code / 10, code % 10);
        return status(message, kLampError, kFailed);
    }
    }
}

int32_t Library::setSignals(uint16_t word, uint8_t code) {
    if (const int32_t linkError = ensureLink()) {
        return linkError;
    }
    const auto exchange =
        client_.transact(Command::SetSignals, wire::SetSignalsRequest{word, code}.encode());
    if (!exchange.ok()) {
        return linkCode(exchange.error);
    }
    return exchange.response.status == Status::Ok ? kOk : kFailed;
}

int32_t Library::eraseImage() {
    append_ = false;
    if (const int32_t code = ensureLink()) {
        return status(errorText(code), kLampError, code);
    }
    status("Erasing image memory...", kLampBusy);
    protocol::TransactOptions options;
    options.workLimitMs = kEraseLimitMs;
    const auto exchange = client_.transact(Command::ImageErase, {}, options);
    if (!exchange.ok() || exchange.response.status != Status::Ok) {
        const int32_t code = exchange.ok() ? kFailed : linkCode(exchange.error);
        // Whatever the unit holds now is not known any more.
        images_.fill(std::nullopt);
        return status(errorText(code), kLampError, code);
    }
    images_.fill(objfile::Image{});
    return status("Image memory erased.", kLampSuccess);
}

int32_t Library::appendImage() {
    append_ = true;
    return kOk;
}

int32_t Library::selectImage(uint8_t slot) {
    if (const int32_t code = ensureLink()) {
        return code;
    }
    const auto exchange =
        client_.transact(Command::ImageSelect, wire::ImageSelectRequest{slot}.encode());
    if (!exchange.ok()) {
        return linkCode(exchange.error);
    }
    if (exchange.response.status != Status::Ok) {
        return kFailed;
    }
    slot_ = slot;
    return kOk;
}

void Library::abandonLoad() {
    // A failed load must not leave a slot that a run would take for a whole image.
    images_[slot_].reset();
    if (ensureLink() != kOk) {
        return;
    }
    const auto exchange =
        client_.transact(Command::ImageAbort, wire::ImageSlotRequest{slot_}.encode());
    if (exchange.ok() && exchange.response.status == Status::Ok) {
        images_[slot_] = objfile::Image{};
    }
}

int32_t Library::failedTransfer(const std::string& what, int32_t code) {
    return status("ERROR: " + what + " " + errorText(code), kLampError, code);
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

int32_t Library::loadImage(const std::string& path, const std::string& typeName) {
    const bool append = std::exchange(append_, false);
    const std::string fileName = baseName(path);
    const devices::DeviceType* device = devices::findDeviceType(typeName);
    if (!device) {
        return status("ERROR: Device type \"" + typeName + "\" is not known to the library !",
                      kLampError, kOutOfRange);
    }

    std::ifstream in(path, std::ios::binary);
    if (!in) {
        status("ERROR: Unable to open file " + fileName + " !", kLampError);
        abandonLoad();
        return kCannotOpenFile;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || static_cast<uint64_t>(size) > objfile::kLargestObjectFileBytes) {
        status("ERROR: " + fileName + " is too large for an object file !", kLampError);
        abandonLoad();
        return kFileIo;
    }
    std::string content(static_cast<size_t>(size), '\0');
    if (!in.read(content.data(), size)) {
        status("ERROR: Error during file I/O reading " + fileName + " !", kLampError);
        abandonLoad();
        return kFileIo;
    }

    status("Loading " + fileName + " ...", kLampBusy);
    progress(0, 1);

    objfile::Image fresh;
    objfile::LoadOptions options;
    options.segments = devices::usedSegments(*device);
    const objfile::ReadResult read = objfile::loadObjectFile(fileName, content, fresh, options);
    if (!read.ok()) {
        status("ERROR: " + fileName + ", " + read.error->describe(), kLampError);
        abandonLoad();
        return static_cast<int32_t>(read.code());
    }

    objfile::Image merged;
    if (append) {
        if (!images_[slot_]) {
            status(
                "ERROR: The image memory holds no image this library loaded; load the first file "
                "again !",
                kLampError);
            abandonLoad();
            return kFailed;
        }
        merged = *images_[slot_];
        for (const auto& run : fresh.runs()) {
            if (const auto address = merged.firstFilled(run.start, run.bytes.size())) {
                status("ERROR: " + fileName + " holds data at 0x" + hex(*address, 4) +
                           ", already specified by the file loaded before !",
                       kLampError);
                abandonLoad();
                return kAlreadySpecified;
            }
        }
    }
    const uint32_t baseBytes = static_cast<uint32_t>(merged.byteCount());
    const uint32_t baseCrc = append ? objfile::imageCrc32(merged) : 0;
    objfile::Image freshCopy = fresh;
    merged.merge(std::move(freshCopy));
    const uint32_t imageBytes = static_cast<uint32_t>(merged.byteCount());
    const uint32_t imageCrc = objfile::imageCrc32(merged);

    if (const int32_t code = ensureLink()) {
        images_[slot_].reset();
        return failedTransfer("Image not loaded:", code);
    }
    wire::ImageBeginRequest begin;
    begin.slot = slot_;
    begin.mode = append ? wire::ImageMode::Append : wire::ImageMode::Fresh;
    begin.baseBytes = baseBytes;
    begin.baseCrc = baseCrc;
    begin.streamBytes = static_cast<uint32_t>(fresh.byteCount());
    begin.typeName = typeName;
    const auto started = client_.transact(Command::ImageBegin, begin.encode());
    images_[slot_].reset();
    if (!started.ok()) {
        return failedTransfer("Image not loaded:", linkCode(started.error));
    }
    if (started.response.status == Status::ImageMismatch) {
        return status("ERROR: The image memory no longer holds the file loaded before !",
                      kLampError, kFailed);
    }
    if (started.response.status != Status::Ok) {
        return status("ERROR: The programmer unit refused the image !", kLampError, kFailed);
    }

    const auto pieces = piecesOf(fresh);
    protocol::SendDirection direction(pieces);
    const uint64_t total = direction.total();
    const uint64_t deadline = streamDeadline(total, kSendLineBytesPerChunk);
    const auto outcome =
        stream(direction, Command::ImageData, total, deadline, "Loading " + fileName);
    if (outcome.error != LinkError::None) {
        return failedTransfer("Image transfer of " + fileName + " interrupted.",
                              linkCode(outcome.error));
    }
    if (outcome.refusal) {
        return status("ERROR: The programmer unit refused the image data of " + fileName + " !",
                      kLampError, kFailed);
    }

    const wire::ImageEndRequest end{static_cast<uint32_t>(total), objfile::imageCrc32(fresh),
                                    imageBytes, imageCrc};
    const auto ended = client_.transact(
        Command::ImageEnd, end.encode(),
        protocol::TransactOptions{.attempts = kConfirmAttempts, .deadlineMs = deadline});
    if (!ended.ok()) {
        return failedTransfer("Image end of " + fileName + " not confirmed.",
                              linkCode(ended.error));
    }
    const auto slot = okReply<wire::ImageStatusReply>(ended);
    if (!slot || slot->state != wire::SlotState::Complete || slot->bytes != imageBytes ||
        slot->crc != imageCrc) {
        return status("ERROR: The image memory does not hold what was sent; image marked invalid !",
                      kLampError, kFailed);
    }
    images_[slot_] = std::move(merged);
    progress(total, total);

    std::string message =
        "Image loaded: " + std::to_string(imageBytes) + " bytes, CRC-32 " + hex(imageCrc, 8) + ".";
    if (!read.warnings.empty()) {
        message += " WARNING: " + fileName + ", " + read.warnings.front().describe();
        return status(message, kLampSuccess, kLoadedWithWarning);
    }
    return status(message, kLampSuccess);
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

int32_t Library::loadParameters(uint32_t options, uint8_t targetVcc, uint16_t settleMs) {
    if (const int32_t code = ensureLink()) {
        return failedTransfer("Parameters not sent:", code);
    }
    const auto exchange =
        client_.transact(Command::LoadParameters,
                         wire::LoadParametersRequest{options, targetVcc, settleMs}.encode());
    if (!exchange.ok()) {
        return linkFailure(exchange.error, "Parameters not sent:");
    }
    if (exchange.response.status != Status::Ok) {
        return refused(exchange.response, "");
    }
    return kOk;
}

Library::TimedWork Library::timedWork(Command command, uint64_t limitMs, uint64_t deadline) {
    const auto limit = static_cast<uint32_t>(std::min<uint64_t>(limitMs, UINT32_MAX));
    protocol::TransactOptions options;
    options.deadlineMs = deadline;
    options.workLimitMs = limit;
    auto exchange = client_.transact(command, wire::WorkRequest{limit}.encode(), options);
    return {std::move(exchange), clock_() >= deadline};
}

int32_t Library::mainProcess(uint32_t timeoutTenths) {
    runPending_ = false;
    lastRun_.reset();
    const uint64_t limitMs = uint64_t{timeoutTenths} * kTenthMs;
    // The clock counts whole milliseconds: one more never ends the call early.
    const uint64_t deadline = clock_() + limitMs + 1;
    char limitText[32];
    std::snprintf(limitText, sizeof limitText, "%.1f s", static_cast<double>(limitMs) / 1000.0);
    if (const int32_t code = ensureLink()) {
        return failedTransfer("Main Process not started:", code);
    }
    status("Main Process running on the targets ...", kLampBusy);
    const auto [exchange, late] = timedWork(Command::MainProcess, limitMs, deadline);
    if (!exchange.ok() && !(late && exchange.error == LinkError::Timeout)) {
        return linkFailure(exchange.error, "Main Process interrupted.");
    }
    const auto result =
        exchange.ok() ? wire::RunReply::decode(exchange.response.body) : std::nullopt;
    if (!exchange.ok() || (exchange.response.status == Status::Failed && result)) {
        // Not finished within the caller's time-out; the unit stops the run then too.
        stale_ = true;
        return status(std::string("ERROR: Main Process not finished within its time-out of ") +
                          limitText + " !",
                      kLampError, kTimeout);
    }
    if (exchange.response.status != Status::Ok || !result) {
        return refused(exchange.response, "");
    }
    runPending_ = true;
    lastRun_ = result;
    const auto& run = result->run;
    if (result->runFailed) {
        return status(run[wire::kMiscErrorsByte] == wire::kMiscImageCorrupted
                          ? "FATAL ERROR: Image Memory corrupted or erased !"
                          : "ERROR: Main Process failed at the programmer unit !",
                      kLampError, kOk);
    }
    const int connected = std::popcount(run[wire::kConnectedByte]);
    const int passed = std::popcount(run[wire::kOverAllByte]);
    return status("Main Process finished: " + std::to_string(passed) + " of " +
                      std::to_string(connected) + " connected targets passed.",
                  connected > 0 && passed == connected ? kLampSuccess : kLampError);
}

int32_t Library::selftest(uint32_t timeoutTenths) {
    runPending_ = false;
    lastRun_.reset();
    const uint64_t limitMs = uint64_t{timeoutTenths} * kTenthMs;
    // The clock counts whole milliseconds: one more never ends the call early.
    const uint64_t deadline = clock_() + limitMs + 1;
    if (const int32_t code = ensureLink()) {
        return failedTransfer("Selftest not started:", code);
    }
    lamp(kLampBusy);
    const auto [exchange, late] = timedWork(Command::Selftest, limitMs, deadline);
    if (!exchange.ok() && !(late && exchange.error == LinkError::Timeout)) {
        return linkFailure(exchange.error, "Selftest interrupted.");
    }
    const auto result =
        exchange.ok() ? wire::RunReply::decode(exchange.response.body) : std::nullopt;
    const uint8_t failure = result ? result->run[wire::kMiscErrorsByte] : 0;
    if (!exchange.ok() || (exchange.response.status == Status::Failed && result && failure == 0)) {
        stale_ = true;
        return status("ERROR: Selftest not finished within its time-out !", kLampError, kTimeout);
    }
    if ((exchange.response.status == Status::Ok || exchange.response.status == Status::Failed) &&
        result) {
        lastRun_ = result;
    }
    if (exchange.response.status == Status::Ok && result) {
        return status("Selftest passed.", kLampSuccess);
    }
    if (exchange.response.status == Status::Failed && result) {
        return status("ERROR: Selftest failed: unit error " + std::to_string(failure) +
                          " (see the result block) !",
                      kLampError, kFailed);
    }
    return refused(exchange.response, "");
}

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

int32_t Library::loadFirmware(const std::string& pathOrLoader) {
    const bool loader = pathOrLoader == kTempLoaderName;
    const std::string fileName = loader ? "the temporary loader" : baseName(pathOrLoader);
    objfile::Image image;
    if (loader) {
        image = objfile::temporaryLoaderImage();
    } else {
        // The whole file is read and identified before anything goes to the unit.
        objfile::FirmwareFile file = objfile::readFirmwareFile(pathOrLoader, fileName);
        using Problem = objfile::FirmwareFile::Problem;
        switch (file.problem) {
        case Problem::CannotOpen:
            return status("ERROR: Unable to open file " + fileName + " !", kLampError,
                          kCannotOpenFile);
        case Problem::FileIo:
            return status("ERROR: Error during file I/O reading " + fileName + " !", kLampError,
                          kFileIo);
        case Problem::NotObjectFile:
            return status("ERROR: " + fileName + ", " + file.read.error->describe(), kLampError,
                          static_cast<int32_t>(file.read.code()));
        case Problem::NotFirmware:
            return status("ERROR: Selected file is not a Firmware Update file ! " + fileName +
                              ": " + file.check.problem + ".",
                          kLampError, kNotFirmware);
        case Problem::None:
            break;
        }
        image = std::move(file.image);
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
    progress(total, total);
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
    data.reserve(length);
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

protocol::LinkStats linkStats() {
    return Library::instance().stats();
}

} // namespace octo::library
