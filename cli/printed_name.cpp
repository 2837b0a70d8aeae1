#include "cli/printed_name.h"

namespace dls2mml::cli {

std::string printedName(std::string_view name)
{
    constexpr char hex[] = "0123456789abcdef";
#ifdef _WIN32
    constexpr bool escapeBackslash = false;
#else
    constexpr bool escapeBackslash = true;
#endif
    std::string printed;
    printed.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\t': printed += "\\t"; continue;
        case '\n': printed += "\\n"; continue;
        case '\r': printed += "\\r"; continue;
        case '\\':
            printed += escapeBackslash ? "\\\\" : "\\";
            continue;
        default: break;
        }
        if (byte < 0x20 || byte == 0x7F) {
            printed += "\\x";
            printed += hex[byte >> 4];
            printed += hex[byte & 15];
        } else {
            printed += c;
        }
    }
    return printed;
}

} // namespace dls2mml::cli
