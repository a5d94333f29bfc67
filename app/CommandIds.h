/* The command identifiers of the main window's menu, shared by the resource script (which
   can only read #define lines) and the C++ code of both front ends. */
#pragma once

#define ID_MENUITEM_EXIT 32772
#define ID_MENUITEM_STATUS 32773
#define ID_MENUITEM_CLEN 32775
#define ID_MENUITEM_RESET_MONTH 32778
#define ID_MENUITEM_RESET_WEEK 32779
#define ID_COMMAND_TODOBD 32781
#define ID_MENUITEM_SET 32782
#define ID_MENUITEM_RESET_DAY 32784
#define ID_MENUITEM_RESET_YEAR 32785
#define ID_COMMAND_TODOESTE 32787
#define ID_MENUITEM_CHECK_UPDATE 32791
#define ID_MENUITEM_ABOUT 32792
#define ID_MENUITEM_RESET_1980 32795
/* After the items above: check every archive, get a version of a file back. */
#define ID_MENUITEM_VERIFY 32796
#define ID_MENUITEM_RESTORE 32797

/* Places the main window at the bottom right again; no menu item sends it. */
#define ID_COMMAND_PLACE_WINDOW 1002
