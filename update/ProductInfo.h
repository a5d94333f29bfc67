// The product record: the product's fixed identity, where its files are, the values of the
// optional ini file "vq.l.ini", and the state of the update check. One record for the process,
// built before the main window exists.
//
// The product-information log "vq.l.txt" has the form of the main log file (UTF-16LE with a
// byte-order mark, entries with the time prefix) and its own named mutex "vq.l.txt". It is
// written only when the ini file says flog=on; otherwise WriteInfoLog and its companions do
// nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/Calendar.h"
#include "common/WFormat.h"
#include "settings/Log.h"
#include "settings/SharedText.h"

namespace vq::update {

inline constexpr wchar_t kStudio[] = L"Corvane";
inline constexpr wchar_t kInfoLogFileName[] = L"vq.l.txt";
inline constexpr wchar_t kIniFileName[] = L"vq.l.ini";

// Field sizes in UTF-16 units, terminator included: texts longer than a field are cut to
// size - 1 units (never inside a surrogate pair).
inline constexpr size_t kVersionFieldUnits = 128;
inline constexpr size_t kTextFieldUnits = 1024;
// Longest ini value, in characters.
inline constexpr size_t kIniValueChars = 127;

// The text cut to at most fieldUnits - 1 UTF-16 units.
std::wstring CutToField(std::wstring_view text, size_t fieldUnits);

// Web pages named by the update document; only ever appended to.
class UrlList {
 public:
  void Add(std::wstring url);
  std::vector<std::wstring> Snapshot() const;
  void ClearForTest();

 private:
  mutable std::mutex m_;
  std::vector<std::wstring> urls_;
};

struct ProductInfoRecord {
  ProductInfoRecord();
  ProductInfoRecord(const ProductInfoRecord&) = delete;
  ProductInfoRecord& operator=(const ProductInfoRecord&) = delete;

  UrlList urls;
  std::atomic<int32_t> logflag{0};
  std::atomic<int32_t> checkRequest{0};
  std::atomic<void*> hWnd{nullptr};
  std::atomic<int32_t> updata{0};

  SharedText ver, name, email, homepage, studio;
  SharedText cdir, logPath, inipath;

  std::atomic<int32_t> iniOk{0};
  SharedText iver, ititle, istudio, iemail, iweb, iflog;

  // Read from the update document (the update thread writes them).
  SharedText serverVersion, message, softpage, openFlag;

  // Local time of StartProductInfo; written once on the window thread before the update
  // thread starts.
  CalendarTime startTime{};
};

extern ProductInfoRecord ProductInfo;

// The constants of the product (build configuration for the addresses).
const wchar_t* AuthorEmail();
const wchar_t* HomePage();
// The four update mirrors, tried in this order.
std::vector<std::wstring> ConfiguredMirrors();

// Appends text unchanged to the product-information log (when it is on).
void WriteInfoLogText(const std::wstring& text);
// Appends text followed by "\r\n".
void WriteInfoLogLine(const std::wstring& text);

template <typename... Args>
void WriteInfoLog(std::wstring_view fmt, const Args&... args) {
  if (ProductInfo.logflag.load() == 0) return;
  std::wstring text = WFormat(fmt, args...);
  if (text.size() > kLogTextLimit) text.resize(kLogTextLimit);
  WriteInfoLogText(text);
}

// The ini plausibility test: a version with a dot, a title and a studio of more than one
// character, an e-mail address with "@" and a web address with a dot.
bool IniLooksPlausible(const std::wstring& iver, const std::wstring& ititle, const std::wstring& istudio,
                       const std::wstring& iemail, const std::wstring& iweb);

// Called from the main window's initialisation: keeps the window and reads "vq.l.ini".
void ReadProductIni(void* mainWindow);
// Called right after ReadProductIni: the start line, the update thread, the dump.
void StartProductInfo();
void DumpProductInfo();
// The About command's lines in the log.
void WriteAboutLines();

// Tests: every field back to its initial value, with the program directory (ini file) and the
// directory of the product-information log given. Does not touch a running update thread.
void ResetProductInfoForTest(const std::wstring& programDir, const std::wstring& logDir);

}  // namespace vq::update
