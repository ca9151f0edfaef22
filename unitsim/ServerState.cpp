// What the server tells its tests: the state file, each slot's and target's bytes beside
// it, and the event log.
#include "Server.h"

#include <files/atomic_file.h>

#include <cstdio>

namespace octo::unitsim {

namespace {

constexpr size_t kDumpBytesPerLine = 16;

std::string hexByte(uint8_t value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

// Runs of bytes (each with a start address) as QX-Text: an "@ADDR" line before each run,
// 16 bytes a line, "q" at the end.
template <typename Runs>
std::string qxText(const Runs& runs) {
    std::string text;
    for (const auto& run : runs) {
        char address[16];
        std::snprintf(address, sizeof address, "@%X\n", run.start);
        text += address;
        for (size_t i = 0; i < run.bytes.size(); ++i) {
            text += hexByte(run.bytes[i]);
            text += (i % kDumpBytesPerLine == kDumpBytesPerLine - 1 || i + 1 == run.bytes.size())
                        ? "\n"
                        : " ";
        }
    }
    text += "q\n";
    return text;
}

} // namespace

void Server::logEvent(Time now, const char* what, uint8_t command) {
    if (!events_) {
        return;
    }
    const double ms = std::chrono::duration<double, std::milli>(now - started_).count();
    std::string line = std::string(what) + " " + std::string(wire::commandName(command));
    // A main process's answer carries what the run did, so each run of a series can be
    // told apart after the fact.
    if (std::string_view(what) == "answer" &&
        command == static_cast<uint8_t>(wire::Command::MainProcess)) {
        line += " run " + unit_.runText();
    }
    std::fprintf(events_.get(), "%.3f %s\n", ms, line.c_str());
    std::fflush(events_.get());
}

void Server::logRecords() {
    for (const RecordWrite& write : unit_.takeRecordWrites()) {
        if (!chips_) {
            continue;
        }
        std::string data;
        for (uint8_t byte : write.data) {
            char item[4];
            std::snprintf(item, sizeof item, "%02x", byte);
            data += item;
        }
        std::fprintf(chips_.get(), "run=%llu socket=%u address=0x%04x data=%s verified=%d\n",
                     static_cast<unsigned long long>(unit_.mainProcesses()), write.socket + 1u,
                     write.address, data.c_str(), write.verified ? 1 : 0);
        // Tests kill the simulator: every line is on the disk's way before the answer.
        std::fflush(chips_.get());
    }
}

void Server::writeState() {
    if (options_.stateFile.empty()) {
        return;
    }
    std::string text;
    auto line = [&](const std::string& key, const std::string& value) {
        text += key + " = " + value + "\n";
    };
    line("link.state", plugged_ ? "plugged" : "unplugged");
    line("link.path", plugged_ ? pty_.slavePath() : std::string());
    line("link.unplugs", std::to_string(unplugs_));
    line("link.rx_bytes", std::to_string(rxBytes_));
    line("link.tx_bytes", std::to_string(txWritten_));
    line("link.dropped", std::to_string(dropped_));
    line("link.corrupted", std::to_string(corrupted_));
    line("link.delayed", std::to_string(delayed_));
    line("link.garbled", std::to_string(garbled_));
    line("link.bad_frames", std::to_string(decoder_.badFrames()));
    line("link.naks", std::to_string(naks_));
    line("link.bursts", std::to_string(bursts_));
    line("link.stalls", std::to_string(stalls_));
    line("link.noise_bytes", std::to_string(noiseBytes_));
    line("misbehave.active", misbehaviour_.active() ? "yes" : "no");
    line("misbehave.hits", std::to_string(misbehaviour_.hits()));
    line("unit.silent", silent_ ? "yes" : "no");
    char work[32];
    std::snprintf(work, sizeof work, "%.3f", lastWorkMs_);
    line("unit.last_work_ms", work);
    std::snprintf(work, sizeof work, "%.3f", totalWorkMs_);
    line("unit.work_ms", work);
    line("unit.working", workUntil_ ? "yes" : "no");
    text += unit_.stateText();
    for (uint8_t index : unit_.takeChangedSlots()) {
        writeSlot(index);
    }
    for (uint8_t index : unit_.takeChangedTargets()) {
        writeTarget(index);
    }
    files::replaceFile(options_.stateFile.string(), text, files::Durability::WriterCrash);
}

// Each slot's bytes as QX-Text beside the state file: "<state>.slot<N>.txt".
void Server::writeSlot(uint8_t index) {
    if (options_.stateFile.empty()) {
        return;
    }
    const std::string text = qxText(unit_.slot(index).data.runs());
    const auto path = options_.stateFile.string() + ".slot" + std::to_string(index) + ".txt";
    files::replaceFile(path, text, files::Durability::WriterCrash);
}

// A target's whole memory as QX-Text beside the state file, "<state>.target<N>.txt" (N
// from 1), when the scenario asks for dumps.
void Server::writeTarget(uint8_t index) {
    const TargetSocket& socket = unit_.targets().socket(index);
    if (options_.stateFile.empty() || !scenario_.dumpTargets || !socket.memory) {
        return;
    }
    const std::string text = qxText(socket.memory->segments());
    const auto path = options_.stateFile.string() + ".target" + std::to_string(index + 1) + ".txt";
    files::replaceFile(path, text, files::Durability::WriterCrash);
}

} // namespace octo::unitsim
