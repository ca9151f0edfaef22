// libFuzzer target: the library's calls against a unit that misbehaves as the input says.
//
// The unit is the simulator's own protocol logic behind a fake port and a fake clock. The
// input's first byte says how many of the following bytes pick the calls (InitCom first,
// then up to kMaxCalls of the others with their arguments); the rest say, request by
// request, what goes wrong with each request the library sends (sound once they run out): delays,
// lost requests or answers, damaged bytes, lies (an answer changed and sent with sound
// framing), Busy for a while or for ever, wrong sequence numbers, repeats, noise, a
// silent unit, an unplug, a power cycle. Checked:
// - every call ends within its bound of "How long a call may take" in docs/library.md, in
//   fake time, and never polls on without the clock moving;
// - a read-out that reports success wrote exactly the bytes the unit holds (what its sound
//   answers carried), and a failed one wrote no file;
// - an image load that reports success left the slot complete with the file's bytes;
// - no crash and, built with the sanitizers, no finding of theirs.
// With OCTO_FUZZ_TRACE set, every call's code and time and the status line go to stderr.
#include "fuzz_support.h"

#include "support/FakeSerialPort.h"

#include "api/Codes.h"
#include "api/Host.h"
#include "api/Library.h"
#include "protocol/Client.h"

#include <Unit.h>
#include <devices/device_table.h>
#include <objfile/firmware.h>
#include <objfile/image.h>
#include <objfile/load.h>
#include <objfile/readers.h>
#include <objfile/writers.h>
#include <wire/checksums.h>
#include <wire/frame.h>
#include <wire/messages.h>

#include <octo816.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace octo;
using fuzz::Input;
using fuzz::require;
using protocol::Client;
using wire::Command;
using wire::Status;

constexpr size_t kMaxCalls = 10;
constexpr const char* kDeviceType = "ZEL816 A5438";
constexpr const char* kTempLoader = "__TempLoader__";
// A request of at most this many bytes counts as short (every request but stream data).
constexpr size_t kShortRequestBytes = 64;
// The figures of "How long a call may take" (docs/library.md) the bounds are made of.
constexpr int kHelloAttempts = 2;
constexpr int kPollAttempts = 4;
constexpr uint32_t kEraseLimitMs = 120000;
constexpr uint32_t kReadLimitMs = 30 * 60 * 1000;
constexpr uint64_t kStreamLineTimes = 4;
constexpr uint64_t kStreamSlackMs = 10000;
constexpr uint32_t kSendLineBytesPerChunk = 24;
constexpr uint32_t kFetchLineBytesPerChunk = 32;
constexpr uint64_t kTenthMs = 100;
// A call that reads or writes this often per fake millisecond polls without waiting.
constexpr uint64_t kPortCallsPerMs = 64;
constexpr uint64_t kPortCallsBase = 100000;

// Files the calls read and write, made once per process.
struct Files {
    std::filesystem::path folder;
    std::string first, disjoint, overlapping, readOut;
    objfile::Image firstImage, disjointImage, overlappingImage;
};

std::string writeImageFile(const std::filesystem::path& path, const objfile::Image& image) {
    std::ofstream(path, std::ios::binary) << objfile::writeObject(image, objfile::Format::IntelHex);
    return path.string();
}

objfile::Image patternImage(uint32_t address, size_t bytes, uint8_t seed) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        data[i] = static_cast<uint8_t>(seed + i * 7);
    }
    objfile::Image image;
    image.insert(address, data);
    return image;
}

