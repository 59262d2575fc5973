// The notification-area icon and the main window's hook under Wine: what reaches the shell,
// byte for byte, what the real shell answers, and how the hooked window behaves.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "dpi.h"
#include "systray.h"

namespace corva::win {
namespace {

constexpr UINT kProbeMessage = WM_APP + 7;
constexpr LRESULT kProbeAnswer = 42;
const UINT kTaskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");

// What the test window's own procedure saw.
struct Seen {
  int probe = 0, tray = 0, taskbar_created = 0, moves = 0, nc_destroy = 0;
};

LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (auto* seen = reinterpret_cast<Seen*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
    if (msg == kProbeMessage) {
      ++seen->probe;
      return kProbeAnswer;
    }
    if (msg == TrayCallbackMessage) ++seen->tray;
    if (msg == kTaskbarCreated) ++seen->taskbar_created;
    if (msg == WM_SHOWWINDOW || msg == WM_WINDOWPOSCHANGING) ++seen->moves;
    if (msg == WM_NCDESTROY) ++seen->nc_destroy;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// A hidden top-level window of our own class, styled like the main window, counting what
// reaches its procedure.
class TestWindow {
 public:
  TestWindow() {
    static const ATOM kClass = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof(wc);
      wc.style = CS_DBLCLKS;
      wc.lpfnWndProc = &TestWindowProc;
      wc.hInstance = ::GetModuleHandleW(nullptr);
      wc.lpszClassName = L"CorvaSystrayTestWindow";
      return ::RegisterClassExW(&wc);
    }();
    window_.reset(::CreateWindowExW(0, MAKEINTATOM(kClass), L"Systray test",
                                    WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 40, 40, 200, 120,
                                    nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr));
    ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seen));
  }
  TestWindow(const TestWindow&) = delete;  // the window holds the address of `seen`
  TestWindow& operator=(const TestWindow&) = delete;
  HWND get() const { return window_.get(); }
  void Destroy() { window_.reset(); }
  Seen seen;

 private:
  unique_hwnd window_;
};

void PumpPending() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

WNDPROC ProcedureOf(HWND hwnd) {
  return reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
}

void PutInFront(HWND hwnd) {
  ::ShowWindow(hwnd, SW_SHOW);
  ::SetForegroundWindow(hwnd);
  PumpPending();
}

// Everything that reached the "shell", as copies of the record.
struct ShellLog {
  struct Call {
    DWORD message;
    NOTIFYICONDATAA record;
  };
  std::vector<Call> calls;
  BOOL answer = TRUE;
  bool throws = false;

  Systray::ShellCall Listener() {
    return [this](DWORD message, NOTIFYICONDATAA* record) -> BOOL {
      if (throws) throw std::runtime_error("shell gone");
      calls.push_back({message, *record});
      return answer;
    };
  }
  const Call& last() const { return calls.back(); }
};

// The bytes a fixed text field should hold: text, zero, blanks, cut to the field.
std::string Padded(std::string text, std::size_t size) {
  text.push_back('\0');
  text.resize(std::max(text.size(), size), ' ');
  return text.substr(0, size);
}

template <std::size_t N>
std::string Bytes(const char (&field)[N]) {
  return std::string(field, N);
}

TEST(SystrayShell, RecordSizeFollowsTheShellsMajorVersion) {
  EXPECT_EQ(TrayRecordSizeForShell(10), NOTIFYICONDATAA_V3_SIZE);
  EXPECT_EQ(TrayRecordSizeForShell(6), NOTIFYICONDATAA_V3_SIZE);
  EXPECT_EQ(TrayRecordSizeForShell(5), NOTIFYICONDATAA_V2_SIZE);
  EXPECT_EQ(TrayRecordSizeForShell(4), NOTIFYICONDATAA_V1_SIZE);
  EXPECT_EQ(TrayRecordSizeForShell(0), NOTIFYICONDATAA_V1_SIZE);
  // Wine's shell32 reads as version 6, so this machine gets the record with the item GUID.
  const std::optional<int> major = ShellMajorVersion();
  ASSERT_TRUE(major.has_value());
  std::printf("shell32.dll major version: %d\n", *major);
  EXPECT_TRUE(ShellMajorVersionAtLeast(6));
  EXPECT_FALSE(ShellMajorVersionAtLeast(*major + 1));
  EXPECT_EQ(TrayRecordSize(), NOTIFYICONDATAA_V3_SIZE);
}

