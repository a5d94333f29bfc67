// The decisions of getting data back that need no file system: health of a read, history names,
// names of restored files, times as shown.
#include "backup/Restore.h"

#include "backup/RestoreInternal.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "settings/AppSettings.h"

namespace vq {

using zip::ReadStatus;
using namespace restore_detail;

ArchiveHealth HealthOf(ReadStatus s) {
  if (s == ReadStatus::Sound) return ArchiveHealth::Sound;
  if (s == ReadStatus::WrongPassword) return ArchiveHealth::WrongPassword;
  return ArchiveHealth::Broken;
}

std::wstring ReadStatusReason(ReadStatus s) {
  switch (s) {
    case ReadStatus::Sound:
      return L"完好";
    case ReadStatus::WrongPassword:
      return L"密码不符";
    case ReadStatus::OpenFailed:
      return L"无法打开或读取";
    case ReadStatus::NotZip:
      return L"不是ZIP文件";
    case ReadStatus::EntryCount:
      return L"不是单个文件的ZIP";
    case ReadStatus::Unsupported:
      return L"不支持的压缩方式或加密";
    case ReadStatus::Damaged:
      return L"文件被截断或改动";
    case ReadStatus::BadData:
      return L"压缩数据损坏";
    case ReadStatus::TooLong:
      return L"数据超出标明的大小";
    case ReadStatus::SizeMismatch:
      return L"数据短于标明的大小";
    case ReadStatus::CrcMismatch:
      return L"CRC校验不符";
    case ReadStatus::OutputFailed:
      return L"写入失败";
    case ReadStatus::AuthFailed:
      return L"认证码不符(数据被改动)";
  }
  return L"?";
}

bool ParseHistoryName(const std::wstring& name, const std::wstring& flattened, bool ignoreCase, CalendarTime* local) {
  // ".YYYY.MM.DD.HH.MM.SS" is 20 characters, ".zip" 4.
  if (name.size() != flattened.size() + 24) return false;
  const std::wstring_view head = std::wstring_view(name).substr(0, flattened.size());
  if (ignoreCase ? !EqualsIgnoreAsciiCase(head, flattened) : head != flattened) return false;
  const size_t s = flattened.size();
  static const size_t kDots[] = {0, 5, 8, 11, 14, 17, 20};
  for (size_t d : kDots)
    if (name[s + d] != L'.') return false;
  if (!IsDigits(name, s + 1, 4)) return false;
  for (size_t d : {5u, 8u, 11u, 14u, 17u})
    if (!IsDigits(name, s + d + 1, 2)) return false;
  if (name.compare(s + 21, 3, L"zip") != 0) return false;
  CalendarTime c;
  c.year = Number(name, s + 1, 4);
  c.month = Number(name, s + 6, 2);
  c.day = Number(name, s + 9, 2);
  c.hour = Number(name, s + 12, 2);
  c.minute = Number(name, s + 15, 2);
  c.second = Number(name, s + 18, 2);
  if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour > 23 || c.minute > 59 || c.second > 60)
    return false;
  *local = c;
  return true;
}

std::wstring RestoredName(const std::wstring& fileName, const CalendarTime& t, int attempt) {
  size_t dot = fileName.rfind(L'.');
  if (dot == std::wstring::npos || dot == 0) dot = fileName.size();
  std::wstring name = fileName.substr(0, dot) +
                      WFormat(L" (%04d.%02d.%02d %02d.%02d.%02d)", t.year, t.month, t.day, t.hour, t.minute, t.second);
  if (attempt > 1) name += WFormat(L" (%d)", attempt);
  return name + fileName.substr(dot);
}

std::wstring LocalTimeText(UnixTime t) {
  CalendarTime c;
  if (!platform::ToLocalCalendar(t, &c)) return L"?";
  return WFormat(L"%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

WorkDirs CurrentWorkDirs() {
  return WorkDirs{AppSettings.S_DIR_TEMP.Get(), AppSettings.S_DIR_ST_LIST.Get(), AppSettings.S_DIR_ST_HIST.Get(),
                  AppSettings.S_DIR_ST_DIR.Get()};
}

}  // namespace vq
