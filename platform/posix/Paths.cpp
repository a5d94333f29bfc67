#include "platform/Paths.h"

#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "common/Text.h"
#include "platform/File.h"

namespace vq::platform {

wchar_t PathSeparator() { return L'/'; }
size_t RootLength() { return 1; }
bool IsSeparator(wchar_t c) { return c == L'/'; }

std::wstring ProgramPath() {
  char buf[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return L"";
  buf[n] = 0;
  // The file this image was started from has been removed or replaced (an upgrade): the name it
  // had is where the program is now, for the log's folder and the autostart entry.
  static const char kDeleted[] = " (deleted)";
  const size_t suffix = sizeof kDeleted - 1;
  if (size_t(n) > suffix && std::strcmp(buf + n - suffix, kDeleted) == 0 && access(buf, F_OK) != 0) buf[n - suffix] = 0;
  return Utf8ToWide(buf);
}

std::wstring ProgramDir() {
  std::wstring p = ProgramPath();
  size_t slash = p.rfind(L'/');
  if (slash == std::wstring::npos) return L"./";
  return p.substr(0, slash + 1);
}

std::wstring LogDir() {
  std::wstring dir = ProgramDir();
  bool writable = access(WideToUtf8(dir).c_str(), W_OK) == 0;
  if (writable) return dir;
  const char* state = getenv("XDG_STATE_HOME");
  std::wstring chosen = ChooseLogDir(dir, writable, state ? Utf8ToWide(state) : L"", ProfileFolder());
  return chosen != dir && CreateDirectoryTree(chosen) ? chosen : dir;
}

std::wstring ProfileFolder() {
  const char* home = getenv("HOME");
  if (home && *home) return Utf8ToWide(home);
  struct passwd* pw = getpwuid(getuid());
  if (pw && pw->pw_dir && *pw->pw_dir) return Utf8ToWide(pw->pw_dir);
  return L"";
}

namespace {
std::wstring StripTrailingSlashes(std::wstring p) {
  while (p.size() > 1 && p.back() == L'/') p.pop_back();
  return p;
}

std::wstring XdgConfigHome() {
  const char* x = getenv("XDG_CONFIG_HOME");
  if (x && *x == '/') return StripTrailingSlashes(Utf8ToWide(x));
  std::wstring home = ProfileFolder();
  if (home.empty()) return L"";
  return StripTrailingSlashes(home) + L"/.config";
}
}  // namespace

// The XDG user-dirs rules: XDG_DOCUMENTS_DIR in user-dirs.dirs, "$HOME/..." or an absolute path;
// a documents entry equal to the home folder itself means "not configured".
std::wstring DocumentsFolder() {
  std::wstring home = ProfileFolder();
  if (home.empty()) return L"";
  home = StripTrailingSlashes(home);
  std::string text;
  std::wstring cfg = XdgConfigHome();
  if (!cfg.empty() && ReadWholeFile(cfg + L"/user-dirs.dirs", &text)) {
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      const std::string key = "XDG_DOCUMENTS_DIR=\"";
      if (line.compare(0, key.size(), key) != 0) continue;
      size_t close = line.find('"', key.size());
      if (close == std::string::npos) continue;
      std::string value = line.substr(key.size(), close - key.size());
      std::wstring dir;
      if (value.compare(0, 5, "$HOME") == 0)
        dir = home + Utf8ToWide(value.substr(5));
      else if (!value.empty() && value[0] == '/')
        dir = Utf8ToWide(value);
      else
        continue;
      dir = StripTrailingSlashes(dir);
      if (dir != home) return dir;
    }
  }
  return home + L"/Documents";
}

std::wstring TempPathLong() {
  const char* t = getenv("TMPDIR");
  std::string dir = (t && *t == '/') ? t : "/tmp";
  char real[PATH_MAX + 1];
  std::string longForm = realpath(dir.c_str(), real) ? real : dir;
  if (longForm.empty() || longForm.back() != '/') longForm.push_back('/');
  std::wstring w = Utf8ToWide(longForm);
  if (w.size() > 260) return L"";
  return w;
}

std::wstring ConfigDir() {
  std::wstring c = XdgConfigHome();
  if (c.empty()) return L"";
  return c + L"/vq.lumen/";
}

}  // namespace vq::platform

namespace vq::platform {
bool NameIsHidden(const std::wstring& name) { return !name.empty() && name[0] == L'.'; }
std::wstring FoldNameCase(const std::wstring& name) { return name; }
}  // namespace vq::platform
