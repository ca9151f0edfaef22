// octo816: the command-line programmer for production lines. Every failure ends in one line
// on standard error and its exit status; the report goes to standard output.
#include "Commands.h"
#include "Invocation.h"
#include "LibraryLoader.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace octo::cli;
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const Invocation invocation = parseArguments(args);
        if (needsLibrary(invocation.command) && !loadLibrary()) {
            std::fprintf(stderr, "octo816: OCTO816.DLL cannot be loaded\n");
            return kExitUnitError;
        }
        return runCommand(invocation, stdout);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "octo816: %s\n", e.what());
        return kExitBadInput;
    } catch (const Failure& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "octo816: %s\n", e.what());
        return e.exitCode();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "octo816: internal error: %s\n", e.what());
        return kExitUnitError;
    }
}
