#pragma once
// Corvaset's small services: viewing and emptying Corvamon's event log, choosing the folder for
// untitled Office documents, and the shortcut that starts Corvamon at log-on.

#include <windows.h>

#include <string>

namespace corva::config::win {

inline constexpr wchar_t kLogFileName[] = L"Bitacora.txt";
inline constexpr wchar_t kStartupLinkName[] = L"Corvamon.lnk";
inline constexpr wchar_t kMonitorExe[] = L"Corvamon.exe";
// The shortcut's window style: shown without taking the focus from what the user is doing.
inline constexpr int kStartupWindowStyle = 4;

// Whether a file of that full path is there.
bool FileExists(const std::wstring& path);

// cmdVerBita: the log in Notepad ("notepad.exe " and the unquoted path), or a box saying there
// is none. A Notepad that cannot be started is said in a box too.
void ViewLog(HWND owner, const std::wstring& program_folder);

// cmdDelBita: leaves an empty log, whether or not there was one. A log another program holds so
// that it can be neither deleted nor emptied is left as it is, and a box says so.
void EmptyLog(HWND owner, const std::wstring& program_folder);
// The same without any box: answers whether an empty log is there now.
bool EmptyLogFile(const std::wstring& program_folder);

// The folder dialog; "" when the user cancels or picks something that is not a folder on disk.
std::wstring BrowseFolder(HWND owner);

// Creates (when missing) or removes the shortcut "Corvamon.lnk" in the user's Startup folder,
// pointing at Corvamon.exe in `program_folder`. An existing link is never rewritten. Answers
// false when it could not do it (nothing is said: the close goes on).
bool UpdateStartupShortcut(bool create, const std::wstring& program_folder);

// The Startup folder with a trailing backslash ("" when the system cannot tell).
std::wstring StartupFolder();

}  // namespace corva::config::win
