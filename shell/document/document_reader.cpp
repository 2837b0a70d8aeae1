#include "shell/document/document_reader.h"

#include <algorithm>

#include "shell/document/cue_point_document.h"
#include "platform/file_system.h"

namespace dls2mml {
namespace {

constexpr std::string_view headLine1 = "//========== .DLS_DATA ==========";
std::string num(std::uint64_t value) { return std::to_string(value); }

} // namespace

DocumentReader::DocumentReader(Sink sink, unsigned threads, Depth depth)
    : sink_(std::move(sink)), threads_(threads), depth_(depth)
{
}

DocumentReader::~DocumentReader() = default;

TextStatus DocumentReader::record(FaultKind kind, std::string message, TextPosition at)
{
    state_ = State::failed;
    fault_ = TextStatus{kind, std::move(message), at, std::nullopt};
    return fault_;
}

// A fault in the text stands after every stream byte fed before it: a fault
// of a frame still being decoded comes first.
TextStatus DocumentReader::fail(FaultKind kind, std::string message, TextPosition at)
{
    if (TextStatus earlier = settle(); !earlier.ok())
        return earlier;
    return record(kind, std::move(message), at);
}

TextStatus DocumentReader::failStream(const DecodeStatus& status)
{
    record(status.kind, status.describe(), text_->positionOfByte(status.offset));
    fault_.streamOffset = status.offset;
    return fault_;
}

TextStatus DocumentReader::settle()
{
    if (state_ == State::failed)
        return fault_;
    if (stream_)
        if (DecodeStatus status = stream_->settle(); !status.ok())
            return failStream(status);
    return {};
}

void DocumentReader::advance(unsigned char c) noexcept
{
    if (c == '\n') {
        ++line_;
        column_ = 1;
    } else {
        ++column_;
    }
}

TextStatus DocumentReader::sizesCharacter(unsigned char c)
{
    const TextPosition here{line_, column_};
    const bool digit = c >= '0' && c <= '9';
    auto takeDigit = [&]() -> TextStatus {
        if (digits_ == 0)
            numberAt_ = here;
        if (digits_ == 1 && number_ == 0)
            return fail(FaultKind::badText, "sizes line: a number has a leading zero", here);
        number_ = number_ * 10 + (c - '0');
        ++digits_;
        if (number_ > maxLength32)
            return fail(FaultKind::limitExceeded, "sizes line: number exceeds 4294967295", numberAt_);
        return {};
    };
    switch (sizesPart_) {
    case SizesPart::open:
        if (c != '(')
            return fail(FaultKind::badText, "sizes line: " + describeCharacter(c) + " where '(' must open the sizes", here);
        sizesPart_ = SizesPart::input;
        return {};
    case SizesPart::input:
        if (digit)
            return takeDigit();
        if (c == ' ' && digits_ > 0) {
            inputLength_ = number_;
            inputLengthAt_ = numberAt_;
            number_ = 0;
            digits_ = 0;
            sizesPart_ = SizesPart::stream;
            return {};
        }
        return fail(FaultKind::badText, "sizes line: " + describeCharacter(c) +
                        (digits_ == 0 ? " where the input length must stand" : " where a digit or a space must follow"),
                    here);
    case SizesPart::stream:
        if (digit)
            return takeDigit();
        if (c == ')' && digits_ > 0) {
            streamLength_ = number_;
            if (streamLength_ < streamHeaderSize)
                return fail(FaultKind::corrupt, "sizes line: stream length " + num(streamLength_) + " is below the 12 bytes of its header",
                            numberAt_);
            sizesPart_ = SizesPart::feed;
            return {};
        }
        return fail(FaultKind::badText, "sizes line: " + describeCharacter(c) +
                        (digits_ == 0 ? " where the stream length must stand" : " where a digit or ')' must follow"),
                    here);
    case SizesPart::feed:
        if (c != '\n')
            return fail(FaultKind::badText, "sizes line: " + describeCharacter(c) + " where a line feed must end it", here);
        state_ = State::text;
        text_ = std::make_unique<Base64Reader>(line_ + 1);
        stream_ = std::make_unique<BlockDecompressor>(depth_ == Depth::bank ? sink_ : Sink{}, threads_);
        return {};
    }
    return {};
}

TextStatus DocumentReader::textChunk(std::string_view chunk, std::size_t& consumed)
{
    bytes_.clear();
    const std::uint64_t before = text_->bytesDecoded();
    // A fault in the text is reported only after the bytes decoded before it
    // went to the stream: whatever the chunking, the first fault met wins.
    const TextStatus textStatus = text_->feed(chunk, bytes_, consumed);
    // Only as many bytes as the sizes line gives go to the stream.
    const std::size_t allowed =
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes_.size(), streamLength_ - std::min(before, streamLength_)));
    std::span<const std::uint8_t> bytes(bytes_.data(), allowed);
    if (depth_ == Depth::stream && !bytes.empty() && !sink_(bytes))
        return record(FaultKind::outputRefused, "output refused", text_->positionOfByte(before));
    if (!headerChecked_) {
        const std::size_t headerPart = static_cast<std::size_t>(
            std::min<std::uint64_t>(bytes.size(), streamHeaderSize - std::min<std::uint64_t>(stream_->streamBytes(), streamHeaderSize)));
        if (DecodeStatus status = stream_->feed(bytes.first(headerPart)); !status.ok())
            return failStream(status);
        bytes = bytes.subspan(headerPart);
        if (stream_->headerRead()) {
            headerChecked_ = true;
            if (stream_->declaredLength() != inputLength_)
                return fail(FaultKind::lengthMismatch, "sizes line gives the input length " + num(inputLength_) + " but the stream header gives " +
                                num(stream_->declaredLength()),
                            inputLengthAt_);
        }
    }
    if (depth_ == Depth::bank)
        if (DecodeStatus status = stream_->feed(bytes); !status.ok())
            return failStream(status);
    if (allowed < bytes_.size())
        return fail(FaultKind::lengthMismatch, "sizes line gives a stream of " + num(streamLength_) + " bytes but the text holds more",
                    text_->positionOfByte(streamLength_));
    if (!textStatus.ok())
        return fail(textStatus.kind, textStatus.message, textStatus.at);
    const TextPosition here = text_->position();
    line_ = here.line;
    column_ = here.column;
    return {};
}

