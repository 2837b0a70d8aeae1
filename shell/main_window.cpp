// The window program's entry, window procedure, message loop and drop handler.
#include "shell/main_window.h"

#include <cstring>
#include <string>

#include "shell/conversion_job.h"

namespace dls2mml {

char statusLines[statusLineCount][statusLineSize];
HINSTANCE moduleInstance = nullptr;
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

void RevealInFileManager(const char* documentPath)
{
    // Held in a string, so no document path is ever cut; the file manager's
    // answer is not examined.
    std::string parameters = "/select,\"";
    parameters += documentPath;
    parameters += '"';
    ShellExecuteA(mainWindow, nullptr, "explorer", parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

void HandleDroppedFiles(HDROP drop)
{
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFFu, nullptr, 0);
    for (UINT index = 0; index < count; ++index) {
        // Ask for the length first: a path that does not fit the buffer the
        // ANSI file calls accept is skipped, never converted cut short (a cut
        // path could name another file, or a document under a wrong name).
        const UINT length = DragQueryFileA(drop, index, nullptr, 0);
        if (length == 0 || length >= MAX_PATH) continue;
        char path[MAX_PATH];
        char lowerPath[MAX_PATH];
        if (DragQueryFileA(drop, index, path, MAX_PATH) != length) continue;
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
        HandleDroppedFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace dls2mml

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previousInstance*/, LPSTR /*commandLine*/, int showCommand)
{
    using namespace dls2mml;
    moduleInstance = instance;
    statusLines[0][0] = '\0';
    statusLines[1][0] = '\0';
    SetRevealHook(&RevealInFileManager);

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

    mainWindow = CreateWindowExA(0, mainWindowClass, mainWindowTitle, WS_OVERLAPPEDWINDOW,
                                 mainWindowX, mainWindowY, mainWindowWidth, mainWindowHeight,
                                 nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr) return 0;
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    SetStatusLine(0, statusDropText);
    SetStatusLine(1, statusPleaseText);

    // Polls without waiting: the queue is emptied, then the idle hook runs and
    // the queue is polled again at once.
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
        }
    }
}
