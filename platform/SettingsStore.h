// The per-user store of the settings: on Windows the registry key
// HKEY_CURRENT_USER\software\vq.lumen\vq.l\set; on POSIX a store file with the same value names
// and types under the per-user configuration directory.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace vq::platform {

// One open key. Every use opens the key (creating it when missing), reads or writes some values
// and closes it again. On POSIX the values are read at open and written back, crash-safely, when
// the key is closed after a change.
class SettingsKey {
 public:
  SettingsKey();
  ~SettingsKey();
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  bool IsOpen() const;
  // String value (REG_SZ). False when missing or of another type.
  bool GetString(const std::wstring& name, std::wstring* out) const;
  // 32-bit value (REG_DWORD). A value of another type gives its first 4 bytes, as the registry
  // read does. False when missing.
  bool GetDword(const std::wstring& name, uint32_t* out) const;
  bool SetString(const std::wstring& name, const std::wstring& value);
  bool SetDword(const std::wstring& name, uint32_t value);
  bool Delete(const std::wstring& name);
  // Writes pending changes now (the destructor does it too). False when the write failed.
  bool Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The run-at-startup entry: Windows value "vq.lumen" under HKCU\...\CurrentVersion\Run;
// POSIX an autostart desktop entry.
// Opens the place of the entry; false when it cannot be opened (nothing is changed then).
bool AutoRunSet(const std::wstring& quotedProgramPath);
// Removes the entry; a missing entry is no error. False when the place cannot be opened.
bool AutoRunRemove();
// Reads the entry; false when there is none.
bool AutoRunQuery(std::wstring* value);

}  // namespace vq::platform
