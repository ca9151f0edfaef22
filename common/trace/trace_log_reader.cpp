#include "trace/trace_log_reader.h"

#include "trace/trace_log.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <vector>

namespace octo::trace {

namespace {

namespace fs = std::filesystem;

// More columns than any version of the log has.
constexpr size_t kMaxColumns = 64;

// A CSV line's fields, quoted ones unquoted; none when a quote is not closed, a quoted
// field goes on after its closing quote, or there are more than kMaxColumns.
std::optional<std::vector<std::string>> splitFields(std::string_view text) {
    std::vector<std::string> fields;
    size_t at = 0;
    while (true) {
        if (fields.size() == kMaxColumns) {
            return std::nullopt;
        }
        std::string field;
        if (at < text.size() && text[at] == '"') {
            ++at;
            while (true) {
                if (at >= text.size()) {
                    return std::nullopt;
                }
                if (text[at] == '"') {
                    if (at + 1 < text.size() && text[at + 1] == '"') {
                        field += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                field += text[at++];
            }
            if (at < text.size() && text[at] != ',') {
                return std::nullopt;
            }
        } else {
            const size_t end = std::min(text.find(',', at), text.size());
            field.assign(text.substr(at, end - at));
            at = end;
        }
        fields.push_back(std::move(field));
        if (at >= text.size()) {
            return fields;
        }
        ++at; // the comma
    }
}

std::optional<bool> flag(const std::string& text) {
    if (text == "0" || text == "1") {
        return text == "1";
    }
    return std::nullopt;
}

bool oddQuotes(std::string_view text) {
    return std::count(text.begin(), text.end(), '"') % 2 != 0;
}

} // namespace

LogReader::LogReader(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        problem_ = Problem::Missing;
        return;
    }
    if (ec || status.type() != fs::file_type::regular) {
        problem_ = ec ? Problem::CannotOpen : Problem::NotRegular;
        return;
    }
    file_.open(path, std::ios::binary);
    if (!file_) {
        problem_ = Problem::CannotOpen;
        return;
    }
    Physical header;
    if (!readPhysical(header)) {
        return; // an empty log
    }
    std::string_view first = header.text;
    if (first.ends_with('\r')) {
        first.remove_suffix(1);
    }
    if (header.tooLong || !isHeaderLine(first)) {
        problem_ = Problem::NotALog;
        return;
    }
    const std::optional<std::vector<std::string>> names = splitFields(first);
    columns_ = names->size();
    const auto column = [&](std::string_view name) -> std::optional<size_t> {
        const auto found = std::find(names->begin(), names->end(), name);
        return found == names->end()
                   ? std::nullopt
                   : std::optional<size_t>(static_cast<size_t>(found - names->begin()));
    };
    // Every version of the header has these.
    time_ = *column("time");
    target_ = *column("target");
    connected_ = *column("connected");
    passed_ = *column("passed");
    crc_ = *column("image_crc32");
    unit_ = column("unit");
    run_ = column("run");
    serial_ = column("serial");
    headerEnd_ = offset_ = position_;
    line_ = 1;
}

void LogReader::moveTo(uint64_t offset) {
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    position_ = offset;
}

bool LogReader::seek(uint64_t offset, uint64_t line) {
    if (problem_ != Problem::None || !file_.is_open() || offset < headerEnd_) {
        return false;
    }
    file_.clear();
    file_.seekg(0, std::ios::end);
    const auto size = static_cast<uint64_t>(file_.tellg());
    if (offset > size) {
        moveTo(offset_);
        return false;
    }
    moveTo(offset);
    offset_ = offset;
    line_ = line;
    return true;
}

std::string LogReader::bytesBefore(uint64_t offset, size_t count) {
    if (!file_.is_open()) {
        return {};
    }
    const uint64_t from = offset - std::min<uint64_t>(offset, count);
    std::string bytes(static_cast<size_t>(offset - from), '\0');
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(from));
    file_.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(std::max<std::streamsize>(0, file_.gcount())));
    moveTo(position_);
    return bytes;
}

bool LogReader::readPhysical(Physical& out) {
    out = {};
    std::streambuf* buffer = file_.rdbuf();
    bool any = false;
    for (int c = buffer->sbumpc(); c != std::char_traits<char>::eof(); c = buffer->sbumpc()) {
        any = true;
        ++position_;
        if (c == '\n') {
            out.ended = true;
            break;
        }
        if (out.text.size() < kMaxLogLineBytes) {
            out.text.push_back(static_cast<char>(c));
        } else {
            out.tooLong = true;
        }
    }
    if (!out.text.empty() && out.text.back() == '\r') {
        out.text.pop_back();
    }
    return any;
}

bool LogReader::next(LogEntry& entry) {
    if (problem_ != Problem::None || !file_.is_open()) {
        return false;
    }
    Physical physical;
    while (true) {
        if (position_ != offset_) {
            moveTo(offset_);
        }
        if (!readPhysical(physical) || !physical.ended) {
            moveTo(offset_);
            return false;
        }
        const uint64_t afterFirst = position_;
        uint64_t lines = 1;
        std::string record = physical.text;
        bool tooLong = physical.tooLong;
        // A quoted field with a line break in it goes on on the next lines, within the bound.
        while (!tooLong && oddQuotes(record)) {
            Physical more;
            if (!readPhysical(more) || !more.ended) {
                tooLong = true; // not closed before the end: judged line by line below
                break;
            }
            ++lines;
            record += '\n' + more.text;
            tooLong = more.tooLong || record.size() > kMaxLogLineBytes;
        }
        if (!tooLong && parse(record, entry)) {
            entry.line = line_ + 1;
            line_ += lines;
            offset_ = position_;
            return true;
        }
        // Not a line: only its first physical line is taken, the next is read on its own.
        ++malformed_;
        ++line_;
        offset_ = afterFirst;
    }
}

bool LogReader::parse(const std::string& text, LogEntry& entry) const {
    std::optional<std::vector<std::string>> fields = splitFields(text);
    if (!fields || fields->size() != columns_) {
        return false;
    }
    std::vector<std::string>& f = *fields;
    const std::optional<bool> connected = flag(f[connected_]);
    const std::optional<bool> passed = flag(f[passed_]);
    const std::string& target = f[target_];
    if (!connected || !passed || target.size() != 1 || target[0] < '1' || target[0] > '8') {
        return false;
    }
    std::string serial = serial_ ? f[*serial_] : std::string();
    if (serial.size() % 2 != 0 || !std::all_of(serial.begin(), serial.end(), [](unsigned char c) {
            return std::isxdigit(c) != 0;
        })) {
        return false;
    }
    std::transform(serial.begin(), serial.end(), serial.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    entry.time = std::move(f[time_]);
    entry.socket = target[0] - '0';
    entry.connected = *connected;
    entry.passed = *passed;
    entry.unit = unit_ ? std::move(f[*unit_]) : std::string();
    entry.run = run_ ? std::move(f[*run_]) : std::string();
    entry.imageCrc32 = std::move(f[crc_]);
    entry.serial = std::move(serial);
    return true;
}

} // namespace octo::trace
