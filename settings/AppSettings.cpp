#include "settings/AppSettings.h"

#include <limits>

#include "common/WFormat.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"
#include "settings/Log.h"
#include "settings/SettingsForm.h"

namespace vq {

namespace {
// The record is never destroyed: engine threads are not joined and may still read it while the
// process ends. The reference is bound at compile time, so it is usable from any static
// initialiser.
union ImmortalSettings {
  AppSettingsRecord record;
  ImmortalSettings() : record() {}
  ~ImmortalSettings() {}
} g_settings;
}  // namespace

AppSettingsRecord& AppSettings = g_settings.record;

namespace {
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f'; }

// Signed decimal with saturation, as the C runtime's 64-bit conversion reads it.
int64_t ReadDecimal(const std::wstring& s, int64_t lo, int64_t hi) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) neg = s[i++] == L'-';
  uint64_t mag = 0;
  const uint64_t limit = neg ? static_cast<uint64_t>(-(lo + 1)) + 1 : static_cast<uint64_t>(hi);
  bool over = false;
  for (; i < s.size() && s[i] >= L'0' && s[i] <= L'9'; ++i) {
    uint64_t d = static_cast<uint64_t>(s[i] - L'0');
    if (over || mag > (limit - d) / 10) {
      over = true;
      continue;
    }
    mag = mag * 10 + d;
  }
  if (over) return neg ? lo : hi;
  if (neg) return mag == 0 ? 0 : -static_cast<int64_t>(mag - 1) - 1;
  return static_cast<int64_t>(mag);
}

using Missing = std::vector<std::wstring>;

bool Note(bool found, const wchar_t* name, Missing* missing) {
  if (!found && missing) missing->push_back(name);
  return found;
}

bool ReadTime(const platform::SettingsKey& key, const wchar_t* name, std::atomic<int64_t>& field, Missing* missing) {
  std::wstring text;
  int64_t v = 0;
  bool ok = key.GetString(name, &text) && ParseStoredTime(text, &v);
  if (ok) field.store(v);
  return Note(ok, name, missing);
}

void ReadString(const platform::SettingsKey& key, const wchar_t* name, SharedText& field, const std::wstring& def,
                Missing* missing) {
  std::wstring text;
  // A value that exists but is empty stays empty.
  field.Set(Note(key.GetString(name, &text), name, missing) ? text : def);
}

// A folder with a control character names no folder anybody meant: a NUL ends it for some calls
// and not for others (the watcher then recurses without end).
void ReadDirectory(const platform::SettingsKey& key, const wchar_t* name, SharedText& field, const std::wstring& def,
                   Missing* missing, Missing* unusable) {
  std::wstring text;
  if (!Note(key.GetString(name, &text), name, missing)) {
    field.Set(def);
  } else if (HasControlCharacter(text)) {
    if (unusable) unusable->push_back(name);
    field.Set(def);
  } else {
    field.Set(text);
  }
}

void ReadInt(const platform::SettingsKey& key, const wchar_t* name, std::atomic<int32_t>& field, int32_t def,
             Missing* missing) {
  uint32_t v = 0;
  field.store(Note(key.GetDword(name, &v), name, missing) ? static_cast<int32_t>(v) : def);
}
}  // namespace

