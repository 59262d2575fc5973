#pragma once
// One Corvamon per Windows session. A second copy (its shortcut clicked again while it runs)
// must not open the port, write the log or add a tray icon: it shows the running copy's window
// and ends.

#include <windows.h>

#include "unique_resource.h"

namespace corva::win {

class SingleInstance {
 public:
  // Takes the session's Corvamon mark. Answers through First() whether no other copy held it.
  SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  bool First() const { return first_; }

  // Brings the running copy's main window to the front, shown (also from the tray). Answers
  // whether a window was found; the running copy may still be making it.
  static bool ShowRunningCopy();

 private:
  unique_handle mark_;
  bool first_ = true;
};

}  // namespace corva::win
