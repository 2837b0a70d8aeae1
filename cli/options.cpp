#include "cli/options.h"

namespace dls2mml::cli {
namespace {

// Validates the combination after all arguments are read.
std::string checkCombination(const Options& o)
{
    if (o.mode == Mode::help || o.mode == Mode::version)
        return {};
    if (o.files.empty())
        return "no input file";
    if (!o.outputPath.empty() && o.files.size() != 1)
        return "-o takes exactly one input";
    if (!o.outputPath.empty() && o.toStandardOutput)
        return "-o and -c cannot be combined";
    if (o.mode == Mode::test && (!o.outputPath.empty() || o.toStandardOutput))
        return "-t writes nothing; -o and -c do not apply";
    if (o.verify && o.mode != Mode::convert)
        return "--verify applies to converting only";
    if (o.verify && o.toStandardOutput)
        return "--verify needs a document file, not standard output";
    if (o.force && o.mode != Mode::decode)
        return "-f applies to decoding only";
    if (o.quiet && o.verbose)
        return "-q and -v cannot be combined";
    return {};
}

} // namespace

std::string usageText()
{
    return "Usage: dls2mml [OPTION]... FILE...\n"
           "Turn DLS instrument banks into cue-point MML documents, and back.\n"
           "\n"
           "  FILE...            convert each bank, in the order given; the document is\n"
           "                     written beside it, the first \".dls\" (any case) of the\n"
           "                     path becoming \"_dls\" and \".mml\" appended:\n"
           "                     Piano.DLS -> Piano_DLS.mml\n"
           "  -o, --output PATH  write the document (or bank) to PATH (one input only)\n"
           "  -c, --stdout       write the document (or bank) to standard output\n"
           "      --verify       decode each document just written and compare it with\n"
           "                     the bank; a mismatch is an error and the document is removed\n"
           "  -t, --test         check documents: decode each in memory, report OK or the fault\n"
           "  -d, --decode       write the bank back out of each document (FILE_dls.mml ->\n"
           "                     FILE.dls); '-' reads standard input\n"
           "  -f, --force        let --decode overwrite an existing file\n"
           "  -q, --quiet        print errors only\n"
           "  -v, --verbose      print more detail\n"
           "  -h, --help         show this help and exit\n"
           "  -V, --version      show the version and exit\n"
           "\n"
           "One line per file is printed: input, output, input bytes, stream bytes,\n"
           "document bytes. Exit status: 0 all files done, 1 a file failed, 2 usage error.\n";
}

ParseResult parseOptions(const std::vector<std::string>& args)
{
    ParseResult result;
    Options& o = result.options;
    bool onlyFiles = false;
    auto setMode = [&](Mode mode) {
        if (o.mode != Mode::convert && o.mode != mode && mode != Mode::help && mode != Mode::version)
            result.error = "-t and -d cannot be combined";
        if (o.mode != Mode::help)
            o.mode = mode;
    };
    for (std::size_t i = 0; i < args.size() && result.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (onlyFiles || arg == "-" || arg.empty() || arg[0] != '-') {
            o.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        // Long options, with "--output=PATH" as well as "--output PATH".
        if (arg.rfind("--", 0) == 0) {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            if (name == "--output") {
                if (eq != std::string::npos)
                    o.outputPath = arg.substr(eq + 1);
                else if (i + 1 < args.size())
                    o.outputPath = args[++i];
                else
                    result.error = "--output needs a path";
                if (result.error.empty() && o.outputPath.empty())
                    result.error = "--output needs a path";
                continue;
            }
            if (eq != std::string::npos) {
                result.error = "option " + name + " takes no value";
            } else if (name == "--stdout") {
                o.toStandardOutput = true;
            } else if (name == "--quiet") {
                o.quiet = true;
            } else if (name == "--verbose") {
                o.verbose = true;
            } else if (name == "--help") {
                setMode(Mode::help);
            } else if (name == "--version") {
                setMode(Mode::version);
            } else if (name == "--test") {
                setMode(Mode::test);
            } else if (name == "--decode") {
                setMode(Mode::decode);
            } else if (name == "--force") {
                o.force = true;
            } else if (name == "--verify") {
                o.verify = true;
            } else {
                result.error = "unknown option " + name;
            }
            continue;
        }
        // Bundled short options: -qc, -o PATH, -oPATH.
        for (std::size_t j = 1; j < arg.size() && result.error.empty(); ++j) {
            switch (arg[j]) {
            case 'o':
                if (j + 1 < arg.size())
                    o.outputPath = arg.substr(j + 1);
                else if (i + 1 < args.size())
                    o.outputPath = args[++i];
                if (o.outputPath.empty())
                    result.error = "-o needs a path";
                j = arg.size();
                break;
            case 'c': o.toStandardOutput = true; break;
            case 'q': o.quiet = true; break;
            case 'v': o.verbose = true; break;
            case 'h': setMode(Mode::help); break;
            case 'V': setMode(Mode::version); break;
            case 't': setMode(Mode::test); break;
            case 'd': setMode(Mode::decode); break;
            case 'f': o.force = true; break;
            default: result.error = std::string("unknown option -") + arg[j]; break;
            }
        }
    }
    if (result.error.empty())
        result.error = checkCombination(o);
    return result;
}

} // namespace dls2mml::cli
