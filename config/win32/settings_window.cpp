#include "settings_window.h"

#include <commctrl.h>

#include <algorithm>
#include <windowsx.h>

#include "access_io_device.h"
#include "arrange_skin.h"
#include "caption_button.h"
#include "config_ids.h"
#include "config_layout.h"
#include "documents.h"
#include "dpi.h"
#include "ini_io.h"
#include "locator_window.h"
#include "log_tools.h"
#include "resource.h"
#include "text.h"
#include "window_procedure.h"

namespace corva::config::win {

using corva::win::unique_hbitmap;
using corva::win::unique_hdc;
using corva::win::unique_hfont;
using corva::win::select_object;
using corva::win::paint_dc;
using corva::win::Widen;
using corva::win::Narrow;

namespace {

constexpr wchar_t kClassName[] = L"CorvasetPrincipal";
constexpr wchar_t kPageClassName[] = L"CorvasetPagina";

// Texts of the window (the core has the ones it decides with).
constexpr wchar_t kMenuCaptions[5][32] = {L"Inicio y Notificaciones", L"Guardar archivos",
                                          L"Opciones de Apagado", L"Informaci\u00F3n general",
                                          L"Salir"};
constexpr wchar_t kVersion[] = L"Versi\u00F3n del Corvamon 17.1.1";
constexpr wchar_t kMaker[] =
    L"KRD Tarnix, S.A. de C.V.\r\nAv. de la Energ\u00EDa 1520\r\nParque Industrial Norte\r\n"
    L"64000 Monterrey, N.L., M\u00E9xico\r\nsoporte@krd-tarnix.example";
constexpr wchar_t kRights[] =
    L"\u00A9 2026 KRD Tarnix. Todos los derechos reservados. Corvamon y Corvaset se entregan "
    L"con su equipo BRAX y se usan bajo su licencia.";

constexpr int kMenuButtonGap = 46;
constexpr int kPageMargin = 16;

// Where the skin's pieces, the menu panel and the pages go in the window at an art scale: the
// pictures' sizes at that scale are the ones they were drawn at.
SkinPlacement Placement(int art_scale) {
  const auto s = [art_scale](int v) { return corva::dpi::ScaleBy(v, art_scale); };
  const auto size = [&](const skin::Size& z) { return Size{s(z.w), s(z.h)}; };
  return ArrangeSkin(s(skin::kWindow.w), s(skin::kWindow.h),
                     SkinSizes{size(skin::kTopL), size(skin::kTopM), size(skin::kDT),
                               size(skin::kCorner), size(skin::kCorner), size(skin::kCorner),
                               s(skin::kEdge.w), s(skin::kEdge.h), s(skin::kMenu.w),
                               s(skin::kBar.w), size(skin::kPage)});
}

}  // namespace

std::unique_ptr<SettingsWindow> SettingsWindow::Create(HINSTANCE instance,
                                                       const std::wstring& program_folder) {
  std::unique_ptr<SettingsWindow> window(new SettingsWindow(instance, program_folder));
  // At the screen's scale; created on a screen of another DPI, the window takes that one at
  // WM_CREATE.
  window->art_scale_ = corva::dpi::ArtScaleForDpi(corva::win::ScreenDpi());
  if (!window->LoadPictures()) return nullptr;

  // The class's icons are shared by the system: they outlive any one window.
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &corva::win::WindowProcedure<SettingsWindow>;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_CORVASET), IMAGE_ICON,
                                             0, 0, LR_DEFAULTSIZE | LR_SHARED));
  const int screen_dpi = corva::win::ScreenDpi();
  wc.hIconSm = static_cast<HICON>(::LoadImageW(
      instance, MAKEINTRESOURCEW(IDI_CORVASET), IMAGE_ICON,
      corva::win::SystemMetricForDpi(SM_CXSMICON, screen_dpi),
      corva::win::SystemMetricForDpi(SM_CYSMICON, screen_dpi), LR_SHARED));
  wc.lpszClassName = kClassName;
  ::RegisterClassExW(&wc);
  WNDCLASSEXW page{};
  page.cbSize = sizeof(page);
  page.lpfnWndProc = &SettingsWindow::PageProc;
  page.hInstance = instance;
  page.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  page.hbrBackground = window->page_brush_.get();
  page.lpszClassName = kPageClassName;
  ::RegisterClassExW(&page);

  // The client area is the skin's size; the system's work area centres it.
  const SIZE size = window->WindowSize();
  const POINT at = corva::win::CentredOnWorkArea(size);
  HWND hwnd = ::CreateWindowExW(WS_EX_APPWINDOW, kClassName, Widen(text::kWindowCaption).c_str(),
                                WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, at.x,
                                at.y, size.cx, size.cy, nullptr, nullptr, instance, window.get());
  if (!hwnd) return nullptr;
  corva::win::SetDeviceErrorHandling({L"Corvaset", nullptr});

  // Form_Load: settings, connection (the locator may run here, before this window shows),
  // controls.
  window->core_->Load(Narrow(program_folder) + "\\" + ini::kFileName);
  return window;
}

