// The terminal front end of the POSIX build: the log window is the terminal, the menu is a
// command typed on a line of its own.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/RestoreCommands.h"
#include "app/Startup.h"
#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/Instance.h"
#include "platform/Paths.h"
#include "platform/Thread.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "settings/SettingsForm.h"

namespace vq {
namespace {

std::atomic<bool> g_quit{false};
std::atomic<int> g_signal{0};

void OnTerminate(int sig) { g_signal.store(sig); }

std::mutex g_outLock;

void PrintUtf8(const std::wstring& text) {
  std::wstring t;
  t.reserve(text.size());
  // The log texts carry Windows line ends; the terminal wants plain ones.
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
    t.push_back(text[i]);
  }
  std::string s = WideToUtf8(t);
  std::lock_guard<std::mutex> g(g_outLock);
  fwrite(s.data(), 1, s.size(), stdout);
  fflush(stdout);
}

class TerminalLogView : public LogView {
 public:
  void AppendLogText(const std::wstring& text) override { PrintUtf8(text); }
};

// The lines of standard input, read on a thread of their own so that the main thread can keep
// polling; commands and the settings dialog take them from here in order.
class InputLines {
 public:
  void Start() {
    platform::StartThread([this] {
      std::string line;
      while (std::getline(std::cin, line)) {
        std::lock_guard<std::mutex> g(lock_);
        lines_.push_back(line);
        ready_.notify_all();
      }
      std::lock_guard<std::mutex> g(lock_);
      ended_ = true;
      ready_.notify_all();
    });
  }
  // Waits for the next line; false once input has ended and every line was taken.
  bool Next(std::string* out) {
    std::unique_lock<std::mutex> g(lock_);
    ready_.wait(g, [this] { return !lines_.empty() || ended_; });
    return Pop(out);
  }
  // The next line if one is there already.
  bool TryNext(std::string* out) {
    std::lock_guard<std::mutex> g(lock_);
    return Pop(out);
  }

 private:
  bool Pop(std::string* out) {
    if (lines_.empty()) return false;
    *out = lines_.front();
    lines_.pop_front();
    return true;
  }
  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// The settings dialog as text: the fields of the Windows dialog one per line, Enter keeps what
// is shown, then OK, Cancel or restore defaults. A check that fails prints its message and the
// form comes back with the input as entered. The end of input counts as Cancel.
class TextSettingsDialog {
 public:
  TextSettingsDialog(InputLines& in, std::function<void(const std::wstring&)> messageBox)
      : in_(in), messageBox_(std::move(messageBox)) {}

  // True when OK stored the values; *restart when the program must start again.
  bool Run(bool* restart) {
    *restart = false;
    SettingsForm form = FormFromSettings();
    PrintUtf8(L"== 设置 == (Enter 保留当前值)\n");
    for (;;) {
      if (!Ask(L"监控文件的类型的扩展名", &form.filter) || !AskPassword(&form.password) ||
          !Ask(L"源目录[DIR_SRCDATA]（本地上的目录）", &form.source) ||
          !Ask(L"目的目录[DIR_DESTDATA]（本地上的目录或网络目录）", &form.dest) ||
          !Ask(L"MB，文件大小限制，超过此大小的文件不备份", &form.size) || !AskFlag(L"开机自动运行", &form.autoRun))
        return Cancelled();
      PrintUtf8(WFormat(L"调试信息: %s (不可更改)\n", form.debug ? L"是" : L"否"));
      std::string choice;
      PrintUtf8(L"确定 ok / 取消 cancel / 恢复默认值 default ? ");
      if (!in_.Next(&choice)) return Cancelled();
      choice = Trim(choice);
      if (choice == "cancel" || choice == "取消") return Cancelled();
      if (choice == "default" || choice == "恢复默认值") {
        form = DefaultSettingsForm();
        continue;
      }
      if (choice != "ok" && choice != "确定" && !choice.empty()) continue;
      SettingsSubmit r = SubmitSettings(form, PlatformSettingsRules());
      if (!r.accepted()) {
        messageBox_(r.message);
        continue;
      }
      if (r.restart) messageBox_(kRestartMessage);
      *restart = r.restart;
      return true;
    }
  }

