// The registry stand-in: one text file in the .reg style,
//   "name"="string value"      (REG_SZ; \\ \" \n \r escaped)
//   "name"=dword:0000002a      (REG_DWORD)
// read whole at open and replaced whole (temp file + rename) at close, under a named mutex so
// two threads or two processes never interleave a read-modify-write.
#include "platform/SettingsStore.h"

#include <cstdio>
#include <map>

#include "common/Text.h"
#include "platform/File.h"
#include "platform/NamedMutex.h"
#include "platform/Paths.h"

namespace vq::platform {

namespace {
struct Value {
  bool isDword = false;
  std::wstring text;
  uint32_t dword = 0;
};

std::wstring StorePath() {
  std::wstring dir = ConfigDir();
  return dir.empty() ? L"" : dir + L"vq.l.reg";
}

std::string Escape(const std::string& s) {
  std::string o;
  for (char c : s) {
    if (c == '\\')
      o += "\\\\";
    else if (c == '"')
      o += "\\\"";
    else if (c == '\n')
      o += "\\n";
    else if (c == '\r')
      o += "\\r";
    else
      o.push_back(c);
  }
  return o;
}

// Parses a quoted string at s[i] == '"'; returns false on a malformed one.
bool ParseQuoted(const std::string& s, size_t& i, std::string* out) {
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  out->clear();
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') return true;
    if (c == '\\' && i < s.size()) {
      char e = s[i++];
      if (e == 'n')
        out->push_back('\n');
      else if (e == 'r')
        out->push_back('\r');
      else
        out->push_back(e);
    } else {
      out->push_back(c);
    }
  }
  return false;
}

void Parse(const std::string& text, std::map<std::wstring, Value>* values) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t i = 0;
    std::string name, sval;
    if (!ParseQuoted(line, i, &name) || i >= line.size() || line[i] != '=') continue;
    ++i;
    Value v;
    if (line.compare(i, 6, "dword:") == 0) {
      unsigned long x = 0;
      if (std::sscanf(line.c_str() + i + 6, "%8lx", &x) != 1) continue;
      v.isDword = true;
      v.dword = static_cast<uint32_t>(x);
    } else if (ParseQuoted(line, i, &sval)) {
      v.text = Utf8ToWide(sval);
    } else {
      continue;
    }
    (*values)[Utf8ToWide(name)] = v;
  }
}

std::string Serialise(const std::map<std::wstring, Value>& values) {
  std::string o = "; vq.lumen settings: software\\vq.lumen\\vq.l\\set\n";
  for (const auto& [name, v] : values) {
    o += "\"" + Escape(WideToUtf8(name)) + "\"=";
    if (v.isDword) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v.dword));
      o += buf;
    } else {
      o += "\"" + Escape(WideToUtf8(v.text)) + "\"";
    }
    o += "\n";
  }
  return o;
}

NamedMutex& StoreMutex() {
  static NamedMutex* m = new NamedMutex(L"vq.lumen.settings");
  return *m;
}
}  // namespace

struct SettingsKey::Impl {
  bool open = false;
  bool locked = false;
  bool dirty = false;
  std::wstring path;
  std::map<std::wstring, Value> values;
};

SettingsKey::SettingsKey() : impl_(new Impl) {
  impl_->path = StorePath();
  if (impl_->path.empty()) return;
  impl_->locked = StoreMutex().Lock();
  // Creating the key when missing, as the registry does.
  if (!CreateDirectoryTree(ConfigDir())) {
    if (impl_->locked) StoreMutex().Unlock();
    impl_->locked = false;
    return;
  }
  std::string text;
  if (ReadWholeFile(impl_->path, &text)) Parse(text, &impl_->values);
  impl_->open = true;
}

SettingsKey::~SettingsKey() { Close(); }

bool SettingsKey::IsOpen() const { return impl_->open; }

bool SettingsKey::GetString(const std::wstring& name, std::wstring* out) const {
  auto it = impl_->values.find(name);
  if (it == impl_->values.end() || it->second.isDword) return false;
  *out = it->second.text;
  return true;
}

bool SettingsKey::GetDword(const std::wstring& name, uint32_t* out) const {
  auto it = impl_->values.find(name);
  if (it == impl_->values.end()) return false;
  if (it->second.isDword) {
    *out = it->second.dword;
    return true;
  }
  // A string where a number belongs: the registry read would hand over the first 4 bytes of
  // its UTF-16 data.
  std::string bytes = WideToUtf16LEBytes(it->second.text);
  bytes.append(2, '\0');
  while (bytes.size() < 4) bytes.push_back('\0');
  *out = static_cast<uint32_t>(static_cast<unsigned char>(bytes[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[3])) << 24;
  return true;
}

bool SettingsKey::SetString(const std::wstring& name, const std::wstring& value) {
  if (!impl_->open) return false;
  Value v;
  v.text = value;
  impl_->values[name] = v;
  impl_->dirty = true;
  return true;
}

bool SettingsKey::SetDword(const std::wstring& name, uint32_t value) {
  if (!impl_->open) return false;
  Value v;
  v.isDword = true;
  v.dword = value;
  impl_->values[name] = v;
  impl_->dirty = true;
  return true;
}

bool SettingsKey::Delete(const std::wstring& name) {
  if (!impl_->open) return false;
  if (impl_->values.erase(name) > 0) impl_->dirty = true;
  return true;
}

bool SettingsKey::Close() {
  bool ok = true;
  if (impl_->open && impl_->dirty) ok = WriteFileAtomically(impl_->path, Serialise(impl_->values));
  impl_->dirty = false;
  impl_->open = false;
  if (impl_->locked) {
    StoreMutex().Unlock();
    impl_->locked = false;
  }
  return ok;
}

// The run-at-startup entry: an XDG autostart desktop file.
namespace {
std::wstring AutostartDir() {
  std::wstring cfg = ConfigDir();  // .../vq.lumen/
  if (cfg.empty()) return L"";
  cfg.pop_back();
  size_t slash = cfg.rfind(L'/');
  return cfg.substr(0, slash + 1) + L"autostart/";
}
}  // namespace

bool AutoRunSet(const std::wstring& quotedProgramPath) {
  std::wstring dir = AutostartDir();
  if (dir.empty() || !CreateDirectoryTree(dir)) return false;
  std::string entry = "[Desktop Entry]\nType=Application\nName=vq.lumen\nExec=" + WideToUtf8(quotedProgramPath) +
                      "\nX-GNOME-Autostart-enabled=true\n";
  return WriteFileAtomically(dir + L"vq.lumen.desktop", entry);
}

bool AutoRunRemove() {
  std::wstring dir = AutostartDir();
  if (dir.empty()) return false;
  if (!IsDirectory(dir)) return true;
  std::wstring f = dir + L"vq.lumen.desktop";
  if (PathExists(f)) DeleteFilePath(f);
  return true;
}

bool AutoRunQuery(std::wstring* value) {
  std::wstring dir = AutostartDir();
  std::string text;
  if (dir.empty() || !ReadWholeFile(dir + L"vq.lumen.desktop", &text)) return false;
  size_t p = text.find("\nExec=");
  if (p == std::string::npos) return false;
  p += 6;
  size_t e = text.find('\n', p);
  *value = Utf8ToWide(text.substr(p, e == std::string::npos ? std::string::npos : e - p));
  return true;
}

}  // namespace vq::platform
