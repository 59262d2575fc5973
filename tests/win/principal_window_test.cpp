// The main window against the real window manager, GDI and profile functions under Wine. The
// links (serial ports, USB, tray) are fakes so the window's own work is what is checked.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "../fakes/fakes.h"
#include "access_io_device.h"
#include "control_ids.h"
#include "gdi_count.h"
#include "principal_window.h"
#include "resource.h"
#include "skin_layout.h"
#include "text.h"

namespace corva::win {
namespace {

std::wstring MakeTempFolder() {
  wchar_t base[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, base);
  wchar_t name[MAX_PATH] = {};
  ::GetTempFileNameW(base, L"cvw", 0, name);
  ::DeleteFileW(name);
  ::CreateDirectoryW(name, nullptr);
  return name;
}

std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[256] = {};
  ::GetWindowTextW(hwnd, buffer, 256);
  return buffer;
}

bool HasStyle(HWND hwnd, LONG_PTR style) {
  return (::GetWindowLongPtrW(hwnd, GWL_STYLE) & style) == style;
}

void PumpPending() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

class PrincipalWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTempFolder();
    ini_path_ = folder_ + L"\\Corvamon.ini";
    WriteIni("[Inicio]\r\nDataString=&&&10\r\n[Prefs]\r\nMostrarMute=1\r\nAlarmaConSonido=1\r\n"
             "MostrarTest=0\r\n");
    tray_.result = 0;
  }
  void TearDown() override {
    window_.reset();
    PumpPending();
    ::DeleteFileW(ini_path_.c_str());
    ::RemoveDirectoryW(folder_.c_str());
  }

  void WriteIni(const std::string& text) {
    std::ofstream out(ini_path_.c_str(), std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string IniBytes() const {
    std::ifstream in(ini_path_.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Open() {
    window_ = PrincipalWindow::Create(::GetModuleHandleW(nullptr),
                                      {usb_, &tray_, MSComm1_, MSComm2_, log_, platform_, shutdown_, office_}, folder_);
    ASSERT_TRUE(window_);
  }
  HWND Child(int id) const { return ::GetDlgItem(window_->hwnd(), id); }

  std::wstring folder_, ini_path_;
  fakes::FakeSerialPort MSComm1_, MSComm2_;
  fakes::FakeUsb usb_;
  fakes::FakeTray tray_;
  fakes::FakeLogFile log_;
  fakes::FakePlatform platform_;
  fakes::FakeShutdown shutdown_;
  fakes::FakeOffice office_;
  std::unique_ptr<PrincipalWindow> window_;
};

TEST_F(PrincipalWindowTest, IsABorderlessWindowSizedToItsSkin) {
  Open();
  HWND hwnd = window_->hwnd();
  EXPECT_EQ(TextOf(hwnd), L"KRD Corvamon");
  EXPECT_TRUE(HasStyle(hwnd, WS_POPUP));
  EXPECT_FALSE(HasStyle(hwnd, WS_CAPTION));
  EXPECT_FALSE(HasStyle(hwnd, WS_THICKFRAME));
  EXPECT_FALSE(HasStyle(hwnd, WS_BORDER));
  RECT client{};
  ::GetClientRect(hwnd, &client);
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  EXPECT_EQ(client.right, skin::kSkin.w);
  EXPECT_EQ(client.bottom, skin::kSkin.h - ::MulDiv(15, dpi, 1440));
}

TEST_F(PrincipalWindowTest, LabelsAreRealChildWindowsWithTheirDesignCaptions) {
  Open();
  const std::pair<int, const wchar_t*> expected[] = {
      {ids::lblvolt, L"0 Volts"},   {ids::lblfr, L"0 Hz"},         {ids::lblbat, L"0 %"},
      {ids::lblop, L" Normal"},     {ids::lblidenti, L"Autoprueba"}, {ids::lbltit0, L"Salida"},
      {ids::lbltit1, L"Frecuencia"}, {ids::lbltit2, L"L\u00EDnea"},   {ids::lblmsg, L""},
  };
  for (const auto& [id, caption] : expected) {
    HWND child = Child(id);
    ASSERT_NE(child, nullptr) << id;
    EXPECT_EQ(TextOf(child), caption) << id;
  }
  for (int id : {ids::IBClose, ids::IBMin, ids::IBMute, ids::IMBatG, ids::ImgConn,
                 ids::ImgMainBat}) {
    EXPECT_NE(Child(id), nullptr) << id;
  }
}

// Most frames repeat the last readings: a label or the gauge that would show the same thing is
// not drawn again, and one that changes is drawn at once, also when only a digit changes.
TEST_F(PrincipalWindowTest, OnlyWhatChangesIsDrawnAgain) {
  Open();
  window_->Show(SW_SHOWNA);
  PumpPending();
  const auto pending = [](HWND child) {
    RECT r{};
    return ::GetUpdateRect(child, &r, FALSE) != FALSE;
  };
  HWND label = Child(ids::lblbat);
  HWND gauge = Child(ids::IMBatG);
  window_->SetText(Control::lblbat, "80.00 %");
  window_->SetGauge(8);
  ::ValidateRect(label, nullptr);
  ::ValidateRect(gauge, nullptr);

  window_->SetText(Control::lblbat, "80.00 %");
  window_->SetGauge(8);
  EXPECT_FALSE(pending(label));
  EXPECT_FALSE(pending(gauge));

  window_->SetText(Control::lblbat, "66.67 %");
  EXPECT_EQ(TextOf(label), L"66.67 %");
  EXPECT_TRUE(pending(label));
  window_->SetGauge(6);
  EXPECT_TRUE(pending(gauge));
}

// Fault: a device error ended the process on the spot, with a dead tray icon, the ports open and
// the waiting log entries lost; and its box was titled "Error" instead of the program's name.
TEST_F(PrincipalWindowTest, ADeviceErrorEndsTheProgramThroughTheWindowsUnload) {
  WriteIni("[Inicio]\r\nDataString=&&&10\r\n[Prefs]\r\nBitacora=1\r\n");
  tray_.result = 1;
  Open();
  window_->core().Activate();
  ASSERT_TRUE(MSComm1_.open);
  log_.locked = true;  // the start entry waits for the log
  MSComm1_.Arrive({'&', '&', '&', 56, 120, 200, 65, 92, '0', '0'});
  ASSERT_EQ(window_->core().Log().Pending(), 1u);

  const DWORD ui_thread = ::GetCurrentThreadId();
  std::wstring caption;
  std::thread closer([&] {
    for (int i = 0; i < 1000; ++i) {  // up to 10 s for the box to show
      HWND box = ::FindWindowW(L"#32770", nullptr);
      if (box && ::GetWindowThreadProcessId(box, nullptr) == ui_thread) {
        caption = TextOf(box);
        log_.locked = false;  // whoever held the log lets go while the box is up
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      ::Sleep(10);
    }
  });
  ::SetLastError(ERROR_GEN_FAILURE);
  ReportDeviceError("Could not attach to PnP node");
  closer.join();

  EXPECT_EQ(caption, L"Corvamon");
  EXPECT_EQ(window_->hwnd(), nullptr);
  EXPECT_NE(std::find(tray_.log.begin(), tray_.log.end(), "delete"), tray_.log.end());
  EXPECT_FALSE(MSComm1_.open);
  EXPECT_EQ(log_.contents.rfind("Inicio de Monitoreo KRD ", 0), 0u) << log_.contents;
  MSG quit{};
  ASSERT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, static_cast<WPARAM>(ERROR_GEN_FAILURE));
}

TEST_F(PrincipalWindowTest, ButtonsFollowTheirSwitchesAndTheMuteButtonWritesTheIni) {
  Open();
  EXPECT_TRUE(HasStyle(Child(ids::IBMute), WS_VISIBLE));
  EXPECT_FALSE(HasStyle(Child(ids::IBTest), WS_VISIBLE));  // MostrarTest=0
  EXPECT_TRUE(HasStyle(Child(ids::IBClose), WS_VISIBLE));

  ::SendMessageW(Child(ids::IBMute), BM_CLICK, 0, 0);
  PumpPending();
  EXPECT_NE(IniBytes().find("AlarmaConSonido=0"), std::string::npos) << IniBytes();
  ::SendMessageW(Child(ids::IBMute), BM_CLICK, 0, 0);
  PumpPending();
  EXPECT_NE(IniBytes().find("AlarmaConSonido=1"), std::string::npos) << IniBytes();
}

TEST_F(PrincipalWindowTest, TimersStartDisabled) {
  Open();
  for (Timer t : {Timer::TimerUSB, Timer::TimerBuscaUSB, Timer::Timerdesconexion,
                  Timer::TimerApagar}) {
    EXPECT_FALSE(window_->TimerEnabled(t));
  }
  window_->EnableTimer(Timer::TimerApagar, true);
  EXPECT_TRUE(window_->TimerEnabled(Timer::TimerApagar));
  window_->EnableTimer(Timer::TimerApagar, false);
  EXPECT_FALSE(window_->TimerEnabled(Timer::TimerApagar));
}

TEST_F(PrincipalWindowTest, PaintsTheSkinAndTheLabelTextOverIt) {
  Open();
  HWND hwnd = window_->hwnd();
  ::SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  PumpPending();
  ::Sleep(200);  // let the X server take the drawing
  PumpPending();

  HBITMAP skin = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                   MAKEINTRESOURCEW(IDB_SKIN), IMAGE_BITMAP, 0,
                                                   0, LR_CREATEDIBSECTION));
  ASSERT_NE(skin, nullptr);
  HDC window_dc = ::GetDC(hwnd);
  HDC skin_dc = ::CreateCompatibleDC(window_dc);
  HGDIOBJ old = ::SelectObject(skin_dc, skin);

  // Away from every control the window shows its skin.
  for (POINT p : {POINT{5, 100}, POINT{200, 15}, POINT{120, 160}}) {
    EXPECT_EQ(::GetPixel(window_dc, p.x, p.y), ::GetPixel(skin_dc, p.x, p.y)) << p.x << "," << p.y;
  }
  // Inside lblvolt some pixels are the text, lighter than the well under it.
  const skin::Rect& r = skin::kLblVolt;
  int text_pixels = 0;
  for (int y = r.y; y < r.y + r.h; ++y) {
    for (int x = r.x; x < r.x + r.w; ++x) {
      if (::GetPixel(window_dc, x, y) != ::GetPixel(skin_dc, x, y)) ++text_pixels;
    }
  }
  EXPECT_GT(text_pixels, 20);

  ::SelectObject(skin_dc, old);
  ::DeleteDC(skin_dc);
  ::ReleaseDC(hwnd, window_dc);
  ::DeleteObject(skin);
}

TEST_F(PrincipalWindowTest, OpeningAndClosingTheWindowLeaksNoGdiObjects) {
  const auto cycle = [this] {
    Open();
    window_->Show(SW_SHOWNA);
    ::RedrawWindow(window_->hwnd(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    window_->SetText(Control::lblvolt, "120.0 Volts");
    window_->SetMutePictures(false);
    window_->SetLinkPicture(LinkPicture::Usb);
    PumpPending();
    window_.reset();
    PumpPending();
  };
  // The first runs fill what the system caches (fonts, stock objects, class data).
  cycle();
  cycle();
  const int before = test::LiveGdiObjects();
  ASSERT_GT(before, 0);
  std::vector<int> after;
  for (int i = 0; i < 4; ++i) {
    cycle();
    after.push_back(test::LiveGdiObjects());
  }
  EXPECT_EQ(after, std::vector<int>(4, before));
}

// Moved to a screen of another DPI, the window takes the suggested place and its skin's size at
// the new scale, and its labels, pictures and buttons their places; back and forth, nothing
// drawn at the old scale stays behind.
TEST_F(PrincipalWindowTest, FollowsADpiChangeAndLeaksNothingOnTheWay) {
  Open();
  window_->Show(SW_SHOWNA);
  HWND hwnd = window_->hwnd();
  const auto child_rect = [&](int id) {
    RECT r{};
    ::GetWindowRect(Child(id), &r);
    ::MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  const auto move_to = [&](int dpi, int x, int y) {
    RECT suggested{x, y, x + skin::kSkin.w * dpi / 96, y + skin::kSkin.h * dpi / 96};
    ::SendMessageW(hwnd, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi),
                   reinterpret_cast<LPARAM>(&suggested));
    ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PumpPending();
  };
  const int trim96 = skin::kSkin.h - ::MulDiv(15, 96, 1440);

  move_to(192, 40, 30);
  RECT window{};
  ::GetWindowRect(hwnd, &window);
  EXPECT_EQ(window.left, 40);
  EXPECT_EQ(window.top, 30);
  EXPECT_EQ(window.right - window.left, 2 * skin::kSkin.w);
  EXPECT_EQ(window.bottom - window.top, 2 * skin::kSkin.h - ::MulDiv(15, 192, 1440));
  const RECT msg = child_rect(ids::lblmsg);
  EXPECT_EQ(msg.left, 2 * skin::kLblMsg.x);
  EXPECT_EQ(msg.top, 2 * skin::kLblMsg.y);
  EXPECT_EQ(msg.right - msg.left, 2 * skin::kLblMsg.w);
  const RECT test = child_rect(ids::IBTest);
  EXPECT_EQ(test.left, 2 * skin::kIBTest.x);
  EXPECT_EQ(test.bottom - test.top, 2 * skin::kIBTest.h);

  move_to(144, 10, 10);
  const RECT gauge = child_rect(ids::IMBatG);
  EXPECT_EQ(gauge.left, ::MulDiv(skin::kIMBatG.x, 3, 2));  // 25.5 rounds up, as MulDiv does
  EXPECT_EQ(gauge.right - gauge.left, skin::kIMBatG.w * 3 / 2);

  move_to(96, 0, 0);
  ::GetWindowRect(hwnd, &window);
  EXPECT_EQ(window.right - window.left, skin::kSkin.w);
  EXPECT_EQ(window.bottom - window.top, trim96);
  EXPECT_EQ(child_rect(ids::lblmsg).left, skin::kLblMsg.x);

  // Each round trip reloads every picture and font; none of the old ones may stay.
  window_->SetMutePictures(false);
  const int before = test::LiveGdiObjects();
  for (int i = 0; i < 3; ++i) {
    move_to(192, 0, 0);
    move_to(96, 0, 0);
  }
  EXPECT_EQ(test::LiveGdiObjects(), before);
}

}  // namespace
}  // namespace corva::win