TEST(SystrayShell, RealShellAcceptsAddChangeBalloonAndDelete) {
  TestWindow window;
  Systray tray(window.get(), TrayIcons::Load(::GetModuleHandleW(nullptr)), [] {});
  const int added = tray.AddTrayIcon("KRD Tarnix Corvamon");
  const int modified = tray.ModifyTrayIcon(5, "Corvamon - Bateria al 50%");
  tray.ShowTrayBalloon(1, "Corvamon", " Retorno de Energía ");
  const int after_balloon = tray.ModifyTrayIcon(kTrayNoUsb, "Corvamon");
  const int deleted = tray.DeleteTrayIcon();
  std::printf("Shell_NotifyIconA: add %d, modify %d, modify after balloon %d, delete %d\n", added,
              modified, after_balloon, deleted);
  EXPECT_EQ(added, 1);
  EXPECT_EQ(modified, 1);
  EXPECT_EQ(after_balloon, 1);
  EXPECT_EQ(deleted, 1);
}

// The tray icons come at the small-icon size of the DPI asked for, each drawn at that size.
TEST(TrayIcons, LoadAtTheSmallIconSizeOfTheDpi) {
  const auto width = [](HICON icon) {
    ICONINFO info{};
    if (!icon || !::GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap{};
    ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    if (info.hbmColor) ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    return static_cast<int>(bitmap.bmWidth);
  };
  for (const int dpi : {96, 120, 144, 192}) {
    const TrayIcons icons = TrayIcons::Load(::GetModuleHandleW(nullptr), dpi);
    const int want = SystemMetricForDpi(SM_CXSMICON, dpi);
    EXPECT_EQ(want, ::MulDiv(16, dpi, 96)) << dpi;
    EXPECT_EQ(width(icons.main.get()), want) << dpi;
    EXPECT_EQ(width(icons.battery[5].get()), want) << dpi;
    EXPECT_EQ(width(icons.no_usb.get()), want) << dpi;
  }
}

// ---- what reaches the shell ----------------------------------------------------------------

class SystrayRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TrayIcons icons = TrayIcons::Load(::GetModuleHandleW(nullptr));
    // Kept before the Systray takes the icons over: [0] main, [1..11] charge, [12] no USB.
    icons_[0] = icons.main.get();
    for (std::size_t i = 0; i < 11; ++i) icons_[i + 1] = icons.battery[i].get();
    icons_[12] = icons.no_usb.get();
    tray_.emplace(
        window_.get(), std::move(icons), [] {}, shell_.Listener());
  }
  HICON Icon(int picture) const { return icons_[static_cast<std::size_t>(picture + 1)]; }
  // The fields every add or change writes.
  void ExpectIconRecord(DWORD message, int picture, const std::string& tip) const {
    const ShellLog::Call& call = shell_.last();
    EXPECT_EQ(call.message, message);
    EXPECT_EQ(call.record.cbSize, NOTIFYICONDATAA_V3_SIZE);
    EXPECT_EQ(call.record.hWnd, window_.get());
    EXPECT_EQ(call.record.uID, 125u);
    EXPECT_EQ(call.record.uFlags, 7u);
    EXPECT_EQ(call.record.uCallbackMessage, 1025u);
    EXPECT_EQ(call.record.hIcon, Icon(picture)) << picture;
    EXPECT_EQ(Bytes(call.record.szTip), Padded(tip, 128));
  }

  TestWindow window_;
  ShellLog shell_;
  std::array<HICON, 13> icons_{};
  std::optional<Systray> tray_;
};

TEST_F(SystrayRecordTest, IconsAreThirteenDistinctSmallPictures) {
  for (std::size_t i = 0; i < icons_.size(); ++i) {
    ASSERT_NE(icons_[i], nullptr) << i;
    for (std::size_t j = 0; j < i; ++j) EXPECT_NE(icons_[i], icons_[j]) << i << " " << j;
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(icons_[i], &info));
    unique_hbitmap colour(info.hbmColor), mask(info.hbmMask);
    BITMAP bm{};
    ::GetObjectW(colour.get(), sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, ::GetSystemMetrics(SM_CXSMICON)) << i;
  }
}