 private:
  bool Cancelled() {
    PrintUtf8(L"设置已取消\n");
    return false;
  }
  bool Ask(const std::wstring& label, std::wstring* value) {
    PrintUtf8(label + L" [" + *value + L"]: ");
    std::string line;
    if (!in_.Next(&line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) *value = Utf8ToWide(line);
    return true;
  }
  bool AskPassword(std::wstring* value) {
    PrintUtf8(L"Zip密码 [" + std::wstring(value->size(), L'*') + L"]: ");
    std::string line;
    if (!in_.Next(&line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) *value = Utf8ToWide(line);
    return true;
  }
  bool AskFlag(const std::wstring& label, bool* value) {
    PrintUtf8(label + L" (y/n) [" + (*value ? L"y" : L"n") + L"]: ");
    std::string line;
    if (!in_.Next(&line)) return false;
    line = Trim(line);
    if (line == "y" || line == "是") *value = true;
    if (line == "n" || line == "否") *value = false;
    return true;
  }

  InputLines& in_;
  std::function<void(const std::wstring&)> messageBox_;
};

class ConsoleHost : public StartupHost, public CommandHost {
 public:
  explicit ConsoleHost(InputLines& in) : in_(in) {}
  void* MainWindowHandle() override { return nullptr; }
  void AttachLogView() override { SetLogView(&view_); }
  void SetStatusAndTitle(const std::wstring& status, const std::wstring& title) override {
    title_ = title;
    status_ = status;
    if (isatty(STDOUT_FILENO)) PrintUtf8(L"\033]0;" + title + L"\007");
    Show();
  }
  void ShowMessageBox(const std::wstring& text) override {
    PrintUtf8(L"[" + std::wstring(kAppName) + L"] " + text + L"\n");
  }
  void QuitMessageLoop() override { g_quit.store(true); }
  void RunFirstRunSettingsDialog() override {
    // Started from the autostart entry or a script nobody answers: the defaults stay.
    if (!isatty(STDIN_FILENO)) return;
    bool restart = false;
    TextSettingsDialog(in_, [this](const std::wstring& t) { ShowMessageBox(t); }).Run(&restart);
  }
  void RunSettingsDialog() override {
    bool restart = false;
    TextSettingsDialog(in_, [this](const std::wstring& t) { ShowMessageBox(t); }).Run(&restart);
    if (restart) restartPending_ = true;
  }
  bool restartPending() const { return restartPending_; }

  // The terminal's "show the window": the title and status lines again.
  void Show() { PrintUtf8(L"== " + title_ + L" ==\n" + status_ + L"\n"); }

 private:
  InputLines& in_;
  TerminalLogView view_;
  std::wstring title_, status_;
  bool restartPending_ = false;
};

struct NamedCommand {
  const char* name;
  const char* alias;
  int id;
  const char* help;
};

const NamedCommand kCommands[] = {
    {"exit", "退出", ID_MENUITEM_EXIT, "end the program"},
    {"settings", "设置", ID_MENUITEM_SET, "edit the settings"},
    {"clean", "清理", ID_MENUITEM_CLEN, "empty the history view"},
    {"reset-day", "重置最后备份时间为一天前", ID_MENUITEM_RESET_DAY, "back up again what changed in the last day"},
    {"reset-week", "重置最后备份时间为一周前", ID_MENUITEM_RESET_WEEK, "... in the last week"},
    {"reset-month", "重置最后备份时间为一月前", ID_MENUITEM_RESET_MONTH, "... in the last 30 days"},
    {"reset-year", "重置最后备份时间为一年前", ID_MENUITEM_RESET_YEAR, "... in the last 365 days"},
    {"reset-all", "重置最后备份时间为1980年1月1日", ID_MENUITEM_RESET_1980, "back up everything again"},
    {"check-update", "检测更新", ID_MENUITEM_CHECK_UPDATE, "look for a newer version"},
    {"status", "运行状态信息", ID_MENUITEM_STATUS, "show the run parameters"},
    {"about", "关于", ID_MENUITEM_ABOUT, "about the program"},
    {"verify", "校验备份", ID_MENUITEM_VERIFY, "check every archive of the three views"},
};

void PrintHelp() {
  std::wstring h = L"commands (one per line):\n";
  for (const NamedCommand& c : kCommands)
    h += L"  " + Utf8ToWide(c.name) + L" | " + Utf8ToWide(c.alias) + L" — " + Utf8ToWide(c.help) + L"\n";
  h += L"  versions PATH — the backed-up versions of a source file, newest first\n";
  h += L"  restore PATH N [FOLDER] — version N of the file into FOLDER, or beside the original\n";
  h += L"  restore-folder FOLDER \"YYYY-MM-DD[ HH:MM[:SS]]\" TARGET — the folder as it was then, into TARGET\n";
  h += L"  help — this list\n";
  PrintUtf8(h);
}

}  // namespace
}  // namespace vq

// A changed directory takes effect in a new instance: the program replaces itself, in the same
// terminal, with its own file started with "restart". The instance lock is closed on exec, so
// the new image finds no running instance.
[[noreturn]] void RestartProgram() {
  using namespace vq;
  fflush(stdout);
  std::string path = WideToUtf8(platform::ProgramPath());
  char restartWord[] = "restart";
  char* argv[] = {path.data(), restartWord, nullptr};
  execv(path.c_str(), argv);
  // Could not start again: say so and end, as the window does when its restart fails.
  WriteLog(L"重启失败:%S\r\n", path.c_str());
  _exit(1);
}

int main() {
  using namespace vq;
  std::setlocale(LC_ALL, "");
  InputLines input;
  input.Start();
  ConsoleHost host(input);
  if (RunStartup(host) == StartupResult::HandedOver) _exit(0);

  struct sigaction sa = {};
  sa.sa_handler = OnTerminate;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);

  // Commands run on the main thread, as menu commands run on the UI thread. At the end of input
  // the program keeps running until a signal or the exit command.
  while (!g_quit.load() && g_signal.load() == 0) {
    if (platform::TakeShowRequest()) host.Show();
    std::string line;
    if (!input.TryNext(&line)) {
      platform::SleepMs(100);
      continue;
    }
    std::string cmd = Trim(line);
    if (cmd.empty()) continue;
    if (RunRestoreCommand(Utf8ToWide(cmd))) continue;
    int id = 0;
    for (const NamedCommand& c : kCommands)
      if (cmd == c.name || cmd == c.alias) id = c.id;
    if (id == 0) {
      if (cmd != "help" && cmd != "?") PrintUtf8(L"unknown command: " + Utf8ToWide(cmd) + L"\n");
      PrintHelp();
      continue;
    }
    OnMenuCommand(id, host);
    if (host.restartPending()) RestartProgram();
  }
  // Nothing is flushed or joined: every log entry and every store write is already on disk.
  fflush(stdout);
  _exit(0);
}
