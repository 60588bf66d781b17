#pragma once
// `verlume [FILE]`: read before Qt starts, so that --help works without a display.

#include <optional>
#include <string>
#include <vector>

namespace app {

struct CommandLine {
    std::string startFile;       // opened at start as Open would; empty: none
    std::optional<int> exitCode; // set: the program ends at once with it
};

// Reads the arguments after the program's name. --help and --version print on standard output
// (exit 0); an unknown option prints the usage on standard error (exit 2). `--` ends the
// options; of several files the first is taken.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

} // namespace app
