// console_event: starts a command line on this program's console, waits until
// a temporary (".dls2mml-*.tmp") shows in a folder, then sends the console a
// Ctrl-C, as a user's key press does, and writes the command's exit status.
//
//   console_event STATUS_FILE FOLDER PROGRAM [ARGUMENT...]
//
// Writes "0x%08lx" (the exit status) to STATUS_FILE and exits 0; exits 1,
// with a message, when the temporary never showed, the event could not be
// sent or the command did not end within 30 s. Control events travel through
// a console: under Wine, run it on a terminal (script -c ...).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// One argument as the C runtime splits a command line again.
std::string quoted(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

bool temporaryIn(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\.dls2mml-*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

// Keeps this process alive through the Ctrl-C it sends to its whole console.
BOOL WINAPI ignoreEvent(DWORD) { return TRUE; }

int fail(const char* what, HANDLE process)
{
    std::fprintf(stderr, "console_event: %s (error %lu)\n", what, GetLastError());
    if (process)
        TerminateProcess(process, 1);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fputs("usage: console_event STATUS_FILE FOLDER PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    const std::string folder = argv[2];
    std::string command;
    for (int i = 3; i < argc; ++i) {
        if (i > 3)
            command += ' ';
        command += quoted(argv[i]);
    }

    // Ctrl-C cannot be aimed at one process group: it reaches every process
    // of the console, this one included.
    SetConsoleCtrlHandler(ignoreEvent, TRUE);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return fail("cannot start the command", nullptr);
    CloseHandle(process.hThread);

    bool seen = false;
    for (int i = 0; i < 3000 && !seen; ++i) {
        if (WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0)
            break;
        seen = temporaryIn(folder);
    }
    if (!seen)
        return fail("no temporary showed while the command ran", process.hProcess);
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        return fail("cannot send Ctrl-C", process.hProcess);
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0)
        return fail("the command did not end after Ctrl-C", process.hProcess);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    FILE* out = std::fopen(argv[1], "w");
    if (!out)
        return fail("cannot write the status file", nullptr);
    std::fprintf(out, "0x%08lx\n", static_cast<unsigned long>(status));
    std::fclose(out);
    return 0;
}
