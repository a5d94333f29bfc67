// Restore of one version into a file nothing else holds.
#include "backup/Restore.h"

#include <memory>

#include "backup/RestoreInternal.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "platform/NewFile.h"
#include "settings/Log.h"

namespace vq {

using zip::ReadStatus;
using namespace restore_detail;

RestoreResult RestoreVersion(platform::FileSystem& fs, const FileVersion& version, const std::wstring& sourcePath,
                             const std::wstring& folder, const std::string& password) {
  RestoreResult r;
  std::wstring originalFolder, fileName;
  SplitPath(sourcePath, &originalFolder, &fileName);
  if (fileName.empty()) {
    r.reason = L"路径中没有文件名";
    return r;
  }
  std::wstring dir;
  if (folder.empty()) {
    dir = originalFolder;
    // The original's folder may have gone with the file; putting it back is part of restoring.
    if (dir.empty() || !fs.CreateDirectoryTree(dir)) {
      r.reason = L"无法创建原文件夹";
      return r;
    }
  } else {
    dir = WithSeparator(folder);
    if (!fs.IsDirectory(dir)) {
      r.reason = L"目标文件夹不存在";
      return r;
    }
  }

  // The bytes go to a partial file first, so no name a user sees ever holds half a file.
  std::wstring partial = dir + L"~" + fileName + L".vq.lumen.part";
  for (int n = 2; fs.Exists(partial) && n < 1000; ++n) partial = dir + WFormat(L"~%s.%d.vq.lumen.part", fileName, n);
  std::unique_ptr<platform::FileStream> out = fs.CreateAlways(partial);
  if (!out) {
    r.reason = WFormat(L"目标文件夹不可写[%d]", fs.LastError());
    return r;
  }
  zip::ZipEntryInfo info;
  ReadStatus s;
  {
    std::shared_lock<std::shared_mutex> g(ArchiveReplaceLock(version.archive));
    s = zip::ZipExtractFile(
        fs, version.archive, password.empty() ? nullptr : password.c_str(),
        [&](const uint8_t* p, size_t n) { return out->Write(p, n) == n; }, &info);
  }
  out.reset();
  if (s != ReadStatus::Sound) {
    fs.RemoveFile(partial);
    r.reason = ReadStatusReason(s);
    return r;
  }
  // The entry's own time is exact; the history name only knows the local second.
  const UnixTime modified = info.hasModified ? info.modified : version.modified;
  platform::SetLastWriteTime(partial, modified);
  CalendarTime local;
  if (!platform::ToLocalCalendar(modified, &local)) local = CalendarTime();

  for (int attempt = folder.empty() ? 1 : 0; attempt < 1000; ++attempt) {
    const std::wstring target = dir + (attempt == 0 ? fileName : RestoredName(fileName, local, attempt));
    if (fs.Exists(target)) continue;
    bool exists = false;
    if (platform::MoveNoReplace(partial, target, &exists)) {
      r.ok = true;
      r.target = target;
      return r;
    }
    if (!exists) break;  // taken meanwhile: try the next name; anything else ends the restore
  }
  fs.RemoveFile(partial);
  r.reason = L"无法以新名字保存";
  return r;
}

RestoreResult RestoreAndLog(platform::FileSystem& fs, const FileVersion& version, const std::wstring& sourcePath,
                            const std::wstring& folder, const std::string& password) {
  RestoreResult r = RestoreVersion(fs, version, sourcePath, folder, password);
  if (r.ok)
    WriteLog(L"恢复文件:%s -> %s\r\n", version.archive, r.target);
  else
    WriteLog(L"恢复失败:%s [%s]\r\n", version.archive, r.reason);
  return r;
}

}  // namespace vq
