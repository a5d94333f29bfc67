#include "platform/Shell.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/File.h"

extern char** environ;

namespace vq::platform {

namespace {

// Starts program with url as its one argument. A handler that ends within a few seconds reports
// success by its exit status; one that keeps running (a browser started in the foreground)
// counts as success. A thread reaps the child whenever it ends.
bool SpawnWithUrl(const char* program, const std::wstring& url) {
  std::string u = WideToUtf8(url);
  char* argv[] = {const_cast<char*>(program), const_cast<char*>(u.c_str()), nullptr};
  pid_t pid = 0;
  // The handler gets nothing from our terminal: its input is the user's commands, not its own.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const int spawned = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  auto done = std::make_shared<std::promise<int>>();
  std::future<int> status = done->get_future();
  std::thread([pid, done] {
    int st = 0;
    pid_t r;
    while ((r = waitpid(pid, &st, 0)) < 0 && errno == EINTR) {
    }
    // Anything else (ECHILD: the child was reaped for us) ends the wait; it started, and a
    // handler whose end we cannot see counts as one that keeps running.
    done->set_value(r == pid ? st : -1);
  }).detach();
  if (status.wait_for(std::chrono::seconds(5)) != std::future_status::ready) return true;
  int st = status.get();
  return st == -1 || (WIFEXITED(st) && WEXITSTATUS(st) == 0);
}

std::wstring DecodeProfileBytes(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string u;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      u.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return Utf16ToWide(u);
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return Utf8ToWide(bytes.substr(3));
  return AnsiToWide(bytes);
}

}  // namespace

bool OpenUrl(const std::wstring& url) { return SpawnWithUrl("xdg-open", url); }

bool OpenUrlInNamedBrowser(const std::wstring& url) { return SpawnWithUrl("x-www-browser", url); }

void* FindMainWindow() { return nullptr; }

void ShowInfoMessage(void*, const std::wstring& text, const std::wstring& caption) {
  std::wstring t;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
    t.push_back(text[i]);
  }
  std::string s = WideToUtf8(L"[" + caption + L"] " + t + L"\n");
  fwrite(s.data(), 1, s.size(), stdout);
  fflush(stdout);
}

void PostCancelCommand(void*) { kill(getpid(), SIGTERM); }

std::wstring ReadProfileString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                               size_t maxChars) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) return L"";
  return ProfileStringFromText(DecodeProfileBytes(bytes), section, key, maxChars);
}

}  // namespace vq::platform
