// The log: every message of the program, from any thread, goes to the log file next to the
// program (with a time prefix) and to the log window (without it).
#pragma once

#include <string>
#include <string_view>

#include "common/WFormat.h"
#include "platform/NamedMutex.h"

namespace vq {

// Longest text one log call writes, in wide characters; longer texts are cut.
inline constexpr size_t kLogTextLimit = 81919;

// Where the window part of the log goes: the log view control on Windows, the terminal on
// POSIX. Append must be safe to call from any thread.
class LogView {
 public:
  virtual ~LogView() = default;
  virtual void AppendLogText(const std::wstring& text) = 0;
};

// Set once the log view exists; nullptr detaches it (before the view goes away).
void SetLogView(LogView* view);

// Appends one entry to the log file only.
void WriteLogFile(const std::wstring& text);
// File entry, then the window.
void WriteLogText(const std::wstring& text);

template <typename... Args>
void WriteLog(std::wstring_view fmt, const Args&... args) {
  std::wstring text = WFormat(fmt, args...);
  if (text.size() > kLogTextLimit) text.resize(kLogTextLimit);
  WriteLogText(text);
}

// The effective settings, as lines of the log; the password only as asterisks.
void ShowRunParameters();

// The log file's full path: the program's directory and logFileName.
std::wstring LogFilePath();
// Joins a directory and a file name with "%s%s", putting a separator between them when the
// directory does not end in one.
std::wstring JoinDirAndName(const std::wstring& dir, const std::wstring& name);
// The time prefix "[YYYY.MM.DD-hh:mm:ss]:" of a file entry.
std::wstring LogTimePrefix();

// Appends one entry ("prefix + text", UTF-16LE, BOM FF FE on creation) to the file at path while
// holding mutex; also the form of the product-information log. Returns false when the file could
// be neither opened nor created (the entry is lost).
bool AppendLogEntry(const std::wstring& path, platform::NamedMutex& mutex, const std::wstring& text);

// Tests: write the log into dir instead of beside the program ("" restores the default).
void SetLogDirectoryForTest(const std::wstring& dir);

}  // namespace vq
