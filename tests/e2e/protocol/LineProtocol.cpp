#include "LineProtocol.h"

#include <cstdio>

namespace octo::e2e {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char buf[5];
                std::snprintf(buf, sizeof buf, "\\x%02X", byte);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

std::optional<std::vector<std::string>> splitTokens(std::string_view line, std::string& error) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (true) {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n'))
            ++i;
        if (i >= n)
            break;
        std::string token;
        if (line[i] != '"') {
            while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n')
                token += line[i++];
            tokens.push_back(std::move(token));
            continue;
        }
        ++i;
        bool closed = false;
        while (i < n) {
            const char c = line[i++];
            if (c == '"') {
                closed = true;
                break;
            }
            if (c != '\\') {
                token += c;
                continue;
            }
            if (i >= n) {
                error = "escape at end of line";
                return std::nullopt;
            }
            const char e = line[i++];
            switch (e) {
            case '\\':
                token += '\\';
                break;
            case '"':
                token += '"';
                break;
            case 'n':
                token += '\n';
                break;
            case 'r':
                token += '\r';
                break;
            case 't':
                token += '\t';
                break;
            case 'x': {
                const int hi = i < n ? hexDigit(line[i]) : -1;
                const int lo = i + 1 < n ? hexDigit(line[i + 1]) : -1;
                if (hi < 0 || lo < 0) {
                    error = "bad \\x escape";
                    return std::nullopt;
                }
                token += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                error = std::string("unknown escape \\") + e;
                return std::nullopt;
            }
        }
        if (!closed) {
            error = "unterminated string";
            return std::nullopt;
        }
        if (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n') {
            error = "text after a closing quote";
            return std::nullopt;
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

std::optional<std::int64_t> parseNumber(std::string_view token) {
    bool negative = false;
    if (!token.empty() && token[0] == '-') {
        negative = true;
        token.remove_prefix(1);
    }
    int base = 10;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        base = 16;
        token.remove_prefix(2);
    }
    if (token.empty() || token.size() > 16)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : token) {
        const int d = hexDigit(c);
        if (d < 0 || d >= base)
            return std::nullopt;
        value = value * base + d;
    }
    return negative ? -value : value;
}

std::string hex32(std::uint32_t value) {
    char buf[11];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(value));
    return buf;
}

} // namespace octo::e2e
