#include "platform/text_output.h"

#include <cstdarg>
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <io.h>

#include "platform/utf16.h"
#endif

namespace dls2mml {
namespace {

#ifdef _WIN32
// The console behind stream, or null when it is redirected.
HANDLE consoleOf(std::FILE* stream)
{
    const int descriptor = _fileno(stream);
    if (descriptor < 0)
        return nullptr;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return nullptr;
    return handle;
}
#endif

} // namespace

void writeText(std::FILE* stream, std::string_view text)
{
#ifdef _WIN32
    if (const HANDLE console = consoleOf(stream)) {
        // What the C runtime still holds goes first, so the order stays.
        std::fflush(stream);
        const std::u16string wide = utf16ForDisplay(text);
        const auto* units = reinterpret_cast<const wchar_t*>(wide.data());
        std::size_t left = wide.size();
        while (left > 0) {
            DWORD written = 0;
            const DWORD request = static_cast<DWORD>(left < 8192 ? left : 8192);
            if (!WriteConsoleW(console, units, request, &written, nullptr) || written == 0)
                break;
            units += written;
            left -= written;
        }
        return;
    }
    const std::string bytes = utf8ForDisplay(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
#else
    std::fwrite(text.data(), 1, text.size(), stream);
#endif
}

void printText(std::FILE* stream, const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    if (length > 0) {
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<std::size_t>(length));
        writeText(stream, text);
    }
    va_end(again);
}

} // namespace dls2mml