const Files& files() {
    static const Files made = [] {
        Files f;
        f.folder = std::filesystem::temp_directory_path() /
                   ("octo_fuzz_client_" + std::to_string(::getpid()));
        std::filesystem::create_directories(f.folder);
        const auto* type = devices::findDeviceType(kDeviceType);
        require(type != nullptr);
        const auto segments = devices::usedSegments(*type);
        const auto flash = std::find_if(segments.begin(), segments.end(),
                                        [](const auto& s) { return s.kind == OCTO_SEGMENT_FLASH; });
        require(flash != segments.end());
        const uint32_t base = flash->start;
        constexpr size_t kFirstBytes = 200;
        constexpr uint32_t kDisjointAt = 512;
        constexpr size_t kDisjointBytes = 90;
        constexpr uint32_t kOverlapAt = 8;
        constexpr size_t kOverlapBytes = 16;
        f.firstImage = patternImage(base, kFirstBytes, 0x11);
        f.disjointImage = patternImage(base + kDisjointAt, kDisjointBytes, 0x5C);
        f.first = writeImageFile(f.folder / "first.hex", f.firstImage);
        f.disjoint = writeImageFile(f.folder / "disjoint.hex", f.disjointImage);
        f.overlappingImage = patternImage(base + kOverlapAt, kOverlapBytes, 0x77);
        f.overlapping = writeImageFile(f.folder / "overlap.hex", f.overlappingImage);
        f.readOut = (f.folder / "readout.out").string();
        return f;
    }();
    return made;
}

// The status line's handle: without one the library shows nothing.
const OctoHandle kStatusLine = reinterpret_cast<OctoHandle>(uintptr_t{0x1001});

class QuietHost final : public library::Host {
public:
    std::function<void()> onPump;
    void pumpMessages() override {
        if (onPump) {
            onPump();
        }
    }
    void setText(OctoHandle, const std::string& text) override {
        if (std::getenv("OCTO_FUZZ_TRACE")) {
            std::fprintf(stderr, "  %s\n", text.c_str());
        }
    }
    void setProgress(OctoHandle, uint32_t, uint32_t) override {}
    void setPicture(OctoHandle, OctoHandle) override {}
};

// What goes wrong with one request; any other byte leaves it sound.
enum Fault : uint8_t {
    kSound,
    kDelay,
    kLoseRequest,
    kLoseAnswer,
    kDamage,
    kLie,
    kBusyThenAnswer,
    kBusyForEver,
    kWrongSeq,
    kRepeat,
    kNoise,
    kSilence,
    kUnplug,
    kPowerCycle,
    kNak,
    kCut,
    kFaults
};

constexpr uint64_t kDelayStepMs = 16;
constexpr uint64_t kBusyStepMs = 10;
constexpr uint32_t kBusyRepeats = 16;
constexpr uint8_t kSilentRequests = 32;

// The simulator's unit on the far end of the fake port, with the input's faults.
class FaultyUnit {
public:
    // What the unit's sound answers said of the read-out in its buffer.
    struct ReadOut {
        uint32_t length = 0;
        uint32_t crc = 0;
        std::map<uint32_t, std::vector<uint8_t>> chunks; // by offset
    };

    FaultyUnit(testing::FakeSerialPort& port, Input& in) : port_(port), in_(in), unit_(scenario()) {
        port_.onRequest = [this](const wire::Frame& request) {
            take(request);
            return std::vector<wire::Frame>{};
        };
    }

    const unitsim::Unit& unit() const { return unit_; }
    const std::optional<ReadOut>& readOut() const { return readOut_; }

private:
    static unitsim::Scenario scenario() {
        unitsim::Scenario s;
        for (auto& target : s.targets) {
            target.memory = unitsim::InitialMemory::Random;
        }
        return s;
    }

    static std::optional<wire::Frame> decoded(const std::vector<uint8_t>& line) {
        wire::FrameDecoder decoder;
        auto events = decoder.feed(line);
        if (events.size() != 1 || events[0].kind != wire::FrameDecoder::Event::Kind::Frame) {
            return std::nullopt;
        }
        return std::move(events[0].frame);
    }

    void send(uint64_t at, const std::vector<uint8_t>& line) {
        port_.deliverAt(at + protocol::lineMs(line.size(), port_.rate()), line);
    }

    void sendFrame(uint64_t at, const wire::Frame& frame) { send(at, wire::encodeFrame(frame)); }

    wire::Frame busy(const wire::Frame& request, uint32_t expectedMs) const {
        return wire::Frame{
            request.seq, static_cast<uint8_t>(request.command | wire::kResponseFlag),
            wire::Response{Status::Busy, wire::BusyReply{expectedMs}.encode()}.encode()};
    }

