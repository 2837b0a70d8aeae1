// The window program's entry, window procedure, message loop and drop handler.
#include "shell/window/main_window.h"

#include <cstring>
#include <string>

#include "platform/utf16.h"
#include "shell/document/output_name.h"
#include "shell/window/window_job.h"

namespace dls2mml {
namespace {

// The message that carries drop data across processes (no name in the headers).
constexpr UINT copyGlobalData = 0x0049;

} // namespace

char statusLines[statusLineCount][statusLineSize];
HWND mainWindow = nullptr;

void SetStatusLine(int index, const char* text)
{
    if (index < 0 || index >= statusLineCount) return;
    // lstrcpynA counts the terminator: 255 keeps at most 254 characters.
    lstrcpynA(statusLines[index], text, statusLineMaxChars + 1);
    statusLines[index][statusLineSize - 1] = '\0';
    // Before the window exists there is nothing to repaint (a null window
    // would invalidate every window on the desktop).
    if (mainWindow != nullptr) InvalidateRect(mainWindow, nullptr, TRUE);
}

int OnIdle()
{
    return 1;
}

SIZE mainWindowSize()
{
    RECT frame{0, 0, mainClientWidth, mainClientHeight};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

void keepAlive()
{
    // Only posted messages are looked at and none is removed or dispatched,
    // so keys, clicks and further drops wait until the drop is done; the call
    // itself tells Windows the thread still reads its queue, so the window is
    // not replaced by a "not responding" ghost during a long conversion.
    // (Messages other programs send, such as a check that the window lives,
    // may be answered here, as during any look at the queue.)
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_POSTMESSAGE);
}

std::wstring revealParameters(const std::wstring& documentPath)
{
    return L"/select,\"" + documentPath + L"\"";
}

void revealInFileManager(const char* documentPath)
{
    // Held in strings, so no document path is ever cut; the file manager's
    // answer is not examined. Started by its full path: a bare "explorer"
    // would be looked for in the current folder first, which for a program
    // started from the shell is the program's own folder (a download folder,
    // say), where anyone could have left a program of that name.
    std::u16string document;
    if (!utf16FromUtf8(documentPath, document)) return;
    wchar_t windowsFolder[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windowsFolder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    std::wstring fileManager(windowsFolder, length);
    if (fileManager.back() != L'\\') fileManager += L'\\';
    fileManager += L"explorer.exe";
    const std::wstring parameters = revealParameters(std::wstring(document.begin(), document.end()));
    ShellExecuteW(mainWindow, nullptr, fileManager.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

bool jobPathsForDrop(const std::wstring& widePath, std::string& path, std::string& lowerPath)
{
    path.clear();
    lowerPath.clear();
    if (widePath.empty() || widePath.find(L'\0') != std::wstring::npos) return false;
    // Exact both ways, even for a name with a surrogate that has no pair.
    std::string utf8 = utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(widePath.data()), widePath.size()));
    // The name rule's own test: the first ".dls" with only the ASCII letters
    // folded. ".dls" is ASCII, and no other character may count as one of its
    // letters (a full-width D is not a D), so folding keeps every byte in its
    // place, needs no locale, and the window and the command line name a
    // bank's document alike; the system's lower-casing (CharLowerBuffW) would
    // find the same ".dls", but through tables that vary with the system.
    std::string lower = lowerAscii(utf8);
    if (!findDlsMark(lower)) return false;
    // The document's path is four units longer (".mml"). Longer paths are
    // skipped as before: a path cut short would name another file, and the
    // file manager is not to be asked to show one it may not reach.
    if (widePath.size() + 4 > longestDocumentPath) return false;
    path = std::move(utf8);
    lowerPath = std::move(lower);
    return true;
}

void handleDroppedFiles(HDROP drop)
{
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0);
    for (UINT index = 0; index < count; ++index) {
        // The shell holds dropped paths as UTF-16; any length is fetched
        // whole, then judged.
        const UINT wideLength = DragQueryFileW(drop, index, nullptr, 0);
        if (wideLength == 0) continue;
        std::wstring widePath(wideLength + 1, L'\0');
        if (DragQueryFileW(drop, index, widePath.data(), wideLength + 1) != wideLength) continue;
        widePath.resize(wideLength);
        std::string path;
        std::string lowerPath;
        if (!jobPathsForDrop(widePath, path, lowerPath)) continue;
        ConvertDlsFile(path.data(), lowerPath.c_str());
    }
    DragFinish(drop);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        DragAcceptFiles(window, TRUE);
        // Run as administrator, the window would otherwise not hear drops
        // from the user's ordinary shell: the system filters these messages
        // out between integrity levels (0x0049 carries the dropped data).
        ChangeWindowMessageFilterEx(window, WM_DROPFILES, MSGFLT_ALLOW, nullptr);
        ChangeWindowMessageFilterEx(window, WM_COPYDATA, MSGFLT_ALLOW, nullptr);
        ChangeWindowMessageFilterEx(window, copyGlobalData, MSGFLT_ALLOW, nullptr);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        // The device context's own font, colours and background mode are used.
        for (int line = 0; line < statusLineCount; ++line) {
            if (statusLines[line][0] != '\0') {
                TextOutA(dc, 24, 2 + 16 * line, statusLines[line], lstrlenA(statusLines[line]));
            }
        }
        EndPaint(window, &paint);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_KEYDOWN:
        // Escape and F12 close the window; every other key is swallowed.
        if (wParam == VK_ESCAPE || wParam == VK_F12) DestroyWindow(window);
        return 0;
    case WM_DROPFILES:
        handleDroppedFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace dls2mml

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previousInstance*/, LPSTR /*commandLine*/, int showCommand)
{
    using namespace dls2mml;
    statusLines[0][0] = '\0';
    statusLines[1][0] = '\0';
    setRevealHook(&revealInFileManager);
    setProgressHook(&keepAlive);

    WNDCLASSA windowClass{};
    windowClass.style = CS_BYTEALIGNCLIENT | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(iconResource));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = mainWindowClass;
    if (RegisterClassA(&windowClass) == 0) return 0;

    // Sized from the client area the lines need, so no frame eats into it.
    const SIZE outer = mainWindowSize();
    mainWindow = CreateWindowExA(0, mainWindowClass, mainWindowTitle, WS_OVERLAPPEDWINDOW,
                                 mainWindowX, mainWindowY, outer.cx, outer.cy,
                                 nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr) return 0;
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    SetStatusLine(0, statusDropText);
    SetStatusLine(1, statusPleaseText);

    // The queue is emptied, then the idle hook runs and the thread sleeps
    // until the next message arrives.
    MSG message;
    for (;;) {
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                OnIdle();
                return static_cast<int>(message.wParam);
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        } else {
            OnIdle();
            WaitMessage();
        }
    }
}
