// Command-line options of dls2mml.
#pragma once

#include <string>
#include <vector>

namespace dls2mml::cli {

enum class Mode { convert, test, decode, help, version };

struct Options {
    Mode mode = Mode::convert;
    std::vector<std::string> files;
    std::string outputPath; // -o
    bool toStandardOutput = false; // -c
    bool quiet = false;
    bool verbose = false;
    bool force = false;  // -f, decoding only
    bool verify = false; // --verify, converting only
};

struct ParseResult {
    Options options;
    std::string error; // non-empty: a usage error
};

ParseResult parseOptions(const std::vector<std::string>& args);
std::string usageText();

} // namespace dls2mml::cli