TextStatus DocumentReader::endText()
{
    if (text_->bytesDecoded() != streamLength_)
        return fail(FaultKind::lengthMismatch, "sizes line gives a stream of " + num(streamLength_) + " bytes but the text holds " +
                        num(text_->bytesDecoded()),
                    text_->position());
    // With the stream's depth the text held its whole header: the sizes line
    // gives at least 12 bytes, and the text as many as it gives.
    if (depth_ == Depth::bank)
        if (DecodeStatus status = stream_->finish(); !status.ok())
            return failStream(status);
    state_ = State::footer;
    matched_ = 0;
    return {};
}

TextStatus DocumentReader::feed(std::string_view chunk)
{
    std::size_t i = 0;
    while (i < chunk.size()) {
        const unsigned char c = static_cast<unsigned char>(chunk[i]);
        switch (state_) {
        case State::failed:
            return fault_;
        case State::head:
            if (c != static_cast<unsigned char>(documentHead[matched_])) {
                const bool first = matched_ <= headLine1.size();
                return fail(FaultKind::badMagic, std::string("missing or damaged head: ") + describeCharacter(c) + " where " +
                                (first ? "the banner \"" + std::string(headLine1) + "\""
                                       : std::string("the directive's opening \"CuePoint={\\\"QelDlsData(\"")) +
                                " has " + describeCharacter(static_cast<unsigned char>(documentHead[matched_])),
                            {line_, column_});
            }
            advance(c);
            ++i;
            if (++matched_ == documentHead.size())
                state_ = State::sizes;
            break;
        case State::sizes:
            if (TextStatus status = sizesCharacter(c); !status.ok())
                return status;
            advance(c);
            ++i;
            break;
        case State::text: {
            std::size_t consumed = 0;
            if (TextStatus status = textChunk(chunk.substr(i), consumed); !status.ok())
                return status;
            i += consumed;
            if (text_->ended())
                if (TextStatus status = endText(); !status.ok())
                    return status;
            break;
        }
        case State::footer:
            if (c != static_cast<unsigned char>(documentFooter[matched_]))
                return fail(FaultKind::badText, "damaged footer: " + describeCharacter(c) + " where the footer \")\\\"}\" and its line feed have " +
                                describeCharacter(static_cast<unsigned char>(documentFooter[matched_])),
                            {line_, column_});
            advance(c);
            ++i;
            if (++matched_ == documentFooter.size())
                state_ = State::end;
            break;
        case State::end:
            return fail(FaultKind::trailingData, describeCharacter(c) + " follows the footer; the document ends with it", {line_, column_});
        }
    }
    return state_ == State::failed ? fault_ : TextStatus{};
}