SettingsWindow::SettingsWindow(HINSTANCE instance, std::wstring program_folder)
    : instance_(instance), program_folder_(std::move(program_folder)) {
  const std::string ini_path = Narrow(program_folder_) + "\\" + ini::kFileName;
  core_ = std::make_unique<SettingsForm>(FormPorts{
      *this,
      [ini_path](std::string_view section, std::string_view key) {
        return corva::win::ReadSetting(ini_path, section, key);
      },
      [ini_path](std::string_view section, std::string_view key, std::string_view value) {
        if (corva::win::WriteSetting(ini_path, section, key, value)) return WriteResult{};
        return WriteResult{false, corva::win::SystemMessage(::GetLastError())};
      },
      [](std::string_view product) {
        // Found and let go at once: the monitor opens it when it runs.
        return static_cast<bool>(corva::win::FindUsbDevice(product));
      },
      [this] { return RunLocator(instance_, hwnd_); },
      [] { return corva::win::DefaultSaveDirectory(); },
      [this](bool create) { UpdateStartupShortcut(create, program_folder_); }});
}

SettingsWindow::~SettingsWindow() {
  if (hwnd_) ::DestroyWindow(hwnd_);
  for (auto& set : buttons_) set.reset();
}

void SettingsWindow::Show(int show_command) {
  ::ShowWindow(hwnd_, show_command);
  ::UpdateWindow(hwnd_);
}

bool SettingsWindow::LoadPictures() {
  const auto load = [this](int id) { return corva::win::LoadArtBitmap(instance_, id, art_scale_); };
  top_l_ = load(IDB_TOP_L);
  top_m_ = load(IDB_TOP_M);
  top_dt_ = load(IDB_TOP_DT);
  corner_it_ = load(IDB_CORNER_IT);
  corner_id_ = load(IDB_CORNER_ID);
  corner_dd_ = load(IDB_CORNER_DD);
  edge_im_ = load(IDB_EDGE_IM);
  edge_dm_ = load(IDB_EDGE_DM);
  edge_md_ = load(IDB_EDGE_MD);
  menu_ = load(IDB_MENU);
  bar_ = load(IDB_BAR);
  info_ = load(IDB_INFO);
  for (int i = 0; i < 3; ++i) {
    menu_looks_[static_cast<std::size_t>(i)] = load(IDB_MENU_NORMAL + i);
    button_looks_[static_cast<std::size_t>(i)] = load(IDB_BUTTON_NORMAL + i);
  }
  conn_[1] = load(IDB_CONN_USB);
  conn_[2] = load(IDB_CONN_COM);
  conn_[3] = load(IDB_CONN_NONE);

  const auto font = [this](int px, bool bold) {
    return corva::win::MakeSkinFont(px, bold, art_scale_);
  };
  font_ = font(12, false);
  heading_font_ = font(17, true);
  menu_font_ = font(13, true);
  button_font_ = font(12, true);
  if (!page_brush_) page_brush_.reset(::CreateSolidBrush(skin::kPageBackground));
  if (!frame_brush_) frame_brush_.reset(::CreateSolidBrush(skin::kFrameBackground));
  return top_l_ && menu_ && conn_[3];
}

