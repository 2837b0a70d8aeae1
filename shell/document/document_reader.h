// The cue-point document read back: head, sizes line, Base64 text of the tbr0
// stream, footer; the stream decoded on the fly and the bank's bytes handed to
// a sink block by block, so a document of any size is read in bounded memory.
//
// Everything the converter fixes is checked: the head and footer byte for byte,
// the sizes line's form ("(%u %u)\n", no sign, no leading zeros) and its two
// numbers against the stream header and the text's length, the Base64 lines,
// and the stream itself. Nothing may follow the footer. A fault carries the
// line and column where it stands; a fault inside the stream also names the
// stream byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compressor/block_decompressor.h"
#include "fault/fault.h"
#include "text/base64_reader.h"

namespace dls2mml {

class InputFile;

class DocumentReader {
public:
    using Sink = BlockDecompressor::Sink;

    // How far a document is read: to the bank, or to the stream only. With
    // stream the sink gets the stream's bytes, header included, as the text
    // gives them, and of the stream only its header is judged; the frames are
    // left to whoever takes the bytes.
    enum class Depth { bank, stream };

    // threads: for decoding the stream's frames (see BlockDecompressor).
    explicit DocumentReader(Sink sink, unsigned threads = 1, Depth depth = Depth::bank);
    ~DocumentReader();
    DocumentReader(const DocumentReader&) = delete;
    DocumentReader& operator=(const DocumentReader&) = delete;

    TextStatus feed(std::string_view chunk);
    // The document has ended: fails unless it ended right after the footer.
    TextStatus finish();
    // Decodes every frame fed so far; the first fault, if any. For a caller
    // that stops reading early (a read error) and must report what came first.
    TextStatus settle();

    // The two numbers of the sizes line, once read: the bank's length and the
    // stream's, its 12-byte header included.
    std::uint64_t inputLength() const noexcept { return inputLength_; }
    std::uint64_t streamLength() const noexcept { return streamLength_; }

private:
    enum class State { head, sizes, text, footer, end, failed };
    enum class SizesPart { open, input, stream, feed };

    TextStatus record(FaultKind kind, std::string message, TextPosition at);
    TextStatus fail(FaultKind kind, std::string message, TextPosition at);
    TextStatus failStream(const DecodeStatus& status);
    TextStatus sizesCharacter(unsigned char c);
    TextStatus textChunk(std::string_view chunk, std::size_t& consumed);
    TextStatus endText();
    void advance(unsigned char c) noexcept;

    Sink sink_;
    unsigned threads_;
    Depth depth_;
    std::unique_ptr<BlockDecompressor> stream_;
    std::unique_ptr<Base64Reader> text_;
    std::vector<std::uint8_t> bytes_;
    State state_ = State::head;
    TextStatus fault_;
    std::uint64_t line_ = 1;
    std::uint64_t column_ = 1;
    std::size_t matched_ = 0; // of the head or the footer
    SizesPart sizesPart_ = SizesPart::open;
    std::uint64_t number_ = 0;
    std::uint32_t digits_ = 0;
    TextPosition numberAt_;
    TextPosition inputLengthAt_;
    std::uint64_t inputLength_ = 0;
    std::uint64_t streamLength_ = 0;
    bool headerChecked_ = false;
};

// The two numbers of a document's sizes line.
struct DocumentSizes {
    std::uint64_t bankBytes = 0;
    std::uint64_t streamBytes = 0;
};

// Reads the head and the sizes line that text starts with, up to the line
// feed that ends the line (the rest is not looked at); atEnd is set when text
// ended before that line feed, so that the fault is the document's early end.
TextStatus readDocumentSizes(std::string_view text, DocumentSizes& sizes, bool& atEnd);
// The same, nullopt on any fault.
std::optional<DocumentSizes> parseDocumentSizes(std::string_view text);
// The same, from the first bytes of the file at path.
std::optional<DocumentSizes> readDocumentSizes(const std::string& path);

// Reads a whole document held in memory; the bank is appended to bank.
TextStatus decodeDocument(std::string_view document, std::vector<std::uint8_t>& bank);
// Reads a document from file in pieces, handing the bank to sink; atEnd (if
// given) is set when a fault was found as the document ended.
TextStatus decodeDocumentFile(InputFile& file, const DocumentReader::Sink& sink, unsigned threads = 1,
                              bool* atEnd = nullptr);

// The reader's verdict as a fault of the document: its kind, where it stands
// (line and column, the stream's byte, whether it was found at the end) and
// the reader's words with the place: "line L, column C: what".
Fault documentFault(const TextStatus& status, bool atEnd);

} // namespace dls2mml
