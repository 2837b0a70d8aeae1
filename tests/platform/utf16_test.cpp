// UTF-8 and UTF-16 both ways, as the Windows programs convert every path and
// name they hold.
#include <gtest/gtest.h>

#include <string>

#include "platform/utf16.h"

namespace dls2mml {
namespace {

TEST(Utf16, NamesConvertBothWaysExactly)
{
    struct Case {
        const char* name;
        std::u16string wide;
        std::string utf8;
    };
    const Case cases[] = {
        {"empty", u"", ""},
        {"ASCII with a backslash", u"C:\\b\\a.dls", "C:\\b\\a.dls"},
        {"two bytes: e acute", u"caf\u00E9", "caf\xC3\xA9"},
        {"three bytes: Hangul", u"\uD55C\uAD6D", "\xED\x95\x9C\xEA\xB5\xAD"},
        {"three bytes: kanji whose code page 932 form ends in 0x5C", u"\u8868\u30BD", "\xE8\xA1\xA8\xE3\x82\xBD"},
        {"four bytes: emoji", u"\U0001F3B9", "\xF0\x9F\x8E\xB9"},
        {"last code point", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {"last of the three-byte range", u"\uFFFF", "\xEF\xBF\xBF"},
        {"lone high surrogate", u"a\xD800z", "a\xED\xA0\x80z"},
        {"lone low surrogate", u"\xDFFF", "\xED\xBF\xBF"},
        {"low before high: two lone ones", u"\xDC00\xD800", "\xED\xB0\x80\xED\xA0\x80"},
        {"high surrogate at the end", u"x\xDBFF", "x\xED\xAF\xBF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(utf8FromUtf16(c.wide), c.utf8);
        std::u16string back = u"left over";
        EXPECT_TRUE(utf16FromUtf8(c.utf8, back));
        EXPECT_EQ(back, c.wide);
        EXPECT_EQ(utf16Length(c.utf8), c.wide.size());
    }
}

TEST(Utf16, BytesThatAreNotUtf8AreRefusedAndShownAsReplacements)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string shown;
    };
    const Case cases[] = {
        {"stray continuation byte", "a\x80z", u"a\uFFFDz"},
        {"cut short at the end", "a\xE3\x82", u"a\uFFFD\uFFFD"},
        {"cut short by ASCII", "\xE3" "a", u"\uFFFDa"},
        {"over-long slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"over-long three bytes", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"lead byte F5", "\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"code page 932 bytes", "\x95\x5C\x83\x5C", u"\uFFFD\\\uFFFD\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string out = u"left over";
        EXPECT_FALSE(utf16FromUtf8(c.bytes, out));
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(utf16ForDisplay(c.bytes), c.shown);
    }
}

TEST(Utf16, ShownTextIsWellFormed)
{
    // A surrogate kept for a file name is no character to show.
    EXPECT_EQ(utf16ForDisplay("a\xED\xA0\x80z"), u"a\uFFFDz");
    EXPECT_EQ(utf8ForDisplay("a\xED\xA0\x80z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(utf8ForDisplay("caf\xC3\xA9 \xF0\x9F\x8E\xB9"), "caf\xC3\xA9 \xF0\x9F\x8E\xB9");
    EXPECT_EQ(utf8ForDisplay("\xFF"), "\xEF\xBF\xBD");
}

} // namespace
} // namespace dls2mml
