// Stand-in for the file manager in the window tests: appends where it was
// started from and the command line it was started with (ANSI bytes, one
// line: its own path, a tab, the command line) to the file named by
// DLS2MML_EXPLORER_LOG and exits. Built as a window program so that starting
// it opens no console.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char log[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("DLS2MML_EXPLORER_LOG", log, sizeof log);
    if (length == 0 || length >= sizeof log) return 2;
    char self[MAX_PATH];
    const DWORD selfLength = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string line(self, selfLength < sizeof self ? selfLength : 0);
    line += '\t';
    line += GetCommandLineA();
    line += '\n';
    // One append per start: several copies may run at once.
    const HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == line.size() ? 0 : 4;
}
