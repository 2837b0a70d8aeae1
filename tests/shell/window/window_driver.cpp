// Drives the main window from another process in the window tests (run under
// Wine beside the program):
//   window_driver find [timeout ms]    waits for the window, prints its facts
//   window_driver drop HWND PATH...    drops the paths on it, returns when handled
//   window_driver dropw HWND PATH...   the same as UTF-16 paths (fWide), as the shell drops
//   window_driver watch HWND MS        counts the samples (every 100 ms) in which
//                                      the system takes the window for hung
//   window_driver key HWND VK          posts a key press
//   window_driver close HWND           posts WM_CLOSE
//   window_driver alive HWND           exit code 0 while the window exists
//   window_driver acp                  prints the ANSI code page
//   window_driver icon PROGRAM         prints the program's icon group 101
// Arguments are taken as wide text; for every command but dropw they are
// turned into exact ANSI bytes, so a path reaches the window exactly as the
// shell would deliver it.
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

// The transparency mask of one icon image (a device-independent bitmap whose
// height counts the colour rows and the mask rows): "N transparent" and
// whether the four corners are among them, or why it cannot be read.
std::string maskFacts(HMODULE module, WORD id)
{
    const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));
    const HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const auto* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    const DWORD size = resource ? SizeofResource(module, resource) : 0;
    BITMAPINFOHEADER info{};
    if (!bytes || size < sizeof info) return "no image";
    std::memcpy(&info, bytes, sizeof info);
    const long width = info.biWidth;
    const long height = info.biHeight / 2;
    if (width <= 0 || height <= 0 || info.biBitCount == 0 || info.biBitCount > 32) return "bad image";
    const std::size_t colours = info.biBitCount <= 8 ? (info.biClrUsed ? info.biClrUsed : 1u << info.biBitCount) : 0;
    const std::size_t colourRow = ((static_cast<std::size_t>(width) * info.biBitCount + 31) / 32) * 4;
    const std::size_t maskRow = ((static_cast<std::size_t>(width) + 31) / 32) * 4;
    const std::size_t maskStart = info.biSize + colours * 4 + colourRow * static_cast<std::size_t>(height);
    if (maskStart + maskRow * static_cast<std::size_t>(height) > size) return "no mask";
    const auto transparent = [&](long x, long y) { // y from the top; rows are stored bottom up
        const BYTE* row = bytes + maskStart + maskRow * static_cast<std::size_t>(height - 1 - y);
        return (row[x / 8] >> (7 - x % 8)) & 1;
    };
    unsigned count = 0;
    for (long y = 0; y < height; ++y)
        for (long x = 0; x < width; ++x) count += transparent(x, y);
    const bool corners = transparent(0, 0) && transparent(width - 1, 0) && transparent(0, height - 1) &&
                         transparent(width - 1, height - 1);
    const bool centre = !transparent(width / 2, height / 2);
    return std::to_string(count) + " transparent" + (corners ? ", corners" : "") + (centre ? ", centre opaque" : "");
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
    std::string masks = "mask:";
    for (WORD i = 0; i < header.count; ++i) {
        GroupEntry entry;
        std::memcpy(&entry, bytes + sizeof header + i * sizeof entry, sizeof entry);
        const unsigned colours = entry.colorCount ? entry.colorCount : (entry.bitCount <= 8 ? 1u << entry.bitCount : 0u);
        char text[96];
        std::snprintf(text, sizeof text, "%s %ux%u %u colours %u bits", i ? "," : "", entry.width ? entry.width : 256u,
                      entry.height ? entry.height : 256u, colours, entry.bitCount);
        facts += text;
        masks += (i ? ", " : " ") + maskFacts(module, entry.id);
    }
    std::printf("%s\n%s\n", facts.c_str(), masks.c_str());
    return 0;
}

// The DROPFILES block (header, then the NUL-ended paths and one more NUL) as
// the shell lays it out, in ANSI or UTF-16 characters.
template <class Char>
std::string dropBlock(const std::vector<std::basic_string<Char>>& paths)
{
    DropHeader header{};
    header.pFiles = sizeof(DropHeader);
    header.fWide = sizeof(Char) == 2 ? TRUE : FALSE;
    std::basic_string<Char> list;
    for (const auto& path : paths) {
        list += path;
        list += Char(0);
    }
    list += Char(0);
    std::string block(sizeof header + list.size() * sizeof(Char), '\0');
    std::memcpy(block.data(), &header, sizeof header);
    std::memcpy(block.data() + sizeof header, list.data(), list.size() * sizeof(Char));
    return block;
}

int drop(HWND window, const std::string& block, std::size_t count, bool wide)
{
    // A drop handle is only valid inside the process that owns it, so the
    // DROPFILES block is written into the window's own process.
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
    const BOOL posted = wide ? PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0)
                             : PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
    if (!posted) {
        std::printf("cannot post the drop\n");
        CloseHandle(process);
        return 1;
    }
    // The posted drop is taken as soon as the window wakes; a sent message is
    // then answered when the window next looks at its queue, which it does
    // every tenth of a second while it converts: a long drop's end is told
    // by its file-manager start instead.
    Sleep(200);
    DWORD_PTR result = 0;
    const LRESULT answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 300000, &result);
    CloseHandle(process);
    std::printf("dropped %zu%s\n", count, answered ? "" : " (no answer)");
    return answered ? 0 : 1;
}

// Samples the system's "not responding" verdict on the window for a while.
int watch(HWND window, DWORD milliseconds)
{
    unsigned samples = 0;
    unsigned hung = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds && IsWindow(window)) {
        ++samples;
        if (IsHungAppWindow(window)) ++hung;
        Sleep(100);
    }
    std::printf("hung %u of %u\n", hung, samples);
    return 0;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> wideArgs(wide, wide + count);
    LocalFree(wide);
    if (wideArgs.size() >= 3 && wideArgs[1] == L"dropw") {
        const HWND window = parseWindow(std::string(wideArgs[2].begin(), wideArgs[2].end()));
        const std::vector<std::wstring> paths(wideArgs.begin() + 3, wideArgs.end());
        return drop(window, dropBlock(paths), paths.size(), true);
    }
    std::vector<std::string> args;
    for (std::size_t i = 0; i < wideArgs.size(); ++i) {
        std::string arg;
        if (!toAnsi(wideArgs[i].c_str(), arg)) {
            std::printf("argument %zu has no ANSI form\n", i);
            return 2;
        }
        args.push_back(arg);
    }
    if (args.size() < 2) {
        std::printf("usage: window_driver find|drop|dropw|watch|key|close|alive|acp|icon ...\n");
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
    if (command == "drop") {
        const std::vector<std::string> paths(args.begin() + 3, args.end());
        return drop(window, dropBlock(paths), paths.size(), false);
    }
    if (command == "watch" && args.size() > 3) return watch(window, static_cast<DWORD>(std::strtoul(args[3].c_str(), nullptr, 10)));
    if (command == "key" && args.size() > 3) {
        const WPARAM key = std::strtoul(args[3].c_str(), nullptr, 0);
        return PostMessageA(window, WM_KEYDOWN, key, 1) ? 0 : 1;
    }
    if (command == "close") return PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
    if (command == "alive") return IsWindow(window) ? 0 : 1;
    return 2;
}
