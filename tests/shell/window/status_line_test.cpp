// The window's status lines: what SetStatusLine keeps of a text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shell/window/main_window.h"

namespace dls2mml {
namespace {

TEST(StatusLine, KeepsAtMost254CharactersAndIgnoresOtherIndexes)
{
    struct Case {
        const char* name;
        int index;
        std::string text;
        std::string line0; // what lines 0 and 1 hold afterwards
        std::string line1;
    };
    const std::string longText(300, 'x');
    const Case cases[] = {
        {"300 characters keep the first 254", 0, longText, std::string(254, 'x'), "before"},
        {"254 characters are kept whole", 1, std::string(254, 'y'), "before", std::string(254, 'y')},
        {"255 characters lose the last", 1, std::string(254, 'z') + "!", "before", std::string(254, 'z')},
        {"code page 932 text as bytes", 1, statusPleaseText, "before", statusPleaseText},
        {"empty text empties the line", 0, "", "", "before"},
        {"index 2 is ignored", 2, "new", "before", "before"},
        {"index -1 is ignored", -1, "new", "before", "before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(statusLines, '#', sizeof statusLines); // the bytes past the text must not matter
        std::strcpy(statusLines[0], "before");
        std::strcpy(statusLines[1], "before");
        statusLines[0][statusLineSize - 1] = statusLines[1][statusLineSize - 1] = '\0';
        SetStatusLine(c.index, c.text.c_str());
        EXPECT_EQ(std::string(statusLines[0]), c.line0);
        EXPECT_EQ(std::string(statusLines[1]), c.line1);
        EXPECT_EQ(statusLines[0][statusLineSize - 1], '\0');
        EXPECT_EQ(statusLines[1][statusLineSize - 1], '\0');
    }
}

TEST(StatusLine, TextsAreTheCodePage932Bytes)
{
    EXPECT_EQ(std::string(mainWindowTitle), "DLS\x81\xA8" "MML\x95\xCF\x8A\xB7\x20Ver.1.01");
    EXPECT_EQ(std::strlen(mainWindowTitle), 21u);
    EXPECT_EQ(std::strlen(statusDropText), 25u);
    EXPECT_EQ(std::strlen(statusPleaseText), 6u);
}

} // namespace
} // namespace dls2mml
