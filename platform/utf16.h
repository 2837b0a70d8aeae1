// UTF-8 and UTF-16, converted both ways. On Windows the program keeps every
// path and name as UTF-8 and turns it into UTF-16 only at the system's wide
// calls, so the portable code never sees wide strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dls2mml {

// UTF-16 to UTF-8. A surrogate that belongs to no pair (Windows file names
// may hold one) is written as the three bytes of its own code point (ED A0 80
// to ED BF BF), so that the name converts back to itself.
std::string utf8FromUtf16(std::u16string_view text);

// UTF-8 to UTF-16, exactly: false (and out empty) for bytes that are not
// UTF-8: a stray continuation byte, a sequence cut short, an over-long form,
// a code point above U+10FFFF. The three-byte forms of surrogates that
// utf8FromUtf16 writes are taken back.
bool utf16FromUtf8(std::string_view text, std::u16string& out);

// UTF-8 to UTF-16 for showing: every byte that starts no well-formed sequence
// becomes U+FFFD, and so does every surrogate that belongs to no pair.
std::u16string utf16ForDisplay(std::string_view text);

// The same text as well-formed UTF-8 (utf16ForDisplay's replacements made).
std::string utf8ForDisplay(std::string_view text);

// The count of UTF-16 units the UTF-8 text converts to.
std::size_t utf16Length(std::string_view text);

} // namespace dls2mml
