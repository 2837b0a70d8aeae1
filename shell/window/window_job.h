// The window's conversion of one dropped file, over the portable conversion
// job (no Windows calls here, so the suite runs it on every system): each drop
// is converted as one run of the command line would convert every file
// dropped since the program started, on every core, with the pivot state's
// owed draws kept in the process's ledger (shell/pivot_ledger.h).
#pragma once

#include <chrono>

namespace dls2mml {

// Called after a document was written completely (the window's file-manager
// reveal), on ConvertDlsFile's thread. None by default.
using RevealHook = void (*)(const char* documentPath);
void setRevealHook(RevealHook hook);

// Called now and then on ConvertDlsFile's thread while it converts (the
// window shows Windows it is alive). With a hook set the conversion runs on a
// thread of its own, and the caller waits for it in steps of at most
// aliveInterval, calling the hook after each: reading a slow pipe, waiting
// for the cores or writing the document never keeps the caller from its
// queue for longer. Where no thread can be started the conversion runs on the
// caller's thread and the hook is called after each block converted, scanned
// or read again. None by default (the conversion then runs on the caller's
// thread).
using ProgressHook = void (*)();
void setProgressHook(ProgressHook hook);
inline constexpr std::chrono::milliseconds aliveInterval{100};

// The window's entry: converts path silently; on success calls the reveal hook.
// path is the dropped path (UTF-8 on Windows, as every path the file calls
// take); lowerPath its lower-cased copy. A file that needs the pivot state
// after an earlier one changed or went away yields no document.
void ConvertDlsFile(char* path, const char* lowerPath);

} // namespace dls2mml
