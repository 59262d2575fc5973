#pragma once
// Control ids of Corvaset's windows, for the window code and for tools that find the controls
// from outside (screen readers, the tests' probe).

namespace corva::config::ids {

// The configuration window.
inline constexpr int ImgC0 = 100;  // ImgC(0..4): 100..104
inline constexpr int PbTab0 = 110;  // PbTab(0..3): 110..113
inline constexpr int Label10 = 200;
inline constexpr int lblcmsg = 201;
inline constexpr int imgconn0 = 202;
inline constexpr int lblcpto = 203;
inline constexpr int cmdBuscaTNX = 204;
inline constexpr int chkejecutainicio = 205;
inline constexpr int chkiniciomini = 206;
inline constexpr int chkcierraconX = 207;
inline constexpr int chkclickIcono = 208;
inline constexpr int chknotif = 209;
inline constexpr int chkrestaura = 210;
inline constexpr int Label7 = 211;
inline constexpr int Line1 = 212;
inline constexpr int chkAOL = 213;
inline constexpr int chkTest = 214;
inline constexpr int chkMute = 215;
inline constexpr int Label2 = 220;
inline constexpr int chkGuardaOffice = 221;
inline constexpr int Label3 = 222;
inline constexpr int Label11 = 223;
inline constexpr int txtPathOffice = 224;
inline constexpr int cmdbuscaPath = 225;
inline constexpr int chkbitacora = 226;
inline constexpr int cmdDelBita = 227;
inline constexpr int cmdVerBita = 228;
inline constexpr int Label19 = 240;
inline constexpr int Label14 = 241;
inline constexpr int chknormal = 242;
inline constexpr int chkminutos = 243;
inline constexpr int txtminutosapagado = 244;
inline constexpr int chkbateria = 245;
inline constexpr int cmbpct = 246;
inline constexpr int chkapagaTNX = 247;
inline constexpr int txtminutosapagadoTNX = 248;
inline constexpr int Label5 = 249;
inline constexpr int chkApagadesconexion = 250;
inline constexpr int txtApagaDesconexion = 251;
inline constexpr int Label6 = 252;
inline constexpr int Label1 = 260;
inline constexpr int lblappversion = 261;
inline constexpr int Text2 = 262;
inline constexpr int Label4 = 263;
inline constexpr int imginfo = 264;

// The locator.
inline constexpr int locLabel1 = 300;
inline constexpr int locLabel2 = 301;
inline constexpr int locImage1 = 302;

}  // namespace corva::config::ids
