/* Identifiers shared by the resource script and the Windows front end. The menu's command
   identifiers come from app/CommandIds.h, the version from the build (common/Version.h). */
#pragma once

#include "app/CommandIds.h"
#include "common/Version.h"

#define IDR_MAINFRAME 128
#define IDD_VQTIME_DIALOG 102
#define IDR_MENU_MAIN 139
#define IDD_DIALOG_SET 147
#define IDD_DIALOG_RESTORE 148
#define IDD_DIALOG_BROWSE 149

/* Main window */
#define IDC_RICHEDIT1 1000
#define IDC_STATIC_TEXT 1001
#define IDC_STATIC_STATUS 1004

/* Settings dialog */
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_BUTTON_DEFAULT 1000
#define IDC_BUTTON_DEST 1001
#define IDC_BUTTON_SRC 1002
#define IDC_EDIT_DEST 1006
#define IDC_EDIT_SRC 1007
#define IDC_EDIT_PSW 1013
#define IDC_EDIT_FILTER 1014
#define IDC_CHECK_AUTORUN 1015
#define IDC_CHECK_DEBUG 1017
#define IDC_EDIT_MAXFSIZE 1020
#define IDC_CHECK_AES 1021
#define IDC_STATIC_AES_NOTE 1022

/* Restore dialog */
#define IDC_RESTORE_PATH 1101
#define IDC_RESTORE_PICK 1102
#define IDC_RESTORE_LIST 1103
#define IDC_RESTORE_VERSIONS 1104
#define IDC_RESTORE_FOLDER 1105
#define IDC_RESTORE_BROWSE 1106
#define IDC_RESTORE_STATUS 1107

/* Backup browser */
#define IDC_BROWSE_FOLDER 1201
#define IDC_BROWSE_UP 1202
#define IDC_BROWSE_DATE 1203
#define IDC_BROWSE_TIME 1204
#define IDC_BROWSE_PREV 1205
#define IDC_BROWSE_NEXT 1206
#define IDC_BROWSE_LIST 1207
#define IDC_BROWSE_VERSIONS 1208
#define IDC_BROWSE_RESTORE_HERE 1209
#define IDC_BROWSE_RESTORE_TO 1210
#define IDC_BROWSE_TARGET_LABEL 1211
#define IDC_BROWSE_TARGET 1212
#define IDC_BROWSE_PROGRESS 1213
#define IDC_BROWSE_CANCEL 1214
#define IDC_BROWSE_STATUS 1215