TEST_F(SystrayRecordTest, AddChangeAndDeleteSendTheWholeRecord) {
  EXPECT_EQ(tray_->AddTrayIcon("KRD Tarnix Corvamon"), 1);
  ExpectIconRecord(NIM_ADD, kTrayMainIcon, "KRD Tarnix Corvamon");
  const NOTIFYICONDATAA& r = shell_.last().record;
  const GUID none{};
  EXPECT_EQ(r.dwState | r.dwStateMask | r.uTimeout | r.dwInfoFlags, 0u);
  EXPECT_TRUE(::IsEqualGUID(r.guidItem, none));

  for (int picture = kTrayMainIcon; picture <= kTrayNoUsb; ++picture) {
    EXPECT_EQ(tray_->ModifyTrayIcon(picture, "Corvamon - Bateria al 50%"), 1);
    ExpectIconRecord(NIM_MODIFY, picture, "Corvamon - Bateria al 50%");
  }
  EXPECT_EQ(tray_->DeleteTrayIcon(), 1);
  ExpectIconRecord(NIM_DELETE, kTrayNoUsb, "Corvamon - Bateria al 50%");
  EXPECT_EQ(shell_.calls.size(), 15u);

  // The answers are the shell's own.
  shell_.answer = FALSE;
  EXPECT_EQ(tray_->AddTrayIcon("Corvamon"), 0);
  EXPECT_EQ(tray_->ModifyTrayIcon(3, "Corvamon"), 0);
  EXPECT_EQ(tray_->DeleteTrayIcon(), 0);
}

TEST_F(SystrayRecordTest, TipsAreZeroEndedBlankFilledAndCut) {
  const std::string tip127(127, 'a');
  tray_->ModifyTrayIcon(0, tip127);
  EXPECT_EQ(Bytes(shell_.last().record.szTip), tip127 + '\0');
  std::string tip200;
  for (int i = 0; i < 200; ++i) tip200.push_back(static_cast<char>('a' + i % 26));
  tray_->ModifyTrayIcon(0, tip200);
  EXPECT_EQ(Bytes(shell_.last().record.szTip), tip200.substr(0, 128));  // no zero left
  tray_->ModifyTrayIcon(0, "Corvamon");  // nothing of the long tip stays behind
  EXPECT_EQ(Bytes(shell_.last().record.szTip), Padded("Corvamon", 128));
}