LRESULT SettingsWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  // No error goes through the window procedure.
  try {
    return Handle(msg, wp, lp);
  } catch (const std::exception& error) {
    ::MessageBoxW(hwnd_, Widen(error.what()).c_str(), L"Corvaset", MB_OK | MB_ICONSTOP);
    return 0;
  } catch (...) {
    return 0;  // nothing may leave a window procedure
  }
}

LRESULT CALLBACK SettingsWindow::PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
      return ::SendMessageW(::GetParent(hwnd), msg, wp, lp);
    default:
      return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
}

LRESULT SettingsWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      CreateControls();
      ApplyDpi(corva::win::DpiOfWindow(hwnd_), nullptr);
      return 0;
    case corva::win::kWmDpiChanged:
      ApplyDpi(HIWORD(wp), reinterpret_cast<const RECT*>(lp));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the skin covers the client area
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_LBUTTONDOWN:
      // ImgTopL and ImgTopM drag the window, with the left button only.
      if (GET_Y_LPARAM(lp) < Scaled(skin::kTopL.h)) {
        ::ReleaseCapture();
        ::SendMessageW(hwnd_, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      }
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
      return 0;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (DrawButton(item)) return TRUE;
      if (item.CtlID == static_cast<UINT>(ids::imgconn0) && conn_[conn_shown_]) {
        unique_hdc source(::CreateCompatibleDC(item.hDC));
        select_object selected(source.get(), conn_[conn_shown_].get());
        ::BitBlt(item.hDC, 0, 0, Scaled(skin::kConn.w), Scaled(skin::kConn.h), source.get(), 0, 0,
                 SRCCOPY);
      }
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wp);
      const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(lp));
      const bool heading = id == ids::Label10 || id == ids::Label2 || id == ids::Label19 ||
                           id == ids::Label1 || id == ids::Label7;
      ::SetTextColor(dc, heading ? skin::kHeadingText : skin::kPageText);
      ::SetBkColor(dc, skin::kPageBackground);
      return reinterpret_cast<LRESULT>(page_brush_.get());
    }
    case WM_CLOSE:
      Close();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wp) Close();
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

void SettingsWindow::CreateControls() {
  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                               nullptr, instance_, nullptr);
  const SkinPlacement place = Placement(art_scale_);

  CreateButtons(0, hwnd_, IDR_MENU_BUTTONS);

  // ArrangePages: every page hidden, flat, right of the bar; then page 0.
  for (int i = 0; i < 4; ++i) {
    pages_[static_cast<std::size_t>(i)] = ::CreateWindowExW(
        WS_EX_CONTROLPARENT, kPageClassName, nullptr, WS_CHILD | WS_CLIPSIBLINGS, place.page.x,
        place.page.y, place.page.w, place.page.h, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ids::PbTab0 + i)), instance_, nullptr);
  }
  CreatePage0(pages_[0]);
  CreatePage1(pages_[1]);
  CreateButtons(1, pages_[0], IDR_PAGE0_BUTTONS);
  CreateButtons(2, pages_[1], IDR_PAGE1_BUTTONS);
  CreatePage2(pages_[2]);
  CreatePage3(pages_[3]);
  ShowPage(0);
}

HWND SettingsWindow::Label(HWND page, int id, const wchar_t* text, int x, int y, int w, int h,
                           const unique_hfont& font, DWORD style) {
  HWND label = ::CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                                 page, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 instance_, nullptr);
  return Place(label, x, y, w, h, &font);
}

int SettingsWindow::Scaled(int length) const { return corva::dpi::ScaleBy(length, art_scale_); }

SIZE SettingsWindow::WindowSize() const {
  return SIZE{Scaled(skin::kWindow.w), Scaled(skin::kWindow.h)};
}

