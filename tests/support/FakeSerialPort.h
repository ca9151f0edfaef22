// A serial port whose far end is the test's, on a clock of its own (now, in ms). What the
// client writes is cut into frames and handed to onRequest, whose answers come back on the
// next reads; bytes can also be put on the line for a later moment (deliverAt). A read that
// finds nothing lets the clock run to the next bytes due, or for its whole time-out, and
// then asks onIdle what the far end sends by itself meanwhile. So a wait costs no real
// time, and a client that polls at all reaches its deadline in fake time.
#pragma once

#include "protocol/Client.h"
#include "serial/SerialPort.h"

#include <wire/frame.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace octo::testing {

class FakeSerialPort final : public serial::SerialPort {
public:
    uint64_t now = 1000;
    // A write takes its bytes' time on the line at the port's rate (as a Windows write
    // does), instead of none.
    bool writesTakeLineTime = false;
    std::function<std::vector<wire::Frame>(const wire::Frame&)> onRequest;
    std::function<std::vector<wire::Frame>()> onIdle;
    std::vector<wire::Frame> requests;
    // Reads and writes so far: a client that keeps calling without time passing shows here.
    uint64_t calls = 0;

    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool setRate(uint32_t rate) override {
        rate_ = rate;
        return open_;
    }
    uint32_t rate() const { return rate_; }
    bool write(std::span<const uint8_t> bytes, uint32_t) override {
        ++calls;
        if (unplugged_) {
            return false;
        }
        if (writesTakeLineTime) {
            now += protocol::lineMs(bytes.size(), rate_);
        }
        for (const auto& event : decoder_.feed(bytes)) {
            requests.push_back(event.frame);
            if (onRequest) {
                queue(onRequest(event.frame));
            }
        }
        return true;
    }
    int read(std::span<uint8_t> buffer, uint32_t timeoutMs) override {
        ++calls;
        if (unplugged_) {
            return -1;
        }
        if (pending_.empty()) {
            const uint64_t until = now + std::max<uint32_t>(timeoutMs, 1);
            if (!later_.empty() && later_.begin()->first <= until) {
                now = std::max(now, later_.begin()->first);
            } else {
                now = until;
                if (onIdle) {
                    queue(onIdle());
                }
            }
        }
        while (!later_.empty() && later_.begin()->first <= now) {
            const auto& bytes = later_.begin()->second;
            pending_.insert(pending_.end(), bytes.begin(), bytes.end());
            later_.erase(later_.begin());
        }
        const size_t count = std::min(buffer.size(), pending_.size());
        std::copy_n(pending_.begin(), count, buffer.begin());
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
        return static_cast<int>(count);
    }
    void discardInput() override { pending_.clear(); }

    // Bytes that arrive at the given moment of the clock, after those already due then.
    void deliverAt(uint64_t at, std::span<const uint8_t> bytes) {
        auto& slot = later_[at];
        slot.insert(slot.end(), bytes.begin(), bytes.end());
    }
    // The far end goes away: every read and write fails until the port is opened again,
    // and what was on its way is lost.
    void unplug() {
        unplugged_ = true;
        pending_.clear();
        later_.clear();
    }

protected:
    bool openDevice(const std::string&) override {
        unplugged_ = false;
        return open_ = true;
    }

private:
    void queue(const std::vector<wire::Frame>& frames) {
        for (const auto& frame : frames) {
            wire::encodeFrame(frame, pending_);
        }
    }

    bool open_ = false;
    bool unplugged_ = false;
    uint32_t rate_ = 115200;
    wire::FrameDecoder decoder_;
    std::vector<uint8_t> pending_;
    std::map<uint64_t, std::vector<uint8_t>> later_;
};

} // namespace octo::testing
