#pragma once
// `Corvamon.exe /informe`: the power report written to the user's temporary folder and opened
// in the default browser. It reads the history files (sharing them with a running Corvamon)
// and opens no port, log, tray icon, mutex or window of the monitor.

namespace corva::history::win {

// Whether the program's arguments (wWinMain's command line) ask for the report.
bool IsReportCommandLine(const wchar_t* arguments);

// Writes and opens the report; the program's exit code (0 once the page is written).
int RunReportCommand() noexcept;

}  // namespace corva::history::win
