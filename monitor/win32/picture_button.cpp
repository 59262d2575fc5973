#include "picture_button.h"

#include <commctrl.h>

#include <memory>

#include "unique_resource.h"

namespace corva::win {
namespace {

constexpr UINT_PTR kSubclassId = 0x434F5256;  // one subclass per button

struct ButtonState {
  ButtonPictures pictures;
  bool hover = false;
};

constexpr wchar_t kStateProperty[] = L"Corva.PictureButton";

ButtonState* StateOf(HWND button) {
  return static_cast<ButtonState*>(::GetPropW(button, kStateProperty));
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  auto* state = reinterpret_cast<ButtonState*>(data);
  switch (msg) {
    case WM_MOUSEMOVE:
      if (!state->hover) {
        state->hover = true;
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd, 0};
        ::TrackMouseEvent(&track);
        ::InvalidateRect(hwnd, nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE:
      state->hover = false;
      ::InvalidateRect(hwnd, nullptr, FALSE);
      break;
    case WM_ERASEBKGND:
      return 1;  // the picture covers the whole button
    case WM_NCDESTROY: {
      std::unique_ptr<ButtonState> owned(state);
      ::RemovePropW(hwnd, kStateProperty);
      ::RemoveWindowSubclass(hwnd, ButtonProc, kSubclassId);
      break;
    }
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace

HWND CreateImageButton(HWND parent, int id, const RECT& rect, const wchar_t* caption) {
  HWND button = ::CreateWindowExW(
      0, L"BUTTON", caption, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, rect.left, rect.top,
      rect.right - rect.left, rect.bottom - rect.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  if (!button) return nullptr;
  auto state = std::make_unique<ButtonState>();
  if (::SetPropW(button, kStateProperty, state.get()) &&
      ::SetWindowSubclass(button, ButtonProc, kSubclassId,
                          reinterpret_cast<DWORD_PTR>(state.get()))) {
    state.release();  // freed at WM_NCDESTROY
  } else {
    ::RemovePropW(button, kStateProperty);
  }
  return button;
}

void SetButtonPictures(HWND button, const ButtonPictures& pictures) {
  if (ButtonState* state = StateOf(button)) {
    state->pictures = pictures;
    ::InvalidateRect(button, nullptr, FALSE);
  }
}

void DrawImageButton(const DRAWITEMSTRUCT& item) {
  const ButtonState* state = StateOf(item.hwndItem);
  HBITMAP picture = nullptr;
  if (state) {
    picture = state->pictures.normal;
    if ((item.itemState & ODS_SELECTED) && state->pictures.down) {
      picture = state->pictures.down;
    } else if (state->hover && state->pictures.hover) {
      picture = state->pictures.hover;
    }
  }
  const RECT& r = item.rcItem;
  if (!picture) {
    ::FillRect(item.hDC, &r, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    return;
  }
  unique_hdc source(::CreateCompatibleDC(item.hDC));
  select_object selected(source.get(), picture);
  ::BitBlt(item.hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, source.get(), 0, 0,
           SRCCOPY);
  if (item.itemState & ODS_FOCUS && !(item.itemState & ODS_NOFOCUSRECT)) {
    RECT focus = r;
    ::InflateRect(&focus, -2, -2);
    ::DrawFocusRect(item.hDC, &focus);
  }
}

}  // namespace corva::win
