#include "cli/options.h"

#include <getopt.h>

#include <cstring>
#include <memory>

namespace dls2mml::cli {
namespace {

enum LongOnly { verifyOption = 256, progressOption, noProgressOption, instrumentsOption };

constexpr const char* shortOptions = "o:ctdlfkqvhVT:";

const option longOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"stdout", no_argument, nullptr, 'c'},
    {"test", no_argument, nullptr, 't'},
    {"decode", no_argument, nullptr, 'd'},
    {"list", no_argument, nullptr, 'l'},
    {"force", no_argument, nullptr, 'f'},
    {"keep", no_argument, nullptr, 'k'},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"threads", required_argument, nullptr, 'T'},
    {"verify", no_argument, nullptr, verifyOption},
    {"progress", no_argument, nullptr, progressOption},
    {"no-progress", no_argument, nullptr, noProgressOption},
    {"instruments", required_argument, nullptr, instrumentsOption},
    {nullptr, 0, nullptr, 0},
};

// Validates the combination after all arguments are read.
std::string checkCombination(const Options& o)
{
    if (o.mode == Mode::help || o.mode == Mode::version)
        return {};
    const bool writesSomewhere = !o.outputPath.empty() || o.toStandardOutput;
    if (!o.outputPath.empty() && o.files.size() != 1)
        return "-o takes exactly one input";
    if (!o.outputPath.empty() && o.toStandardOutput)
        return "-o and -c cannot be combined";
    if (o.mode == Mode::test && writesSomewhere)
        return "-t writes nothing; -o and -c do not apply";
    if (o.mode == Mode::list && writesSomewhere)
        return "-l writes nothing; -o and -c do not apply";
    if (o.verify && o.mode != Mode::convert)
        return "--verify applies to converting only";
    if (o.chooseInstruments && o.mode != Mode::convert)
        return "--instruments applies to converting only";
    if (o.quiet && o.verbose)
        return "-q and -v cannot be combined";
    return {};
}

const char* modeLetter(Mode mode)
{
    switch (mode) {
    case Mode::test: return "-t";
    case Mode::decode: return "-d";
    case Mode::list: return "-l";
    default: return "";
    }
}

// A whole decimal number of 1 or more, within reason.
bool parseThreads(const char* text, unsigned& threads)
{
    if (*text == '\0' || std::strlen(text) > 4)
        return false;
    unsigned value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(*p - '0');
    }
    if (value == 0)
        return false;
    threads = value;
    return true;
}

} // namespace

std::string usageText()
{
    return "Usage: dls2mml [OPTION]... [FILE]...\n"
           "Turn DLS instrument banks into cue-point MML documents, and back.\n"
           "With no FILE, or when FILE is -, read standard input and write standard output.\n"
           "\n"
           "Modes:\n"
           "  (none)               convert each bank into a document beside it: the first\n"
           "                       \".dls\" of the path (any case) becomes \"_dls\" and \".mml\"\n"
           "                       is appended (Piano.DLS -> Piano_DLS.mml)\n"
           "  -d, --decode         write the bank back out of each document\n"
           "                       (Piano_DLS.mml -> Piano.DLS)\n"
           "  -t, --test           check each document: decode it in memory, report OK or\n"
           "                       the fault and where it stands (see Checks below)\n"
           "  -l, --list           write nothing, show sizes: for a document, the bank's,\n"
           "                       the stream's and its own, from its sizes line; for a\n"
           "                       bank, the same after converting it in memory, then its\n"
           "                       DLS collection: instruments numbered for\n"
           "                       --instruments, each with the bytes of wave data it\n"
           "                       uses, waves, INFO strings\n"
           "\n"
           "Options:\n"
           "  -o, --output=PATH    write the document (or bank) to PATH, one input only;\n"
           "                       '-o -' is standard output\n"
           "  -c, --stdout         write the document (or bank) to standard output\n"
           "  -f, --force          let --decode overwrite an existing bank; read from a\n"
           "                       terminal, or write a bank to one\n"
           "  -k, --keep           keep the inputs (they are never removed)\n"
           "      --verify         decode each frame back as it is written and check the\n"
           "                       whole document before it replaces an earlier one (or,\n"
           "                       with -c, before it goes to standard output)\n"
           "      --instruments=LIST\n"
           "                       convert only these instruments of each bank and the\n"
           "                       waves they use (see Choosing instruments below)\n"
           "  -T, --threads=N      number of threads (1 or more; default: all cores)\n"
           "      --progress       show progress on standard error even if not a terminal\n"
           "      --no-progress    never show progress\n"
           "  -q, --quiet          print errors only\n"
           "  -v, --verbose        print more detail (-lv also counts the stream's frames)\n"
           "  -h, --help           display this help and exit\n"
           "  -V, --version        output version information and exit\n"
           "\n"
           "Choosing instruments: LIST is items separated by commas: N (instrument N as\n"
           "-l numbers a bank's instruments, from 1), N-M (N to M), pP (melodic program\n"
           "P, 0 to 127, of bank 0/0), pP:M (of bank M/0), pP:M/L (of bank M/L), and\n"
           "dP, dP:M, dP:M/L for drum kits (d0: drum kit 0 of bank 0/0). Example:\n"
           "--instruments=1-3,p24,d0. The bank put into the document holds only those\n"
           "instruments and the waves they link to, every other chunk as it was, with\n"
           "colh, the ptbl cue table and each region's wlnk index renumbered; the\n"
           "collection's dlid is left out, since the smaller bank is another collection.\n"
           "Choosing every instrument keeps the bank as it is. A number past the bank's\n"
           "instruments, a patch it does not have, an empty or malformed LIST, a range\n"
           "that runs backwards, or an input that is not a sound DLS bank is refused\n"
           "and nothing is written. -d of the document gives back the smaller bank.\n"
           "\n"
           "Documents are overwritten: a new one replaces the old only once it is complete.\n"
           "Banks are never overwritten without -f. Inputs are never removed.\n"
           "\n"
           "Banks converted in one run share the block sort's state, so a document can\n"
           "depend on the banks converted before it in that run. To get the same documents\n"
           "again, convert the same banks in the same order in one run\n"
           "(dls2mml a.dls b.dls), or each bank in a run of its own.\n"
           "\n"
           "An input that is not a RIFF 'DLS ' bank is converted byte for byte all the\n"
           "same, with a note on standard error (-q silences it).\n"
           "\n"
           "One summary line per file, fields separated by tabs:\n"
           "  converting   bank, document, bank bytes, stream bytes, document bytes;\n"
           "               with --instruments also the whole bank's bytes and the\n"
           "               instruments kept of those it holds (3/128)\n"
           "  decoding     document, bank, bank bytes\n"
           "  testing      FILE: OK (-v adds the bank's bytes)\n"
           "Names are printed with tab, line feed and carriage return as \\t, \\n and \\r,\n"
           "other control characters as \\xHH and a backslash as \\\\.\n"
           "\n"
           "Checks: -t proves that a document is whole (head, sizes line, Base64 text,\n"
           "stream and footer as the converter writes them) and, when the bank in it\n"
           "begins as a RIFF file, that the bank's chunk structure holds (sizes add up,\n"
           "a 'DLS ' form ending where its header says, counts that agree). The format\n"
           "has no checksum: a changed character can still decode to another bank.\n"
           "--verify at conversion time is the check of the content.\n"
           "When the document or bank goes to standard output, the summary line goes to\n"
           "standard error with -v and is left out otherwise.\n"
           "\n"
           "Exit status: 0 if every file was done, 1 if a file failed, 2 on a usage error.\n";
}

