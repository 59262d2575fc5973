// Corvaset: edits Corvamon.ini, finds the UPS and sets Corvamon to start at log-on.

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "settings_window.h"
#include "text.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);
  // The folder dialog and the shortcut objects need a single-threaded apartment.
  const HRESULT com = ::OleInitialize(nullptr);

  int exit_code = 1;
  {
    auto window = corva::config::win::SettingsWindow::Create(instance, corva::win::ProgramDirectory());
    if (window) {
      window->Show(show_command);
      MSG msg{};
      BOOL got;
      while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) break;
        if (!::IsDialogMessageW(window->hwnd(), &msg)) {
          ::TranslateMessage(&msg);
          ::DispatchMessageW(&msg);
        }
      }
      exit_code = static_cast<int>(msg.wParam);
    }
  }
  if (SUCCEEDED(com)) ::OleUninitialize();
  return exit_code;
}
