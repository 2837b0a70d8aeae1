// The window's conversion of one dropped file, over the portable conversion
// job (no Windows calls here, so the suite runs it on every system): each drop
// is converted as one run of the command line would convert every file
// dropped since the program started, on every core, with the pivot state's
// owed draws kept in the process's ledger (shell/pivot_ledger.h).
#pragma once

namespace dls2mml {

// Called after a document was written completely (the window's file-manager
// reveal). None by default.
using RevealHook = void (*)(const char* documentPath);
void setRevealHook(RevealHook hook);

// Called now and then on ConvertDlsFile's thread while it works: after each
// block converted, scanned or read again (the window shows Windows it is
// alive). None by default.
using ProgressHook = void (*)();
void setProgressHook(ProgressHook hook);

// The window's entry: converts path silently; on success calls the reveal hook.
// path is the dropped path (UTF-8 on Windows, as every path the file calls
// take); lowerPath its lower-cased copy. A file that needs the pivot state
// after an earlier one changed or went away yields no document.
void ConvertDlsFile(char* path, const char* lowerPath);

} // namespace dls2mml
