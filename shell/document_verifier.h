// The verifier of --verify: a written document decoded again and compared,
// block by block, with the bank it was made from.
#pragma once

#include <string>

#include "shell/conversion_job.h"

namespace dls2mml {

class InputFile;

// Decodes the document at documentPath and compares it, block by block, with
// the bank at bankPath: empty when they agree, else the reason (the first
// differing byte, a length that differs, or the document's fault). The
// DocumentVerifier of --verify.
std::string verifyDocument(const std::string& documentPath, const std::string& bankPath, unsigned threads = 1);
// The same for a document already open (read from its start) and a bank that
// is either read again from its path or, where the path is empty, known by the
// length and SHA-256 of the bytes that were converted.
std::string verifyDocument(InputFile& document, const BankReference& bank, unsigned threads = 1);

} // namespace dls2mml
