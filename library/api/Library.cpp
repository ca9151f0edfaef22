// The library's one instance and its construction; what each call does lives in the
// files beside it by concern: LibraryConnection, LibraryStatus, LibraryImage,
// LibraryRuns, LibraryFirmware and LibraryReadOut.
#include "api/Library.h"

#include "api/NativeHooks.h"

#include <utility>

namespace octo::library {

Library& Library::instance() {
    static Library library(platformHost(), serial::makeSerialPort());
    return library;
}

Library::Library(Host& host, std::unique_ptr<serial::SerialPort> port,
                 std::function<uint64_t()> clock)
    : host_(host), port_(std::move(port)), clock_(std::move(clock)),
      client_(
          *port_, [this] { host_.pumpMessages(); }, clock_) {}

protocol::LinkStats linkStats() {
    return Library::instance().stats();
}

} // namespace octo::library
