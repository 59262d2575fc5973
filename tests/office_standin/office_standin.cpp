// office_standin: Word, Excel, PowerPoint and Publisher as far as the monitor's saving sees
// them. For the tests only.
//
//   office_standin.exe SETUP JOURNAL
//
// SETUP holds one document per line, fields separated by tabs:
//   application  instance  name  full-name  [member that never returns]
// (application is Word, Excel, PowerPoint or Publisher; instance a number, so that one
// application can run twice; a full name equal to the name is a document never saved), or
//   application  instance                  an instance with no documents, or
//   busy  application  instance  MS        that instance turns every call away as busy for MS
//                                          milliseconds from its first call (RPC_E_SERVERCALL_
//                                          RETRYLATER and RPC_E_CALL_REJECTED in turn), then
//                                          answers, or
//   hung-owner  TITLE                      a main window titled TITLE with an owned dialog, on a
//                                          thread of its own that stops answering for good when
//                                          its dialog gets WM_CLOSE (journalled as "hung").
// Each instance gets a visible main window whose title holds the application's keyword, with
// an owned dialog, and an application object in the running-object table under its class's
// CLSID. The ProgIDs are registered under HKLM\Software\Classes. Every call, WM_CLOSE and key
// is journalled as "EPOCH_MS INSTANCE WHAT" (UTF-8); "ready" follows the start-up. Save and
// SaveAs write a real file. When the last instance quits, the program ends.

#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "text.h"
#include "unique_resource.h"

using corva::win::Narrow;
using corva::win::Widen;

