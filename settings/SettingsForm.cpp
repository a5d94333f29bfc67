#include "settings/SettingsForm.h"

#include <cwctype>

#include "common/WFormat.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"

namespace vq {

SettingsForm FormFromSettings() {
  SettingsForm f;
  f.source = AppSettings.S_DIR_SRCDATA.Get();
  f.dest = AppSettings.S_DIR_DESTDATA.Get();
  f.filter = AppSettings.fFilterSr.Get();
  f.password = AppSettings.S_ZIP_PSW.Get();
  f.autoRun = AppSettings.autoRunFlag.load() == 1;
  f.debug = AppSettings.vqDebug.load() == 1;
  f.size = WFormat(L"%d", AppSettings.maxFSize.load());
  f.aes = AppSettings.zipEncryption.load() == kZipEncryptionAes256;
  return f;
}

SettingsForm DefaultSettingsForm() {
  SettingsForm f;
  f.source = AppSettings.defaultSrcDir.Get();
  f.dest = AppSettings.defaultDestDir.Get();
  f.filter = kDefaultFilter;
  f.password = kDefaultPassword;
  f.size = WFormat(L"%d", kDefaultMaxFSize);
  return f;
}

SettingsRules PlatformSettingsRules() {
  SettingsRules r;
  r.windowsPaths = platform::RootLength() == 3;
  // Only a folder will do: a regular file of that name is as good as nothing there (the
  // Windows folder browser never offers one, a typed path may name one).
  r.exists = [](const std::wstring& p) { return platform::IsDirectory(p); };
  r.defaultDest = AppSettings.defaultDestDir.Get();
  return r;
}

bool IsLocalSourcePath(const std::wstring& path, bool windowsPaths) {
  if (windowsPaths) return path.empty() || (path[0] != L'/' && path[0] != L'\\');
  // Every absolute POSIX path begins with "/"; "//host/..." is the network form, and a relative
  // path names no fixed place at all.
  return !path.empty() && path[0] == L'/' && !(path.size() > 1 && path[1] == L'/');
}

bool HasControlCharacter(const std::wstring& text, bool lineBreaks) {
  for (wchar_t c : text) {
    if (lineBreaks && (c == L'\r' || c == L'\n')) continue;
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  }
  return false;
}

std::wstring ValidateSettingsForm(const SettingsForm& form, const SettingsRules& rules) {
  // In the order of the dialog's fields.
  if (HasControlCharacter(form.filter, true)) return L"扩展名含有控制字符!请重新设置!";
  if (HasControlCharacter(form.password)) return L"密码含有控制字符!请重新设置!";
  if (HasControlCharacter(form.source)) return L"源目录含有控制字符!!";
  if (HasControlCharacter(form.dest)) return L"目标目录含有控制字符!!";
  if (HasControlCharacter(form.size)) return L"文件大小含有控制字符!请重新设置!";
  if (!rules.exists(form.source)) return L"源目录不存在!!";
  if (!IsLocalSourcePath(form.source, rules.windowsPaths)) return L"源目录不是本地目录!!";
  // The default destination may be missing: OK creates it.
  if (!rules.exists(form.dest) && form.dest != rules.defaultDest) return L"目标目录不存在!!";
  if (form.password.size() < 2) return L"密码太简单!请重新设置!";
  int32_t size = ParseDecimalInt(form.size);
  if (size < kMinFSizeMB || size > kMaxFSizeMB) return L"文件大小设置超出范围[1~1024]MB!请重新设置!";
  return L"";
}

std::wstring NormaliseFilter(const std::wstring& filter) {
  std::wstring f = filter;
  if (f.empty() || f.back() != L'.') f.push_back(L'.');
  if (f[0] != L'.') f.insert(f.begin(), L'.');
  for (wchar_t& c : f) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  std::wstring out;
  out.reserve(f.size());
  for (wchar_t c : f)
    if (c != L' ' && c != L'\r' && c != L'\n') out.push_back(c);
  return out;
}

std::wstring NormaliseDirectory(const std::wstring& dir, wchar_t separator) {
  if (dir.empty() || (dir.back() != L'/' && dir.back() != L'\\')) return dir + separator;
  return dir;
}

SettingsValues NormaliseSettingsForm(const SettingsForm& form, wchar_t separator) {
  SettingsValues v;
  v.source = NormaliseDirectory(form.source, separator);
  v.dest = NormaliseDirectory(form.dest, separator);
  v.filter = NormaliseFilter(form.filter);
  v.password = form.password;
  v.maxFSize = ParseDecimalInt(form.size);
  v.autoRunFlag = form.autoRun ? 1 : 0;
  v.vqDebug = form.debug ? 1 : 0;
  v.zipEncryption = form.aes ? kZipEncryptionAes256 : kZipEncryptionTraditional;
  return v;
}

const wchar_t* ZipEncryptionName(int zipEncryption) {
  return zipEncryption == kZipEncryptionAes256 ? L"AES-256" : L"传统";
}

bool DirectoriesChanged(const SettingsValues& v, const std::wstring& currentSource, const std::wstring& currentDest) {
  return v.source != currentSource || v.dest != currentDest;
}

}  // namespace vq
