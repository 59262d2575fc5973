#pragma once
// frm_localizador on Windows: a small tool window that runs the locator over a real serial
// port, shown modally over the configuration window.

#include <windows.h>

#include "settings_form.h"

namespace corva::config::win {

// Creates the locator, shows it modally with `owner` disabled, and answers what it found once
// it has closed (by itself after the scan, or by the user).
LocatorResult RunLocator(HINSTANCE instance, HWND owner);

// GetDefaultCommConfig answers for COMn.
bool ComPortExists(int port);

}  // namespace corva::config::win
