// The terminal front end of the POSIX build: the log window is the terminal, the menu is a
// command typed on a line of its own.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstring>
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
#include "platform/Process.h"
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
// polling; commands and the settings dialog take them from here in order. Input is read with
// plain read() calls into our own buffer, so everything read but not yet taken is here and can
// be handed to the image a restart replaces us with.
class InputLines {
 public:
  static constexpr size_t kMaxLineBytes = 65536;
  // pendingFd: a file with input the previous image had read but not taken (-1: none); it comes
  // before standard input.
  void Start(int pendingFd) {
    platform::StartThread([this, pendingFd] {
      if (pendingFd >= 0) {
        ReadAll(pendingFd, false);
        close(pendingFd);
      }
      ReadAll(STDIN_FILENO, true);
      std::lock_guard<std::mutex> g(lock_);
      if (!partial_.empty()) EndLine();
      ended_ = true;
      ready_.notify_all();
    });
  }
  // Waits for the next line; false once input has ended and every line was taken, or when
  // stop() turns true (checked every tenth of a second: a signal must not wait for a line).
  bool Next(std::string* out, const std::function<bool()>& stop) {
    std::unique_lock<std::mutex> g(lock_);
    while (lines_.empty() && !ended_) {
      if (stop()) return false;
      ready_.wait_for(g, std::chrono::milliseconds(100));
    }
    return Pop(out);
  }
  // The next line if one is there already.
  bool TryNext(std::string* out) {
    std::lock_guard<std::mutex> g(lock_);
    return Pop(out);
  }
  // Stops reading and returns every byte read but not taken, as it came. The reader is only
  // ever inside read() when poll() said data is there, so this never waits for the user.
  std::string Freeze() {
    std::unique_lock<std::mutex> g(lock_);
    frozen_ = true;
    idle_.wait(g, [this] { return !reading_; });
    std::string rest;
    for (const std::string& l : lines_) rest += l + "\n";
    rest += partial_;
    return rest;
  }

 private:
  void ReadAll(int fd, bool waitForData) {
    char buf[4096];
    for (;;) {
      if (waitForData) {
        pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, 100);
        if (r < 0 && errno != EINTR) return;
        if (r <= 0) {
          std::lock_guard<std::mutex> g(lock_);
          if (frozen_) return;
          continue;
        }
      }
      {
        std::lock_guard<std::mutex> g(lock_);
        if (frozen_) return;
        reading_ = true;
      }
      ssize_t n = read(fd, buf, sizeof buf);
      std::lock_guard<std::mutex> g(lock_);
      reading_ = false;
      idle_.notify_all();
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      Take(buf, static_cast<size_t>(n));
      ready_.notify_all();
    }
  }
  // Each byte read is looked at once, and a line keeps at most kMaxLineBytes: a binary file piped
  // in by mistake costs its reading and nothing more. A longer line is kept one byte over the
  // bound, so that it is still too long when a restart hands it on unfinished.
  void Take(const char* data, size_t n) {
    while (n > 0) {
      const char* nl = static_cast<const char*>(memchr(data, '\n', n));
      const size_t len = nl ? static_cast<size_t>(nl - data) : n;
      partial_.append(data, std::min(len, kMaxLineBytes + 1 - partial_.size()));
      if (!nl) return;
      EndLine();
      data = nl + 1;
      n -= len + 1;
    }
  }
  // A line too long for any command or field counts as an empty one (in the settings dialog:
  // the value stays), so the lines after it still answer what they were meant for.
  void EndLine() {
    if (partial_.size() > kMaxLineBytes) {
      partial_.clear();
      PrintUtf8(WFormat(L"输入的行超过 %d 字节,已忽略\n", static_cast<int>(kMaxLineBytes)));
    }
    lines_.push_back(std::move(partial_));
    partial_.clear();
  }
  bool Pop(std::string* out) {
    if (lines_.empty()) return false;
    *out = lines_.front();
    lines_.pop_front();
    return true;
  }
  std::mutex lock_;
  std::condition_variable ready_, idle_;
  std::deque<std::string> lines_;
  std::string partial_;
  bool ended_ = false;
  bool frozen_ = false;
  bool reading_ = false;
};

bool Interrupted() { return g_signal.load() != 0; }

// Names the memory file with the input a restart carries over to the new image.
const char kPendingInputVariable[] = "VQ_LUMEN_PENDING_INPUT";

// Echo stays off while the new password is typed; the terminal gets its settings back however
// the program ends.
termios g_savedTerminal;
std::atomic<bool> g_echoOff{false};

void EchoOff() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0) return;
  termios t = g_savedTerminal;
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  if (tcsetattr(STDIN_FILENO, TCSANOW, &t) == 0) g_echoOff.store(true);
}