ParseResult parseOptions(const std::vector<std::string>& args)
{
    ParseResult result;
    Options& o = result.options;
    // getopt_long permutes its argv; it gets copies, with our own name first so
    // that its messages read "dls2mml: ...".
    std::vector<std::unique_ptr<char[]>> storage;
    std::vector<char*> argv;
    auto keep = [&](const std::string& text) {
        storage.push_back(std::make_unique<char[]>(text.size() + 1));
        std::memcpy(storage.back().get(), text.c_str(), text.size() + 1);
        argv.push_back(storage.back().get());
    };
    keep("dls2mml");
    for (const std::string& arg : args)
        keep(arg);
    argv.push_back(nullptr);
    const int argc = static_cast<int>(argv.size() - 1);

    optind = 0; // start afresh, as for a new process
    opterr = 1;
    bool help = false;
    bool version = false;
    auto setMode = [&](Mode mode) {
        if (o.mode != Mode::convert && o.mode != mode && result.error.empty())
            result.error = std::string(modeLetter(o.mode)) + " and " + modeLetter(mode) + " cannot be combined";
        o.mode = mode;
    };
    for (;;) {
        const int c = getopt_long(argc, argv.data(), shortOptions, longOptions, nullptr);
        if (c == -1)
            break;
        switch (c) {
        case 'o':
            if (std::strcmp(optarg, standardStreamName) == 0)
                o.toStandardOutput = true;
            else if (*optarg == '\0' && result.error.empty())
                result.error = "-o needs a path";
            else
                o.outputPath = optarg;
            break;
        case 'c': o.toStandardOutput = true; break;
        case 't': setMode(Mode::test); break;
        case 'd': setMode(Mode::decode); break;
        case 'l': setMode(Mode::list); break;
        case 'f': o.force = true; break;
        case 'k': o.keep = true; break;
        case 'q': o.quiet = true; break;
        case 'v': o.verbose = true; break;
        case 'h': help = true; break;
        case 'V': version = true; break;
        case 'T':
            if (!parseThreads(optarg, o.threads) && result.error.empty())
                result.error = "-T needs a number of threads, 1 or more";
            break;
        case verifyOption: o.verify = true; break;
        case progressOption: o.progress = ProgressChoice::on; break;
        case noProgressOption: o.progress = ProgressChoice::off; break;
        case instrumentsOption:
            o.chooseInstruments = true;
            o.instruments = optarg;
            break;
        default: result.reported = true; break; // getopt_long has said what is wrong
        }
    }
    for (int i = optind; i < argc; ++i)
        o.files.emplace_back(argv[static_cast<std::size_t>(i)]);
    if (result.reported)
        return result;
    // --help and --version win over everything else, as usual.
    if (help || version) {
        o.mode = help ? Mode::help : Mode::version;
        result.error.clear();
        return result;
    }
    if (o.files.empty())
        o.files.emplace_back(standardStreamName);
    if (result.error.empty())
        result.error = checkCombination(o);
    return result;
}

} // namespace dls2mml::cli