TEST_F(SystrayRecordTest, BalloonKeepsTheIconAndTheNextChangeSendsTheIconAgain) {
  tray_->AddTrayIcon("KRD Tarnix Corvamon");
  tray_->ModifyTrayIcon(4, "Corvamon - Bateria al 40%");
  tray_->ShowTrayBalloon(1, "Corvamon", " FALLA DE LINEA ");
  const ShellLog::Call& call = shell_.last();
  EXPECT_EQ(call.message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(call.record.uFlags, 16u);
  EXPECT_EQ(call.record.hWnd, window_.get());
  EXPECT_EQ(call.record.uID, 125u);
  EXPECT_EQ(call.record.hIcon, Icon(4));
  EXPECT_EQ(Bytes(call.record.szTip), Padded("Corvamon - Bateria al 40%", 128));
  EXPECT_EQ(Bytes(call.record.szInfo), Padded(" FALLA DE LINEA ", 256));
  EXPECT_EQ(Bytes(call.record.szInfoTitle), Padded("Corvamon", 64));
  EXPECT_EQ(call.record.dwInfoFlags, 1u);
  EXPECT_EQ(call.record.uTimeout, 0u);

  tray_->ShowTrayBalloon(2, std::string(80, 'T'), std::string(300, 't'));
  EXPECT_EQ(Bytes(shell_.last().record.szInfo), std::string(256, 't'));
  EXPECT_EQ(Bytes(shell_.last().record.szInfoTitle), std::string(64, 'T'));
  EXPECT_EQ(shell_.last().record.dwInfoFlags, 2u);

  tray_->ModifyTrayIcon(kTrayMainIcon, "Corvamon");
  ExpectIconRecord(NIM_MODIFY, kTrayMainIcon, "Corvamon");
}

TEST_F(SystrayRecordTest, OnlyAChangeTheIconDoesNotShowYetReachesTheShell) {
  tray_->AddTrayIcon("KRD Tarnix Corvamon");
  tray_->ModifyTrayIcon(4, "Corvamon - Bateria al 40%");
  const std::size_t shown = shell_.calls.size();
  // Frame after frame of the same charge: the icon already shows it.
  EXPECT_EQ(tray_->ModifyTrayIcon(4, "Corvamon - Bateria al 40%"), 1);
  EXPECT_EQ(shell_.calls.size(), shown);
  // Another tip, or another picture, shows at once.
  tray_->ModifyTrayIcon(4, "Corvamon - Bateria al 39%");
  ExpectIconRecord(NIM_MODIFY, 4, "Corvamon - Bateria al 39%");
  tray_->ModifyTrayIcon(3, "Corvamon - Bateria al 39%");
  ExpectIconRecord(NIM_MODIFY, 3, "Corvamon - Bateria al 39%");
  EXPECT_EQ(shell_.calls.size(), shown + 2);
  // A balloon leaves the icon as it was.
  tray_->ShowTrayBalloon(1, "Corvamon", " FALLA DE LINEA ");
  tray_->ModifyTrayIcon(3, "Corvamon - Bateria al 39%");
  EXPECT_EQ(shell_.calls.size(), shown + 3);

  // A change the shell refused is asked for again, and so is the icon after a delete.
  shell_.answer = FALSE;
  EXPECT_EQ(tray_->ModifyTrayIcon(2, "Corvamon - Bateria al 20%"), 0);
  shell_.answer = TRUE;
  EXPECT_EQ(tray_->ModifyTrayIcon(2, "Corvamon - Bateria al 20%"), 1);
  ExpectIconRecord(NIM_MODIFY, 2, "Corvamon - Bateria al 20%");
  EXPECT_EQ(shell_.calls.size(), shown + 5);
  tray_->DeleteTrayIcon();
  tray_->ModifyTrayIcon(2, "Corvamon - Bateria al 20%");
  ExpectIconRecord(NIM_MODIFY, 2, "Corvamon - Bateria al 20%");
}

TEST_F(SystrayRecordTest, AccentedTextsArriveInCodePage1252) {
  ASSERT_EQ(::GetACP(), 1252u);
  tray_->ModifyTrayIcon(0, "Batería baja");
  EXPECT_EQ(Bytes(shell_.last().record.szTip), Padded("Bater\xED"
                                                      "a baja",
                                                      128));
  tray_->ShowTrayBalloon(1, "Línea", " Retorno de Energía ");
  EXPECT_EQ(static_cast<unsigned char>(shell_.last().record.szInfo[17]), 0xEDu);
  EXPECT_EQ(Bytes(shell_.last().record.szInfo), Padded(" Retorno de Energ\xED"
                                                       "a ",
                                                       256));
  EXPECT_EQ(Bytes(shell_.last().record.szInfoTitle), Padded("L\xED"
                                                            "nea",
                                                            64));
}

// ---- the hooked main window ----------------------------------------------------------------

class SystrayHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = ProcedureOf(window_.get());
    ASSERT_EQ(original_, &TestWindowProc);
  }
  void TearDown() override { PumpPending(); }
  // Its restore action counts, then restores the window. (A temporary: a Systray cannot move.)
  Systray MakeTray() {
    return Systray(
        window_.get(), TrayIcons::Load(::GetModuleHandleW(nullptr)),
        [this] {
          ++restores_;
          RestoreWindow(window_.get());
        },
        shell_.Listener());
  }
  LRESULT SendTray(UINT mouse) {
    return ::SendMessageW(window_.get(), TrayCallbackMessage, kTrayIconId, mouse);
  }

  TestWindow window_, other_;
  WNDPROC original_ = nullptr;
  ShellLog shell_;
  int restores_ = 0;
};

TEST_F(SystrayHookTest, MouseOnTheIconBringsTheWindowForwardAndDoubleClickRestoresIt) {
  Systray tray = MakeTray();
  tray.HookMainWindow();
  ASSERT_TRUE(tray.hooked());
  PutInFront(other_.get());
  ASSERT_EQ(::GetForegroundWindow(), other_.get());

  EXPECT_EQ(SendTray(WM_MOUSEMOVE), 0);
  EXPECT_EQ(::GetForegroundWindow(), window_.get());
  EXPECT_FALSE(::IsWindowVisible(window_.get()));
  EXPECT_EQ(SendTray(WM_LBUTTONDOWN), 0);
  EXPECT_EQ(SendTray(WM_LBUTTONUP), 0);
  EXPECT_EQ(restores_, 0);
  EXPECT_EQ(SendTray(WM_LBUTTONDBLCLK), 0);
  EXPECT_EQ(restores_, 1);
  EXPECT_TRUE(::IsWindowVisible(window_.get()));
  EXPECT_EQ(window_.seen.tray, 0);  // the hook answers them all
}

