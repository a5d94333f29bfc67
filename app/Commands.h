// The main window's menu commands, shared by both front ends (the terminal types them).
#pragma once

#include <string>

#include "app/CommandIds.h"
#include "settings/SettingsForm.h"

namespace vq {

class CommandHost {
 public:
  virtual ~CommandHost() = default;
  virtual void RemoveTrayIcon() {}
  // Ends the UI thread's loop; the program then exits.
  virtual void QuitMessageLoop() = 0;
  // Runs the settings dialog modally (Windows: dialog 147; terminal: the text dialog).
  virtual void RunSettingsDialog() {}
  // Runs the restore dialog modally (Windows); the terminal restores through typed commands.
  virtual void RunRestoreDialog() {}
};

// True when id is a menu command (it is then handled, possibly by doing nothing yet).
bool IsMenuCommand(int id);
void OnMenuCommand(int id, CommandHost& host);

// The OK button of the settings dialog. A form that fails a check changes nothing: the message
// is returned for the dialog to show, and the dialog stays open. Otherwise the values are stored,
// the run-at-startup entry and the working directories follow them, the result is logged and
// the store written; restart tells that the directories changed outside the first run and the
// program must start again to take them up (the line is logged, the front end asks the user).
struct SettingsSubmit {
  std::wstring message;
  bool restart = false;
  bool accepted() const { return message.empty(); }
};
SettingsSubmit SubmitSettings(const SettingsForm& form, const SettingsRules& rules);
inline constexpr wchar_t kRestartMessage[] = L"目录有改变，将重启软件";

}  // namespace vq
