#include "Commands.h"

#include "CommandSupport.h"

namespace octo::cli {

int runCommand(const Invocation& in, std::FILE* out) {
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
    }
    return kExitBadInput;
}

} // namespace octo::cli
