// Stand-in for the file manager in the window tests: appends where it was
// started from and the command line it was started with (UTF-8 of the wide
// forms, so every name shows exactly; one line: its own path, a tab, the
// command line) to the file named by DLS2MML_EXPLORER_LOG and exits. Built
// as a window program so that starting it opens no console.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace {

std::string utf8(const wchar_t* text, int length)
{
    if (length <= 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return "(not convertible)";
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    wchar_t log[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"DLS2MML_EXPLORER_LOG", log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    wchar_t self[MAX_PATH];
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string line = utf8(self, selfLength < MAX_PATH ? static_cast<int>(selfLength) : 0);
    line += '\t';
    const wchar_t* commandLine = GetCommandLineW();
    line += utf8(commandLine, lstrlenW(commandLine));
    line += '\n';
    // One append per start: several copies may run at once.
    const HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == line.size() ? 0 : 4;
}
