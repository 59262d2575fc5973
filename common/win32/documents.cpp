#include "documents.h"

#include <windows.h>
#include <shlobj.h>

#include "text.h"

namespace corva::win {

std::string DefaultSaveDirectory() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) {
    return {};
  }
  return Narrow(path);
}

}  // namespace corva::win