    // Notes what a sound answer says of a read-out: the truth the library must deliver.
    void learn(const wire::Frame& request, const std::vector<uint8_t>& line) {
        const auto answer = decoded(line);
        const auto response = answer ? wire::Response::decode(answer->payload) : std::nullopt;
        if (!response || response->status != Status::Ok) {
            return;
        }
        if (request.command == static_cast<uint8_t>(Command::ReadTargetBegin)) {
            if (const auto begun = wire::ReadTargetBeginReply::decode(response->body)) {
                readOut_ = ReadOut{begun->length, begun->crc, {}};
            }
        } else if (request.command == static_cast<uint8_t>(Command::ReadTargetData) && readOut_) {
            if (const auto data = wire::ReadTargetDataReply::decode(response->body)) {
                readOut_->chunks[data->offset] = data->data;
            }
        }
    }

    void take(const wire::Frame& request) {
        const uint8_t fault = in_.byte();
        if (silent_ > 0) {
            --silent_;
            return;
        }
        const uint64_t now = port_.now;
        if (fault == kPowerCycle) {
            unit_.powerCycle();
            workUntil_ = 0;
        }
        if (fault == kUnplug) {
            port_.unplug();
            if (in_.byte() & 1) {
                unit_.powerCycle();
                workUntil_ = 0;
            }
            return;
        }
        // At another rate the unit hears noise.
        if (port_.rate() != unit_.baud() || fault == kLoseRequest) {
            return;
        }
        if (fault == kSilence) {
            silent_ = in_.byte() % kSilentRequests;
            return;
        }
        if (fault == kBusyForEver) {
            const uint64_t period = (in_.byte() + 1) * kBusyStepMs;
            const uint32_t estimate = static_cast<uint32_t>(in_.word() * kBusyStepMs);
            const uint32_t repeats = (in_.byte() + 1) * kBusyRepeats;
            for (uint32_t i = 0; i < repeats; ++i) {
                sendFrame(now + i * period, busy(request, estimate));
            }
            return;
        }
        if (fault == kNak) {
            send(now, unit_.nak(request.seq));
            return;
        }
        if (now < workUntil_ && request.seq == workRequest_.first &&
            request.command == workRequest_.second) {
            // Asked again while working on it: how long the work has left.
            sendFrame(now, busy(request, static_cast<uint32_t>(workUntil_ - now)));
            return;
        }

        // Taken when the unit is free again.
        const uint64_t start = std::max(now, workUntil_);
        unitsim::Reply reply = unit_.handle(request);
        learn(request, reply.frame);
        uint64_t answerAt = start + reply.workMs;
        if (reply.workMs > 0) {
            sendFrame(start, busy(request, reply.workMs));
            workUntil_ = answerAt;
            workRequest_ = {request.seq, request.command};
        }
        std::vector<uint8_t> line = reply.frame;
        switch (fault) {
        case kDelay:
            answerAt += in_.byte() * kDelayStepMs;
            break;
        case kLoseAnswer:
            line.clear();
            break;
        case kDamage:
            if (!line.empty()) {
                line[in_.byte() % line.size()] ^= static_cast<uint8_t>(in_.byte() | 1);
            }
            break;
        case kLie:
            line = lie(request, line);
            break;
        case kBusyThenAnswer:
            sendFrame(start, busy(request, static_cast<uint32_t>(in_.word() * kBusyStepMs)));
            answerAt += in_.word() * kBusyStepMs;
            break;
        case kWrongSeq:
            if (auto frame = decoded(line)) {
                frame->seq = static_cast<uint8_t>(frame->seq + (in_.byte() | 1));
                line = wire::encodeFrame(*frame);
            }
            break;
        case kRepeat:
            send(answerAt + in_.byte() * kDelayStepMs, line);
            break;
        case kNoise: {
            const std::string noise = in_.text(in_.byte());
            send(start, std::vector<uint8_t>(noise.begin(), noise.end()));
            break;
        }
        case kCut:
            line.resize(in_.byte() % (line.size() + 1));
            break;
        default:
            break;
        }
        if (!line.empty()) {
            send(answerAt, line);
        }
        if (reply.baudAfter) {
            unit_.setBaud(*reply.baudAfter);
        }
    }

