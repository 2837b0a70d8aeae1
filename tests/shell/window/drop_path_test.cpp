// Which dropped paths the window takes, and as which ANSI bytes.
#include <gtest/gtest.h>

#include <string>

#include "shell/window/main_window.h"

namespace dls2mml {
namespace {

TEST(DropPath, TheTestsRunWithCodePage932)
{
    ASSERT_EQ(GetACP(), 932u) << "run under a Japanese locale (LANG=ja_JP.UTF-8 under Wine)";
}

TEST(DropPath, ExactAnsiFormOrNothing)
{
    struct Case {
        const char* name;
        std::wstring wide;
        bool taken;
        std::string ansi; // when taken
    };
    const std::wstring folder = L"Z:\\banks\\";
    const Case cases[] = {
        {"ASCII", folder + L"Piano.DLS", true, "Z:\\banks\\Piano.DLS"},
        // 表 and ソ end in 0x5C, the backslash's byte.
        {"Japanese", folder + L"\u8868\u30BD.dls", true, "Z:\\banks\\\x95\x5C\x83\x5C.dls"},
        // Best fit would turn é into e and name cafe.dls, another file.
        {"no code page 932 form: e acute", folder + L"caf\u00E9.dls", false, ""},
        {"no code page 932 form: Hangul", folder + L"\uD55C\uAD6D.dls", false, ""},
        {"no code page 932 form: emoji (a surrogate pair)", folder + L"\U0001F3B5.dls", false, ""},
        {"no code page 932 form: Latin ligature", folder + L"\uFB01le.dls", false, ""},
        {"empty", L"", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string ansi = "left over";
        EXPECT_EQ(ansiDropPath(c.wide, ansi), c.taken);
        if (c.taken) {
            EXPECT_EQ(ansi, c.ansi);
        }
    }
}

TEST(DropPath, TheDocumentPathMustFit255Bytes)
{
    // The document's path is four bytes longer than the bank's; its length
    // counts ANSI bytes, so double-byte characters count twice.
    struct Case {
        const char* name;
        std::wstring wide;
        bool taken;
    };
    const auto ascii = [](std::size_t length) { return L"Z:\\" + std::wstring(length - 7, L'a') + L".dls"; };
    const auto kanji = [](std::size_t characters) { return L"Z:\\" + std::wstring(characters, L'\u8868') + L".dls"; };
    const Case cases[] = {
        {"251 bytes: the document has 255", ascii(251), true},
        {"252 bytes: the document would have 256", ascii(252), false},
        {"255 bytes: the document would have 259", ascii(255), false},
        {"260 bytes", ascii(260), false},
        {"122 double-byte characters, 251 bytes", kanji(122), true},
        {"124 double-byte characters, 255 bytes (131 characters)", kanji(124), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string ansi;
        EXPECT_EQ(ansiDropPath(c.wide, ansi), c.taken);
        if (c.taken) {
            EXPECT_LE(ansi.size() + 4, 255u);
        }
    }
}

} // namespace
} // namespace dls2mml
