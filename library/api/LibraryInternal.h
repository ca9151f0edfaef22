// What the library's files share: the bounds of a load's stream, and small helpers for
// texts of numbers and file names, a stream's pieces and an answer's reply. Only the
// library's own files include it.
#pragma once

#include "protocol/Client.h"

#include <objfile/image.h>
#include <wire/messages.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace octo::library {

// Line bytes around each smallest chunk of a stream (framing and headers of the request
// and its answer, with room to spare), for the stream's deadline.
constexpr uint32_t kSendLineBytesPerChunk = 24;
constexpr uint32_t kFetchLineBytesPerChunk = 32;
// The closing exchange of a stream is asked again up to this often, within the transfer's
// deadline: the unit answers a repeat from its cache, and on a noisy line five tries can
// all be lost after every byte of the data has arrived.
constexpr int kConfirmAttempts = 20;

// Room for a hexadecimal number's text.
constexpr size_t kHexTextBytes = 16;

inline std::string hex(uint32_t value, int digits) {
    char text[kHexTextBytes];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

inline std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The image's runs as the pieces of a stream, in ascending address order.
inline std::vector<protocol::Piece> piecesOf(const objfile::Image& image) {
    std::vector<protocol::Piece> pieces;
    for (const auto& run : image.runs()) {
        pieces.push_back(protocol::Piece{run.start, run.bytes});
    }
    return pieces;
}

// The reply an answer carries when the unit said Ok and the body decodes; none otherwise.
template <typename Reply>
std::optional<Reply> okReply(const protocol::Exchange& exchange) {
    return exchange.response.status == wire::Status::Ok ? Reply::decode(exchange.response.body)
                                                        : std::nullopt;
}

} // namespace octo::library
