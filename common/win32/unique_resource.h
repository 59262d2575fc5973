#pragma once
// One owner type for every kind of Windows resource: unique_resource<Traits>, in the manner of
// a small "unique handle" library. Each alias names one kind of resource and how it is freed.

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <utility>

namespace corva::win {

template <typename Traits>
class unique_resource {
 public:
  using pointer = typename Traits::pointer;

  unique_resource() noexcept = default;
  explicit unique_resource(pointer value) noexcept : value_(value) {}
  unique_resource(const unique_resource&) = delete;
  unique_resource& operator=(const unique_resource&) = delete;
  unique_resource(unique_resource&& other) noexcept : value_(other.release()) {}
  unique_resource& operator=(unique_resource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_resource() { reset(); }

  pointer get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return Traits::is_valid(value_); }
  pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
  void reset(pointer value = Traits::invalid()) noexcept {
    pointer old = std::exchange(value_, value);
    if (Traits::is_valid(old)) Traits::close(old);
  }
  // For out-parameters: frees the current value and answers the address to fill.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

 private:
  pointer value_ = Traits::invalid();
};

template <typename T, auto Close, T Invalid = T{}>
struct simple_traits {
  using pointer = T;
  static constexpr pointer invalid() noexcept { return Invalid; }
  static bool is_valid(pointer p) noexcept { return p != invalid(); }
  static void close(pointer p) noexcept { Close(p); }
};

struct handle_traits {  // kernel handles that use nullptr as "none"
  using pointer = HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static bool is_valid(pointer p) noexcept { return p != nullptr && p != INVALID_HANDLE_VALUE; }
  static void close(pointer p) noexcept { ::CloseHandle(p); }
};
struct file_handle_traits : handle_traits {  // CreateFile's "none" is INVALID_HANDLE_VALUE
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

struct find_handle_traits : file_handle_traits {  // FindFirstFile's search, ended by FindClose
  static void close(pointer p) noexcept { ::FindClose(p); }
};

using unique_handle = unique_resource<handle_traits>;
using unique_file = unique_resource<file_handle_traits>;
using unique_find = unique_resource<find_handle_traits>;
using unique_hbitmap = unique_resource<simple_traits<HBITMAP, ::DeleteObject>>;
using unique_hfont = unique_resource<simple_traits<HFONT, ::DeleteObject>>;
using unique_hbrush = unique_resource<simple_traits<HBRUSH, ::DeleteObject>>;
using unique_hrgn = unique_resource<simple_traits<HRGN, ::DeleteObject>>;
using unique_hicon = unique_resource<simple_traits<HICON, ::DestroyIcon>>;
using unique_hdc = unique_resource<simple_traits<HDC, ::DeleteDC>>;  // CreateCompatibleDC
using unique_hkey = unique_resource<simple_traits<HKEY, ::RegCloseKey>>;
using unique_hwnd = unique_resource<simple_traits<HWND, ::DestroyWindow>>;

// A DC from GetDC, given back with ReleaseDC.
class window_dc {
 public:
  explicit window_dc(HWND hwnd) noexcept : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
  window_dc(const window_dc&) = delete;
  window_dc& operator=(const window_dc&) = delete;
  ~window_dc() {
    if (dc_) ::ReleaseDC(hwnd_, dc_);
  }
  HDC get() const noexcept { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// A DC from BeginPaint, ended with EndPaint.
class paint_dc {
 public:
  explicit paint_dc(HWND hwnd) noexcept : hwnd_(hwnd) { dc_ = ::BeginPaint(hwnd, &ps_); }
  paint_dc(const paint_dc&) = delete;
  paint_dc& operator=(const paint_dc&) = delete;
  ~paint_dc() { ::EndPaint(hwnd_, &ps_); }
  HDC get() const noexcept { return dc_; }
  const PAINTSTRUCT& paint() const noexcept { return ps_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_ = nullptr;
};

// An object selected into a DC; the previous object is put back when this goes out of scope.
class select_object {
 public:
  select_object(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
  select_object(const select_object&) = delete;
  select_object& operator=(const select_object&) = delete;
  ~select_object() {
    if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
  }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A BSTR from SysAllocString or an automation call, freed with SysFreeString.
using unique_bstr = unique_resource<simple_traits<BSTR, ::SysFreeString>>;

// A VARIANT that clears itself (releasing the object or text it holds). It is a VARIANT, so it
// goes wherever one is asked for.
class unique_variant : public VARIANT {
 public:
  unique_variant() noexcept { ::VariantInit(this); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { ::VariantClear(this); }
  VARIANT& get() noexcept { return *this; }
  const VARIANT& get() const noexcept { return *this; }
  void reset() noexcept { ::VariantClear(this); }
  // For out-parameters: clears the current value and answers the address to fill.
  VARIANT* put() noexcept {
    ::VariantClear(this);
    return this;
  }
};

// A COM interface pointer that holds one reference.
template <typename T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  com_ptr(std::nullptr_t) noexcept {}
  // Takes a new reference to `p`.
  explicit com_ptr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  com_ptr(const com_ptr& o) noexcept : com_ptr(o.p_) {}
  com_ptr(com_ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  com_ptr& operator=(com_ptr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~com_ptr() { reset(); }

  // Adopts a reference the caller already owns.
  static com_ptr attach(T* p) noexcept {
    com_ptr c;
    c.p_ = p;
    return c;
  }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T* detach() noexcept { return std::exchange(p_, nullptr); }
  // Takes over a reference the caller already holds (none: just lets go).
  void reset(T* p = nullptr) noexcept {
    if (T* old = std::exchange(p_, p)) old->Release();
  }
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  template <typename U>
  com_ptr<U> query() const noexcept {
    com_ptr<U> out;
    if (p_) p_->QueryInterface(__uuidof(U), out.put_void());
    return out;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace corva::win
