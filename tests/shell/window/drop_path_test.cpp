// Which dropped paths the window converts, and the paths it hands on.
#include <gtest/gtest.h>

#include <string>

#include "shell/window/main_window.h"

namespace dls2mml {
namespace {

TEST(DropPath, TheTestsRunWithCodePage932)
{
    ASSERT_EQ(GetACP(), 932u) << "run under a Japanese locale (LANG=ja_JP.UTF-8 under Wine)";
}

TEST(DropPath, AnyNameIsTakenAsExactUtf8)
{
    struct Case {
        const char* name;
        std::wstring wide;
        bool taken;
        std::string path;  // when taken
        std::string lower; // when taken
    };
    const std::wstring folder = L"Z:\\banks\\";
    const Case cases[] = {
        {"ASCII, upper-case extension", folder + L"Piano.DLS", true, "Z:\\banks\\Piano.DLS", "z:\\banks\\piano.dls"},
        // 表 and ソ end in 0x5C in code page 932; in UTF-8 no byte of theirs is '\'.
        {"Japanese", folder + L"\u8868\u30BD.dls", true, "Z:\\banks\\\xE8\xA1\xA8\xE3\x82\xBD.dls",
         "z:\\banks\\\xE8\xA1\xA8\xE3\x82\xBD.dls"},
        {"e acute (no code page 932 form)", folder + L"caf\u00E9.dls", true, "Z:\\banks\\caf\xC3\xA9.dls",
         "z:\\banks\\caf\xC3\xA9.dls"},
        {"Hangul and a space", folder + L"\uD55C\uAD6D \uBC45\uD06C.dls", true,
         "Z:\\banks\\\xED\x95\x9C\xEA\xB5\xAD \xEB\xB1\x85\xED\x81\xAC.dls",
         "z:\\banks\\\xED\x95\x9C\xEA\xB5\xAD \xEB\xB1\x85\xED\x81\xAC.dls"},
        {"emoji (a surrogate pair)", folder + L"\U0001F3B9 piano.DLS", true, "Z:\\banks\\\xF0\x9F\x8E\xB9 piano.DLS",
         "z:\\banks\\\xF0\x9F\x8E\xB9 piano.dls"},
        // Lower-cased by the system's tables İ would become i and ẞ ß: the
        // copy keeps them, only the ASCII letters fold.
        {"capital I with dot and capital sharp s", folder + L"\u0130STANBUL \u1E9E.DLS", true,
         "Z:\\banks\\\xC4\xB0STANBUL \xE1\xBA\x9E.DLS", "z:\\banks\\\xC4\xB0stanbul \xE1\xBA\x9E.dls"},
        // A surrogate without its pair: a name Windows allows, kept exactly.
        {"lone surrogate", folder + L"\xD800x.dls", true, "Z:\\banks\\\xED\xA0\x80x.dls",
         "z:\\banks\\\xED\xA0\x80x.dls"},
        {".dls inside the name", folder + L"song.dls.bak", true, "Z:\\banks\\song.dls.bak", "z:\\banks\\song.dls.bak"},
        // Full-width letters are other characters, not a ".dls".
        {"full-width DLS", folder + L"a.\uFF24\uFF2C\uFF33", false, "", ""},
        {"dotless: dls without the full stop", folder + L"adls", false, "", ""},
        {"long s: no s of .dls", folder + L"a.dl\u017F", false, "", ""},
        {"no .dls", folder + L"notes.txt", false, "", ""},
        {"empty", L"", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = "left over";
        std::string lower = "left over";
        EXPECT_EQ(jobPathsForDrop(c.wide, path, lower), c.taken);
        EXPECT_EQ(path, c.path);
        EXPECT_EQ(lower, c.lower);
    }
}

TEST(DropPath, TheDlsMarkIsFoundInAnyAsciiCase)
{
    struct Case {
        std::wstring path;
        bool taken;
    };
    const Case cases[] = {
        {L"a.dls", true},
        {L"a.DlS", true},
        {L"x.dls\\y.DLS", true},
        {L"\u0130.DLS", true},
        {L"\U0001F3B9.dls", true},
        {L"a.\uFF24LS", false}, // a full-width D is not a D
        {L"a.dl\u017F", false}, // nor is a long s an s
        {L".dl", false},
        {L"", false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        std::string path;
        std::string lower;
        EXPECT_EQ(jobPathsForDrop(cases[i].path, path, lower), cases[i].taken);
    }
}

TEST(DropPath, TheDocumentPathMustFit255Utf16Units)
{
    // The document's path is four units longer than the bank's. Units, not
    // bytes: a Hangul syllable is one unit (three bytes in UTF-8, none in code
    // page 932), an emoji two.
    struct Case {
        const char* name;
        std::wstring wide;
        bool taken;
    };
    const auto made = [](std::size_t units, wchar_t fill) {
        return L"Z:\\" + std::wstring(units - 7, fill) + L".dls";
    };
    const auto emoji = [](std::size_t pairs) {
        std::wstring name = L"Z:\\a";
        for (std::size_t i = 0; i < pairs; ++i) name += L"\U0001F3B9";
        return name + L"x.dls";
    };
    const Case cases[] = {
        {"251 ASCII units: the document has 255", made(251, L'a'), true},
        {"252 ASCII units: the document would have 256", made(252, L'a'), false},
        {"251 units of Hangul (732 bytes of UTF-8)", made(251, L'\uD55C'), true},
        {"252 units of Hangul", made(252, L'\uD55C'), false},
        {"121 emoji, 251 units", emoji(121), true},
        {"122 emoji, 253 units", emoji(122), false},
        {"300 units", made(300, L'a'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path;
        std::string lower;
        EXPECT_EQ(jobPathsForDrop(c.wide, path, lower), c.taken);
    }
}

TEST(DropPath, TheFileManagerIsAskedForTheExactWidePath)
{
    EXPECT_EQ(revealParameters(L"Z:\\b\\caf\u00E9 \U0001F3B9_dls.mml"), L"/select,\"Z:\\b\\caf\u00E9 \U0001F3B9_dls.mml\"");
}

} // namespace
} // namespace dls2mml
