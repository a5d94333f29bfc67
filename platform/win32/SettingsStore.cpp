#include "platform/SettingsStore.h"

#include <windows.h>

#include <cstring>

namespace vq::platform {

namespace {
const wchar_t kSettingsKey[] = L"software\\vq.lumen\\vq.l\\set";
const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"vq.lumen";
}  // namespace

struct SettingsKey::Impl {
  HKEY key = nullptr;
};

SettingsKey::SettingsKey() : impl_(new Impl) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, &k, nullptr) == ERROR_SUCCESS)
    impl_->key = k;
}

SettingsKey::~SettingsKey() { Close(); }

bool SettingsKey::IsOpen() const { return impl_->key != nullptr; }

bool SettingsKey::GetString(const std::wstring& name, std::wstring* out) const {
  if (!impl_->key) return false;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(impl_->key, name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
  std::wstring buf;
  DWORD size = 0;
  // Another thread may store a longer text between the size query and the read; the read then
  // reports the new size and is made again, rather than the value counting as missing.
  LONG rc = ERROR_MORE_DATA;
  for (int attempt = 0; attempt < 8 && rc == ERROR_MORE_DATA; ++attempt) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    buf.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    rc = RegQueryValueExW(impl_->key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&buf[0]), &size);
    if (rc == ERROR_MORE_DATA) bytes = size;
  }
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  buf.resize(size / sizeof(wchar_t));
  // The stored data normally carries its terminating NUL; the text ends at the first one.
  size_t nul = buf.find(L'\0');
  if (nul != std::wstring::npos) buf.resize(nul);
  *out = buf;
  return true;
}

bool SettingsKey::GetDword(const std::wstring& name, uint32_t* out) const {
  if (!impl_->key) return false;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(impl_->key, name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
  std::string data(bytes < 4 ? 4 : bytes, '\0');
  DWORD size = bytes;
  if (RegQueryValueExW(impl_->key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
      ERROR_SUCCESS)
    return false;
  uint32_t v = 0;
  std::memcpy(&v, data.data(), 4);
  *out = v;
  return true;
}

bool SettingsKey::SetString(const std::wstring& name, const std::wstring& value) {
  if (!impl_->key) return false;
  DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(impl_->key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
         ERROR_SUCCESS;
}

bool SettingsKey::SetDword(const std::wstring& name, uint32_t value) {
  if (!impl_->key) return false;
  DWORD v = value;
  return RegSetValueExW(impl_->key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) ==
         ERROR_SUCCESS;
}

bool SettingsKey::Delete(const std::wstring& name) {
  if (!impl_->key) return false;
  LONG r = RegDeleteValueW(impl_->key, name.c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

bool SettingsKey::Close() {
  if (impl_->key) {
    RegCloseKey(impl_->key);
    impl_->key = nullptr;
  }
  return true;
}

bool AutoRunSet(const std::wstring& quotedProgramPath) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return false;
  DWORD bytes = static_cast<DWORD>((quotedProgramPath.size() + 1) * sizeof(wchar_t));
  RegSetValueExW(k, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(quotedProgramPath.c_str()), bytes);
  RegCloseKey(k);
  return true;
}

bool AutoRunRemove() {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return false;
  RegDeleteValueW(k, kRunValue);
  RegCloseKey(k);
  return true;
}

bool AutoRunQuery(std::wstring* value) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  wchar_t buf[1024] = {0};
  DWORD size = sizeof buf - sizeof(wchar_t), type = 0;
  LONG r = RegQueryValueExW(k, kRunValue, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(k);
  if (r != ERROR_SUCCESS || type != REG_SZ) return false;
  *value = buf;
  return true;
}

}  // namespace vq::platform