    // The answer with one payload byte changed and sound framing around it. The CRC a
    // read-out begins with stays: it is the unit's word on its own buffer, and a unit that
    // lies about that cannot be caught by anyone.
    std::vector<uint8_t> lie(const wire::Frame& request, const std::vector<uint8_t>& line) {
        auto frame = decoded(line);
        const uint8_t at = in_.byte();
        const auto flip = static_cast<uint8_t>(in_.byte() | 1);
        if (!frame || frame->payload.empty()) {
            return line;
        }
        const size_t index = at % frame->payload.size();
        constexpr size_t kBeginCrcAt = 1 + 4; // status, length
        if (request.command == static_cast<uint8_t>(Command::ReadTargetBegin) &&
            index >= kBeginCrcAt) {
            return line;
        }
        frame->payload[index] ^= flip;
        return wire::encodeFrame(*frame);
    }

    testing::FakeSerialPort& port_;
    Input& in_;
    unitsim::Unit unit_;
    uint8_t silent_ = 0;
    uint64_t workUntil_ = 0;
    std::pair<uint8_t, uint8_t> workRequest_{};
    std::optional<ReadOut> readOut_;
};

// The bounds of docs/library.md at one rate, from the client's own bound of an exchange.
class Bounds {
public:
    explicit Bounds(uint32_t rate) : rate_(rate) {}

    uint64_t exchange(size_t payloadBytes, const protocol::TransactOptions& options) const {
        return exchangeAt(rate_, payloadBytes, options);
    }
    uint64_t shortExchange() const { return exchange(kShortRequestBytes, {}); }
    uint64_t hello(uint32_t rate, int attempts) const {
        return exchangeAt(rate, wire::HelloRequest{}.encode().size(),
                          protocol::TransactOptions{.attempts = attempts});
    }
    // Opening the link again: Hello at our rate; when nothing answers, one Hello at each
    // other rate, SetBaud at the one that answered and Hello at ours.
    uint64_t reconnect() const {
        uint64_t bound = hello(rate_, kHelloAttempts) * 2;
        uint64_t setBaud = 0;
        for (const uint32_t other : wire::kBaudRates) {
            if (other != rate_) {
                bound += hello(other, 1);
                setBaud = std::max(setBaud, exchangeAt(other, kShortRequestBytes, {}));
            }
        }
        return bound + setBaud;
    }
    // A stream and its closing exchange.
    uint64_t stream(uint64_t total, uint32_t lineBytesPerChunk) const {
        const uint64_t lineBytes = total + (total / Client::kSmallestChunk + 1) * lineBytesPerChunk;
        return protocol::lineMs(lineBytes, rate_) * kStreamLineTimes + kStreamSlackMs;
    }

private:
    static uint64_t exchangeAt(uint32_t rate, size_t payloadBytes,
                               const protocol::TransactOptions& options) {
        testing::FakeSerialPort idle;
        Client client(idle, nullptr);
        client.setRate(rate);
        return client.exchangeBoundMs(payloadBytes, options);
    }

    uint32_t rate_;
};

enum class Call {
    GetResult,
    SetVccTarget,
    SetSignals,
    SelectImage,
    LoadParameters,
    EraseImage,
    LoadImage,
    AppendImage,
    MainProcess,
    Selftest,
    EraseFirmware,
    LoadLoader,
    ReadTarget,
    AccessSfr,
    SelectBaudrate,
    InitCom,
    Count
};

constexpr uint8_t kVccCodes[] = {0, 1, 18, 33, 36, 40};
constexpr uint32_t kMaxReadBytes = 3000;

class Run {
public:
    Run(Input& calls, Input& faults)
        : in_(calls), owned_(std::make_unique<testing::FakeSerialPort>()), port_(*owned_),
          unit_(port_, faults) {
        port_.writesTakeLineTime = true;
        host_.onPump = [this] { watch(); };
        library_ = std::make_unique<library::Library>(host_, std::move(owned_),
                                                      [this] { return port_.now; });
        library_->initProgress(kStatusLine, nullptr);
    }

    void go() {
        const uint32_t rate = wire::kBaudRates[in_.byte() % wire::kBaudRates.size()];
        initCom(rate);
        for (size_t i = 0; i < kMaxCalls && !in_.empty(); ++i) {
            call(static_cast<Call>(in_.byte() % static_cast<uint8_t>(Call::Count)));
        }
    }

private:
    void initCom(uint32_t rate) {
        const Bounds bounds(rate);
        begin(bounds.reconnect());
        const int32_t code = code_ = library_->initCom("fake", rate);
        end();
        if (code == library::kOk) {
            require(port_.rate() == rate);
        }
    }

