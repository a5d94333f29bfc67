#include "app/Commands.h"

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
    case ID_MENUITEM_STATUS:
      ShowRunParameters();
      break;
    case ID_COMMAND_TODOBD:
      WriteLog(L"set todobd %d\r\n", 1);
      break;
    case ID_COMMAND_TODOESTE:
      WriteLog(L"set todoEste %d\r\n", 1);
      break;
    default:
      // Settings, clean, the resets, the update check and about arrive with their own parts of
      // the program; until then the command is taken and nothing happens.
      break;
  }
}

}  // namespace vq