namespace {

struct AppKind {
  const wchar_t* name;
  const wchar_t* prog_id;
  CLSID clsid;
  const wchar_t* collection;
  const wchar_t* title;  // of the main window; %s is the first document
};

// Fixed class ids of the stand-in (not Office's own).
const AppKind kApps[] = {
    {L"Word", L"Word.Application",
     {0x6c1f0a01, 0x4b1e, 0x4d2a, {0x9a, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
     L"Documents", L"%s - Microsoft Word"},
    {L"Excel", L"Excel.Application",
     {0x6c1f0a01, 0x4b1e, 0x4d2a, {0x9a, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}},
     L"WorkBooks", L"Microsoft Excel - %s"},
    {L"PowerPoint", L"PowerPoint.Application",
     {0x6c1f0a01, 0x4b1e, 0x4d2a, {0x9a, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}},
     L"Presentations", L"Microsoft PowerPoint - [%s]"},
    {L"Publisher", L"Publisher.Application",
     {0x6c1f0a01, 0x4b1e, 0x4d2a, {0x9a, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04}},
     L"Documents", L"%s - Microsoft Publisher"},
};

std::wstring g_journal_path;
int g_instances_left = 0;

void Journal(const std::wstring& who, const std::wstring& what) {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  const unsigned long long t100 =
      (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  const unsigned long long epoch_ms = (t100 - 116444736000000000ull) / 10000;
  std::ofstream out(g_journal_path.c_str(), std::ios::app | std::ios::binary);
  out << epoch_ms << " " << Narrow(who) << " " << Narrow(what) << "\n";
}

std::wstring ArgText(const VARIANT& v) {
  corva::win::unique_variant text;
  if (SUCCEEDED(::VariantChangeType(text.put(), const_cast<VARIANT*>(&v), 0, VT_BSTR)) &&
      text.get().bstrVal) {
    return text.get().bstrVal;
  }
  return L"?";
}

struct Document {
  std::wstring name, full_name, hangs_on;
};

struct Instance {
  const AppKind* kind = nullptr;
  int number = 0;
  std::vector<Document> documents;
  HWND main = nullptr;
  HWND dialog = nullptr;
  DWORD cookie = 0;
  bool quit = false;
  ULONGLONG busy_ms = 0;     // busy this long from the first call
  ULONGLONG busy_since = 0;  // tick of the first call
  int turned_away = 0;
  std::wstring Who() const { return std::wstring(kind->name) + std::to_wstring(number); }

  // While busy, the answer that turns a call away; S_OK once it answers.
  HRESULT BusyAnswer() {
    if (busy_ms == 0) return S_OK;
    const ULONGLONG now = ::GetTickCount64();
    if (busy_since == 0) busy_since = now;
    if (now - busy_since >= busy_ms) return S_OK;
    return ++turned_away % 2 ? RPC_E_SERVERCALL_RETRYLATER : RPC_E_CALL_REJECTED;
  }
};

// IDispatch by member name, without a type library.
class Dispatch : public IDispatch {
 public:
  virtual ~Dispatch() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      if (i == 0) {
        const auto& members = Members();
        for (std::size_t m = 0; m < members.size(); ++m) {
          if (::lstrcmpiW(members[m].c_str(), names[0]) == 0) ids[0] = static_cast<DISPID>(m + 1);
        }
      }
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    const auto& members = Members();
    if (id < 1 || static_cast<std::size_t>(id) > members.size()) return DISP_E_MEMBERNOTFOUND;
    std::vector<VARIANT> args;
    for (UINT i = params ? params->cArgs : 0; i > 0; --i) args.push_back(params->rgvarg[i - 1]);
    std::wstring line = members[static_cast<std::size_t>(id - 1)];
    for (const auto& a : args) line += L" " + ArgText(a);
    if (const HRESULT busy = Owner().BusyAnswer(); FAILED(busy)) {
      Journal(Who(), L"busy " + line);
      return busy;
    }
    Journal(Who(), line);
    VARIANT ignored;
    ::VariantInit(&ignored);
    return Do(members[static_cast<std::size_t>(id - 1)], args, result ? result : &ignored);
  }

 protected:
  virtual const std::vector<std::wstring>& Members() const = 0;
  virtual Instance& Owner() const = 0;
  std::wstring Who() const { return Owner().Who(); }
  virtual HRESULT Do(const std::wstring& member, const std::vector<VARIANT>& args,
                     VARIANT* result) = 0;

 private:
  ULONG refs_ = 1;
};

void Hang(const Instance& instance, const std::wstring& member) {
  Journal(instance.Who(), L"hangs in " + member);
  ::Sleep(INFINITE);
}

bool WriteDocument(const std::wstring& path, const Document& d) {
  corva::win::unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  const std::string body = "stand-in document " + Narrow(d.name) + "\r\n";
  DWORD written = 0;
  return ::WriteFile(file.get(), body.data(), static_cast<DWORD>(body.size()), &written,
                     nullptr) != FALSE;
}

HRESULT SetText(VARIANT* result, const std::wstring& text) {
  result->vt = VT_BSTR;
  result->bstrVal = ::SysAllocString(text.c_str());
  return S_OK;
}

class DocumentObject final : public Dispatch {
 public:
  DocumentObject(Instance& instance, std::size_t index) : instance_(instance), index_(index) {}

 protected:
  const std::vector<std::wstring>& Members() const override {
    static const std::vector<std::wstring> m{L"Name", L"FullName", L"Save", L"SaveAs", L"Close"};
    return m;
  }
  Instance& Owner() const override { return instance_; }
  HRESULT Do(const std::wstring& member, const std::vector<VARIANT>& args,
             VARIANT* result) override {
    if (index_ >= instance_.documents.size()) return E_FAIL;
    Document& d = instance_.documents[index_];
    if (d.hangs_on == member) Hang(instance_, member);
    if (member == L"Name") return SetText(result, d.name);
    if (member == L"FullName") return SetText(result, d.full_name);
    if (member == L"Save") return WriteDocument(d.full_name, d) ? S_OK : E_FAIL;
    if (member == L"SaveAs") {
      if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
      const std::wstring path = ArgText(args[0]);
      if (path.empty() || !WriteDocument(path, d)) return E_FAIL;
      d.full_name = path;
      d.name = path.substr(path.find_last_of(L'\\') + 1);
      return S_OK;
    }
    if (member == L"Close") {
      instance_.documents.erase(instance_.documents.begin() + static_cast<std::ptrdiff_t>(index_));
      index_ = SIZE_MAX;
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  Instance& instance_;
  std::size_t index_;
};

class CollectionObject final : public Dispatch {
 public:
  explicit CollectionObject(Instance& instance) : instance_(instance) {}

 protected:
  const std::vector<std::wstring>& Members() const override {
    static const std::vector<std::wstring> m{L"Count", L"Item"};
    return m;
  }
  Instance& Owner() const override { return instance_; }
  HRESULT Do(const std::wstring& member, const std::vector<VARIANT>& args,
             VARIANT* result) override {
    if (member == L"Count") {
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(instance_.documents.size());
      return S_OK;
    }
    corva::win::unique_variant index;
    if (args.size() != 1 ||
        FAILED(::VariantChangeType(index.put(), const_cast<VARIANT*>(&args[0]), 0, VT_I4))) {
      return DISP_E_BADPARAMCOUNT;
    }
    const LONG i = index.get().lVal;
    if (i < 1 || static_cast<std::size_t>(i) > instance_.documents.size()) {
      return DISP_E_BADINDEX;
    }
    result->vt = VT_DISPATCH;
    result->pdispVal = new DocumentObject(instance_, static_cast<std::size_t>(i - 1));
    return S_OK;
  }

 private:
  Instance& instance_;
};

class ApplicationObject final : public Dispatch {
 public:
  explicit ApplicationObject(Instance& instance) : instance_(instance) {}

 protected:
  const std::vector<std::wstring>& Members() const override {
    static const std::vector<std::wstring> m{L"Documents", L"WorkBooks", L"Presentations",
                                             L"Quit"};
    return m;
  }
  Instance& Owner() const override { return instance_; }
  HRESULT Do(const std::wstring& member, const std::vector<VARIANT>&, VARIANT* result) override {
    if (member == L"Quit") {
      if (instance_.quit) return S_OK;
      instance_.quit = true;
      ::RevokeActiveObject(instance_.cookie, nullptr);
      if (instance_.dialog) ::DestroyWindow(instance_.dialog);
      ::DestroyWindow(instance_.main);
      if (--g_instances_left == 0) ::PostQuitMessage(0);
      return S_OK;
    }
    if (::lstrcmpiW(member.c_str(), instance_.kind->collection) != 0) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_DISPATCH;
    result->pdispVal = new CollectionObject(instance_);
    return S_OK;
  }

 private:
  Instance& instance_;
};

LRESULT CALLBACK StandInProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* instance = reinterpret_cast<Instance*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (instance) {
    const std::wstring part = hwnd == instance->dialog ? L"dialog" : L"window";
    if (msg == WM_CLOSE) {
      Journal(instance->Who(), part + L" WM_CLOSE");
      if (hwnd == instance->dialog) {
        instance->dialog = nullptr;
        ::DestroyWindow(hwnd);
      }
      return 0;  // the main window stays until Quit
    }
    if (msg == WM_KEYDOWN) Journal(instance->Who(), part + L" key " + std::to_wstring(wp));
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// A program whose window thread stops answering: its main window looks like an Office
// application's, and its owned dialog's WM_CLOSE never returns.
struct HungOwner {
  std::wstring title;
  HINSTANCE module = nullptr;
  HWND dialog = nullptr;
  corva::win::unique_handle ready{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

LRESULT CALLBACK HungOwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* owner = reinterpret_cast<HungOwner*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (owner && msg == WM_CLOSE) {
    if (hwnd == owner->dialog) {
      Journal(L"hung", L"dialog WM_CLOSE");
      ::Sleep(INFINITE);
    }
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

DWORD WINAPI HungOwnerThread(void* param) {
  auto* owner = static_cast<HungOwner*>(param);
  WNDCLASSW wc{};
  wc.lpfnWndProc = HungOwnerProc;
  wc.hInstance = owner->module;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"CorvaHungOwner";
  ::RegisterClassW(&wc);
  HWND main =
      ::CreateWindowExW(0, wc.lpszClassName, owner->title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        400, 20, 360, 200, nullptr, nullptr, owner->module, nullptr);
  ::SetWindowLongPtrW(main, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
  owner->dialog = ::CreateWindowExW(WS_EX_DLGMODALFRAME, wc.lpszClassName, L"Confirmar",
                                    WS_POPUP | WS_CAPTION | WS_VISIBLE, 440, 60, 240, 120, main,
                                    nullptr, owner->module, nullptr);
  ::SetWindowLongPtrW(owner->dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
  ::SetEvent(owner->ready.get());
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}

void RegisterProgIds() {
  for (const auto& app : kApps) {
    wchar_t clsid[64];
    ::StringFromGUID2(app.clsid, clsid, 64);
    const std::wstring key = std::wstring(L"Software\\Classes\\") + app.prog_id + L"\\CLSID";
    corva::win::unique_hkey hkey;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                          hkey.put(), nullptr) == ERROR_SUCCESS) {
      ::RegSetValueExW(hkey.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid),
                       static_cast<DWORD>((::lstrlenW(clsid) + 1) * sizeof(wchar_t)));
    }
  }
}

std::vector<std::wstring> SplitTabs(const std::wstring& line) {
  std::vector<std::wstring> fields;
  std::wstring field;
  std::wistringstream in(line);
  while (std::getline(in, field, L'\t')) fields.push_back(field);
  return fields;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc < 3) return 2;
  g_journal_path = argv[2];

  std::ifstream setup(argv[1], std::ios::binary);
  if (!setup) return 3;
  std::map<std::wstring, std::unique_ptr<Instance>> instances;  // "Word1" -> instance
  std::vector<Instance*> order;
  // Left to the end of the process, as their threads are.
  std::vector<HungOwner*> hung_owners;
  std::map<std::wstring, ULONGLONG> busy;  // "Word1" -> milliseconds
  std::string raw;
  while (std::getline(setup, raw)) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (raw.empty() || raw[0] == '#') continue;
    const auto fields = SplitTabs(Widen(raw));
    if (fields.size() < 2) continue;
    if (fields[0] == L"hung-owner") {
      hung_owners.push_back(new HungOwner);
      hung_owners.back()->title = fields[1];
      hung_owners.back()->module = module;
      continue;
    }
    if (fields[0] == L"busy") {
      if (fields.size() < 4) return 4;
      busy[fields[1] + fields[2]] = std::stoull(fields[3]);
      continue;
    }
    const AppKind* kind = nullptr;
    for (const auto& app : kApps) {
      if (fields[0] == app.name) kind = &app;
    }
    if (!kind) return 4;
    auto& slot = instances[fields[0] + fields[1]];
    if (!slot) {
      slot = std::make_unique<Instance>();
      slot->kind = kind;
      slot->number = std::stoi(fields[1]);
      order.push_back(slot.get());
    }
    if (fields.size() >= 4) {
      slot->documents.push_back({fields[2], fields[3], fields.size() >= 5 ? fields[4] : L""});
    }
  }

  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 5;
  RegisterProgIds();

  WNDCLASSW wc{};
  wc.lpfnWndProc = StandInProc;
  wc.hInstance = module;
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"CorvaOfficeStandIn";
  ::RegisterClassW(&wc);

  for (auto& [who, ms] : busy) {
    if (auto found = instances.find(who); found != instances.end()) found->second->busy_ms = ms;
  }

  // Each hung owner lives on a thread of its own.
  for (HungOwner* owner : hung_owners) {
    corva::win::unique_handle thread(
        ::CreateThread(nullptr, 0, HungOwnerThread, owner, 0, nullptr));
    if (!thread || ::WaitForSingleObject(owner->ready.get(), 10000) != WAIT_OBJECT_0) return 7;
  }

  int y = 0;
  for (Instance* instance : order) {
    wchar_t title[256];
    const std::wstring first = instance->documents.empty() ? L"" : instance->documents[0].name;
    std::swprintf(title, 256, instance->kind->title, first.c_str());
    instance->main = ::CreateWindowExW(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                       20 + y, 20 + y, 360, 200, nullptr, nullptr, module, nullptr);
    ::SetWindowLongPtrW(instance->main, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(instance));
    const std::wstring dialog_title = L"Guardar como - " + instance->Who();
    instance->dialog =
        ::CreateWindowExW(WS_EX_DLGMODALFRAME, wc.lpszClassName, dialog_title.c_str(),
                          WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 60 + y, 60 + y, 240,
                          120, instance->main, nullptr, module, nullptr);
    ::SetWindowLongPtrW(instance->dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(instance));
    y += 30;

    auto* app = new ApplicationObject(*instance);
    const HRESULT hr = ::RegisterActiveObject(app, instance->kind->clsid, ACTIVEOBJECT_STRONG,
                                              &instance->cookie);
    app->Release();  // the table holds it now
    if (FAILED(hr)) {
      Journal(instance->Who(), L"RegisterActiveObject failed");
      return 6;
    }
    ++g_instances_left;
  }
  Journal(L"standin", L"ready");

  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  Journal(L"standin", L"ends");
  ::CoUninitialize();
  return 0;
}
