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
// A store that cannot be written is refused like a failed check (kSaveFailedMessage): the
// values in use go back to what they were and nothing restarts.
struct SettingsSubmit {
  std::wstring message;
  bool restart = false;
  bool accepted() const { return message.empty(); }
};
SettingsSubmit SubmitSettings(const SettingsForm& form, const SettingsRules& rules);
inline constexpr wchar_t kRestartMessage[] = L"目录有改变，将重启软件";
// A store that could not be written: the values in use stay as they were.
inline constexpr wchar_t kSaveFailedMessage[] = L"设置保存失败!设置未改变!";

}  // namespace vq
