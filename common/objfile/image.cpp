#include "objfile/image.h"

#include <iterator>

namespace octo::objfile {

namespace {

uint64_t pieceEnd(const std::pair<const uint32_t, std::vector<uint8_t>>& piece) {
    return uint64_t{piece.first} + piece.second.size();
}

} // namespace

void Image::compact() const {
    if (compacted_) {
        return;
    }
    auto it = pieces_.begin();
    while (it != pieces_.end()) {
        auto next = std::next(it);
        if (next == pieces_.end() || pieceEnd(*it) != next->first) {
            it = next;
            continue;
        }
        // Join the whole chain of touching pieces with one reservation.
        size_t total = it->second.size();
        auto last = next;
        auto prevOfLast = it;
        while (last != pieces_.end() && pieceEnd(*prevOfLast) == last->first) {
            total += last->second.size();
            prevOfLast = last;
            ++last;
        }
        it->second.reserve(total);
        for (auto joined = next; joined != last; ++joined) {
            it->second.insert(it->second.end(), joined->second.begin(), joined->second.end());
        }
        pieces_.erase(next, last);
        it = last;
    }
    compacted_ = true;
}

std::vector<Image::Run> Image::runs() const {
    compact();
    std::vector<Run> result;
    result.reserve(pieces_.size());
    for (const auto& [start, bytes] : pieces_) {
        result.push_back(Run{start, std::span<const uint8_t>(bytes)});
    }
    return result;
}

std::vector<Image::Range> Image::ranges() const {
    compact();
    std::vector<Range> result;
    result.reserve(pieces_.size());
    for (const auto& [start, bytes] : pieces_) {
        result.push_back(Range{start, bytes.size()});
    }
    return result;
}

std::optional<uint32_t> Image::lowestAddress() const {
    if (pieces_.empty()) {
        return std::nullopt;
    }
    return pieces_.begin()->first;
}

std::optional<uint32_t> Image::highestAddress() const {
    if (pieces_.empty()) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(pieceEnd(*pieces_.rbegin()) - 1);
}

std::optional<uint8_t> Image::at(uint32_t address) const {
    auto it = pieces_.upper_bound(address);
    if (it == pieces_.begin()) {
        return std::nullopt;
    }
    --it;
    if (uint64_t{address} >= pieceEnd(*it)) {
        return std::nullopt;
    }
    return it->second[address - it->first];
}

std::optional<uint32_t> Image::firstFilled(uint32_t address, uint64_t length) const {
    if (length == 0) {
        return std::nullopt;
    }
    const uint64_t end = uint64_t{address} + length;
    auto it = pieces_.upper_bound(address);
    if (it != pieces_.begin()) {
        auto prev = std::prev(it);
        if (pieceEnd(*prev) > address) {
            return address;
        }
    }
    if (it != pieces_.end() && it->first < end) {
        return it->first;
    }
    return std::nullopt;
}

std::optional<uint32_t> Image::insert(uint32_t address, std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        return std::nullopt;
    }
    if (!fitsAddressSpace(address, bytes.size())) {
        return address;
    }
    if (auto filled = firstFilled(address, bytes.size())) {
        return filled;
    }
    const uint64_t end = uint64_t{address} + bytes.size();
    auto next = pieces_.upper_bound(address);
    bool appended = false;
    if (next != pieces_.begin()) {
        auto prev = std::prev(next);
        if (pieceEnd(*prev) == address) {
            prev->second.insert(prev->second.end(), bytes.begin(), bytes.end());
            appended = true;
        }
    }
    if (!appended) {
        pieces_.emplace_hint(next, address, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    if (next != pieces_.end() && next->first == end) {
        compacted_ = false;
    }
    byteCount_ += bytes.size();
    return std::nullopt;
}

std::optional<uint32_t> Image::merge(Image&& other) {
    if (other.empty()) {
        return std::nullopt;
    }
    if (empty()) {
        *this = std::move(other);
        other.clear();
        return std::nullopt;
    }
    std::optional<uint32_t> first;
    for (const auto& [start, bytes] : other.pieces_) {
        if (auto filled = firstFilled(start, bytes.size())) {
            if (!first || *filled < *first) {
                first = filled;
            }
        }
    }
    if (first) {
        return first;
    }
    for (auto& [start, bytes] : other.pieces_) {
        insert(start, bytes);
    }
    other.clear();
    return std::nullopt;
}

void Image::clear() {
    pieces_.clear();
    compacted_ = true;
    byteCount_ = 0;
}

bool Image::operator==(const Image& other) const {
    compact();
    other.compact();
    return byteCount_ == other.byteCount_ && pieces_ == other.pieces_;
}

} // namespace octo::objfile
