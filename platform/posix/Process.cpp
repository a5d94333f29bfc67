#include "platform/Process.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/Text.h"
#include "platform/File.h"
#include "platform/Paths.h"

namespace vq::platform {

std::wstring CommandLine() {
  std::string raw;
  if (!ReadWholeFile(L"/proc/self/cmdline", &raw)) return L"";
  // Arguments are NUL-separated; show them blank-separated like a Windows command line.
  while (!raw.empty() && raw.back() == '\0') raw.pop_back();
  for (char& c : raw)
    if (c == '\0') c = ' ';
  return Utf8ToWide(raw);
}

void CreateRunningMarker() {}

bool StartProgram(const std::wstring& path, const std::wstring& commandLine) {
  // The words of the command line become the arguments; argv[0] is the program itself.
  std::vector<std::string> words{WideToUtf8(path)};
  std::istringstream in(WideToUtf8(commandLine));
  for (std::string w; in >> w;) words.push_back(w);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawn(&pid, words[0].c_str(), nullptr, nullptr, argv.data(), ::environ) == 0;
}

namespace {
const char kRestartOrigin[] = "VQ_LUMEN_RESTART_FROM";

std::string ExeOf(const std::string& procEntry) {
  char buf[PATH_MAX];
  ssize_t n = readlink(procEntry.c_str(), buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}
}  // namespace

void MarkRestartOrigin() { setenv(kRestartOrigin, std::to_string(getpid()).c_str(), 1); }

void ReplaceWithOwnImage(const std::vector<std::string>& args, const std::vector<std::string>& extra) {
  // argv[0] is only a name to the new image; what runs is the file the kernel has open for us.
  std::string self = "/proc/self/exe";
  std::vector<std::string> words{WideToUtf8(ProgramPath())};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<std::string> env{std::string(kRestartOrigin) + "=" + std::to_string(getpid())};
  env.insert(env.end(), extra.begin(), extra.end());
  auto named = [&env](const char* entry) {
    for (const std::string& e : env)
      if (std::strncmp(entry, e.c_str(), e.find('=') + 1) == 0) return true;
    return false;
  };
  for (char** e = ::environ; *e; ++e)
    if (!named(*e)) env.push_back(*e);
  std::vector<char*> argv, envp;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  execve(self.c_str(), argv.data(), envp.data());
}

bool TakeRestartOrigin(uint32_t* pid) {
  const char* v = getenv(kRestartOrigin);
  if (!v) return false;
  *pid = static_cast<uint32_t>(strtoul(v, nullptr, 10));
  unsetenv(kRestartOrigin);
  return true;
}

bool IsProcessOfThisProgram(uint32_t pid) {
  if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) return false;
  // A zombie has no program file any more: it has ended as far as anyone here cares.
  std::string exe = ExeOf("/proc/" + std::to_string(pid) + "/exe");
  return !exe.empty() && exe == ExeOf("/proc/self/exe");
}

bool WaitForProcessEnd(uint32_t pid, unsigned timeoutMs) {
  if (pid == CurrentProcessId()) return true;
  for (unsigned waited = 0;; waited += 50) {
    if (!IsProcessOfThisProgram(pid)) return true;
    if (waited >= timeoutMs) return false;
    usleep(50 * 1000);
  }
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t DesktopHandleValue() { return static_cast<uint32_t>(getpid()); }

}  // namespace vq::platform

namespace vq::platform {

uint32_t ProcessId() { return static_cast<uint32_t>(getpid()); }

std::wstring HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return L"";
  return Utf8ToWide(name);
}

bool ProcessRunning(uint32_t pid) {
  if (pid == 0 || pid > 0x7FFFFFFF) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace vq::platform