void EchoBack() {
  if (g_echoOff.exchange(false)) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
}

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
          !Ask(L"MB，文件大小限制，超过此大小的文件不备份", &form.size) || !AskFlag(L"开机自动运行", &form.autoRun) ||
          !AskEncryption(&form.aes))
        return Cancelled();
      PrintUtf8(WFormat(L"调试信息: %s (不可更改)\n", form.debug ? L"是" : L"否"));
      std::string choice;
      PrintUtf8(L"确定 ok / 取消 cancel / 恢复默认值 default ? ");
      if (!in_.Next(&choice, Interrupted)) return Cancelled();
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
    if (!in_.Next(&line, Interrupted)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) *value = Utf8ToWide(line);
    return true;
  }
  bool AskPassword(std::wstring* value) {
    // Off before the prompt appears: whoever sees it may type at once.
    EchoOff();
    PrintUtf8(L"Zip密码 [" + std::wstring(value->size(), L'*') + L"]: ");
    std::string line;
    const bool got = in_.Next(&line, Interrupted);
    EchoBack();
    // The Enter that ended the line was not echoed either.
    if (isatty(STDIN_FILENO)) PrintUtf8(L"\n");
    if (!got) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) *value = Utf8ToWide(line);
    return true;
  }
  // The encryption of new archives, with the note of the Windows dialog. Old archives keep theirs.
  bool AskEncryption(bool* aes) {
    PrintUtf8(std::wstring(L"  (") + kAesNote + L")\n");
    PrintUtf8(WFormat(L"Zip加密 1=传统 2=AES-256 [%s]: ", *aes ? L"2" : L"1"));
    std::string line;
    if (!in_.Next(&line, Interrupted)) return false;
    line = Trim(line);
    if (line == "1" || line == "传统") *aes = false;
    if (line == "2" || line == "AES-256" || line == "aes") *aes = true;
    return true;
  }
  bool AskFlag(const std::wstring& label, bool* value) {
    PrintUtf8(label + L" (y/n) [" + (*value ? L"y" : L"n") + L"]: ");
    std::string line;
    if (!in_.Next(&line, Interrupted)) return false;
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
  void ShowBackupNotice(const BackupNotice& n) override {
    PrintUtf8(L"[" + std::wstring(kAppName) + L"] " + n.text + L"\n");
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
  h += L"  browse FOLDER [\"YYYY-MM-DD[ HH:MM[:SS]]\"] — the folder as it stood then (now without TIME): 名称 修改时间 "
       L"大小 状态\n";
  h += L"  help — this list\n";
  PrintUtf8(h);
}

}  // namespace
}  // namespace vq

// A changed directory takes effect in a new instance: the program replaces itself, in the same
// terminal, with its own file started with "restart". The instance lock is closed on exec; the
// new image keeps our pid, so it has no other process to wait for.
[[noreturn]] void RestartProgram(vq::InputLines& input) {
  using namespace vq;
  fflush(stdout);
  EchoBack();
  // Lines already read from a pipe (the commands after the settings, say) are the new image's
  // to run: they go to it in a memory file it reads before standard input. What is typed from
  // now on waits in standard input for the new image.
  std::vector<std::string> env;
  std::string rest = input.Freeze();
  if (!rest.empty()) {
    int fd = memfd_create("vq.lumen-input", 0);
    if (fd >= 0 && write(fd, rest.data(), rest.size()) == static_cast<ssize_t>(rest.size()) &&
        lseek(fd, 0, SEEK_SET) == 0)
      env.push_back(std::string(kPendingInputVariable) + "=" + std::to_string(fd));
  }
  platform::ReplaceWithOwnImage({"restart"}, env);
  // Could not start again: say so and end, as the window does when its restart fails.
  WriteLog(L"重启失败:%s\r\n", platform::ProgramPath());
  _exit(1);
}

int main() {
  using namespace vq;
  std::setlocale(LC_ALL, "");
  // Noticed from the start: the first run's settings dialog waits for lines inside the start-up.
  struct sigaction sa = {};
  sa.sa_handler = OnTerminate;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);

  int pendingFd = -1;
  if (const char* v = getenv(kPendingInputVariable)) {
    pendingFd = atoi(v);
    unsetenv(kPendingInputVariable);
  }
  InputLines input;
  input.Start(pendingFd);
  ConsoleHost host(input);
  if (RunStartup(host) == StartupResult::HandedOver) _exit(0);

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
    if (host.restartPending()) RestartProgram(input);
  }
  // Nothing is flushed or joined: every log entry and every store write is already on disk.
  fflush(stdout);
  EchoBack();
  _exit(0);
}
