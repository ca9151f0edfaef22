// unitsim: the ZEL-OCTO816 unit on a pseudo-terminal.
//
//   unitsim --link PATH [--scenario FILE] [--state FILE] [--events FILE]
//           [--chip-log FILE] [--set KEY=VALUE]... [--pace] [--time-scale FACTOR]
//
// Prints "unitsim ready <link> <pty>" once the line is open. SIGTERM or SIGINT end it;
// SIGUSR1 unplugs the line (for unplug.for_ms) or, while unplugged, plugs it back;
// SIGUSR2 cycles the unit's power.
#include "Server.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

octo::unitsim::ServerSignals signalsState;

void onStop(int) {
    signalsState.stop = 1;
}
void onToggle(int) {
    signalsState.togglePlug = 1;
}
void onPowerCycle(int) {
    signalsState.powerCycle = 1;
}

int usage(const char* message) {
    std::fprintf(stderr,
                 "unitsim: %s\nusage: unitsim --link PATH [--scenario FILE] [--state FILE] "
                 "[--events FILE] [--chip-log FILE] [--set KEY=VALUE]... [--pace] "
                 "[--time-scale FACTOR]\n",
                 message);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace octo::unitsim;
    Scenario scenario;
    ServerOptions options;
    std::string scenarioFile;
    std::vector<std::pair<std::string, std::string>> overrides;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--link" || arg == "--scenario" || arg == "--state" || arg == "--events" ||
            arg == "--chip-log" || arg == "--set" || arg == "--time-scale") {
            const char* v = value();
            if (!v) {
                return usage(("missing value after " + arg).c_str());
            }
            if (arg == "--link") {
                options.link = v;
            } else if (arg == "--scenario") {
                scenarioFile = v;
            } else if (arg == "--state") {
                options.stateFile = v;
            } else if (arg == "--events") {
                options.eventLog = v;
            } else if (arg == "--chip-log") {
                options.chipLog = v;
            } else if (arg == "--time-scale") {
                overrides.emplace_back("time_scale", v);
            } else {
                const std::string setting = v;
                const auto equals = setting.find('=');
                if (equals == std::string::npos) {
                    return usage("--set needs KEY=VALUE");
                }
                overrides.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
            }
        } else if (arg == "--pace") {
            overrides.emplace_back("pace", "yes");
        } else {
            return usage(("unknown argument " + arg).c_str());
        }
    }
    if (options.link.empty()) {
        return usage("--link is required");
    }
    if (!scenarioFile.empty()) {
        std::ifstream in(scenarioFile, std::ios::binary);
        if (!in) {
            return usage(("cannot read scenario " + scenarioFile).c_str());
        }
        std::stringstream text;
        text << in.rdbuf();
        if (auto error = scenario.parse(text.str())) {
            return usage((scenarioFile + ": " + *error).c_str());
        }
    }
    for (const auto& [key, value] : overrides) {
        if (auto error = scenario.set(key, value)) {
            return usage(error->c_str());
        }
    }
    if (auto error = scenario.loadFiles()) {
        return usage(error->c_str());
    }

    std::optional<int> parentStatus;
    if (!becomeSessionLeader(parentStatus)) {
        std::fprintf(stderr, "unitsim: cannot start a session of its own\n");
        return 1;
    }
    if (parentStatus) {
        return *parentStatus;
    }
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = onStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = onToggle;
    sigaction(SIGUSR1, &action, nullptr);
    action.sa_handler = onPowerCycle;
    sigaction(SIGUSR2, &action, nullptr);
    // Closing the master hangs up our own controlling terminal; that is no reason to end.
    action.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGPIPE, &action, nullptr);

    Server server(scenario, options);
    if (auto error = server.start()) {
        std::fprintf(stderr, "unitsim: %s\n", error->c_str());
        return 1;
    }
    std::printf("unitsim ready %s %s\n", options.link.c_str(), server.slavePath().c_str());
    std::fflush(stdout);
    return server.run(signalsState);
}
