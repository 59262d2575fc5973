// probe_target: a small window with known contents for the probe's own tests.
//
//   probe_target [--caption TEXT] [--startup-box] [--lifetime MS]
//
// The window (caption "Corvaprobe" unless told) holds:
//   201 STATIC  "Línea ñandú €"       text beyond Latin-1 and the ANSI code page
//   202 STATIC  "uno\r\ndos\ttres\\"  text that needs escaping
//   203 STATIC  "0"                    how many times button 210 was clicked
//   204 STATIC  ""                     the answer of the last message box
//   210 BUTTON  "Contar"               adds one to 203
//   211 BUTTON  "Oculto"               hidden
//   212 BUTTON  "Apagado"              disabled
//   213 BUTTON  "Aviso"                shows a message box titled "Corvaprobe" (OK / Cancel)
//   214 BUTTON  "Colgar"               stops answering messages for 15 s
//   215 BUTTON  "Cerrar"               destroys the window
// --startup-box shows the message box before the window exists, as a program that cannot find
// its device does. The program quits by itself after --lifetime ms (default 120000) so that a
// test that forgets it cannot leave it running.

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

constexpr int kUnicode = 201;
constexpr int kEscapes = 202;
constexpr int kCount = 203;
constexpr int kAnswer = 204;
constexpr int kBtnCount = 210;
constexpr int kBtnHidden = 211;
constexpr int kBtnDisabled = 212;
constexpr int kBtnBox = 213;
constexpr int kBtnHang = 214;
constexpr int kBtnClose = 215;
constexpr UINT_PTR kLifetimeTimer = 1;
constexpr wchar_t kBoxTitle[] = L"Corvaprobe";
constexpr wchar_t kBoxText[] = L"Primera línea\r\nSegunda línea";

int g_clicks = 0;

void ShowBox(HWND owner) {
  const int answer = MessageBoxW(owner, kBoxText, kBoxTitle, MB_OKCANCEL | MB_ICONWARNING);
  if (owner != nullptr) {
    SetDlgItemTextW(owner, kAnswer, answer == IDOK ? L"OK" : answer == IDCANCEL ? L"Cancel" : L"?");
  }
}

HWND AddChild(HWND parent, const wchar_t* cls, const wchar_t* text, int id, int y, DWORD style) {
  return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 10, y, 220, 22, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: {
      AddChild(hwnd, L"STATIC", L"L\u00ednea \u00f1and\u00fa \u20ac", kUnicode, 10, 0);
      AddChild(hwnd, L"STATIC", L"uno\r\ndos\ttres\\", kEscapes, 35, 0);
      AddChild(hwnd, L"STATIC", L"0", kCount, 60, 0);
      AddChild(hwnd, L"STATIC", L"", kAnswer, 85, 0);
      AddChild(hwnd, L"BUTTON", L"Contar", kBtnCount, 110, BS_PUSHBUTTON);
      HWND hidden = AddChild(hwnd, L"BUTTON", L"Oculto", kBtnHidden, 135, BS_PUSHBUTTON);
      ShowWindow(hidden, SW_HIDE);
      HWND disabled = AddChild(hwnd, L"BUTTON", L"Apagado", kBtnDisabled, 160, BS_PUSHBUTTON);
      EnableWindow(disabled, FALSE);
      AddChild(hwnd, L"BUTTON", L"Aviso", kBtnBox, 185, BS_PUSHBUTTON);
      AddChild(hwnd, L"BUTTON", L"Colgar", kBtnHang, 210, BS_PUSHBUTTON);
      AddChild(hwnd, L"BUTTON", L"Cerrar", kBtnClose, 235, BS_PUSHBUTTON);
      return 0;
    }
    case WM_COMMAND:
      if (HIWORD(wp) != BN_CLICKED) break;
      switch (LOWORD(wp)) {
        case kBtnCount:
        case kBtnHidden:
        case kBtnDisabled:
          // Hidden and disabled buttons count too, so a test sees it if one got clicked.
          g_clicks += 1;
          SetDlgItemTextW(hwnd, kCount, std::to_wstring(g_clicks).c_str());
          return 0;
        case kBtnBox:
          ShowBox(hwnd);
          return 0;
        case kBtnHang:
          Sleep(15000);
          return 0;
        case kBtnClose:
          DestroyWindow(hwnd);
          return 0;
      }
      break;
    case WM_TIMER:
      if (wp == kLifetimeTimer) DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring caption = L"Corvaprobe";
  bool startup_box = false;
  UINT lifetime_ms = 120000;
  for (int i = 1; argv != nullptr && i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--caption" && i + 1 < argc) {
      caption = argv[++i];
    } else if (a == L"--startup-box") {
      startup_box = true;
    } else if (a == L"--lifetime" && i + 1 < argc) {
      lifetime_ms = static_cast<UINT>(std::wcstoul(argv[++i], nullptr, 10));
    }
  }
  if (argv != nullptr) LocalFree(argv);

  if (startup_box) ShowBox(nullptr);

  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"Corvaprobe.Target";
  if (!RegisterClassW(&wc)) return 1;
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, caption.c_str(), WS_POPUP | WS_BORDER, 40, 40,
                              240, 270, nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) return 1;
  SetTimer(hwnd, kLifetimeTimer, lifetime_ms, nullptr);
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
