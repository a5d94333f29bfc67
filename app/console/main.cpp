// The terminal front end of the POSIX build: the log window is the terminal, the menu is a
// command typed on a line of its own.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include "app/Commands.h"
#include "app/Startup.h"
#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/Instance.h"
#include "platform/Thread.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

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

class ConsoleHost : public StartupHost, public CommandHost {
 public:
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

  // The terminal's "show the window": the title and status lines again.
  void Show() { PrintUtf8(L"== " + title_ + L" ==\n" + status_ + L"\n"); }

 private:
  TerminalLogView view_;
  std::wstring title_, status_;
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
};

void PrintHelp() {
  std::wstring h = L"commands (one per line):\n";
  for (const NamedCommand& c : kCommands)
    h += L"  " + Utf8ToWide(c.name) + L" | " + Utf8ToWide(c.alias) + L" — " + Utf8ToWide(c.help) + L"\n";
  h += L"  help — this list\n";
  PrintUtf8(h);
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace
}  // namespace vq

int main() {
  using namespace vq;
  std::setlocale(LC_ALL, "");
  ConsoleHost host;
  if (RunStartup(host) == StartupResult::HandedOver) return 0;

  struct sigaction sa = {};
  sa.sa_handler = OnTerminate;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);

  std::mutex queueLock;
  std::vector<int> queue;
  // stdin is read on its own thread; the commands run on the main thread, as menu commands run
  // on the UI thread. At the end of input the program keeps running until a signal.
  platform::StartThread([&] {
    std::string line;
    while (std::getline(std::cin, line)) {
      std::string cmd = Trim(line);
      if (cmd.empty()) continue;
      int id = 0;
      for (const NamedCommand& c : kCommands)
        if (cmd == c.name || cmd == c.alias) id = c.id;
      if (id == 0) {
        if (cmd != "help" && cmd != "?") PrintUtf8(L"unknown command: " + Utf8ToWide(cmd) + L"\n");
        PrintHelp();
        continue;
      }
      std::lock_guard<std::mutex> g(queueLock);
      queue.push_back(id);
    }
  });

  while (!g_quit.load() && g_signal.load() == 0) {
    platform::SleepMs(100);
    if (platform::TakeShowRequest()) host.Show();
    std::vector<int> todo;
    {
      std::lock_guard<std::mutex> g(queueLock);
      todo.swap(queue);
    }
    for (int id : todo) OnMenuCommand(id, host);
  }
  // Nothing is flushed or joined: every log entry and every store write is already on disk.
  fflush(stdout);
  _exit(0);
}