TEST_F(SystrayHookTest, WithoutARestoreActionADoubleClickRestoresTheWindowItself) {
  Systray tray(window_.get(), TrayIcons{}, nullptr, shell_.Listener());
  tray.HookMainWindow();
  HideToTray(window_.get());
  SendTray(WM_LBUTTONDBLCLK);
  EXPECT_TRUE(::IsWindowVisible(window_.get()));
  EXPECT_FALSE(::IsIconic(window_.get()));
}

TEST_F(SystrayHookTest, OtherMessagesPassOnAndUnhookPutsTheOriginalProcedureBack) {
  {
    Systray tray = MakeTray();
    tray.HookMainWindow();
    tray.HookMainWindow();  // a second hook must not chain the procedure to itself
    EXPECT_EQ(::SendMessageW(window_.get(), kProbeMessage, 0, 0), kProbeAnswer);
    ::PostMessageW(window_.get(), kProbeMessage, 0, 0);
    PumpPending();
    EXPECT_EQ(window_.seen.probe, 2);
    // The window's own data is left alone.
    EXPECT_EQ(::GetWindowLongPtrW(window_.get(), GWLP_USERDATA),
              reinterpret_cast<LONG_PTR>(&window_.seen));

    tray.UnhookMainWindow();
    EXPECT_FALSE(tray.hooked());
    EXPECT_EQ(ProcedureOf(window_.get()), original_);
    EXPECT_EQ(::GetPropW(window_.get(), L"Corvamon.Systray"), nullptr);
    SendTray(WM_LBUTTONDBLCLK);  // now straight to the window, nothing restored
    EXPECT_EQ(window_.seen.tray, 1);
    EXPECT_EQ(restores_, 0);
    tray.UnhookMainWindow();  // nothing saved any more: harmless

    tray.HookMainWindow();  // hooked again, then the Systray goes away
    ASSERT_NE(ProcedureOf(window_.get()), original_);
  }
  EXPECT_EQ(ProcedureOf(window_.get()), original_);
  EXPECT_EQ(::GetPropW(window_.get(), L"Corvamon.Systray"), nullptr);
}

TEST_F(SystrayHookTest, AWindowDestroyedWhileHookedLetsGoOfTheSystray) {
  Systray tray = MakeTray();
  tray.HookMainWindow();
  Seen* seen = &window_.seen;
  window_.Destroy();
  EXPECT_EQ(seen->nc_destroy, 1);  // its own procedure still had the last word
  EXPECT_FALSE(tray.hooked());
}

