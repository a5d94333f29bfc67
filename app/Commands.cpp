#include "app/Commands.h"

#include "app/EngineHooks.h"
#include "backup/Schedule.h"
#include "platform/Clock.h"
#include "settings/Log.h"

namespace vq {

bool IsMenuCommand(int id) {
  switch (id) {
    case ID_MENUITEM_EXIT:
    case ID_MENUITEM_SET:
    case ID_MENUITEM_CLEN:
    case ID_MENUITEM_RESET_DAY:
    case ID_MENUITEM_RESET_WEEK:
    case ID_MENUITEM_RESET_MONTH:
    case ID_MENUITEM_RESET_YEAR:
    case ID_MENUITEM_RESET_1980:
    case ID_MENUITEM_CHECK_UPDATE:
    case ID_MENUITEM_STATUS:
    case ID_MENUITEM_ABOUT:
    case ID_COMMAND_TODOBD:
    case ID_COMMAND_TODOESTE:
      return true;
    default:
      return false;
  }
}

void OnMenuCommand(int id, CommandHost& host) {
  switch (id) {
    case ID_MENUITEM_EXIT:
      WriteLog(L"ID_MENUITEM_EXIT:\r\n");
      platform::SleepMs(200);
      host.RemoveTrayIcon();
      host.QuitMessageLoop();
      break;
    case ID_MENUITEM_CLEN:
      WriteLog(L"ID_MENUITEM_CLEN:清理同步盘的up-dir-by-vq和up-history-by-vq目录\r\n");
      StartCleanThread();
      break;
    case ID_MENUITEM_RESET_DAY:
      ApplyResetRule(ResetKind::Day);
      break;
    case ID_MENUITEM_RESET_WEEK:
      ApplyResetRule(ResetKind::Week);
      break;
    case ID_MENUITEM_RESET_MONTH:
      ApplyResetRule(ResetKind::Month);
      break;
    case ID_MENUITEM_RESET_YEAR:
      ApplyResetRule(ResetKind::Year);
      break;
    case ID_MENUITEM_RESET_1980:
      ApplyResetRule(ResetKind::To1980);
      break;
    case ID_MENUITEM_CHECK_UPDATE:
      RequestUpdateCheck();
      WriteLog(L"check updata..\r\n");
      break;
    case ID_MENUITEM_STATUS:
      ShowRunParameters();
      break;
    case ID_MENUITEM_ABOUT:
      LogAboutLines();
      break;
    case ID_COMMAND_TODOBD:
      WriteLog(L"set todobd %d\r\n", 1);
      break;
    case ID_COMMAND_TODOESTE:
      WriteLog(L"set todoEste %d\r\n", 1);
      break;
    default:
      // Settings are the front end's own (its dialog).
      break;
  }
}

}  // namespace vq
