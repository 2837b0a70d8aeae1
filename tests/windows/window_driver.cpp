// Drives the main window from another process in the window tests (run under
// Wine beside the program):
//   window_driver find [timeout ms]    waits for the window, prints its facts
//   window_driver drop HWND PATH...    drops the paths on it, returns when handled
//   window_driver key HWND VK          posts a key press
//   window_driver close HWND           posts WM_CLOSE
//   window_driver alive HWND           exit code 0 while the window exists
//   window_driver acp                  prints the ANSI code page
//   window_driver icon PROGRAM         prints the program's icon group 101
// Arguments are taken as wide text and turned into ANSI bytes, so a path
// reaches the window exactly as the shell would deliver it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The DROPFILES header as the shell lays it out (20 bytes), then the path list.
struct DropHeader {
    DWORD pFiles;
    POINT pt;
    BOOL fNC;
    BOOL fWide;
};
static_assert(sizeof(DropHeader) == 20);

bool toAnsi(const wchar_t* text, std::string& out)
{
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy) return false;
    out.resize(static_cast<std::size_t>(length));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, out.data(), length, nullptr, &lossy);
    out.pop_back(); // the terminator
    return !lossy;
}

HWND parseWindow(const std::string& text)
{
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(text.c_str(), nullptr, 10)));
}

std::string hex(const char* bytes, int length)
{
    std::string out;
    char digits[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, i ? " %02X" : "%02X", static_cast<unsigned char>(bytes[i]));
        out += digits;
    }
    return out;
}

int find(DWORD timeout)
{
    const DWORD start = GetTickCount();
    HWND window = nullptr;
    while ((window = FindWindowA("Main Window", nullptr)) == nullptr) {
        if (GetTickCount() - start > timeout) {
            std::printf("no window\n");
            return 1;
        }
        Sleep(20);
    }
    // Let start-up finish (status lines set, first paint done).
    Sleep(300);
    char text[512];
    std::printf("window %llu\n", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
    const int classLength = GetClassNameA(window, text, sizeof text);
    std::printf("class %.*s\n", classLength, text);
    const int titleLength = GetWindowTextA(window, text, sizeof text);
    std::printf("title %s\n", hex(text, titleLength).c_str());
    RECT outer{};
    GetWindowRect(window, &outer);
    std::printf("rect %ld %ld %ld %ld\n", outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top);
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    std::printf("client %ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
    std::printf("style %08lX\n", static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)));
    std::printf("exstyle %08lX\n", static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));
    std::printf("classstyle %08lX\n", static_cast<unsigned long>(GetClassLongA(window, GCL_STYLE)));
    std::printf("acceptfiles %d\n", (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) ? 1 : 0);
    std::printf("acp %u\n", GetACP());
    return 0;
}

// The icon group 101 of a program file, as "101: WxH N colours B bits, ...".
// (Another process's class icon cannot be read back, so the test reads the
// program's resources instead.)
int iconFacts(const std::string& program)
{
#pragma pack(push, 2)
    struct GroupHeader {
        WORD reserved;
        WORD type;
        WORD count;
    };
    struct GroupEntry {
        BYTE width;
        BYTE height;
        BYTE colorCount;
        BYTE reserved;
        WORD planes;
        WORD bitCount;
        DWORD bytesInRes;
        WORD id;
    };
#pragma pack(pop)
    const HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC resource = module ? FindResourceA(module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(14)) : nullptr;
    const HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const auto* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!bytes || SizeofResource(module, resource) < sizeof(GroupHeader)) {
        std::printf("no icon group 101\n");
        return 1;
    }
    GroupHeader header;
    std::memcpy(&header, bytes, sizeof header);
    if (SizeofResource(module, resource) < sizeof header + header.count * sizeof(GroupEntry)) {
        std::printf("icon group 101 cut short\n");
        return 1;
    }
    std::string facts = "101:";
    for (WORD i = 0; i < header.count; ++i) {
        GroupEntry entry;
        std::memcpy(&entry, bytes + sizeof header + i * sizeof entry, sizeof entry);
        const unsigned colours = entry.colorCount ? entry.colorCount : (entry.bitCount <= 8 ? 1u << entry.bitCount : 0u);
        char text[96];
        std::snprintf(text, sizeof text, "%s %ux%u %u colours %u bits", i ? "," : "", entry.width ? entry.width : 256u,
                      entry.height ? entry.height : 256u, colours, entry.bitCount);
        facts += text;
    }
    std::printf("%s\n", facts.c_str());
    return 0;
}

int drop(HWND window, const std::vector<std::string>& paths)
{
    // A drop handle is only valid inside the process that owns it, so the
    // DROPFILES block is written into the window's own process.
    std::string block(sizeof(DropHeader), '\0');
    DropHeader header{};
    header.pFiles = sizeof(DropHeader);
    header.fWide = FALSE;
    std::memcpy(block.data(), &header, sizeof header);
    for (const std::string& path : paths) {
        block += path;
        block += '\0';
    }
    block += '\0';

    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process) {
        std::printf("cannot open process\n");
        return 1;
    }
    void* remote = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    SIZE_T written = 0;
    if (!remote || !WriteProcessMemory(process, remote, block.data(), block.size(), &written) || written != block.size()) {
        std::printf("cannot write the drop\n");
        CloseHandle(process);
        return 1;
    }
    if (!PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0)) {
        std::printf("cannot post the drop\n");
        CloseHandle(process);
        return 1;
    }
    // The window polls its queue without pause, so the posted drop is taken
    // at once; a sent message is then answered only after the drop handler
    // (which converts every file) has returned.
    Sleep(200);
    DWORD_PTR result = 0;
    const LRESULT answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 300000, &result);
    CloseHandle(process);
    std::printf("dropped %zu%s\n", paths.size(), answered ? "" : " (no answer)");
    return answered ? 0 : 1;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        std::string arg;
        if (!toAnsi(wide[i], arg)) {
            std::printf("argument %d has no ANSI form\n", i);
            return 2;
        }
        args.push_back(arg);
    }
    LocalFree(wide);
    if (args.size() < 2) {
        std::printf("usage: window_driver find|drop|key|close|alive|acp ...\n");
        return 2;
    }
    const std::string& command = args[1];
    if (command == "find") return find(args.size() > 2 ? static_cast<DWORD>(std::strtoul(args[2].c_str(), nullptr, 10)) : 10000);
    if (command == "acp") {
        std::printf("%u\n", GetACP());
        return 0;
    }
    if (args.size() < 3) return 2;
    if (command == "icon") return iconFacts(args[2]);
    const HWND window = parseWindow(args[2]);
    if (command == "drop") return drop(window, std::vector<std::string>(args.begin() + 3, args.end()));
    if (command == "key" && args.size() > 3) {
        const WPARAM key = std::strtoul(args[3].c_str(), nullptr, 0);
        return PostMessageA(window, WM_KEYDOWN, key, 1) ? 0 : 1;
    }
    if (command == "close") return PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
    if (command == "alive") return IsWindow(window) ? 0 : 1;
    return 2;
}
