// The window program: one small window with two fixed status lines that
// accepts dropped files and converts every path containing ".dls".
//
// All user-visible text is 8-bit text in code page 932; every window and text
// call is the "A" variant. Dropped paths are not text for the user: they are
// fetched as UTF-16 (as the shell holds them), handed to the conversion job as
// UTF-8 and opened, written and shown in the file manager through the wide
// calls, so any file the user sees converts whatever the ANSI code page.
// WinMain itself sits in main_window.cpp.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <string_view>

namespace dls2mml {

inline constexpr int statusLineCount = 2;
inline constexpr int statusLineSize = 256;   // bytes per line, the last always NUL
inline constexpr int statusLineMaxChars = 254;

// Class name, title and status texts as code page 932 bytes (escapes split
// where a hex digit follows so the source encoding never matters).
inline constexpr char mainWindowClass[] = "Main Window";
// "DLS→MML変換 Ver.1.01"
inline constexpr char mainWindowTitle[] = "DLS\x81\xA8" "MML\x95\xCF\x8A\xB7 Ver.1.01";
// "DLSファイルをドロップして"
inline constexpr char statusDropText[] =
    "DLS\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x68\x83\x8D\x83\x62\x83\x76\x82\xB5\x82\xC4";
// "下さい"
inline constexpr char statusPleaseText[] = "\x89\xBA\x82\xB3\x82\xA2";

inline constexpr int mainWindowX = 0;
inline constexpr int mainWindowY = 200;
// The client area the two lines are laid out in. The outer size follows from
// the system's frame metrics: 264 x 64 with the classic ones, about 272 x 76
// with those of Windows 10 and 11.
inline constexpr int mainClientWidth = 256;
inline constexpr int mainClientHeight = 37;
// The longest path any conversion writes, the document's, in UTF-16 units
// (as the system counts path lengths). Longer ones are skipped, not cut.
inline constexpr std::size_t longestDocumentPath = 255;
inline constexpr int iconResource = 101;

// The two lines drawn by WM_PAINT; an empty line (first byte NUL) is not drawn.
extern char statusLines[statusLineCount][statusLineSize];
extern HWND mainWindow;

// Copies at most 254 characters of text into line index (0 or 1) and repaints
// the whole client area; any other index is ignored.
void SetStatusLine(int index, const char* text);
// The message loop's idle hook: does nothing, returns 1.
int OnIdle();
// The window's outer size for the fixed client area, from the frame metrics.
SIZE mainWindowSize();
// Whether the window converts one dropped path, and if so the path as UTF-8
// and its lower-cased copy, as the conversion job takes them. Skipped: paths
// without ".dls", paths whose document would be longer than
// longestDocumentPath, paths holding a NUL.
bool jobPathsForDrop(const std::wstring& widePath, std::string& path, std::string& lowerPath);
// The parameters that ask the file manager to show a document selected.
std::wstring revealParameters(const std::wstring& documentPath);
// Called every tenth of a second while a drop is converted on a thread of its
// own (after each block where none could be started): looks at the queue
// (removing and dispatching nothing) so that Windows sees the window alive.
void keepAlive();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// WM_DROPFILES: converts each dropped path containing ".dls", in order.
void handleDroppedFiles(HDROP drop);
// After a document was written: opens the file manager with it selected
// (documentPath is UTF-8, as the conversion job holds it).
void revealInFileManager(const char* documentPath);

} // namespace dls2mml