    void call(Call which) {
        const Bounds bounds(port_.rate());
        const uint64_t link = bounds.reconnect();
        const uint64_t shortOne = bounds.shortExchange();
        switch (which) {
        case Call::GetResult: {
            begin(link + bounds.exchange(0, {.attempts = kPollAttempts}));
            uint8_t block[OCTO_RESULT_BLOCK_BYTES];
            code_ = library_->getResult(block);
            break;
        }
        case Call::SetVccTarget:
            begin(link + shortOne);
            code_ = library_->setVccTarget(kVccCodes[in_.byte() % std::size(kVccCodes)]);
            break;
        case Call::SetSignals: {
            begin(link + shortOne);
            const uint16_t word = in_.word();
            code_ = library_->setSignals(word, kVccCodes[in_.byte() % std::size(kVccCodes)]);
            break;
        }
        case Call::SelectImage: {
            begin(link + shortOne);
            const uint8_t slot = in_.byte() % wire::kImageSlots;
            code_ = library_->selectImage(slot);
            if (code_ == library::kOk) {
                slot_ = slot;
            }
            break;
        }
        case Call::LoadParameters: {
            begin(link + shortOne);
            const uint32_t high = in_.word();
            const uint32_t options = high << 16 | in_.word();
            code_ = library_->loadParameters(options, kVccCodes[in_.byte() % std::size(kVccCodes)],
                                             in_.byte());
            break;
        }
        case Call::EraseImage:
            begin(link + bounds.exchange(0, {.workLimitMs = kEraseLimitMs}));
            code_ = library_->eraseImage();
            break;
        case Call::LoadImage:
            loadImage(bounds);
            return;
        case Call::AppendImage:
            begin(0);
            code_ = library_->appendImage();
            append_ = true;
            break;
        case Call::MainProcess:
        case Call::Selftest: {
            const uint32_t tenths = in_.byte();
            begin(link + tenths * kTenthMs + 1);
            if (which == Call::MainProcess) {
                code_ = library_->mainProcess(tenths);
            } else {
                code_ = library_->selftest(tenths);
            }
            break;
        }
        case Call::EraseFirmware: {
            begin(link + bounds.exchange(kShortRequestBytes, {.workLimitMs = kEraseLimitMs}));
            const uint32_t start = in_.word();
            code_ = library_->eraseFirmware(start, in_.word());
            break;
        }
        case Call::LoadLoader: {
            const uint64_t total = objfile::temporaryLoaderImage().byteCount();
            begin(link + shortOne + bounds.stream(total, kSendLineBytesPerChunk) +
                  bounds.exchange(0, {.workLimitMs = kEraseLimitMs}));
            code_ = library_->loadFirmware(kTempLoader);
            break;
        }
        case Call::ReadTarget:
            readTarget(bounds);
            return;
        case Call::AccessSfr: {
            begin(link + shortOne);
            const uint8_t target = in_.byte() % wire::kTargets;
            const uint8_t operation = in_.byte() % 3;
            uint16_t value = in_.word();
            code_ = library_->accessTargetSfr(target, operation, in_.word(), value);
            break;
        }
        case Call::SelectBaudrate: {
            const uint8_t index = in_.byte() % wire::kBaudRates.size();
            begin(link + shortOne + bounds.hello(wire::kBaudRates[index], kHelloAttempts));
            code_ = library_->selectBaudrate(index);
            break;
        }
        case Call::InitCom:
            initCom(wire::kBaudRates[in_.byte() % wire::kBaudRates.size()]);
            return;
        case Call::Count:
            break;
        }
        end();
    }