void SettingsWindow::ApplyPlace(const Placed& p) const {
  ::SetWindowPos(p.control, nullptr, Scaled(p.base.left), Scaled(p.base.top),
                 Scaled(p.base.right - p.base.left), Scaled(p.base.bottom - p.base.top),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  if (p.font) ::SendMessageW(p.control, WM_SETFONT, reinterpret_cast<WPARAM>(p.font->get()), FALSE);
}

HWND SettingsWindow::Place(HWND control, int x, int y, int w, int h, const unique_hfont* font) {
  if (!control) return nullptr;
  const RECT base{x, y, x + w, y + h};
  auto known = std::find_if(placed_.begin(), placed_.end(),
                            [control](const Placed& p) { return p.control == control; });
  if (known != placed_.end()) {
    known->base = base;
    ApplyPlace(*known);
  } else {
    ApplyPlace(placed_.emplace_back(Placed{control, base, font}));
  }
  return control;
}

void SettingsWindow::PlaceControls() {
  const SkinPlacement place = Placement(art_scale_);
  for (HWND page : pages_) {
    ::SetWindowPos(page, nullptr, place.page.x, place.page.y, place.page.w, place.page.h,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (const Placed& p : placed_) ApplyPlace(p);
}

void SettingsWindow::ApplyDpi(int dpi, const RECT* suggested) {
  const int scale = corva::dpi::ArtScaleForDpi(dpi);
  // What the controls borrow (fonts, the information picture, the plain buttons' looks) goes
  // only once they hold the new ones: at the end of this function.
  std::array<unique_hfont, 4> retired_fonts;
  std::array<unique_hbitmap, 7> retired_pictures;
  if (scale != art_scale_) {
    art_scale_ = scale;
    retired_fonts = {std::move(font_), std::move(heading_font_), std::move(menu_font_),
                     std::move(button_font_)};
    retired_pictures = {std::move(info_),           std::move(menu_looks_[0]),
                        std::move(menu_looks_[1]),  std::move(menu_looks_[2]),
                        std::move(button_looks_[0]), std::move(button_looks_[1]),
                        std::move(button_looks_[2])};
    LoadPictures();
    ::SendMessageW(Control(ids::imginfo), STM_SETIMAGE, IMAGE_BITMAP,
                   reinterpret_cast<LPARAM>(info_.get()));
    for (const auto& set : buttons_) {
      if (set) set->SetArtScale(art_scale_);
    }
    for (const auto& [button, menu] : plain_buttons_) {
      const auto& looks = menu ? menu_looks_ : button_looks_;
      SetButtonLook(button, ButtonLook{looks[0].get(), looks[1].get(), looks[2].get(),
                                       menu ? font_.get() : button_font_.get(),
                                       menu ? skin::kMenuText : RGB(255, 255, 255), menu});
    }
  }
  PlaceControls();
  corva::win::MoveForDpiChange(hwnd_, suggested, WindowSize());
  ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

HWND SettingsWindow::CheckBox(HWND page, int id, const wchar_t* text, int x, int y, int w,
                              DWORD style) {
  HWND box = ::CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0,
                               0, 0, 0, page, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               instance_, nullptr);
  return Place(box, x, y, w, 20, &font_);
}

HWND SettingsWindow::Edit(HWND page, int id, int x, int y, int w, DWORD style) {
  HWND edit = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | style, 0, 0,
                                0, 0, page, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                instance_, nullptr);
  return Place(edit, x, y, w, 22, &font_);
}

void SettingsWindow::CreateButtons(std::size_t set, HWND owner, int description) {
  buttons_[set] = std::make_unique<corva::win::ImageBtnContainer>(owner, instance_);
  if (SUCCEEDED(buttons_[set]->LoadResource(description))) {
    if (buttons_[set]->art_scale() != art_scale_) buttons_[set]->SetArtScale(art_scale_);
    return;
  }
  buttons_[set].reset();
  const int x = kPageMargin, w = skin::kPage.w - 2 * kPageMargin;
  switch (set) {
    case 0: {
      const ButtonLook look{menu_looks_[0].get(), menu_looks_[1].get(), menu_looks_[2].get(),
                            font_.get(), skin::kMenuText, true};
      for (int i = 0; i < 5; ++i) {
        HWND button = MakeButton(hwnd_, ids::ImgC0 + i, RECT{}, kMenuCaptions[i], look);
        Place(button, skin::kCorner.w + (skin::kMenu.w - skin::kMenuButton.w) / 2,
              skin::kTopL.h + 12 + i * kMenuButtonGap, skin::kMenuButton.w, skin::kMenuButton.h,
              nullptr);
        if (button) plain_buttons_.emplace_back(button, true);
      }
      break;
    }
    case 1:
      PageButton(owner, ids::cmdBuscaTNX, L"Buscar equipo", x + w - skin::kPageButton.w, 50);
      break;
    default:
      AddTooltip(PageButton(owner, ids::cmdbuscaPath, L"Examinar", x + w - skin::kPageButton.w, 145),
                 L"Examinar carpetas");
      AddTooltip(PageButton(owner, ids::cmdDelBita, L"Borrar Bitacora", x, 232),
                 L" Elimina los registros en Bitacora");
      AddTooltip(PageButton(owner, ids::cmdVerBita, L"Ver Bitacora", x + skin::kPageButton.w + 10, 232),
                 L"Abre el archivo de Bitacora");
      break;
  }
}

HWND SettingsWindow::PageButton(HWND page, int id, const wchar_t* caption, int x, int y) {
  const ButtonLook look{button_looks_[0].get(), button_looks_[1].get(), button_looks_[2].get(),
                        button_font_.get(), RGB(255, 255, 255), false};
  HWND button = MakeButton(page, id, RECT{}, caption, look);
  if (button) plain_buttons_.emplace_back(button, false);
  return Place(button, x, y, skin::kPageButton.w, skin::kPageButton.h, nullptr);
}

void SettingsWindow::AddTooltip(HWND control, const wchar_t* text) {
  TOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = ::GetParent(control);
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = const_cast<wchar_t*>(text);
  ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void SettingsWindow::CreatePage0(HWND p) {
  const int x = kPageMargin, w = skin::kPage.w - 2 * kPageMargin;
  Label(p, ids::Label10, L"Inicio y Notificaciones", x, 12, w, 24, heading_font_);
  Label(p, ids::lblcmsg, L"Conectado en", x, 54, 90, 20, font_, SS_LEFT | SS_CENTERIMAGE);
  Place(::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 0, 0, 0, 0, p,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(ids::imgconn0)), instance_,
                          nullptr),
        x + 92, 44, skin::kConn.w, skin::kConn.h, nullptr);
  Label(p, ids::lblcpto, L"", x + 140, 54, 40, 20, heading_font_, SS_LEFT | SS_CENTERIMAGE);
  const struct {
    int id;
    const wchar_t* caption;
  } upper[] = {
      {ids::chkejecutainicio, L"&Ejecutar Corvamon al iniciar Windows"},
      {ids::chkiniciomini, L"Ejecutar &Corvamon minimizado"},
      {ids::chkcierraconX, L"Cerrar con el bot\u00F3n de Apagado"},
      {ids::chkclickIcono, L"&Doble click al Icono Maximiza"},
      {ids::chknotif, L"&Notificaci\u00F3n Barra de tareas"},
      {ids::chkrestaura, L"&Restaurar Corvamon al fallar la energ\u00EDa"},
  };
  int y = 100;
  for (const auto& box : upper) {
    CheckBox(p, box.id, box.caption, x, y, w, BS_3STATE);
    y += 24;
  }
  Label(p, ids::Label7, L"Caracter\u00EDsticas en algunos modelos", x, y + 8, w, 20,
        menu_font_);
  Label(p, ids::Line1, L"", x, y + 30, w, 2, font_, SS_ETCHEDHORZ);
  y += 38;
  CheckBox(p, ids::chkAOL, L"Notificaci\u00F3n sobrecarga", x, y, w, BS_3STATE);
  CheckBox(p, ids::chkTest, L"Habilitar bot\u00F3n autoprueba ", x, y + 24, w, BS_3STATE);
  CheckBox(p, ids::chkMute, L"Habilitar bot\u00F3n Silencio", x, y + 48, w, BS_3STATE);
}

void SettingsWindow::CreatePage1(HWND p) {
  const int x = kPageMargin, w = skin::kPage.w - 2 * kPageMargin;
  Label(p, ids::Label2, L"Guardar documentos", x, 12, w, 24, heading_font_);
  CheckBox(p, ids::chkGuardaOffice, L"Guardar Documentos ( Recomendado)", x, 50, w, BS_3STATE);
  Label(p, ids::Label3,
        L"Para guardar los documentos abiertos de Office,  cuando se apague la PC por falla de "
        L"energ\u00EDa (Ver opciones de apagado)",
        x, 76, w, 44, font_);
  Label(p, ids::Label11, L"Directorio de Documentos sin Nombre", x, 126, w, 18, font_);
  Edit(p, ids::txtPathOffice, x, 148, w - skin::kPageButton.w - 8);
  CheckBox(p, ids::chkbitacora, L"&Guardar eventos en Bit\u00E1cora", x, 200, w, BS_3STATE);
}

void SettingsWindow::CreatePage2(HWND p) {
  const int x = kPageMargin, w = skin::kPage.w - 2 * kPageMargin;
  Label(p, ids::Label19, L"Opciones de apagado", x, 12, w, 24, heading_font_);
  Label(p, ids::Label14, L"Es la forma de apagar la PC cuando falla la energ\u00EDa el\u00E9ctrica",
        x, 42, w, 30, font_);
  AddTooltip(CheckBox(p, ids::chknormal, L"&Normal   (Se\u00F1al de Bater\u00EDa baja)", x, 76, w,
                      BS_AUTORADIOBUTTON | WS_GROUP),
             L"Apaga la PC cuando el Equipo BRAX manda la se\u00F1al de Bateria Baja");
  AddTooltip(CheckBox(p, ids::chkminutos, L"&Tiempo (segs)", x, 104, 190, BS_AUTORADIOBUTTON),
             L"Apaga la PC cuando se termine el tiempo que seleccionaste");
  AddTooltip(Edit(p, ids::txtminutosapagado, x + 200, 103, 70),
             L"Segundos para apagar el equipo");
  AddTooltip(CheckBox(p, ids::chkbateria, L"% de &Bater\u00EDa", x, 132, 190, BS_AUTORADIOBUTTON),
             L"Cuando la bateria llegue al porcentaje que elegiste se apagar\u00E1");
  HWND list = ::CreateWindowExW(0, L"COMBOBOX", L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                                0, 0, 0, 0, p,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(ids::cmbpct)),
                                instance_, nullptr);
  Place(list, x + 200, 130, 70, 200, &font_);
  AddTooltip(list, L"Porcentaje de Bateria para apagar el equipo");

  AddTooltip(CheckBox(p, ids::chkapagaTNX, L"Apagar el equipo BRAX despu\u00E9s de", x, 180, 250,
                      BS_3STATE | WS_GROUP),
             L"Apaga el Equipo BRAX despues de los minutos que seleccionaste");
  AddTooltip(Edit(p, ids::txtminutosapagadoTNX, x + 256, 179, 50),
             L"Minutos para apagar el equipo BRAX (3 minutos al menos recomendado)");
  Label(p, ids::Label5, L"Minutos", x + 312, 180, 70, 20, font_, SS_LEFT | SS_CENTERIMAGE);
  HWND disconnect = CheckBox(p, ids::chkApagadesconexion,
                             L"Apagar la PC si el  equipo BRAX se desconecta en", x, 208, 250,
                             BS_3STATE | BS_MULTILINE);
  Place(disconnect, x, 208, 250, 34, &font_);
  Edit(p, ids::txtApagaDesconexion, x + 256, 214, 50);
  Label(p, ids::Label6, L"Segundos", x + 312, 215, 70, 20, font_, SS_LEFT | SS_CENTERIMAGE);
}

