// Keys sent from SendKeys text reach the focused window of this test, as the system delivers
// them.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "send_keys.h"
#include "unique_resource.h"
#include "win_key_sender.h"

namespace corva::win {
namespace {

struct Received {
  std::wstring chars;
  std::vector<WPARAM> downs;
};

LRESULT CALLBACK KeyWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (auto* got = reinterpret_cast<Received*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
    if (msg == WM_CHAR) got->chars.push_back(static_cast<wchar_t>(wp));
    if (msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN) got->downs.push_back(wp);
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// Processes this thread's messages until `done` holds or two seconds pass.
template <typename Done>
void PumpUntil(Done done) {
  const ULONGLONG deadline = ::GetTickCount64() + 2000;
  while (!done()) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

TEST(WinKeys, SendKeysTextArrivesAtTheFocusedWindow) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = KeyWindowProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"CorvaKeysTestWindow";
  ::RegisterClassW(&wc);
  unique_hwnd window(::CreateWindowExW(0, wc.lpszClassName, L"Teclas", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                       50, 50, 300, 200, nullptr, nullptr, wc.hInstance, nullptr));
  ASSERT_TRUE(window);
  Received got;
  ::SetWindowLongPtrW(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&got));
  ::SetForegroundWindow(window.get());
  ::SetFocus(window.get());
  PumpUntil([&] { return ::GetFocus() == window.get(); });
  ASSERT_EQ(::GetFocus(), window.get());

  WinKeyboard keyboard;
  cSendKeys keys(keyboard, "Corvamon");
  keys.SendKeys("ab+(cd)+e{TAB 2}~");
  const std::wstring expected = L"abCDe\t\t\r";
  PumpUntil([&] { return got.chars.size() >= expected.size(); });
  EXPECT_EQ(got.chars, expected);
  EXPECT_EQ(got.downs, (std::vector<WPARAM>{'A', 'B', VK_SHIFT, 'C', 'D', VK_SHIFT, 'E', VK_TAB,
                                            VK_TAB, VK_RETURN}));

  // A syntax error lets go of Shift: what follows is typed without it.
  got = {};
  EXPECT_THROW(keys.SendKeys("+(f{TAB x}"), CorvaError);
  keys.SendKeys("g");
  PumpUntil([&] { return got.chars.size() >= 2; });
  EXPECT_EQ(got.chars, L"Fg");
  EXPECT_EQ(::GetKeyState(VK_SHIFT) & 0x8000, 0);
}

}  // namespace
}  // namespace corva::win