bool ParseStoredTime(const std::wstring& text, int64_t* out) {
  if (text.size() <= 2) return false;
  *out = ReadDecimal(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
  return true;
}

std::wstring FormatStoredTime(int64_t t) { return WFormat(L"%I64d", t); }

int32_t ParseDecimalInt(const std::wstring& text) {
  return static_cast<int32_t>(
      ReadDecimal(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

namespace {
std::recursive_mutex& StoreLock() {
  // Never destroyed: engine threads may still save while the process ends.
  static auto* lock = new std::recursive_mutex();
  return *lock;
}
}  // namespace

SettingsStoreTransaction::SettingsStoreTransaction() : lock_(StoreLock()) {}

bool LoadSettings(std::vector<std::wstring>* missing, std::vector<std::wstring>* unusable) {
  SettingsStoreTransaction transaction;
  platform::SettingsKey key;
  ReadString(key, L"S_ZIP_PSW", AppSettings.S_ZIP_PSW, kDefaultPassword, missing);
  ReadDirectory(key, L"S_DIR_SRCDATA", AppSettings.S_DIR_SRCDATA, AppSettings.defaultSrcDir.Get(), missing, unusable);
  ReadDirectory(key, L"S_DIR_DESTDATA", AppSettings.S_DIR_DESTDATA, AppSettings.defaultDestDir.Get(), missing,
                unusable);
  ReadString(key, L"fFilterSr", AppSettings.fFilterSr, kDefaultFilter, missing);
  ReadTime(key, L"timeLastBkDayly", AppSettings.timeLastBkDayly, missing);
  ReadTime(key, L"timeLastBkWeekly", AppSettings.timeLastBkWeekly, missing);
  ReadTime(key, L"timeLastBkMonthly", AppSettings.timeLastBkMonthly, missing);
  ReadTime(key, L"timeLastBkYearly", AppSettings.timeLastBkYearly, missing);
  ReadInt(key, L"vqDebug", AppSettings.vqDebug, 0, missing);
  ReadInt(key, L"autoRunFlag", AppSettings.autoRunFlag, 0, missing);
  ReadInt(key, L"maxFSize", AppSettings.maxFSize, kDefaultMaxFSize, missing);
  // Only a stored 1 asks for AES: anything else (missing, as in every store from before the
  // choice, or a value this version does not know) keeps the encryption every archive tool
  // opens. Its absence is no damage of the store.
  ReadInt(key, L"zipEncryption", AppSettings.zipEncryption, kZipEncryptionTraditional, nullptr);
  if (AppSettings.zipEncryption.load() != kZipEncryptionAes256)
    AppSettings.zipEncryption.store(kZipEncryptionTraditional);
  return ReadTime(key, L"timeLastBk", AppSettings.timeLastBk, missing);
}

bool SaveSettings() {
  SettingsStoreTransaction transaction;
  platform::SettingsKey key;
  // Every value is written even after one failed: the store keeps as much as it can take.
  bool ok = key.IsOpen();
  ok &= key.SetString(L"timeLastBk", FormatStoredTime(AppSettings.timeLastBk.load()));
  ok &= key.SetString(L"timeLastBkDayly", FormatStoredTime(AppSettings.timeLastBkDayly.load()));
  ok &= key.SetString(L"timeLastBkWeekly", FormatStoredTime(AppSettings.timeLastBkWeekly.load()));
  ok &= key.SetString(L"timeLastBkMonthly", FormatStoredTime(AppSettings.timeLastBkMonthly.load()));
  ok &= key.SetString(L"timeLastBkYearly", FormatStoredTime(AppSettings.timeLastBkYearly.load()));
  ok &= key.SetDword(L"vqDebug", static_cast<uint32_t>(AppSettings.vqDebug.load()));
  ok &= key.SetDword(L"autoRunFlag", static_cast<uint32_t>(AppSettings.autoRunFlag.load()));
  ok &= key.SetDword(L"maxFSize", static_cast<uint32_t>(AppSettings.maxFSize.load()));
  ok &= key.SetString(L"S_ZIP_PSW", AppSettings.S_ZIP_PSW.Get());
  ok &= key.SetString(L"S_DIR_SRCDATA", AppSettings.S_DIR_SRCDATA.Get());
  ok &= key.SetString(L"S_DIR_DESTDATA", AppSettings.S_DIR_DESTDATA.Get());
  ok &= key.SetString(L"fFilterSr", AppSettings.fFilterSr.Get());
  ok &= key.SetDword(L"zipEncryption", static_cast<uint32_t>(AppSettings.zipEncryption.load()));
  ok &= key.Close();
  return ok;
}

void ApplyAutoRun(int flag) {
  if (flag != 0) {
    if (!platform::AutoRunSet(WFormat(L"\"%s\"", platform::ProgramPath())))
      WriteLog(L"系统参数错误,不能随系统启动\r\n");
  } else {
    platform::AutoRunRemove();
  }
}

}  // namespace vq
