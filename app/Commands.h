// The main window's menu commands, shared by both front ends (the terminal types them).
#pragma once

#include <string>

namespace vq {

enum MenuCommand : int {
  ID_MENUITEM_EXIT = 32772,
  ID_MENUITEM_SET = 32782,
  ID_MENUITEM_CLEN = 32775,
  ID_MENUITEM_RESET_DAY = 32784,
  ID_MENUITEM_RESET_WEEK = 32779,
  ID_MENUITEM_RESET_MONTH = 32778,
  ID_MENUITEM_RESET_YEAR = 32785,
  ID_MENUITEM_RESET_1980 = 32795,
  ID_MENUITEM_CHECK_UPDATE = 32791,
  ID_MENUITEM_STATUS = 32773,
  ID_MENUITEM_ABOUT = 32792,
  ID_COMMAND_TODOBD = 32781,
  ID_COMMAND_TODOESTE = 32787,
};

class CommandHost {
 public:
  virtual ~CommandHost() = default;
  virtual void RemoveTrayIcon() {}
  // Ends the UI thread's loop; the program then exits.
  virtual void QuitMessageLoop() = 0;
};

// True when id is a menu command (it is then handled, possibly by doing nothing yet).
bool IsMenuCommand(int id);
void OnMenuCommand(int id, CommandHost& host);

}  // namespace vq
