#include "caption_button.h"

#include <commctrl.h>

#include <memory>

#include "unique_resource.h"

namespace corva::config::win {

using corva::win::unique_hdc;
using corva::win::unique_hbitmap;
using corva::win::select_object;

namespace {

constexpr wchar_t kLookProperty[] = L"CorvasetButtonLook";
constexpr UINT_PTR kSubclassId = 1;

struct ButtonState {
  ButtonLook look;
  bool hover = false;
};

ButtonState* StateOf(HWND button) {
  return static_cast<ButtonState*>(::GetPropW(button, kLookProperty));
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
  ButtonState* state = StateOf(hwnd);
  switch (msg) {
    case WM_MOUSEMOVE:
      if (state && !state->hover) {
        state->hover = true;
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd, 0};
        ::TrackMouseEvent(&track);
        ::InvalidateRect(hwnd, nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE:
      if (state) {
        state->hover = false;
        ::InvalidateRect(hwnd, nullptr, FALSE);
      }
      break;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(hwnd, ButtonProc, kSubclassId);
      delete static_cast<ButtonState*>(::RemovePropW(hwnd, kLookProperty));
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace

HWND MakeButton(HWND parent, int id, const RECT& rect, const std::wstring& caption,
                const ButtonLook& look) {
  HWND button = ::CreateWindowExW(
      0, L"BUTTON", caption.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
      rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
  if (!button) return nullptr;
  auto state = std::make_unique<ButtonState>();
  state->look = look;
  if (::SetPropW(button, kLookProperty, state.get())) state.release();
  ::SetWindowSubclass(button, ButtonProc, kSubclassId, 0);
  return button;
}

void SetButtonLook(HWND button, const ButtonLook& look) {
  if (ButtonState* state = StateOf(button)) {
    state->look = look;
    ::InvalidateRect(button, nullptr, FALSE);
  }
}

bool DrawButton(const DRAWITEMSTRUCT& item) {
  const ButtonState* state = StateOf(item.hwndItem);
  if (item.CtlType != ODT_BUTTON || !state) return false;
  const ButtonLook& look = state->look;
  const RECT& r = item.rcItem;
  const int w = r.right - r.left, h = r.bottom - r.top;
  HBITMAP picture = (item.itemState & ODS_SELECTED) ? look.down
                    : state->hover                  ? look.hover
                                                    : look.normal;
  // Drawn off screen, then copied in one go.
  unique_hdc buffer(::CreateCompatibleDC(item.hDC));
  unique_hbitmap canvas(::CreateCompatibleBitmap(item.hDC, w, h));
  select_object canvas_selected(buffer.get(), canvas.get());
  if (picture) {
    unique_hdc source(::CreateCompatibleDC(item.hDC));
    select_object picture_selected(source.get(), picture);
    BITMAP info{};
    ::GetObjectW(picture, sizeof(info), &info);
    ::StretchBlt(buffer.get(), 0, 0, w, h, source.get(), 0, 0, info.bmWidth, info.bmHeight,
                 SRCCOPY);
  }
  wchar_t caption[128] = {};
  ::GetWindowTextW(item.hwndItem, caption, 128);
  select_object font_selected(buffer.get(), look.font ? look.font : ::GetStockObject(DEFAULT_GUI_FONT));
  ::SetBkMode(buffer.get(), TRANSPARENT);
  ::SetTextColor(buffer.get(), (item.itemState & ODS_DISABLED) ? ::GetSysColor(COLOR_GRAYTEXT) : look.text);
  RECT text{look.left_aligned ? 10 : 0, 0, w, h};
  if (item.itemState & ODS_SELECTED) ::OffsetRect(&text, 1, 1);
  ::DrawTextW(buffer.get(), caption, -1, &text,
              (look.left_aligned ? DT_LEFT : DT_CENTER) | DT_VCENTER | DT_SINGLELINE);
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
    RECT focus{3, 3, w - 3, h - 3};
    ::DrawFocusRect(buffer.get(), &focus);
  }
  ::BitBlt(item.hDC, r.left, r.top, w, h, buffer.get(), 0, 0, SRCCOPY);
  return true;
}

}  // namespace corva::config::win