TEST_F(SystrayHookTest, ExplorerRestartingPutsTheIconBackAsItWas) {
  Systray tray = MakeTray();
  ASSERT_EQ(tray.AddTrayIcon("KRD Tarnix Corvamon"), 1);
  tray.HookMainWindow();
  tray.ModifyTrayIcon(3, "Corvamon - Bateria al 30%");
  tray.ShowTrayBalloon(1, "Corvamon", " FALLA DE LINEA ");
  const HICON icon = tray.record().hIcon;

  ::SendMessageW(window_.get(), kTaskbarCreated, 0, 0);
  ASSERT_EQ(shell_.calls.size(), 4u);
  const ShellLog::Call& call = shell_.last();
  EXPECT_EQ(call.message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(call.record.uFlags, 7u);  // the icon, not the balloon again
  EXPECT_EQ(call.record.hWnd, window_.get());
  EXPECT_EQ(call.record.uID, 125u);
  EXPECT_EQ(call.record.hIcon, icon);
  EXPECT_EQ(Bytes(call.record.szTip), Padded("Corvamon - Bateria al 30%", 128));
  EXPECT_EQ(window_.seen.taskbar_created, 1);  // the window hears of it too

  tray.DeleteTrayIcon();  // once deleted there is nothing to put back
  ::SendMessageW(window_.get(), kTaskbarCreated, 0, 0);
  EXPECT_EQ(shell_.calls.size(), 5u);
  shell_.answer = FALSE;  // nor when the shell refused the icon
  tray.AddTrayIcon("Corvamon");
  ::SendMessageW(window_.get(), kTaskbarCreated, 0, 0);
  EXPECT_EQ(shell_.calls.size(), 6u);
  EXPECT_EQ(window_.seen.taskbar_created, 3);
}

TEST_F(SystrayHookTest, NoExceptionLeavesTheWindowProcedure) {
  Systray tray(
      window_.get(), TrayIcons{}, [] { throw std::runtime_error("restore failed"); },
      shell_.Listener());
  ASSERT_EQ(tray.AddTrayIcon("Corvamon"), 1);
  tray.HookMainWindow();
  EXPECT_EQ(SendTray(WM_LBUTTONDBLCLK), 0);
  shell_.throws = true;  // the icon cannot be put back, yet the window hears of the restart
  ::SendMessageW(window_.get(), kTaskbarCreated, 0, 0);
  EXPECT_EQ(window_.seen.taskbar_created, 1);
  EXPECT_EQ(::SendMessageW(window_.get(), kProbeMessage, 0, 0), kProbeAnswer);
}

// ---- window operations ---------------------------------------------------------------------

class SystrayWindowTest : public ::testing::Test {
 protected:
  void TearDown() override { PumpPending(); }
  TestWindow window_, other_;
};

TEST_F(SystrayWindowTest, HideToTrayMinimisesAndHidesAndRestoreWindowUndoesIt) {
  ::ShowWindow(window_.get(), SW_SHOWNORMAL);
  HideToTray(window_.get());
  EXPECT_FALSE(::IsWindowVisible(window_.get()));
  EXPECT_TRUE(::IsIconic(window_.get()));
  RestoreWindow(window_.get());
  EXPECT_TRUE(::IsWindowVisible(window_.get()));
  EXPECT_FALSE(::IsIconic(window_.get()));
}

TEST_F(SystrayWindowTest, BringWindowToFrontLeavesAForegroundWindowInSightAlone) {
  ::ShowWindow(window_.get(), SW_SHOWNORMAL);
  PutInFront(window_.get());
  ASSERT_EQ(::GetForegroundWindow(), window_.get());
  window_.seen.moves = 0;
  BringWindowToFront(window_.get());
  PumpPending();
  EXPECT_EQ(window_.seen.moves, 0);
}

// Fault: the mouse over the tray icon makes the hidden window the foreground window, and a
// power failure then left it hidden because it "already was in front".
TEST_F(SystrayWindowTest, BringWindowToFrontShowsAForegroundWindowThatIsHiddenOrMinimised) {
  ::ShowWindow(window_.get(), SW_SHOWNORMAL);
  PutInFront(window_.get());
  HideToTray(window_.get());
  ::SetForegroundWindow(window_.get());  // what the tray icon's mouse message does
  ASSERT_FALSE(::IsWindowVisible(window_.get()));
  BringWindowToFront(window_.get());
  EXPECT_TRUE(::IsWindowVisible(window_.get()));
  EXPECT_FALSE(::IsIconic(window_.get()));

  ::ShowWindow(window_.get(), SW_SHOWMINIMIZED);
  PutInFront(window_.get());
  BringWindowToFront(window_.get());
  EXPECT_FALSE(::IsIconic(window_.get()));
  EXPECT_EQ(::GetForegroundWindow(), window_.get());
}

TEST_F(SystrayWindowTest, BringWindowToFrontRestoresAMinimisedOrHiddenWindow) {
  ::ShowWindow(window_.get(), SW_SHOWMINNOACTIVE);
  PutInFront(other_.get());
  ASSERT_EQ(::GetForegroundWindow(), other_.get());
  BringWindowToFront(window_.get());
  EXPECT_FALSE(::IsIconic(window_.get()));
  EXPECT_EQ(::GetForegroundWindow(), window_.get());

  ::ShowWindow(window_.get(), SW_HIDE);
  PutInFront(other_.get());
  BringWindowToFront(window_.get());
  EXPECT_TRUE(::IsWindowVisible(window_.get()));
  EXPECT_EQ(::GetForegroundWindow(), window_.get());
}

TEST_F(SystrayWindowTest, BringWindowToFrontTakesTheForegroundFromAnotherThread) {
  std::atomic<HWND> theirs{nullptr};
  std::atomic<bool> done{false};
  std::thread owner([&] {
    TestWindow foreign;
    PutInFront(foreign.get());
    theirs = foreign.get();
    while (!done) {
      PumpPending();
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
  });
  while (!theirs) ::Sleep(5);
  const bool theirs_in_front = ::GetForegroundWindow() == theirs.load();
  BringWindowToFront(window_.get());
  const HWND front = ::GetForegroundWindow();
  done = true;
  owner.join();
  ASSERT_TRUE(theirs_in_front);
  EXPECT_EQ(front, window_.get());
}

}  // namespace
}  // namespace corva::win
