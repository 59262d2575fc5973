#pragma once
// Child-window identifiers of the main window. Tools outside the program (the test probe,
// UI automation) find the controls by these numbers; keep them stable.

namespace corva::ids {

inline constexpr int ImgSkin = 100;
inline constexpr int lblvolt = 101;
inline constexpr int lblfr = 102;
inline constexpr int lblbat = 103;
inline constexpr int lblop = 104;
inline constexpr int lblmsg = 105;
inline constexpr int lblidenti = 106;
inline constexpr int lbltit0 = 107;  // "Salida"
inline constexpr int lbltit1 = 108;  // "Frecuencia"
inline constexpr int lbltit2 = 109;  // "Línea"
inline constexpr int IMBatG = 110;
inline constexpr int ImgConn = 111;
inline constexpr int ImgMainBat = 112;
inline constexpr int IBClose = 120;
inline constexpr int IBMin = 121;
inline constexpr int IBMute = 122;
inline constexpr int IBTest = 123;

}  // namespace corva::ids

// The main window's class name and caption.
#define CORVA_MAIN_CLASS L"KRD.Corvamon.Principal"
#define CORVA_MAIN_CAPTION L"KRD Corvamon"
