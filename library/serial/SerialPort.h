// One serial line: 8 data bits, no parity, one stop bit, no flow control, raw bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace octo::serial {

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the device at the rate with nothing received yet; false (and closed) when it
    // cannot be opened or set up.
    bool open(const std::string& path, uint32_t rate) {
        close();
        if (!openDevice(path)) {
            return false;
        }
        if (!setRate(rate)) {
            close();
            return false;
        }
        discardInput();
        return true;
    }
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool setRate(uint32_t rate) = 0;
    // Hands every byte to the line, waiting at most timeoutMs; false when the port failed.
    virtual bool write(std::span<const uint8_t> bytes, uint32_t timeoutMs) = 0;
    // Waits up to timeoutMs for bytes and returns how many arrived (0: none), or -1 when
    // the port failed (the far end went away).
    virtual int read(std::span<uint8_t> buffer, uint32_t timeoutMs) = 0;
    // Drops bytes received but not read yet.
    virtual void discardInput() = 0;

protected:
    // Opens the device itself; the rate and the input are set up after.
    virtual bool openDevice(const std::string& path) = 0;
};

// The platform's implementation.
std::unique_ptr<SerialPort> makeSerialPort();

} // namespace octo::serial
