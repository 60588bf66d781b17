#include "CommandLine.h"

#include <cstdio>

namespace app {

namespace {

constexpr const char* kUsage = "usage: verlume [FILE]\n";
constexpr const char* kHelp =
    "\n"
    "Opens FILE, if given, as Open does. Drag the image's corners; each release draws it\n"
    "again onto them. F1 in the window lists the keys.\n"
    "\n"
    "  --help      prints this text\n"
    "  --version   prints the version\n";

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "--help" || arg == "-h")) {
            std::printf("%s%s", kUsage, kHelp);
            return {{}, 0};
        } else if (options && arg == "--version") {
            std::printf("verlume %s\n", VERLUME_VERSION);
            return {{}, 0};
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "verlume: unknown option %s\n%s", arg.c_str(), kUsage);
            return {{}, 2};
        } else if (line.startFile.empty()) {
            line.startFile = arg;
        }
    }
    return line;
}

} // namespace app
