// The golden faulty documents of tests/faulty: each one, read from its file,
// gives the fault kind, the place (line and column, and the stream byte for a
// fault inside the stream) and the C interface's result code its row of
// tests/faulty/faults.txt says, whole and fed to the streaming decoder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dls2mml/dls2mml.h"
#include "shell/document/document_reader.h"
#include "platform/file_system.h"

namespace dls2mml {
namespace {

// The table's reader and the decoders' runs, for builds that know the folder.
#ifdef DLS2MML_FAULTY_DIR

namespace fs = std::filesystem;

struct FaultRow {
    std::string file;
    std::string kind;
    std::string place;      // "line:column"
    std::string streamByte; // "-" for a fault outside the stream
    std::string code;       // the C interface's: document, stream or truncated
};

std::vector<FaultRow> readTable(const fs::path& table)
{
    std::vector<FaultRow> rows;
    std::ifstream in(table);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        FaultRow row;
        fields >> row.file >> row.kind >> row.place >> row.streamByte >> row.code;
        EXPECT_FALSE(row.code.empty()) << "a short row in " << table << ": " << line;
        rows.push_back(row);
    }
    return rows;
}

std::string codeName(int code)
{
    switch (code) {
    case DLS2MML_E_DOCUMENT: return "document";
    case DLS2MML_E_STREAM: return "stream";
    case DLS2MML_E_TRUNCATED: return "truncated";
    }
    return std::to_string(code);
}

std::string placeOf(std::uint64_t line, std::uint64_t column)
{
    return std::to_string(line) + ":" + std::to_string(column);
}

int decodeWhole(const std::string& document)
{
    std::vector<char> bank(1u << 20);
    std::size_t size = 0;
    return dls2mml_decode(document.data(), document.size(), bank.data(), bank.size(), &size);
}

int discard(void*, const void*, size_t) { return 0; }

// The streaming decoder fed one character at a time: its code and place.
std::string decodeStreaming(const std::string& document)
{
    dls2mml_decoder* decoder = nullptr;
    EXPECT_EQ(dls2mml_decoder_create(discard, nullptr, &decoder), DLS2MML_OK);
    int code = DLS2MML_OK;
    for (std::size_t i = 0; i < document.size() && code == DLS2MML_OK; ++i)
        code = dls2mml_decoder_feed(decoder, document.data() + i, 1);
    if (code == DLS2MML_OK)
        code = dls2mml_decoder_finish(decoder);
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    dls2mml_decoder_fault(decoder, &line, &column);
    dls2mml_decoder_free(decoder);
    return codeName(code) + " " + placeOf(line, column);
}
#endif

TEST(FaultyDocuments, GiveTheKindPlaceAndCodeOfTheirRow)
{
#ifndef DLS2MML_FAULTY_DIR
    GTEST_SKIP() << "the folder of faulty documents is not known to this build";
#else
    const fs::path folder = DLS2MML_FAULTY_DIR;
    const std::vector<FaultRow> rows = readTable(folder / "faults.txt");
    std::set<std::string> listed;
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.file);
        listed.insert(row.file);
        std::unique_ptr<InputFile> file;
        ASSERT_TRUE(openInputFile((folder / row.file).string(), file));
        const TextStatus status = decodeDocumentFile(*file, [](std::span<const std::uint8_t>) { return true; });
        const std::string streamByte = status.streamOffset ? std::to_string(*status.streamOffset) : "-";

        std::ifstream in(folder / row.file, std::ios::binary);
        const std::string document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string code = codeName(decodeWhole(document));
        const std::string actual = row.file + " " + faultKindName(status.kind) + " " + placeOf(status.at.line, status.at.column) +
                                   " " + streamByte + " " + code;
        EXPECT_EQ(actual, row.file + " " + row.kind + " " + row.place + " " + row.streamByte + " " + row.code)
            << status.describe();
        EXPECT_EQ(decodeStreaming(document), row.code + " " + row.place);
    }
    // Every document of the folder has its row.
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".mml") {
            EXPECT_TRUE(listed.count(entry.path().filename().string())) << entry.path().filename() << " has no row";
        }
    }
#endif
}

} // namespace
} // namespace dls2mml