    void loadImage(const Bounds& bounds) {
        const Files& f = files();
        const uint8_t pick = in_.byte() % 3;
        const std::string& path = pick == 0 ? f.first : pick == 1 ? f.disjoint : f.overlapping;
        const objfile::Image& image = pick == 0   ? f.firstImage
                                      : pick == 1 ? f.disjointImage
                                                  : f.overlappingImage;
        const bool append = std::exchange(append_, false);
        // A refused file asks the unit to abort the load in the slot instead: no longer.
        begin(bounds.reconnect() + bounds.shortExchange() +
              bounds.stream(image.byteCount(), kSendLineBytesPerChunk));
        const int32_t code = code_ = library_->loadImage(path, kDeviceType);
        end();
        if (code != library::kOk && code != library::kLoadedWithWarning) {
            return;
        }
        const auto& slot = unit_.unit().slot(slot_);
        require(slot.state == wire::SlotState::Complete);
        if (!append) {
            require(slot.data == image);
        }
        for (const auto& run : image.runs()) {
            for (size_t i = 0; i < run.bytes.size(); ++i) {
                require(slot.data.at(static_cast<uint32_t>(run.start + i)) == run.bytes[i]);
            }
        }
    }

    void readTarget(const Bounds& bounds) {
        const Files& f = files();
        const uint8_t target = in_.byte() % wire::kTargets;
        const uint32_t start = in_.word();
        const uint32_t length = 1 + in_.word() % kMaxReadBytes;
        const bool qx = in_.byte() & 1;
        std::filesystem::remove(f.readOut);
        begin(bounds.reconnect() +
              bounds.exchange(kShortRequestBytes, {.workLimitMs = kReadLimitMs}) +
              bounds.stream(length, kFetchLineBytesPerChunk) + bounds.shortExchange());
        const int32_t code = code_ = library_->readTargetFile(
            target, start, length, f.readOut, qx ? OCTO_FORMAT_QX_TEXT : OCTO_FORMAT_INTEL_HEX);
        end();
        if (code != library::kOk) {
            require(!std::filesystem::exists(f.readOut));
            return;
        }
        // Exactly what the unit's sound answers carried, every byte of it.
        const auto& truth = unit_.readOut();
        require(truth && truth->length == length);
        std::vector<uint8_t> expected(length);
        std::vector<bool> known(length);
        for (const auto& [offset, bytes] : truth->chunks) {
            for (size_t i = 0; i < bytes.size() && offset + i < length; ++i) {
                expected[offset + i] = bytes[i];
                known[offset + i] = true;
            }
        }
        require(std::find(known.begin(), known.end(), false) == known.end());
        require(wire::crc32(expected) == truth->crc);
        std::ifstream in(f.readOut, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        objfile::Image written;
        require(objfile::readImage(
                    text.str(), qx ? objfile::Format::QxText : objfile::Format::IntelHex, written)
                    .ok());
        objfile::Image wanted;
        wanted.insert(start, expected);
        require(written == wanted);
    }

    void begin(uint64_t bound) {
        code_ = library::kOk;
        callStart_ = port_.now;
        callsAtStart_ = port_.calls;
        bound_ = bound + protocol::Client::kSliceMs;
    }
    void end() {
        watch();
        if (std::getenv("OCTO_FUZZ_TRACE")) {
            std::fprintf(stderr, "code %d after %llu ms of %llu\n", code_,
                         static_cast<unsigned long long>(port_.now - callStart_),
                         static_cast<unsigned long long>(bound_));
        }
    }

    // Runs in every wait of the library too, so an overrun is caught where it happens.
    void watch() {
        require(port_.now <= callStart_ + bound_);
        require(port_.calls - callsAtStart_ <=
                kPortCallsBase + (port_.now - callStart_ + 1) * kPortCallsPerMs);
    }

    Input& in_;
    std::unique_ptr<testing::FakeSerialPort> owned_;
    testing::FakeSerialPort& port_;
    FaultyUnit unit_;
    QuietHost host_;
    std::unique_ptr<library::Library> library_;
    uint64_t callStart_ = 0;
    uint64_t callsAtStart_ = 0;
    uint64_t bound_ = 0;
    uint8_t slot_ = 0;
    bool append_ = false;
    int32_t code_ = library::kOk; // of the last call, for the trace
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte: how many of the next ones choose the calls; the rest are the faults.
    const size_t callBytes = std::min<size_t>(data[0], size - 1);
    Input calls(std::span(data + 1, callBytes));
    Input faults(std::span(data + 1 + callBytes, size - 1 - callBytes));
    Run(calls, faults).go();
    return 0;
}
