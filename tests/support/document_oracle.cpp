// The check after the fact: a written document decoded again and compared,
// block by block, with the bank it was made from. The tests use it as the
// oracle for everything the converter writes.
#include "support/document_oracle.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/file_system.h"
#include "shell/document/document_reader.h"
#include "support/sha256.h"

namespace dls2mml {
namespace {

// Compares the decoded bank with the input, block by block.
class Comparer {
public:
    explicit Comparer(InputFile& bank) : bank_(bank) {}

    bool operator()(std::span<const std::uint8_t> block)
    {
        while (!block.empty()) {
            if (at_ == filled_) {
                std::size_t got = 0;
                if (IoStatus status = bank_.read(buffer_, got); !status) {
                    problem = "cannot read the input again: " + describeIoStatus(status);
                    return false;
                }
                if (got == 0) {
                    problem = "the document decodes to more bytes than the input holds (" + std::to_string(offset_) + ")";
                    return false;
                }
                at_ = 0;
                filled_ = got;
            }
            const std::size_t n = std::min(block.size(), filled_ - at_);
            for (std::size_t i = 0; i < n; ++i)
                if (block[i] != buffer_[at_ + i]) {
                    problem = "the document decodes to other bytes than the input, first at byte " +
                              std::to_string(offset_ + i);
                    return false;
                }
            at_ += n;
            offset_ += n;
            block = block.subspan(n);
        }
        return true;
    }

    // After the last block: the input must hold nothing more.
    std::string finish()
    {
        if (!problem.empty())
            return problem;
        if (at_ < filled_)
            return "the document decodes to fewer bytes (" + std::to_string(offset_) + ") than the input holds";
        std::size_t got = 0;
        if (IoStatus status = bank_.read(buffer_, got); !status)
            return "cannot read the input again: " + describeIoStatus(status);
        if (got != 0)
            return "the document decodes to fewer bytes (" + std::to_string(offset_) + ") than the input holds";
        return {};
    }

    std::string problem;

private:
    InputFile& bank_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(readChunk);
    std::size_t at_ = 0;
    std::size_t filled_ = 0;
    std::uint64_t offset_ = 0;
};

} // namespace

std::string verifyDocument(const std::string& documentPath, const std::string& bankPath, unsigned threads)
{
    std::unique_ptr<InputFile> document;
    if (IoStatus status = openInputFile(documentPath, document); !status)
        return "cannot open the document: " + describeIoStatus(status);
    BankReference bank;
    bank.path = bankPath;
    return verifyDocument(*document, bank, threads);
}

namespace {

// The bank read again, compared block by block.
std::string compareWithFile(InputFile& document, const std::string& bankPath, unsigned threads)
{
    std::unique_ptr<InputFile> bank;
    if (IoStatus status = openInputFile(bankPath, bank); !status)
        return "cannot open the input again: " + describeIoStatus(status);
    Comparer comparer(*bank);
    const TextStatus status =
        decodeDocumentFile(document, [&comparer](std::span<const std::uint8_t> block) { return comparer(block); },
                           threads);
    if (!comparer.problem.empty())
        return comparer.problem;
    if (!status.ok())
        return "the document does not decode: " + status.describe();
    return comparer.finish();
}

// The bank known only by what was read of it: its length and digest.
std::string compareWithDigest(InputFile& document, const BankReference& bank, unsigned threads)
{
    Sha256 digest;
    std::uint64_t length = 0;
    const TextStatus status = decodeDocumentFile(document, [&](std::span<const std::uint8_t> block) {
        digest.add(block);
        length += block.size();
        return true;
    }, threads);
    if (!status.ok())
        return "the document does not decode: " + status.describe();
    if (length != bank.length)
        return "the document decodes to " + std::to_string(length) + " bytes but " + std::to_string(bank.length) +
               " were read";
    if (digest.finish() != bank.digest)
        return "the document decodes to other bytes than were read (their SHA-256 differ)";
    return {};
}

} // namespace

std::string verifyDocument(InputFile& document, const BankReference& bank, unsigned threads)
{
    return bank.path.empty() ? compareWithDigest(document, bank, threads) : compareWithFile(document, bank.path, threads);
}


} // namespace dls2mml
