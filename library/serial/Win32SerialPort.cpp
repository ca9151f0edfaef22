// Win32 serial ports: CreateFile, SetCommState, SetCommTimeouts, synchronous I/O.
#include "serial/SerialPort.h"

#include <windows.h>

namespace octo::serial {

namespace {

constexpr DWORD kQueueBytes = 8192;

class Win32SerialPort final : public SerialPort {
public:
    ~Win32SerialPort() override { close(); }

    void close() override {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
        readMs_ = writeMs_ = kNoTimeout;
    }

    bool isOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    bool setRate(uint32_t rate) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (handle_ == INVALID_HANDLE_VALUE || !GetCommState(handle_, &dcb)) {
            return false;
        }
        dcb.BaudRate = rate;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        // A fresh pty under Wine reports fOutX = 1: clear every flow control explicitly.
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        return SetCommState(handle_, &dcb) != FALSE;
    }

    bool write(std::span<const uint8_t> bytes, uint32_t timeoutMs) override {
        if (handle_ == INVALID_HANDLE_VALUE || !setTimeouts(0, timeoutMs)) {
            return false;
        }
        while (!bytes.empty()) {
            DWORD written = 0;
            if (!WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                           nullptr) ||
                written == 0) {
                return false;
            }
            bytes = bytes.subspan(written);
        }
        return true;
    }

    int read(std::span<uint8_t> buffer, uint32_t timeoutMs) override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return -1;
        }
        // Take what is queued at once; otherwise wait for one byte, then take the rest.
        // (Wine waits the whole constant of the "return at once" timeout mode even with
        // data queued, so that mode is not used.)
        DWORD queued = queuedBytes();
        DWORD got = 0;
        if (queued == 0) {
            if (!setTimeouts(timeoutMs, timeoutMs)) {
                return -1;
            }
            if (!ReadFile(handle_, buffer.data(), 1, &got, nullptr)) {
                return -1;
            }
            if (got == 0) {
                return 0;
            }
            queued = queuedBytes();
        }
        const DWORD room = static_cast<DWORD>(buffer.size()) - got;
        const DWORD want = queued < room ? queued : room;
        if (want > 0) {
            DWORD more = 0;
            if (!setTimeouts(0, 0) ||
                !ReadFile(handle_, buffer.data() + got, want, &more, nullptr)) {
                return got > 0 ? static_cast<int>(got) : -1;
            }
            got += more;
        }
        return static_cast<int>(got);
    }

    void discardInput() override {
        if (handle_ != INVALID_HANDLE_VALUE) {
            PurgeComm(handle_, PURGE_RXCLEAR | PURGE_RXABORT);
        }
    }

private:
    bool openDevice(const std::string& path) override {
        handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        // CreateFile succeeds under Wine even when nothing is behind the port;
        // GetCommState (inside setRate) tells.
        SetupComm(handle_, kQueueBytes, kQueueBytes);
        return true;
    }

    static constexpr DWORD kNoTimeout = 0xFFFFFFFF;

    DWORD queuedBytes() {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) {
            return 0;
        }
        return status.cbInQue;
    }

    // Read: wait up to readMs in total; write: give up after writeMs.
    bool setTimeouts(DWORD readMs, DWORD writeMs) {
        if (readMs == readMs_ && writeMs == writeMs_) {
            return true;
        }
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = 0;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = readMs == 0 ? 1 : readMs;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = writeMs == 0 ? 1 : writeMs;
        if (!SetCommTimeouts(handle_, &timeouts)) {
            return false;
        }
        readMs_ = readMs;
        writeMs_ = writeMs;
        return true;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD readMs_ = kNoTimeout;
    DWORD writeMs_ = kNoTimeout;
};

} // namespace

std::unique_ptr<SerialPort> makeSerialPort() {
    return std::make_unique<Win32SerialPort>();
}

} // namespace octo::serial
