#include "documents.h"

#include <windows.h>
#include <shlobj.h>

#include "settings_rules.h"
#include "text.h"

namespace corva::win {

std::string DefaultSaveDirectory() {
  wchar_t path[MAX_PATH] = {};
  if (::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) {
    return SaveDirectoryFrom(std::nullopt);
  }
  return SaveDirectoryFrom(Narrow(path));
}

}  // namespace corva::win
