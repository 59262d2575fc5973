#include "office_automation.h"

#include <algorithm>
#include <cstdio>

#include "systray.h"
#include "text.h"
#include "unique_resource.h"

namespace corva::win {
namespace {

std::string HresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof(text), "%08lX", static_cast<unsigned long>(hr));
  return text;
}

std::string FromBstr(BSTR text) {
  return text ? Narrow(std::wstring_view(text, ::SysStringLen(text))) : std::string();
}

// The application turned the call away because it is busy: either the message filter gave up
// on it, or the application answered so itself.
bool IsBusy(HRESULT hr) {
  return hr == RPC_E_CALL_REJECTED || hr == RPC_E_SERVERCALL_RETRYLATER;
}

// The message filter of the saving thread: incoming calls are handled as usual, and a call a
// busy application turned away is made again while the budget lasts. Released through Release,
// never deleted through the interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class RetryFilter final : public IMessageFilter {
 public:
  explicit RetryFilter(std::uint64_t deadline_ms) : deadline_ms_(deadline_ms) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMessageFilter) {
      *out = static_cast<IMessageFilter*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = ::InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }
  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
    return SERVERCALL_ISHANDLED;
  }
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD reject_type) override {
    if (reject_type != SERVERCALL_RETRYLATER && reject_type != SERVERCALL_REJECTED) {
      return static_cast<DWORD>(-1);
    }
    // -1 cancels the call; a value of 100 or more waits that many milliseconds, and below
    // 100 calls again at once.
    return static_cast<DWORD>(BusyRetryDelayMs(::GetTickCount64(), deadline_ms_));
  }
  DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
    return PENDINGMSG_WAITDEFPROCESS;
  }

 private:
  std::uint64_t deadline_ms_;
  LONG refs_ = 1;
};
#pragma GCC diagnostic pop

// An automation object reached through IDispatch; members are looked up by name on each call.
class DispatchObject final : public AutomationObject {
 public:
  explicit DispatchObject(com_ptr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

  AutomationValue Call(std::string_view member, const std::vector<AutomationArg>& args) override {
    std::wstring name = Widen(member);
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
      throw AutomationError(std::string(member) + ": unknown member (" + HresultText(hr) + ")",
                            IsBusy(hr));
    }

    // Arguments go in reverse order.
    std::vector<unique_variant> holders(args.size());
    std::vector<VARIANT> params(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
      VARIANT& v = holders[args.size() - 1 - i].get();
      if (const auto* number = std::get_if<std::int32_t>(&args[i])) {
        v.vt = VT_I4;
        v.lVal = *number;
      } else {
        v.vt = VT_BSTR;
        v.bstrVal = ::SysAllocString(Widen(std::get<std::string>(args[i])).c_str());
      }
    }
    for (std::size_t i = 0; i < args.size(); ++i) params[i] = holders[i].get();
    DISPPARAMS dp{params.empty() ? nullptr : params.data(), nullptr,
                  static_cast<UINT>(params.size()), 0};
    unique_variant result;
    EXCEPINFO exception{};
    UINT bad_arg = 0;
    hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                           &dp, result.put(), &exception, &bad_arg);
    unique_bstr source(exception.bstrSource), description(exception.bstrDescription),
        help(exception.bstrHelpFile);
    if (FAILED(hr)) {
      std::string text = std::string(member) + " failed (" + HresultText(hr) + ")";
      if (description) text += ": " + FromBstr(description.get());
      throw AutomationError(text, IsBusy(hr));
    }
    return Convert(result.get());
  }

 private:
  static AutomationValue Convert(VARIANT& v) {
    switch (v.vt) {
      case VT_EMPTY:
      case VT_NULL:
        return {};
      case VT_DISPATCH: {
        com_ptr<IDispatch> object;
        if (v.pdispVal) {
          v.pdispVal->AddRef();
          object.reset(v.pdispVal);
        }
        if (!object) return {};
        return std::shared_ptr<AutomationObject>(std::make_shared<DispatchObject>(std::move(object)));
      }
      case VT_UNKNOWN: {
        com_ptr<IDispatch> object;
        if (v.punkVal) v.punkVal->QueryInterface(IID_IDispatch, object.put_void());
        if (!object) return {};
        return std::shared_ptr<AutomationObject>(std::make_shared<DispatchObject>(std::move(object)));
      }
      case VT_BSTR:
        return FromBstr(v.bstrVal);
      default: {
        unique_variant number;
        if (SUCCEEDED(::VariantChangeType(number.put(), &v, 0, VT_I4))) {
          return static_cast<std::int32_t>(number.get().lVal);
        }
        unique_variant text;
        if (SUCCEEDED(::VariantChangeType(text.put(), &v, 0, VT_BSTR))) {
          return FromBstr(text.get().bstrVal);
        }
        return {};
      }
    }
  }

  com_ptr<IDispatch> dispatch_;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<WindowHandle>*>(list)->push_back(
      reinterpret_cast<WindowHandle>(window));
  return TRUE;  // every window, whatever happens to one
}

HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }

}  // namespace

std::shared_ptr<AutomationObject> WinOfficeAutomation::GetRunningObject(std::string_view prog_id) {
  CLSID clsid{};
  if (FAILED(::CLSIDFromProgID(Widen(prog_id).c_str(), &clsid))) return nullptr;
  com_ptr<IUnknown> running;
  if (FAILED(::GetActiveObject(clsid, nullptr, running.put())) || !running) return nullptr;
  com_ptr<IDispatch> dispatch = running.query<IDispatch>();
  if (!dispatch) return nullptr;
  return std::make_shared<DispatchObject>(std::move(dispatch));
}

std::vector<WindowHandle> WinDesktopWindows::EnumTopWindows() {
  std::vector<WindowHandle> list;
  ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&list));
  return list;
}

bool WinDesktopWindows::IsVisible(WindowHandle window) {
  return ::IsWindowVisible(AsWindow(window)) != FALSE;
}

WindowHandle WinDesktopWindows::Owner(WindowHandle window) {
  return reinterpret_cast<WindowHandle>(::GetWindow(AsWindow(window), GW_OWNER));
}

std::string WinDesktopWindows::Title(WindowHandle window) {
  wchar_t title[256] = {};
  const int length = ::GetWindowTextW(AsWindow(window), title, 256);
  return length > 0 ? Narrow(std::wstring_view(title, static_cast<std::size_t>(length)))
                    : std::string();
}

bool WinDesktopWindows::SendClose(WindowHandle window, std::uint64_t timeout_ms) {
  DWORD_PTR result = 0;
  const UINT timeout = static_cast<UINT>(std::min<std::uint64_t>(timeout_ms, 0x7FFFFFFF));
  return ::SendMessageTimeoutW(AsWindow(window), WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL,
                               timeout, &result) != 0;
}

BusyCallRetry::BusyCallRetry(std::uint64_t deadline_ms)
    : filter_(com_ptr<IMessageFilter>::attach(new RetryFilter(deadline_ms))) {
  registered_ = SUCCEEDED(::CoRegisterMessageFilter(filter_.get(), previous_.put()));
}

BusyCallRetry::~BusyCallRetry() {
  if (!registered_) return;
  com_ptr<IMessageFilter> ours;
  ::CoRegisterMessageFilter(previous_.get(), ours.put());
}

void WinDesktopWindows::BringWindowToFront(WindowHandle window) {
  corva::win::BringWindowToFront(AsWindow(window));
}

void WinSavingHost::DoEvents() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void WinSavingHost::Pause(int ms) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(ms > 0 ? ms : 0);
  for (;;) {
    DoEvents();
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }
}

bool WinSavingHost::NameTaken(const std::string& path) {
  // Hidden and system files count: SaveAs would overwrite them.
  if (::GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  // A file that exists but cannot be looked at is taken too.
  const DWORD error = ::GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

}  // namespace corva::win
