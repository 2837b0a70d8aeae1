// The window program's entry, window procedure, message loop and drop handler.
#include "shell/window/main_window.h"

#include <cstring>
#include <string>

#include "shell/conversion_job.h"

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

void revealInFileManager(const char* documentPath)
{
    // Held in a string, so no document path is ever cut; the file manager's
    // answer is not examined. Started by its full path: a bare "explorer"
    // would be looked for in the current folder first, which for a program
    // started from the shell is the program's own folder (a download folder,
    // say), where anyone could have left a program of that name.
    char windowsFolder[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(windowsFolder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    std::string fileManager(windowsFolder, length);
    if (fileManager.back() != '\\') fileManager += '\\';
    fileManager += "explorer.exe";
    std::string parameters = "/select,\"";
    parameters += documentPath;
    parameters += '"';
    ShellExecuteA(mainWindow, nullptr, fileManager.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

bool ansiDropPath(const std::wstring& widePath, std::string& ansiPath)
{
    ansiPath.clear();
    if (widePath.empty()) return false;
    const int wideLength = static_cast<int>(widePath.size());
    // Without best fit, a character the code page lacks becomes the default
    // character and is reported: such a path (cafe.dls for a dropped café.dls)
    // would name another file, so it is not taken.
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, widePath.data(), wideLength, nullptr, 0,
                                           nullptr, &usedDefault);
    if (length <= 0 || usedDefault) return false;
    // The document's path (one character changed, ".mml" appended) must fit
    // the ANSI calls too, or the whole conversion would be lost at the end.
    if (static_cast<std::size_t>(length) + 4 > longestDocumentPath) return false;
    ansiPath.resize(static_cast<std::size_t>(length));
    usedDefault = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, widePath.data(), wideLength, ansiPath.data(), length,
                            nullptr, &usedDefault) != length || usedDefault) {
        ansiPath.clear();
        return false;
    }
    // A NUL inside would cut the path short in the ANSI calls.
    return ansiPath.find('\0') == std::string::npos;
}

void handleDroppedFiles(HDROP drop)
{
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0);
    for (UINT index = 0; index < count; ++index) {
        // The shell holds dropped paths as UTF-16; asking for the ANSI form
        // would let the system pick stand-ins for characters the code page
        // lacks. Any length is fetched whole, then judged by its ANSI form.
        const UINT wideLength = DragQueryFileW(drop, index, nullptr, 0);
        if (wideLength == 0) continue;
        std::wstring widePath(wideLength + 1, L'\0');
        if (DragQueryFileW(drop, index, widePath.data(), wideLength + 1) != wideLength) continue;
        widePath.resize(wideLength);
        std::string ansiPath;
        if (!ansiDropPath(widePath, ansiPath)) continue;
        const UINT length = static_cast<UINT>(ansiPath.size());
        char path[MAX_PATH];
        char lowerPath[MAX_PATH];
        std::memcpy(path, ansiPath.c_str(), length + 1);
        std::memcpy(lowerPath, path, length + 1);
        // Lower-cases through the ANSI code page, so double-byte characters
        // stay whole and every byte keeps its position.
        CharLowerBuffA(lowerPath, length);
        // '.' is never the second byte of a double-byte character, so a byte
        // search finds only a real ".dls".
        if (std::strstr(lowerPath, ".dls") != nullptr) ConvertDlsFile(path, lowerPath);
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
