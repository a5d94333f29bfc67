// Identifiers shared by the resource script and the Windows front end.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_VQTIME_DIALOG 102
#define IDR_MENU_MAIN 139
#define IDD_DIALOG_SET 147

#define IDC_RICHEDIT1 1000
#define IDC_STATIC_TEXT 1001
#define IDC_STATIC_STATUS 1004
#define IDC_PLACE_WINDOW 1002

// The menu identifiers; C++ code takes them from app/Commands.h.
#ifdef RC_INVOKED
#define ID_MENUITEM_EXIT 32772
#define ID_MENUITEM_STATUS 32773
#define ID_MENUITEM_CLEN 32775
#define ID_MENUITEM_RESET_MONTH 32778
#define ID_MENUITEM_RESET_WEEK 32779
#define ID_MENUITEM_SET 32782
#define ID_MENUITEM_RESET_DAY 32784
#define ID_MENUITEM_RESET_YEAR 32785
#define ID_MENUITEM_CHECK_UPDATE 32791
#define ID_MENUITEM_ABOUT 32792
#define ID_MENUITEM_RESET_1980 32795
#endif

#define VQ_VERSION_STRING "0.05"
