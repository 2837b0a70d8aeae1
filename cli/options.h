// Command-line options of dls2mml.
#pragma once

#include <string>
#include <vector>

namespace dls2mml::cli {

enum class Mode { convert, test, decode, list, help, version };
enum class ProgressChoice { automatic, on, off };

// The name that stands for standard input among the files, and for standard
// output after -o.
inline constexpr const char* standardStreamName = "-";

struct Options {
    Mode mode = Mode::convert;
    std::vector<std::string> files; // never empty after parsing: no FILE reads "-"
    std::string outputPath;         // -o PATH; "-o -" sets toStandardOutput instead
    bool toStandardOutput = false;  // -c
    bool quiet = false;
    bool verbose = false;
    bool force = false;  // -f: overwrite banks on decoding; read or write a terminal
    bool keep = false;   // -k: accepted; inputs are never removed anyway
    bool verify = false; // --verify, converting only
    ProgressChoice progress = ProgressChoice::automatic;
    unsigned threads = 0; // -T: 0 uses every core
    bool chooseInstruments = false; // --instruments=LIST, converting only
    std::string instruments;        // its LIST (may be empty: refused when converting)
};

struct ParseResult {
    Options options;
    std::string error;     // non-empty: a usage error still to be printed
    bool reported = false; // a usage error that the option parser already printed
    bool failed() const { return reported || !error.empty(); }
};

// args excludes the program's name.
ParseResult parseOptions(const std::vector<std::string>& args);
std::string usageText();

} // namespace dls2mml::cli
