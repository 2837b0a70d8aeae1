// The one vocabulary of failures and the faces' tables over it: every kind
// has a name and words, and becomes the command line's exit status and the C
// library's result code that the program and the library promise. A row per
// kind, so a kind added without its mappings fails here.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/exit_status.h"
#include "dls2mml/dls2mml.h"
#include "fault/fault.h"
#include "library/result_codes.h"

namespace dls2mml::test {
namespace {

constexpr const char* document = "not a sound cue-point document";

struct KindRow {
    FaultKind kind;
    int exitStatus;
    int resultCode; // by the kind alone, with no place
    const char* words;
};

const KindRow kindRows[] = {
    {FaultKind::none, 0, DLS2MML_OK, "ok"},
    {FaultKind::badMagic, 1, DLS2MML_E_DOCUMENT, document},
    {FaultKind::badHeader, 1, DLS2MML_E_DOCUMENT, document},
    {FaultKind::truncated, 1, DLS2MML_E_DOCUMENT, document},
    {FaultKind::corrupt, 1, DLS2MML_E_DOCUMENT, document},
    {FaultKind::limitExceeded, 1, DLS2MML_E_DOCUMENT, document},
    {FaultKind::lengthMismatch, 1, DLS2MML_E_STREAM, document},
    {FaultKind::trailingData, 1, DLS2MML_E_DOCUMENT, document},
    {FaultKind::badText, 1, DLS2MML_E_DOCUMENT, document},
    {FaultKind::outputRefused, 1, DLS2MML_E_STOPPED, "output refused"},
    {FaultKind::readFailed, 1, DLS2MML_E_DOCUMENT, "cannot read"},
    {FaultKind::outOfMemory, 1, DLS2MML_E_NO_MEMORY, "out of memory"},
    {FaultKind::cannotOpen, 1, DLS2MML_E_INTERNAL, "cannot open"},
    {FaultKind::isFolder, 1, DLS2MML_E_INTERNAL, "is a folder"},
    {FaultKind::cannotRead, 1, DLS2MML_E_INTERNAL, "cannot read"},
    {FaultKind::cannotCreate, 1, DLS2MML_E_INTERNAL, "cannot create output"},
    {FaultKind::writeFailed, 1, DLS2MML_E_INTERNAL, "write failed"},
    {FaultKind::diskFull, 1, DLS2MML_E_INTERNAL, "disk full"},
    {FaultKind::noDlsInName, 1, DLS2MML_E_INTERNAL, "name does not contain \".dls\" (give the output with -o)"},
    {FaultKind::tooLarge, 1, DLS2MML_E_TOO_LARGE, "too large"},
    {FaultKind::compressFailed, 1, DLS2MML_E_INTERNAL, "compression failed"},
    {FaultKind::verifyFailed, 1, DLS2MML_E_INTERNAL, "verification failed"},
    {FaultKind::inputChanged, 1, DLS2MML_E_INTERNAL, "file changed while it was read"},
    {FaultKind::sameFile, 1, DLS2MML_E_INTERNAL, "input and output are the same file"},
    {FaultKind::bankDamaged, 1, DLS2MML_E_INTERNAL, "the document is whole, but the bank in it is a damaged RIFF file"},
    {FaultKind::outputExists, 1, DLS2MML_E_INTERNAL, "exists (use -f to overwrite)"},
    {FaultKind::noBankName, 1, DLS2MML_E_INTERNAL,
     "cannot derive the bank's name (it needs a name ending in \"_dls...mml\" that the output-name rule gives back); "
     "give the output with -o"},
    {FaultKind::toTerminal, 1, DLS2MML_E_INTERNAL, "not writing a bank to a terminal (redirect the output, give -o, or -f)"},
    {FaultKind::fromTerminal, 1, DLS2MML_E_INTERNAL,
     "standard input is a terminal: give a FILE or redirect the input (-f reads it anyway)"},
    {FaultKind::selectionRefused, 1, DLS2MML_E_SELECTION, "cannot choose instruments"},
    {FaultKind::pivotStateUnknown, 1, DLS2MML_E_INTERNAL, "the pivot state left by the earlier banks is unknown"},
    {FaultKind::notDlsBank, 1, DLS2MML_E_BANK, "not a sound DLS bank"},
    {FaultKind::badArgument, 2, DLS2MML_E_ARGUMENT, "invalid argument"},
    {FaultKind::bufferTooSmall, 1, DLS2MML_E_CAPACITY, "output buffer too small"},
    {FaultKind::internal, 1, DLS2MML_E_INTERNAL, "internal failure"},
};

TEST(FaultTables, EveryKindHasItsRow)
{
    ASSERT_EQ(std::size(kindRows), static_cast<std::size_t>(faultKindCount));
    std::set<std::string> names;
    for (std::size_t i = 0; i < std::size(kindRows); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(kindRows[i].kind), i) << "rows in the enumeration's order";
        names.insert(faultKindName(kindRows[i].kind));
    }
    EXPECT_EQ(names.size(), std::size(kindRows)) << "every kind has a name of its own";
    EXPECT_EQ(std::string(faultKindName(static_cast<FaultKind>(faultKindCount))), "unknown");
}

TEST(FaultTables, EachKindMapsToItsStatusCodeAndWords)
{
    for (const KindRow& row : kindRows) {
        SCOPED_TRACE(faultKindName(row.kind));
        EXPECT_EQ(cli::exitStatusFor(row.kind), row.exitStatus);
        EXPECT_EQ(resultCodeFor(row.kind), row.resultCode);
        EXPECT_EQ(resultCodeFor(Fault{row.kind, {}, {}}), row.resultCode) << "a fault with no place: by its kind";
        EXPECT_EQ(std::string(faultWords(row.kind)), row.words);
        // Words name the kind first, the detail after it.
        EXPECT_EQ(makeFault(row.kind).words, row.words);
        const std::string detailed = makeFault(row.kind, "detail").words;
        if (row.kind == FaultKind::isFolder)
            EXPECT_EQ(detailed, row.words) << "says it all";
        else
            EXPECT_EQ(detailed, std::string(row.words) + ": detail");
        // A code the table gives has words of the C library's own.
        EXPECT_NE(std::string(dls2mml_strerror(row.resultCode)), "unknown result code");
    }
}

// A fault a reader found in a document is sorted further by where it stands.
TEST(FaultTables, ReaderFaultsByTheirPlace)
{
    FaultPlace inText;
    inText.line = 2;
    inText.column = 5;
    FaultPlace inStream = inText;
    inStream.streamByte = 40;
    FaultPlace atEnd = inText;
    atEnd.atEnd = true;
    FaultPlace atEndOfStream = inStream;
    atEndOfStream.atEnd = true;
    const struct {
        const char* name;
        FaultKind kind;
        FaultPlace place;
        int code;
    } cases[] = {
        {"text fault", FaultKind::badText, inText, DLS2MML_E_DOCUMENT},
        {"bad head", FaultKind::badMagic, inText, DLS2MML_E_DOCUMENT},
        {"stream fault", FaultKind::corrupt, inStream, DLS2MML_E_STREAM},
        {"stream header", FaultKind::badHeader, inStream, DLS2MML_E_STREAM},
        {"sizes line against the stream", FaultKind::lengthMismatch, inText, DLS2MML_E_STREAM},
        {"the document ends early", FaultKind::truncated, atEnd, DLS2MML_E_TRUNCATED},
        {"the end, even in the stream", FaultKind::corrupt, atEndOfStream, DLS2MML_E_TRUNCATED},
        {"no read", FaultKind::readFailed, inText, DLS2MML_E_DOCUMENT},
        {"memory, wherever", FaultKind::outOfMemory, atEndOfStream, DLS2MML_E_NO_MEMORY},
        {"a stop, wherever", FaultKind::outputRefused, atEnd, DLS2MML_E_STOPPED},
        {"too large, wherever", FaultKind::tooLarge, atEnd, DLS2MML_E_TOO_LARGE},
        {"a job's fault on the output", FaultKind::writeFailed, FaultPlace{FaultFile::output, 0, 0, {}, false},
         DLS2MML_E_INTERNAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(resultCodeFor(Fault{c.kind, c.place, "words"}), c.code);
    }
}

} // namespace
} // namespace dls2mml::test
