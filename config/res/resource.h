#pragma once
// Resource ids of Corvaset (config/res/corvaset.rc).

#define IDI_CORVASET 1

#define IDB_TOP_L 100
#define IDB_TOP_M 101
#define IDB_TOP_DT 102
#define IDB_CORNER_IT 103
#define IDB_CORNER_ID 104
#define IDB_CORNER_DD 105
#define IDB_EDGE_IM 106
#define IDB_EDGE_DM 107
#define IDB_EDGE_MD 108
#define IDB_MENU 109
#define IDB_BAR 110
#define IDB_MENU_NORMAL 111
#define IDB_MENU_HOVER 112
#define IDB_MENU_DOWN 113
#define IDB_BUTTON_NORMAL 114
#define IDB_BUTTON_HOVER 115
#define IDB_BUTTON_DOWN 116
#define IDB_CONN_USB 117
#define IDB_CONN_COM 118
#define IDB_CONN_NONE 119
#define IDB_LOCATOR 120
#define IDB_INFO 121

// The saved descriptions of the window's ImageBtn instances.
#define IDR_MENU_BUTTONS 300
#define IDR_PAGE0_BUTTONS 301
#define IDR_PAGE1_BUTTONS 302
