// The check after the fact: a written document decoded again and compared,
// block by block, with the bank it was made from (the tests' oracle; the
// converter's own --verify checks while writing, checks/document_verifier.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace dls2mml {

class InputFile;

// What a document must decode to: the bank read again from path, or the bytes
// that were read, by length and SHA-256.
struct BankReference {
    std::string path; // empty: compare with the digest
    std::array<std::uint8_t, 32> digest{};
    std::uint64_t length = 0;
};

// Decodes the document at documentPath and compares it, block by block, with
// the bank at bankPath: empty when they agree, else the reason (the first
// differing byte, a length that differs, or the document's fault).
std::string verifyDocument(const std::string& documentPath, const std::string& bankPath, unsigned threads = 1);
// The same for a document already open (read from its start).
std::string verifyDocument(InputFile& document, const BankReference& bank, unsigned threads = 1);

} // namespace dls2mml
