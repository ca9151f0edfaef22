// A station's hold on its ledger: taken by the one program that may write the ledger (a
// station's program or window), for as long as it has the ledger open, and gone with its
// process, also when it is killed. It is an operating-system lock of its own (not one of
// SQLite's), so that a listing or a backup reads the ledger between two commits while a
// station holds it, and a second station is refused before it changes anything.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace octo::serials {

// What a claim holds when it holds nothing (no descriptor, no HANDLE).
inline constexpr std::intptr_t kNoHandle = -1;

class LedgerClaim {
public:
    enum class Result {
        Taken,
        Held,       // another program (or another open in this one) holds it
        Missing,    // no such file, and it was not to be made
        ReadOnly,   // the file may not be written
        NotRegular, // a folder, a device, a pipe
        CannotOpen, // anything else (no folder, no right)
    };

    LedgerClaim() = default;
    ~LedgerClaim();
    LedgerClaim(const LedgerClaim&) = delete;
    LedgerClaim& operator=(const LedgerClaim&) = delete;

    // Opens path for writing (making an empty file when create and there is none) and takes
    // the hold, waiting up to wait for another holder to let go.
    Result take(const std::string& path, bool create, std::chrono::milliseconds wait);
    // True when this call made the file.
    bool created() const { return created_; }
    // Lets go (and closes the file); what take() made stays, unless discardMade and it is
    // still empty.
    void release(bool discardMade = false);

    // True when another program holds path now: a look that neither waits nor makes a file.
    static bool heldElsewhere(const std::string& path);

private:
    std::string path_;
    std::intptr_t handle_ = kNoHandle; // a descriptor, or a HANDLE
    bool created_ = false;
};

} // namespace octo::serials
