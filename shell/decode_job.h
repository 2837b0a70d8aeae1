// The decode job, the conversion job's inverse: one cue-point document in,
// its bank out (or, to check a document, the bank decoded and judged but
// written nowhere).
//
// The document is read in pieces and its stream decoded as it comes, so any
// size is read in bounded memory. The bank goes to a temporary file beside
// the target that is renamed over it only when the whole document has been
// read without fault; to standard output, where nothing from a faulty
// document may appear, it goes through a spool (or, where none can be made,
// the document is checked whole before it is decoded a second time).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "shell/conversion_job.h"
#include "shell/document/document_reader.h"

namespace dls2mml {

class InputFile;
class OutputFile;

struct DecodeRequest {
    std::string path;               // the document as given (names the bank's file)
    bool fromStandardInput = false; // read the document from standard input; path only names it
    InputFile* input = nullptr;     // read the document from here (an open file or memory)
    OutputFile* output = nullptr;   // write the bank here, uncommitted; the caller commits
    std::string outputPath;         // empty: derived from the document's name
    bool toStandardOutput = false;
    bool checkOnly = false;         // decode and judge the bank, write nothing
    bool overwrite = false;         // an existing bank file may be replaced
    bool refuseTerminal = false;    // refuse to write a bank to a terminal
    unsigned threads = 1;           // threads for decoding frames
    // Bank bytes decoded so far and the bank's length from the sizes line
    // (UINT64_MAX when unknown); a second pass starts again from 0. May be empty.
    std::function<void(const JobProgress&)> progress;
};

struct DecodeReport {
    // For "dls2mml: PATH: words": PATH is the output's when the fault's place
    // is the output, else the document's. A fault the reader found in the
    // document has the reader's kind and its place (documentFault).
    Fault fault;
    std::string outputPath;
    std::uint64_t bankBytes = 0;
    bool bankIsRiff = false; // the bank starts as a RIFF file, whose structure was checked
    bool ok() const noexcept { return fault.ok(); }
};

DecodeReport runDecodeJob(const DecodeRequest& request);

// The bank's file name for a document's: the output-name rule given back, or
// failing that the document's name with ".dls" for its last extension.
std::string bankNameFor(const std::string& documentName);

} // namespace dls2mml
