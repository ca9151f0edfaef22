#include "Commands.h"

#include "CommandSupport.h"

namespace octo::cli {

namespace {

int dispatch(const Invocation& in, std::FILE* out) {
    switch (in.command) {
    case Command::Help:
        std::fputs(in.help.c_str(), out);
        return kExitPassed;
    case Command::Info:
        return infoCommand(in, out);
    case Command::Program:
        return programCommand(in, out);
    case Command::Selftest:
        return selftestCommand(in, out);
    case Command::Readout:
        return readoutCommand(in, out);
    case Command::Firmware:
        return firmwareCommand(in, out);
    case Command::EraseImage:
        return eraseImageCommand(in, out);
    case Command::Types:
        return typesCommand(in, out);
    case Command::Report:
        return reportCommand(in, out);
    case Command::Serials:
        return serialsCommand(in, out);
    }
    return kExitBadInput;
}

} // namespace

int runCommand(const Invocation& in, std::FILE* out) {
    const int status = dispatch(in, out);
    flushReport(out);
    return status;
}

void flushReport(std::FILE* out) {
    if (std::fflush(out) != 0 || std::ferror(out) != 0) {
        throw Failure(kExitOutputFailed, "the report cannot be written to standard output");
    }
}

} // namespace octo::cli
