// octo816: the command-line programmer for production lines. Every failure ends in one line
// on standard error and its exit status; the report goes to standard output.
#include "Commands.h"
#include "Escape.h"
#include "Invocation.h"
#include "LibraryLoader.h"
#include "StopSignals.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

// One line: whatever the text holds from arguments or files, it cannot end the line early
// or reach the terminal as a control sequence.
void printFailure(const char* prefix, const char* text) {
    std::fprintf(stderr, "octo816: %s%s\n", prefix, octo::cli::printable(text).c_str());
}

int runMain(const std::vector<std::string>& args) {
    using namespace octo::cli;
    try {
        const Invocation invocation = parseArguments(args);
        if (needsLibrary(invocation.command) && !loadLibrary()) {
            printFailure("", "OCTO816.DLL cannot be loaded");
            return kExitUnitError;
        }
        return runCommand(invocation, stdout);
    } catch (const UsageError& e) {
        printFailure("", e.what());
        return kExitBadInput;
    } catch (const Failure& e) {
        std::fflush(stdout);
        printFailure("", e.what());
        return e.exitCode();
    } catch (const std::exception& e) {
        printFailure("internal error: ", e.what());
        return kExitUnitError;
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace octo::cli;
#ifdef SIGPIPE
    // A reader that went away is a failed write of the report, told after the log is safe,
    // not a death that leaves programmed chips out of the log.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const int status = runMain(std::vector<std::string>(argv + 1, argv + argc));
    if (stopSignal() != 0) {
        // A stop that met a failure or the end of the work: the status still tells the stop.
        if (status < kExitStopped) {
            printFailure("stopped by ", stopSignalName().c_str());
        }
        endByStopSignal();
    }
    return status;
}