void SettingsWindow::CreatePage3(HWND p) {
  const int x = kPageMargin, w = skin::kPage.w - 2 * kPageMargin;
  Label(p, ids::Label1, L"Informaci\u00F3n General", x, 12, w, 24, heading_font_);
  Label(p, ids::lblappversion, kVersion, x, 44, w, 20, menu_font_);
  HWND picture = Label(p, ids::imginfo, L"", x, 76, skin::kInfoImage.w, skin::kInfoImage.h,
                       font_, SS_BITMAP);
  ::SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(info_.get()));
  HWND maker = Edit(p, ids::Text2, x + skin::kInfoImage.w + 12, 76, w - skin::kInfoImage.w - 12,
                    ES_MULTILINE | ES_READONLY);
  Place(maker, x + skin::kInfoImage.w + 12, 76, w - skin::kInfoImage.w - 12, skin::kInfoImage.h,
        &font_);
  ::SetWindowTextW(maker, kMaker);
  Label(p, ids::Label4, kRights, x, 190, w, 60, font_);
}

void SettingsWindow::OnPaint() {
  paint_dc dc(hwnd_);
  ::FillRect(dc.get(), &dc.paint().rcPaint, frame_brush_.get());
  const SkinPlacement place = Placement(art_scale_);
  unique_hdc source(::CreateCompatibleDC(dc.get()));
  const auto draw = [&](HBITMAP picture, const Rect& r) {
    if (!picture) return;
    select_object selected(source.get(), picture);
    BITMAP info{};
    ::GetObjectW(picture, sizeof(info), &info);
    ::StretchBlt(dc.get(), r.x, r.y, r.w, r.h, source.get(), 0, 0, info.bmWidth, info.bmHeight,
                 SRCCOPY);
  };
  draw(edge_im_.get(), place.ImgIM);
  draw(edge_dm_.get(), place.ImgDM);
  draw(edge_md_.get(), place.ImgMD);
  draw(top_l_.get(), place.ImgTopL);
  draw(top_m_.get(), place.ImgTopM);
  draw(corner_it_.get(), place.ImgIT);
  draw(top_dt_.get(), place.ImgDT);
  draw(corner_id_.get(), place.ImgID);
  draw(corner_dd_.get(), place.ImgDD);
  draw(menu_.get(), place.pbmenu);
  draw(bar_.get(), place.imgbarra);
}