TextStatus DocumentReader::finish()
{
    const TextPosition here{line_, column_};
    switch (state_) {
    case State::failed:
        return fault_;
    case State::head:
        if (matched_ == 0)
            return fail(FaultKind::truncated, "document is empty: the head is missing", here);
        return fail(FaultKind::truncated, "document ends inside its head (missing or damaged head)", here);
    case State::sizes:
        return fail(FaultKind::truncated, "document ends inside the sizes line", here);
    case State::text: {
        if (TextStatus status = text_->finish(); !status.ok())
            return fail(status.kind, status.message, status.at);
        if (TextStatus status = endText(); !status.ok())
            return status;
        return fail(FaultKind::truncated, "document ends without its footer \")\\\"}\" (missing footer)", text_->position());
    }
    case State::footer:
        return fail(FaultKind::truncated, matched_ == 0 ? "document ends without its footer \")\\\"}\" (missing footer)"
                                  : "document ends inside its footer (missing or damaged footer)",
                    here);
    case State::end:
        return {};
    }
    return fault_;
}

TextStatus decodeDocument(std::string_view document, std::vector<std::uint8_t>& bank)
{
    DocumentReader reader([&bank](std::span<const std::uint8_t> block) {
        bank.insert(bank.end(), block.begin(), block.end());
        return true;
    });
    if (TextStatus status = reader.feed(document); !status.ok())
        return status;
    return reader.finish();
}

TextStatus decodeDocumentFile(InputFile& file, const DocumentReader::Sink& sink, unsigned threads, bool* atEnd)
{
    DocumentReader reader(sink, threads);
    std::vector<std::uint8_t> buffer(readChunk);
    for (;;) {
        std::size_t got = 0;
        if (IoStatus status = file.read(buffer, got); !status) {
            if (TextStatus earlier = reader.settle(); !earlier.ok())
                return earlier;
            return {FaultKind::readFailed, describeIoStatus(status), {0, 0}, std::nullopt};
        }
        if (got == 0)
            break;
        if (TextStatus status = reader.feed(std::string_view(reinterpret_cast<const char*>(buffer.data()), got));
            !status.ok())
            return status;
    }
    if (atEnd)
        *atEnd = true;
    return reader.finish();
}

TextStatus readDocumentSizes(std::string_view text, DocumentSizes& sizes, bool& atEnd)
{
    DocumentReader reader([](std::span<const std::uint8_t>) { return false; });
    const std::size_t end = text.find('\n', std::min(text.size(), documentHead.size()));
    const bool whole = end == std::string_view::npos;
    TextStatus status = reader.feed(text.substr(0, whole ? end : end + 1));
    // A fault in what was fed is the text's; only one found as the text
    // ended is its early end.
    atEnd = false;
    if (status.ok() && whole) {
        atEnd = true;
        status = reader.finish();
    }
    if (status.ok()) {
        sizes.bankBytes = reader.inputLength();
        sizes.streamBytes = reader.streamLength();
    }
    return status;
}

std::optional<DocumentSizes> parseDocumentSizes(std::string_view text)
{
    DocumentSizes sizes;
    bool atEnd = false;
    if (!readDocumentSizes(text, sizes, atEnd).ok())
        return std::nullopt;
    return sizes;
}

std::optional<DocumentSizes> readDocumentSizes(const std::string& path)
{
    std::unique_ptr<InputFile> file;
    if (!openInputFile(path, file))
        return std::nullopt;
    // The head and the longest sizes line: "(4294967295 4294967295)\n".
    std::vector<std::uint8_t> prefix(documentHead.size() + 24);
    std::size_t filled = 0;
    while (filled < prefix.size()) {
        std::size_t got = 0;
        if (!file->read(std::span<std::uint8_t>(prefix).subspan(filled), got))
            return std::nullopt;
        if (got == 0)
            break;
        filled += got;
    }
    return parseDocumentSizes(std::string_view(reinterpret_cast<const char*>(prefix.data()), filled));
}

Fault documentFault(const TextStatus& status, bool atEnd)
{
    FaultPlace place;
    place.line = status.at.line;
    place.column = status.at.column;
    place.streamByte = status.streamOffset;
    place.atEnd = atEnd;
    return {status.kind, place, status.describe()};
}

} // namespace dls2mml
