// The verifier of --verify: a document against the bank it should hold.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include <random>

#include "support/decoder_test_support.h"
#include "platform/file_system.h"
#include "support/document_oracle.h"
#include "support/sha256.h"

namespace dls2mml::test {
namespace {

void writeFile(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(DecoderVerify, ComparesTheDecodedBankWithTheInput)
{
    // A folder of its own per process: suites may run at once on one machine.
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("dls2mml_decoder_verify_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    TestRng rng(77);
    const Bytes bank = concat({rng.bytes(300000, 16), repeat(0x00, 300000)}); // two blocks
    const std::string document = documentFor(bank.size(), compressBytes(bank));
    writeFile(dir / "bank_dls.mml", document);
    const auto bankText = [](const Bytes& b) { return std::string(b.begin(), b.end()); };
    Bytes changed = bank;
    changed[400000] ^= 1;
    const struct {
        const char* name;
        std::string bank;
        const char* expected; // empty: agrees
    } cases[] = {
        {"the same bank", bankText(bank), ""},
        {"one byte changed", bankText(changed), "other bytes than the input, first at byte 400000"},
        {"input longer", bankText(bank) + "x", "fewer bytes (600000) than the input holds"},
        {"input shorter", bankText(Bytes(bank.begin(), bank.end() - 1)), "more bytes than the input holds"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir / "bank.dls", c.bank);
        const std::string problem = verifyDocument((dir / "bank_dls.mml").string(), (dir / "bank.dls").string());
        if (*c.expected == '\0')
            EXPECT_EQ(problem, "");
        else
            EXPECT_NE(problem.find(c.expected), std::string::npos) << problem;
    }
    // A damaged document is named as such.
    writeFile(dir / "bank.dls", bankText(bank));
    writeFile(dir / "bank_dls.mml", document.substr(0, document.size() - 2));
    EXPECT_NE(verifyDocument((dir / "bank_dls.mml").string(), (dir / "bank.dls").string())
                  .find("the document does not decode: line"),
              std::string::npos);
    EXPECT_NE(verifyDocument((dir / "missing.mml").string(), (dir / "bank.dls").string()).find("cannot open the document"),
              std::string::npos);
    std::filesystem::remove_all(dir);
}

// An input that could not be read twice is known by its length and SHA-256.
TEST(DecoderVerify, ComparesWithTheDigestOfWhatWasRead)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("dls2mml_decoder_digest_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    TestRng rng(78);
    const Bytes bank = concat({rng.bytes(200000, 16), repeat(0x41, 400000)});
    writeFile(dir / "bank_dls.mml", documentFor(bank.size(), compressBytes(bank)));
    const auto digestOf = [](const Bytes& bytes) {
        Sha256 digest;
        digest.add(bytes);
        return digest.finish();
    };
    Bytes changed = bank;
    changed[5] ^= 0x80;
    const struct {
        const char* name;
        Sha256::Digest digest;
        std::uint64_t length;
        const char* expected; // empty: agrees
    } cases[] = {
        {"what was read", digestOf(bank), bank.size(), ""},
        {"other bytes of the same length", digestOf(changed), bank.size(), "their SHA-256 differ"},
        {"fewer bytes were read", digestOf(bank), bank.size() - 1, "bytes but 599999 were read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<InputFile> document;
        ASSERT_TRUE(openInputFile((dir / "bank_dls.mml").string(), document));
        BankReference reference;
        reference.digest = c.digest;
        reference.length = c.length;
        const std::string problem = verifyDocument(*document, reference);
        if (*c.expected == '\0')
            EXPECT_EQ(problem, "");
        else
            EXPECT_NE(problem.find(c.expected), std::string::npos) << problem;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace dls2mml::test
