// libFuzzer target: the frame decoder. The input is the line, fed in pieces whose sizes
// the first byte chooses.
//
// Checked, whatever comes in:
// - the decoder never holds more than kMaxStuffedBytes bytes of a partial frame;
// - the input split after each zero byte gives segments; the events are those of each
//   segment decoded on its own, in order, at most one per segment: nothing of a segment
//   reaches past the zero byte that ends it, and the unended rest gives none;
// - a frame it emits is whole: encodeFrame of that frame is a zero byte and its segment,
//   so its line bytes stand contiguous in the input between two delimiters (the start of
//   the line counts as one). One other form is taken too and checked as such: a segment
//   whose last run is a full one of kStuffRun bytes without the closing code byte 1 that
//   encodeFrame puts after it; the body is the same, no sender writes it;
// - how the line is cut into pieces does not change what is decoded.
#include "fuzz_support.h"

#include <wire/frame.h>

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

namespace {

using octo::fuzz::require;
using octo::wire::FrameDecoder;

// Piece sizes: 1 .. kLargestPiece, from the first byte's seed.
constexpr size_t kLargestPiece = 97;
constexpr uint32_t kSeedStep = 2654435761u;
// A code byte that announces a full run of kStuffRun bytes, and the code of an empty run.
constexpr size_t kFullRun = octo::wire::kStuffRun + 1; // the run and its code byte
constexpr uint8_t kFullRunCode = octo::wire::kStuffRun + 1;
constexpr uint8_t kClosingCode = 1;

bool sameEvents(const std::vector<FrameDecoder::Event>& a,
                const std::vector<FrameDecoder::Event>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.kind == y.kind && x.frame == y.frame;
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    uint32_t seed = data[0];
    const std::span<const uint8_t> line(data + 1, size - 1);

    // Fed in pieces, the bound checked after each.
    FrameDecoder pieces;
    std::vector<FrameDecoder::Event> events;
    for (size_t at = 0; at < line.size();) {
        seed = seed * kSeedStep + 1;
        const size_t take = std::min(line.size() - at, 1 + seed % kLargestPiece);
        auto some = pieces.feed(line.subspan(at, take));
        require(pieces.pending() <= octo::wire::kMaxStuffedBytes);
        events.insert(events.end(), std::make_move_iterator(some.begin()),
                      std::make_move_iterator(some.end()));
        at += take;
    }

    // Fed whole: the same events.
    FrameDecoder whole;
    require(sameEvents(whole.feed(line), events));

    // Segment by segment, each with a decoder of its own: a zero byte leaves nothing of
    // what came before it, each segment gives at most one event, and a frame's line bytes
    // are exactly its segment between two zero bytes.
    std::vector<FrameDecoder::Event> expected;
    size_t segmentAt = 0;
    for (size_t at = 0; at < line.size(); ++at) {
        if (line[at] != octo::wire::kDelimiter) {
            continue;
        }
        const auto segment = line.subspan(segmentAt, at + 1 - segmentAt);
        segmentAt = at + 1;
        FrameDecoder alone;
        auto found = alone.feed(segment);
        require(found.size() <= 1);
        if (!found.empty() && found[0].kind == FrameDecoder::Event::Kind::Frame) {
            const auto encoded = octo::wire::encodeFrame(found[0].frame);
            const bool same = encoded.size() == segment.size() + 1 &&
                              std::equal(segment.begin(), segment.end(), encoded.begin() + 1);
            // The one other stuffing it takes: the last run of kStuffRun bytes without the
            // code byte 1 that closes it (nothing follows it either way).
            const size_t n = segment.size();
            const bool unclosed =
                encoded.size() == n + 2 && n > kFullRun &&
                segment[n - 1 - kFullRun] == kFullRunCode && encoded[n] == kClosingCode &&
                std::equal(segment.begin(), segment.end() - 1, encoded.begin() + 1);
            require(encoded[0] == octo::wire::kDelimiter && (same || unclosed));
        }
        expected.insert(expected.end(), std::make_move_iterator(found.begin()),
                        std::make_move_iterator(found.end()));
    }
    require(sameEvents(expected, events));
    return 0;
}
