#include "accessible.h"

#include <oleacc.h>

#include <new>

#include "unique_resource.h"

namespace lumbra::win {

using corva::win::com_ptr;

namespace {

// A push button's accessible object. The system's object for the window, where there is one,
// answers the parent and the navigation among siblings.
class ButtonAccessible final : public IAccessible {
 public:
  ButtonAccessible(HWND hwnd, std::wstring name, com_ptr<IAccessible> standard)
      : hwnd_(hwnd), name_(std::move(name)), std_(std::move(standard)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IAccessible) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    if (!n) return E_POINTER;
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }

  STDMETHODIMP get_accParent(IDispatch** p) override {
    if (!p) return E_POINTER;
    *p = nullptr;
    return std_ ? std_->get_accParent(p) : S_FALSE;
  }
  STDMETHODIMP get_accChildCount(LONG* n) override {
    if (!n) return E_POINTER;
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP get_accChild(VARIANT, IDispatch** c) override {
    if (!c) return E_POINTER;
    *c = nullptr;
    return E_INVALIDARG;
  }
  STDMETHODIMP get_accName(VARIANT child, BSTR* name) override {
    if (!name) return E_POINTER;
    if (!IsSelf(child)) return E_INVALIDARG;
    *name = ::SysAllocString(name_.c_str());
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP get_accValue(VARIANT, BSTR* v) override {
    if (!v) return E_POINTER;
    *v = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP get_accDescription(VARIANT, BSTR* v) override {
    if (!v) return E_POINTER;
    *v = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP get_accRole(VARIANT child, VARIANT* role) override {
    if (!role) return E_POINTER;
    if (!IsSelf(child)) return E_INVALIDARG;
    role->vt = VT_I4;
    role->lVal = ROLE_SYSTEM_PUSHBUTTON;
    return S_OK;
  }
  STDMETHODIMP get_accState(VARIANT child, VARIANT* state) override {
    if (!state) return E_POINTER;
    if (!IsSelf(child)) return E_INVALIDARG;
    const LRESULT bits = ::SendMessageW(hwnd_, kMsgAccessibleState, 0, 0);
    LONG s = STATE_SYSTEM_FOCUSABLE;
    if (!(bits & kAccessibleEnabled)) s |= STATE_SYSTEM_UNAVAILABLE;
    if (bits & kAccessibleFocused) s |= STATE_SYSTEM_FOCUSED;
    if (!::IsWindowVisible(hwnd_)) s |= STATE_SYSTEM_INVISIBLE;
    state->vt = VT_I4;
    state->lVal = s;
    return S_OK;
  }
  STDMETHODIMP get_accHelp(VARIANT, BSTR* v) override {
    if (!v) return E_POINTER;
    *v = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP get_accHelpTopic(BSTR* f, VARIANT, LONG* t) override {
    if (f) *f = nullptr;
    if (t) *t = 0;
    return S_FALSE;
  }
  STDMETHODIMP get_accKeyboardShortcut(VARIANT, BSTR* v) override {
    if (!v) return E_POINTER;
    *v = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP get_accFocus(VARIANT* v) override {
    if (!v) return E_POINTER;
    ::VariantInit(v);
    if (::GetFocus() == hwnd_) {
      v->vt = VT_I4;
      v->lVal = CHILDID_SELF;
    }
    return S_OK;
  }
  STDMETHODIMP get_accSelection(VARIANT* v) override {
    if (!v) return E_POINTER;
    ::VariantInit(v);
    return S_OK;
  }
  STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR* action) override {
    if (!action) return E_POINTER;
    if (!IsSelf(child)) return E_INVALIDARG;
    *action = ::SysAllocString(L"Presionar");
    return *action ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP accSelect(LONG, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP accLocation(LONG* l, LONG* t, LONG* w, LONG* h, VARIANT child) override {
    if (!l || !t || !w || !h) return E_POINTER;
    if (!IsSelf(child)) return E_INVALIDARG;
    RECT r{};
    ::GetWindowRect(hwnd_, &r);
    *l = r.left;
    *t = r.top;
    *w = r.right - r.left;
    *h = r.bottom - r.top;
    return S_OK;
  }
  STDMETHODIMP accNavigate(LONG d, VARIANT s, VARIANT* e) override {
    return std_ ? std_->accNavigate(d, s, e) : E_NOTIMPL;
  }
  STDMETHODIMP accHitTest(LONG x, LONG y, VARIANT* child) override {
    if (!child) return E_POINTER;
    ::VariantInit(child);
    RECT r{};
    ::GetWindowRect(hwnd_, &r);
    if (!::PtInRect(&r, POINT{x, y})) return S_FALSE;
    child->vt = VT_I4;
    child->lVal = CHILDID_SELF;
    return S_OK;
  }
  STDMETHODIMP accDoDefaultAction(VARIANT child) override {
    if (!IsSelf(child)) return E_INVALIDARG;
    // Posted: the click runs on the control's own thread, after this call returns.
    return ::PostMessageW(hwnd_, kMsgAccessiblePress, 0, 0) ? S_OK : E_FAIL;
  }
  STDMETHODIMP put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  static bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
  }
  ULONG refs_ = 1;
  HWND hwnd_;
  std::wstring name_;
  com_ptr<IAccessible> std_;
};

}  // namespace

std::wstring StripMnemonics(const std::wstring& caption) {
  std::wstring out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == L'&') {
      if (i + 1 < caption.size() && caption[i + 1] == L'&') {
        out += L'&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

HRESULT CreateButtonAccessible(HWND hwnd, const std::wstring& name, IAccessible** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    com_ptr<IAccessible> standard;
    ::CreateStdAccessibleObject(hwnd, OBJID_CLIENT, IID_IAccessible, standard.put_void());
    *out = new ButtonAccessible(hwnd, name, standard);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

LRESULT AccessibleResult(HWND hwnd, WPARAM wp, const std::wstring& name) {
  com_ptr<IAccessible> acc;
  if (FAILED(CreateButtonAccessible(hwnd, name, acc.put()))) return 0;
  return ::LresultFromObject(IID_IAccessible, wp, acc.get());
}

}  // namespace lumbra::win
