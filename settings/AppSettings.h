// The one process-wide settings record and its persistence in the per-user store.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/Calendar.h"
#include "common/Version.h"
#include "settings/SharedText.h"

namespace vq {

// The names of the program as the store and the log know them.
inline constexpr wchar_t kRegistryKeyName[] = L"vq.lumen";
inline constexpr wchar_t kAppName[] = L"vq.l";
inline constexpr wchar_t kProductName[] = L"vq.lumen";
inline constexpr wchar_t kProductVersion[] = VQ_VERSION_WTEXT;
inline constexpr wchar_t kDefaultPassword[] = L"739";
inline constexpr int32_t kDefaultMaxFSize = 32;
// zipEncryption: how new archives are encrypted. Traditional is the default and what a store
// without the value (every installation before it existed) reads as.
inline constexpr int32_t kZipEncryptionTraditional = 0;
inline constexpr int32_t kZipEncryptionAes256 = 1;

// The extensions backed up by default (316 characters; the run of ".c" at its end is kept as
// users have it stored).
inline constexpr wchar_t kDefaultFilter[] =
    L".c.cpp.h.php.asp.js.woff.woff2.swf.css.mq4.amr.chm.xps.lnk.wav.mp3.txt.text.htm.html.mhtml.mht."
    L"pdf.doc.docx.csv.xls.xlsx.ppt.pptx.vsd.jpg.gif.png.bmp.java.rar.zip.bat.xml.rc.rc2.ico.aps.clw."
    L"dep.mak.opt.sln.vcxproj.filters.user.dsw.dsp.lib.plg.apk.htaccess.bak.jks.reg.key.dll.rtf.jpeg."
    L"pps.dlf.portable.chw.c.c.c.c.c.";

struct AppSettingsRecord {
  // Stored values.
  std::atomic<int64_t> timeLastBk{0};
  std::atomic<int64_t> timeLastBkDayly{0};
  std::atomic<int64_t> timeLastBkWeekly{0};
  std::atomic<int64_t> timeLastBkMonthly{0};
  std::atomic<int64_t> timeLastBkYearly{0};
  std::atomic<int32_t> vqDebug{0};
  std::atomic<int32_t> autoRunFlag{0};
  std::atomic<int32_t> maxFSize{kDefaultMaxFSize};
  std::atomic<int32_t> zipEncryption{kZipEncryptionTraditional};
  SharedText S_ZIP_PSW;
  SharedText S_DIR_SRCDATA;
  SharedText S_DIR_DESTDATA;
  SharedText fFilterSr;

  // Derived at run time, never stored.
  SharedText logFileName;
  SharedText defaultSrcDir;
  SharedText defaultDestDir;
  SharedText S_DIR_TEMP;
  SharedText S_DIR_ST_LIST;
  SharedText S_DIR_ST_HIST;
  SharedText S_DIR_ST_DIR;
};

extern AppSettingsRecord& AppSettings;

// The store is written whole from the record. A save-and-reload (the settings dialog's OK) and
// a change-and-save by another thread (the worker's last-backup time) must not interleave, or
// the reload brings back the other's older values while the log reports the new ones. Each such
// sequence holds one of these; LoadSettings and SaveSettings take it too.
class SettingsStoreTransaction {
 public:
  SettingsStoreTransaction();

 private:
  std::unique_lock<std::recursive_mutex> lock_;
};

// Reads every stored value; true when a last-backup time was stored. missing, when given, gets
// the names of the values the store did not hold (or, for a time, held too short to count), in
// the order they are read: a store cut short or edited by hand keeps what it still has.
// unusable, when given, gets the names of the folders stored with a control character (older
// versions took them from the dialog): such a folder is never used, its default is.
bool LoadSettings(std::vector<std::wstring>* missing = nullptr, std::vector<std::wstring>* unusable = nullptr);
// How many values LoadSettings reads: missing holds all of them when there is no store at all.
inline constexpr size_t kStoredValueCount = 12;
// Writes every stored value; false when the store could not be written (the values in it are
// then those of before, or none).
bool SaveSettings();
// Keeps the run-at-startup entry present (flag != 0) or absent (flag == 0).
void ApplyAutoRun(int flag);

// Decisions of the store, apart from its effects.
// A stored time counts only when its text is longer than 2 characters; it is then read as a
// signed decimal number (leading blanks and a sign allowed, reading stops at the first
// non-digit, out-of-range values saturate). False leaves the caller's value as it was.
bool ParseStoredTime(const std::wstring& text, int64_t* out);
// "%I64d" of the time: plain decimal digits with a minus sign for negative values.
std::wstring FormatStoredTime(int64_t t);
// Reads a decimal integer the way the settings texts are read (blanks, sign, digits; 0 when
// nothing can be read; saturating at the int range).
int32_t ParseDecimalInt(const std::wstring& text);

}  // namespace vq