void SettingsWindow::OnCommand(int id, int code, HWND control) {
  if (id >= ids::ImgC0 && id <= ids::ImgC0 + 4 && code == BN_CLICKED) {
    if (id == ids::ImgC0 + 4) {
      Close();
    } else {
      ShowPage(id - ids::ImgC0);
    }
    return;
  }
  if (code != BN_CLICKED) return;
  switch (id) {
    case ids::cmdBuscaTNX:
      core_->cmdBuscaTNX_Click();
      break;
    case ids::cmdbuscaPath: {
      const std::wstring chosen = BrowseFolder(hwnd_);
      HWND box = Control(ids::txtPathOffice);
      if (chosen.empty() && ::GetWindowTextLengthW(box) == 0) {
        core_->Settings.PathOffice = corva::win::DefaultSaveDirectory();
        ::SetWindowTextW(box, Widen(core_->Settings.PathOffice).c_str());
      } else if (!chosen.empty()) {
        ::SetWindowTextW(box, chosen.c_str());
      }
      break;
    }
    case ids::cmdVerBita:
      ViewLog(hwnd_, program_folder_);
      break;
    case ids::cmdDelBita:
      EmptyLog(hwnd_, program_folder_);
      break;
    default:
      // A user's click turns a check box on or off; greyed is only ever shown, not chosen.
      if (control && (::GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK) == BS_3STATE) {
        const LRESULT state = ::SendMessageW(control, BM_GETCHECK, 0, 0);
        ::SendMessageW(control, BM_SETCHECK, state == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
      }
      break;
  }
}

void SettingsWindow::ShowPage(int page) {
  for (HWND p : pages_) ::ShowWindow(p, SW_HIDE);
  ::ShowWindow(pages_[static_cast<std::size_t>(page)], SW_SHOW);
}

void SettingsWindow::Close() {
  // Closing always saves and cannot be cancelled. While the save's box is up (some settings
  // could not be written), its answer decides; another close waits for it.
  if (closing_) return;
  closing_ = true;
  core_->SaveSettings();
  if (hwnd_) ::DestroyWindow(hwnd_);
}

HWND SettingsWindow::Control(int id) const {
  for (HWND page : pages_) {
    if (HWND c = ::GetDlgItem(page, id)) return c;
  }
  return ::GetDlgItem(hwnd_, id);
}

// ---- FormView

void SettingsWindow::ShowConnection(Connection picture) {
  const auto k = static_cast<std::size_t>(picture);
  if (k >= conn_.size() || !conn_[k]) return;
  conn_shown_ = k;
  ::InvalidateRect(Control(ids::imgconn0), nullptr, FALSE);
}

void SettingsWindow::SetPortLabel(std::string_view text) {
  ::SetWindowTextW(Control(ids::lblcpto), Widen(text).c_str());
}

namespace {

constexpr int kCheckIds[kCheckCount] = {
    ids::chkejecutainicio, ids::chkiniciomini,   ids::chkclickIcono, ids::chknotif,
    ids::chkrestaura,      ids::chkbitacora,     ids::chkcierraconX, ids::chkGuardaOffice,
    ids::chkAOL,           ids::chkMute,         ids::chkTest};

std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

void SettingsWindow::SetControls(const FormControls& c) {
  for (std::size_t i = 0; i < kCheckCount; ++i) {
    ::SendMessageW(Control(kCheckIds[i]), BM_SETCHECK, static_cast<WPARAM>(c.checks[i]), 0);
  }
  ::SetWindowTextW(Control(ids::txtPathOffice), Widen(c.txtPathOffice).c_str());
  HWND list = Control(ids::cmbpct);
  ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (const char* item : kPercentItems) {
    ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
  }
  ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(c.cmbpct_index), 0);
  ::SendMessageW(Control(ids::chkbateria), BM_SETCHECK, c.option == ShutdownOption::chkbateria, 0);
  ::SendMessageW(Control(ids::chkminutos), BM_SETCHECK, c.option == ShutdownOption::chkminutos, 0);
  ::SendMessageW(Control(ids::chknormal), BM_SETCHECK, c.option == ShutdownOption::chknormal, 0);
  ::SetWindowTextW(Control(ids::txtminutosapagado), Widen(c.txtminutosapagado).c_str());
  ::SendMessageW(Control(ids::chkapagaTNX), BM_SETCHECK, static_cast<WPARAM>(c.chkapagaTNX), 0);
  ::SetWindowTextW(Control(ids::txtminutosapagadoTNX), Widen(c.txtminutosapagadoTNX).c_str());
  ::SendMessageW(Control(ids::chkApagadesconexion), BM_SETCHECK,
                 static_cast<WPARAM>(c.chkApagadesconexion), 0);
  ::SetWindowTextW(Control(ids::txtApagaDesconexion), Widen(c.txtApagaDesconexion).c_str());
}

FormControls SettingsWindow::Controls() const {
  FormControls c;
  const auto state = [this](int id) {
    return static_cast<int>(::SendMessageW(Control(id), BM_GETCHECK, 0, 0));
  };
  for (std::size_t i = 0; i < kCheckCount; ++i) c.checks[i] = state(kCheckIds[i]);
  c.txtPathOffice = Narrow(WindowText(Control(ids::txtPathOffice)));
  if (state(ids::chkbateria) == BST_CHECKED) c.option = ShutdownOption::chkbateria;
  if (state(ids::chkminutos) == BST_CHECKED) c.option = ShutdownOption::chkminutos;
  if (state(ids::chknormal) == BST_CHECKED) c.option = ShutdownOption::chknormal;
  c.cmbpct_index = static_cast<int>(::SendMessageW(Control(ids::cmbpct), CB_GETCURSEL, 0, 0));
  c.cmbpct_text = Narrow(WindowText(Control(ids::cmbpct)));
  c.txtminutosapagado = Narrow(WindowText(Control(ids::txtminutosapagado)));
  c.chkapagaTNX = state(ids::chkapagaTNX);
  c.txtminutosapagadoTNX = Narrow(WindowText(Control(ids::txtminutosapagadoTNX)));
  c.chkApagadesconexion = state(ids::chkApagadesconexion);
  c.txtApagaDesconexion = Narrow(WindowText(Control(ids::txtApagaDesconexion)));
  return c;
}

bool SettingsWindow::ConfirmSearch() {
  return ::MessageBoxW(hwnd_, Widen(text::kSearchQuestion).c_str(),
                       Widen(text::kSearchTitle).c_str(), MB_OKCANCEL | MB_ICONINFORMATION) == IDOK;
}

void SettingsWindow::ShowSearchFailed() {
  ::MessageBoxW(hwnd_, Widen(text::kSearchFailed).c_str(), Widen(text::kSearchFailedTitle).c_str(),
                MB_OK | MB_ICONSTOP);
}

bool SettingsWindow::AskRetrySave(std::string_view text) {
  return ::MessageBoxW(hwnd_, Widen(text).c_str(), Widen(text::kSaveFailedTitle).c_str(),
                       MB_RETRYCANCEL | MB_ICONEXCLAMATION) == IDRETRY;
}

void SettingsWindow::DoEvents() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

}  // namespace corva::config::win
