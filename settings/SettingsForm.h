// What the settings dialog decides, apart from any window: the texts a user enters, their
// checks in the order the user meets their messages, the normalised values that get stored and
// whether the directories changed. Both front ends (the Windows dialog and the terminal's text
// dialog) fill a SettingsForm and hand it here.
#pragma once

#include <functional>
#include <string>

namespace vq {

// The dialog's controls as texts and check marks, exactly as entered.
struct SettingsForm {
  std::wstring filter;    // extension list
  std::wstring source;    // S_DIR_SRCDATA
  std::wstring dest;      // S_DIR_DESTDATA
  std::wstring password;  // S_ZIP_PSW
  std::wstring size;      // maxFSize, decimal text
  bool autoRun = false;
  bool debug = false;  // shown only; the user cannot change it
  bool aes = false;    // zipEncryption: AES-256 instead of the traditional encryption
};

// The note beside the encryption control, in both front ends.
inline constexpr wchar_t kAesNote[] = L"AES-256：资源管理器打不开，7-Zip 等常用压缩软件可以打开";
// The encryption as the log and the terminal name it.
const wchar_t* ZipEncryptionName(int zipEncryption);

// The controls filled from the current settings record.
SettingsForm FormFromSettings();
// "Restore defaults": the default directories, extension list, password and size; both check
// boxes cleared. Nothing is stored.
SettingsForm DefaultSettingsForm();

// Lowest and highest accepted file size limit in MB.
inline constexpr int kMinFSizeMB = 1;
inline constexpr int kMaxFSizeMB = 1024;

// Rules of one platform for the checks: windowsPaths selects the Windows notion of a local
// path (a path beginning with "/" or "\" is a share or has no drive); otherwise a POSIX
// absolute path is local unless it begins with "//". exists answers for files and directories.
struct SettingsRules {
  bool windowsPaths = true;
  std::function<bool(const std::wstring&)> exists;
  std::wstring defaultDest;  // a missing destination is accepted when it is this one
};
// The rules of the platform the program runs on.
SettingsRules PlatformSettingsRules();

// "" when the form may be stored, else the message of the first failing check. A control
// character in any field is refused before anything else is looked at: a NUL ends the text
// wherever it is handed on as a C string (a folder test, the archive password), so what was
// checked would not be what gets stored and used.
std::wstring ValidateSettingsForm(const SettingsForm& form, const SettingsRules& rules);
// True when text holds a C0 or C1 control character or DEL; with lineBreaks, CR and LF pass
// (the extension list is a multi-line edit, and normalisation removes them).
bool HasControlCharacter(const std::wstring& text, bool lineBreaks = false);
bool IsLocalSourcePath(const std::wstring& path, bool windowsPaths);

// The stored form of an entered extension list: a dot at both ends, lower case, no blanks and
// no line breaks.
std::wstring NormaliseFilter(const std::wstring& filter);
// A directory as stored: ending in a separator (separator appended when neither "/" nor "\"
// ends it).
std::wstring NormaliseDirectory(const std::wstring& dir, wchar_t separator);

// The values the OK button stores, from a form that passed ValidateSettingsForm.
struct SettingsValues {
  std::wstring filter, source, dest, password;
  int maxFSize = 0;
  int autoRunFlag = 0;
  int vqDebug = 0;
  int zipEncryption = 0;
};
SettingsValues NormaliseSettingsForm(const SettingsForm& form, wchar_t separator);
// True when a normalised directory differs (exactly) from the one in use: the program must then
// restart to watch and fill the new ones.
bool DirectoriesChanged(const SettingsValues& v, const std::wstring& currentSource, const std::wstring& currentDest);

}  // namespace vq
