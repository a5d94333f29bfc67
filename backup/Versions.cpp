// The versions of one source file and how they are shown.
#include "backup/Restore.h"

#include <algorithm>
#include <memory>

#include "backup/RestoreInternal.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "settings/Log.h"

namespace vq {

using zip::ReadStatus;
using namespace restore_detail;

namespace {

UnixTime DosStampToUnix(uint32_t stamp, bool* ok) {
  CalendarTime c;
  c.year = int((stamp >> 25) & 0x7F) + 1980;
  c.month = int((stamp >> 21) & 0x0F);
  c.day = int((stamp >> 16) & 0x1F);
  c.hour = int((stamp >> 11) & 0x1F);
  c.minute = int((stamp >> 5) & 0x3F);
  c.second = int(stamp & 0x1F) * 2;
  UnixTime t = 0;
  *ok = platform::FromLocalCalendar(c, &t);
  return t;
}

ReadStatus LookAt(platform::FileSystem& fs, const std::wstring& archive, const std::string& password,
                  VersionCheck check, zip::ZipEntryInfo* info) {
  std::shared_lock<std::shared_mutex> g(ArchiveReplaceLock(archive));
  const char* pw = password.empty() ? nullptr : password.c_str();
  if (check == VersionCheck::Full) return zip::ZipExtractFile(fs, archive, pw, {}, info);
  std::unique_ptr<platform::FileStream> in = fs.OpenRead(archive);
  if (!in) return ReadStatus::OpenFailed;
  return check == VersionCheck::Opens ? zip::ZipCheckOpens(*in, pw, info) : zip::ZipReadInfo(*in, info);
}

}  // namespace

std::vector<FileVersion> ListVersions(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& sourcePath,
                                      const std::string& password, VersionCheck check) {
  std::vector<FileVersion> out;
  const std::wstring flat = FlattenedPath(sourcePath);
  const bool ignoreCase = platform::PathSeparator() == L'\\';
  std::vector<platform::DirEntry> entries;
  if (!dirs.history.empty() && fs.List(dirs.history, &entries)) {
    for (const platform::DirEntry& e : entries) {
      CalendarTime local;
      if ((e.attributes & platform::kAttrDirectory) || !ParseHistoryName(e.name, flat, ignoreCase, &local)) continue;
      FileVersion v;
      v.view = FileVersion::View::History;
      v.archive = dirs.history + e.name;
      v.timeKnown = platform::FromLocalCalendar(local, &v.modified);
      zip::ZipEntryInfo info;
      v.status = LookAt(fs, v.archive, password, check, &info);
      v.size = info.size;
      out.push_back(v);
    }
  }
  const std::wstring list = dirs.list + flat + L".zip";
  if (!dirs.list.empty() && fs.Exists(list)) {
    FileVersion v;
    v.view = FileVersion::View::List;
    v.archive = list;
    zip::ZipEntryInfo info;
    v.status = LookAt(fs, list, password, check, &info);
    v.size = info.size;
    if (info.hasModified) {
      v.modified = info.modified;
      v.timeKnown = true;
    } else if (info.dosStamp) {
      v.modified = DosStampToUnix(info.dosStamp, &v.timeKnown);
    }
    out.push_back(v);
  }
  std::stable_sort(out.begin(), out.end(), [](const FileVersion& a, const FileVersion& b) {
    if (a.timeKnown != b.timeKnown) return a.timeKnown;
    if (a.modified != b.modified) return a.modified > b.modified;
    return a.view == FileVersion::View::List && b.view != FileVersion::View::List;
  });
  return out;
}

void LogVersions(const std::wstring& sourcePath, const std::vector<FileVersion>& versions) {
  if (versions.empty()) {
    WriteLog(L"没有找到备份版本:%s\r\n", sourcePath);
    return;
  }
  WriteLog(L"备份版本:%s\r\n", sourcePath);
  for (size_t i = 0; i < versions.size(); ++i) WriteLog(L"%s\r\n", VersionText(i + 1, versions[i]));
}

std::wstring VersionText(size_t number, const FileVersion& v) {
  const std::wstring state = v.status == ReadStatus::Sound ? std::wstring(L"可打开") : ReadStatusReason(v.status);
  return WFormat(L"[%d] %s %s %I64u 字节 %s", int(number), v.view == FileVersion::View::List ? L"最新" : L"历史",
                 v.timeKnown ? LocalTimeText(v.modified) : std::wstring(L"?"), v.size, state);
}

}  // namespace vq
