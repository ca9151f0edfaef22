// The subcommands of octo816, each against the unit through the library's C interface.
#pragma once

#include "Invocation.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace octo::cli {

// Exit status: every target found passed; some failed (or none was found); the command
// line or a file is wrong; the unit or the link failed; the chips were programmed but the
// log could not take the run (held by another process too long, or not writable); the
// report could not be written to standard output (a closed pipe, a full disk), with the
// log, if any, holding every run carried out; a stop signal ended it (StopSignals.h).
inline constexpr int kExitPassed = 0;
inline constexpr int kExitTargetsFailed = 1;
inline constexpr int kExitBadInput = 2;
inline constexpr int kExitUnitError = 3;
inline constexpr int kExitNotLogged = 4;
inline constexpr int kExitOutputFailed = 5;
// A stop signal ended the command: 128 + the signal's number, as shells report it.
inline constexpr int kExitStopped = 128;

// A command that cannot go on; the message is the one line for standard error.
class Failure : public std::runtime_error {
public:
    Failure(int exitCode, const std::string& message)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

// Runs the command, writing its report to out (human or JSON) and progress to standard
// error; returns the exit status, or throws Failure.
int runCommand(const Invocation& invocation, std::FILE* out);

// Pushes what out holds to its file; throws Failure (kExitOutputFailed) when out cannot
// take it.
void flushReport(std::FILE* out);

} // namespace octo::cli
