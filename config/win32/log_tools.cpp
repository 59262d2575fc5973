#include "log_tools.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "text.h"
#include "unique_resource.h"

namespace corva::config::win {

using corva::win::com_ptr;
using corva::win::unique_file;
using corva::win::unique_variant;

namespace {


constexpr wchar_t kLogMissingText[] = L"No exite un archivo de Bit\u00E1cora";
constexpr wchar_t kLogTitle[] = L"Archivo de Bit\u00E1cora";
constexpr wchar_t kLogBusyText[] =
    L"No se pudo vaciar el archivo de Bit\u00E1cora: otro programa lo tiene abierto. "
    L"Ci\u00E9rrelo e intente de nuevo.";
constexpr wchar_t kNotepadFailedText[] = L"No se pudo abrir el Bloc de notas.";
constexpr wchar_t kBrowseTitle[] = L"Selecciona el Subdirectorio que quieras";

std::wstring LogPath(const std::wstring& folder) { return folder + L"\\" + kLogFileName; }

// The Startup folder is the one the shell names (StartupFolder, CSIDL_STARTUP), not
// WScript.Shell's SpecialFolders("Startup"), which some systems cannot answer. The link itself
// is made with WScript.Shell's CreateShortcut where Windows Script Host is there (it can be
// switched off by policy), and with the shell's own link object otherwise: the same link.
class Dispatch {
 public:
  explicit Dispatch(IDispatch* object) : object_(object) {}
  // Calls a property get or method by name; VT_EMPTY when it fails.
  bool Call(const wchar_t* name, WORD kind, VARIANT* args, UINT count, VARIANT* result) {
    if (!object_) return false;
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return false;
    DISPPARAMS params{args, nullptr, count, 0};
    DISPID put = DISPID_PROPERTYPUT;
    if (kind == DISPATCH_PROPERTYPUT) {
      params.rgdispidNamedArgs = &put;
      params.cNamedArgs = 1;
    }
    return SUCCEEDED(object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result,
                                     nullptr, nullptr));
  }
  bool Put(const wchar_t* name, VARIANT value) {
    return Call(name, DISPATCH_PROPERTYPUT, &value, 1, nullptr);
  }

 private:
  IDispatch* object_;
};

// A text VARIANT for an automation call.
void SetText(unique_variant& v, const std::wstring& text) {
  v.reset();
  v.vt = VT_BSTR;
  v.bstrVal = ::SysAllocString(text.c_str());
}

bool CreateWithScriptHost(const std::wstring& link, const std::wstring& target,
                          const std::wstring& startup) {
  CLSID clsid{};
  if (FAILED(::CLSIDFromProgID(L"WScript.Shell", &clsid))) return false;
  com_ptr<IDispatch> shell;
  if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IDispatch, shell.put_void()))) {
    return false;
  }
  unique_variant path, shortcut;
  SetText(path, link);
  if (!Dispatch(shell.get()).Call(L"CreateShortcut", DISPATCH_METHOD, &path, 1, &shortcut) ||
      shortcut.vt != VT_DISPATCH) {
    return false;
  }
  Dispatch object(shortcut.pdispVal);
  unique_variant style, target_text, startup_text;
  style.vt = VT_I4;
  style.lVal = kStartupWindowStyle;
  SetText(target_text, target);
  SetText(startup_text, startup);
  return object.Put(L"TargetPath", target_text) && object.Put(L"WorkingDirectory", startup_text) &&
         object.Put(L"WindowStyle", style) && object.Put(L"IconLocation", target_text) &&
         object.Call(L"Save", DISPATCH_METHOD, nullptr, 0, nullptr);
}

bool CreateWithShellLink(const std::wstring& link, const std::wstring& target,
                         const std::wstring& startup) {
  com_ptr<IShellLinkW> shell_link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                shell_link.put_void()))) {
    return false;
  }
  const com_ptr<IPersistFile> file = shell_link.query<IPersistFile>();
  return SUCCEEDED(shell_link->SetPath(target.c_str())) &&
         SUCCEEDED(shell_link->SetWorkingDirectory(startup.c_str())) &&
         SUCCEEDED(shell_link->SetShowCmd(kStartupWindowStyle)) &&
         SUCCEEDED(shell_link->SetIconLocation(target.c_str(), 0)) && file &&
         SUCCEEDED(file->Save(link.c_str(), TRUE));
}

}  // namespace

bool FileExists(const std::wstring& path) {
  WIN32_FIND_DATAW found{};
  const HANDLE find = ::FindFirstFileW(path.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  ::FindClose(find);
  return found.cFileName[0] != L'\0';
}

void ViewLog(HWND owner, const std::wstring& program_folder) {
  const std::wstring path = LogPath(program_folder);
  if (!FileExists(path)) {
    ::MessageBoxW(owner, kLogMissingText, kLogTitle, MB_OK | MB_ICONINFORMATION);
    return;
  }
  std::wstring command = L"notepad.exe " + path;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ::MessageBoxW(owner, kNotepadFailedText, kLogTitle, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

bool EmptyLogFile(const std::wstring& program_folder) {
  const std::wstring path = LogPath(program_folder);
  if (FileExists(path)) ::DeleteFileW(path.c_str());
  // Deleted, or never there: an empty one. Still there (another program holds it without
  // letting it be deleted): emptied in place, if it lets us write.
  const DWORD disposition = FileExists(path) ? TRUNCATE_EXISTING : CREATE_NEW;
  unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(file.get(), &size) && size.QuadPart == 0;
}

void EmptyLog(HWND owner, const std::wstring& program_folder) {
  if (!EmptyLogFile(program_folder)) {
    ::MessageBoxW(owner, kLogBusyText, kLogTitle, MB_OK | MB_ICONEXCLAMATION);
  }
}

std::wstring BrowseFolder(HWND owner) {
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = kBrowseTitle;
  PIDLIST_ABSOLUTE items = ::SHBrowseForFolderW(&info);
  wchar_t path[MAX_PATH] = {};
  const bool ok = items != nullptr && ::SHGetPathFromIDListW(items, path);
  ::CoTaskMemFree(items);
  return ok ? std::wstring(path) : std::wstring();
}

std::wstring StartupFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (::SHGetFolderPathW(nullptr, CSIDL_STARTUP | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                         folder) != S_OK) {
    return {};
  }
  std::wstring result = folder;
  if (!result.empty() && result.back() != L'\\') result += L'\\';
  return result;
}

bool UpdateStartupShortcut(bool create, const std::wstring& program_folder) {
  const std::wstring startup = StartupFolder();
  if (startup.empty()) return false;
  const std::wstring link = startup + kStartupLinkName;
  const std::wstring target = program_folder + L"\\" + kMonitorExe;
  const bool exists = FileExists(link);
  if (create && !exists) {
    return CreateWithScriptHost(link, target, startup) || CreateWithShellLink(link, target, startup);
  }
  if (!create && exists) return ::DeleteFileW(link.c_str()) != FALSE;
  return true;
}

}  // namespace corva::config::win
