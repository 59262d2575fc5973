#pragma once
// The ImageBtn control's vocabulary: OLE colours, style flags, alignments, property ids and
// names, result codes and the rounding every pixel computation uses. No Windows headers.

#include <cstdint>
#include <optional>
#include <string_view>

namespace lumbra {

// Windows-compatible result codes (HRESULT values) so the COM layer can pass them on unchanged.
using Status = std::int32_t;
inline constexpr Status kOk = 0;
inline constexpr Status kOverflow = static_cast<Status>(0x8002000A);  // DISP_E_OVERFLOW
inline constexpr Status kTypeMismatch = static_cast<Status>(0x80020005);  // DISP_E_TYPEMISMATCH
inline constexpr bool Failed(Status s) { return s < 0; }

// Either RGB with red in the low byte, or 0x80000000 + a system colour index.
using OleColor = std::uint32_t;
inline constexpr OleColor kSysMenuText = 0x80000007;
inline constexpr OleColor kSysButtonFace = 0x8000000F;
inline constexpr OleColor kSysHighlight = 0x8000000D;
inline constexpr OleColor kSysInfoBackground = 0x80000018;
inline constexpr OleColor kSysButtonText = 0x80000012;

// lcStyle flags; Style itself is a plain int32 and may hold any other bits.
enum lcStyle : std::int32_t {
  lcsNone = 0,
  lcsPopupBorder = 1,
  lcsThinBorder = 2,
  lcsThickBorder = 4,
  lcsTextColor = 8,
  lcsNoBorder = 16,
  lcsNoFocusRect = 32,
  lcsHighlightBG = 64,
};

enum lcHorizAlign : std::int32_t { lcaLeft = 0, lcaCenter = 1, lcaRight = 2 };

// VisualState values.
enum : std::int16_t { kStateNormal = 0, kStateHover = 1, kStatePressed = 2 };

// Dispatch ids of the default interface _ImageBtn, in its order.
enum class Prop : std::int32_t {
  ToolTipBackColor = 0x68030014,
  ToolTipForeColor = 0x68030013,
  ToolTipText = 0x68030012,
  Tag = 0x68030011,
  hwnd = 0x68030010,
  GrabBG = 0x6803000F,
  HAlign = 0x6803000E,
  ImageOffset = 0x6803000D,
  BorderOffset = 0x6803000C,
  Font = 0x6803000B,
  Style = 0x6803000A,
  Picture = 0x68030009,
  PictureDown = 0x68030008,
  PictureHov = 0x68030007,
  BGPicture = 0x68030006,
  Caption = 0x68030005,
  Enabled = 0x68030004,
  ForeColor = 0x68030003,
  BackColor = 0x68030002,
  HighlightColor = 0x68030001,
  TransparentColor = 0x68030000,
};
inline constexpr std::int32_t kDispidRefresh = 0x60030015;

// Dispatch ids of the event interface __ImageBtn.
enum class Event : std::int32_t { Click = 1, MouseLeave = 2, MouseMove = 3, MouseDown = 4, MouseUp = 5 };

// The name the container is told when a property changes, exactly as the property is spelt.
std::string_view PropName(Prop p);
std::optional<Prop> PropFromName(std::string_view name);

inline constexpr std::wstring_view kClassName = L"ImageBtn";
inline constexpr int kDefaultWidthTwips = 1335;
inline constexpr int kDefaultHeightTwips = 960;

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
std::int64_t RoundHalfEven(double v);

}  // namespace lumbra
