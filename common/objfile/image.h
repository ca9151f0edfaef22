// A sparse memory image: address -> byte, kept as runs of contiguous bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace octo::objfile {

// Addresses are 32-bit; no byte lies beyond 0xFFFFFFFF. Readers fill an image with
// insert(), which refuses to overwrite; writers walk the ranges in ascending order.
class Image {
public:
    struct Range {
        uint32_t start = 0;
        uint64_t length = 0;
        uint64_t end() const { return start + length; }
        bool operator==(const Range&) const = default;
    };

    // One maximal run of contiguous bytes.
    struct Run {
        uint32_t start;
        std::span<const uint8_t> bytes;
    };

    static bool fitsAddressSpace(uint32_t address, uint64_t length) {
        return uint64_t{address} + length <= kAddressSpaceEnd;
    }

    bool empty() const { return byteCount_ == 0; }
    uint64_t byteCount() const { return byteCount_; }

    // Maximal runs in ascending order; adjacent pieces are merged on first access.
    std::vector<Run> runs() const;
    std::vector<Range> ranges() const;
    std::optional<uint32_t> lowestAddress() const;
    std::optional<uint32_t> highestAddress() const;
    std::optional<uint8_t> at(uint32_t address) const;

    // The lowest address of [address, address + length) that already holds data.
    std::optional<uint32_t> firstFilled(uint32_t address, uint64_t length) const;

    // Adds bytes where the image holds none. When any of them is filled already, or the
    // bytes would run past the address space, nothing changes and the first such address
    // is returned.
    std::optional<uint32_t> insert(uint32_t address, std::span<const uint8_t> bytes);

    // Adds every byte of other, all or nothing; returns the first address both fill.
    std::optional<uint32_t> merge(Image&& other);

    void clear();

    bool operator==(const Image& other) const;

private:
    static constexpr uint64_t kAddressSpaceEnd = uint64_t{1} << 32;

    // Merges pieces that touch. Pieces are appended to while a file is read in ascending
    // order; out-of-order data leaves touching pieces that are joined here once, so
    // that descending input costs linear time instead of moving large runs repeatedly.
    void compact() const;

    mutable std::map<uint32_t, std::vector<uint8_t>> pieces_;
    mutable bool compacted_ = true;
    uint64_t byteCount_ = 0;
};

} // namespace octo::objfile
