// Restore of one version into a file nothing else holds.
#include "backup/Restore.h"

#include <memory>

#include "backup/RestoreInternal.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "platform/Crypto.h"
#include "platform/NewFile.h"
#include "settings/Log.h"

namespace vq {

using zip::ReadStatus;
using namespace restore_detail;

namespace {

// "~NAME.<16 random hex digits>.vq.lumen.part", the name cut short so the whole fits in a file
// name of 255 characters.
std::wstring PartialName(const std::wstring& fileName) {
  uint8_t bytes[8] = {};
  if (!platform::RandomBytes(bytes, sizeof bytes)) {
    // Not guessable is what matters, and the exclusive create guards the rest.
    const uint64_t v = uint64_t(platform::TickCount()) * 0x9E3779B97F4A7C15ull ^ uint64_t(uintptr_t(&bytes));
    for (int i = 0; i < 8; ++i) bytes[i] = uint8_t(v >> (8 * i));
  }
  std::wstring name = fileName.substr(0, 200);
  // Never half of a UTF-16 pair.
  if (!name.empty() && name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();
  name = L"~" + name + L".";
  for (uint8_t b : bytes) name += WFormat(L"%02x", int(b));
  return name + L".vq.lumen.part";
}

// The archive still holds the version that was listed.
bool SameVersion(const FileVersion& v, const zip::ZipEntryInfo& now) {
  if (v.evidence.entryKnown && (now.crc != v.evidence.crc || now.size != v.evidence.size)) return false;
  if (v.view != FileVersion::View::History && v.timeKnown && now.hasModified && now.modified != v.modified)
    return false;
  return true;
}

}  // namespace

RestoreResult RestoreVersion(platform::FileSystem& fs, const FileVersion& version, const std::wstring& sourcePath,
                             const std::wstring& folder, const std::string& password, const std::atomic<bool>* cancel) {
  RestoreResult r;
  r.archive = version.archive;
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

  // The bytes go to a partial file first, so no name a user sees ever holds half a file. Its name
  // cannot be guessed and it is made only where nothing is, so nothing planted in the folder
  // beforehand (a link above all) can receive the bytes or be truncated.
  std::wstring partial;
  std::unique_ptr<platform::FileStream> out;
  for (int attempt = 0; attempt < 4 && !out; ++attempt) {
    partial = dir + PartialName(fileName);
    out = fs.CreateNew(partial);
  }
  if (!out) {
    r.reason = WFormat(L"目标文件夹不可写[%d]", fs.LastError());
    return r;
  }
  zip::ZipEntryInfo info;
  ReadStatus s = ExtractArchive(
      fs, version.archive, password,
      [&](const uint8_t* p, size_t n) { return !(cancel && cancel->load()) && out->Write(p, n) == n; }, &info);
  // A restored file must be on the disk before it gets its name; a delayed write may fail only
  // at the flush or the close.
  const bool written = s == ReadStatus::Sound && out->Flush() && out->Close();
  out.reset();
  auto fail = [&](const std::wstring& reason) {
    fs.RemoveFile(partial);
    r.reason = reason;
    return r;
  };
  if (cancel && cancel->load()) return fail(L"已取消");
  if (s != ReadStatus::Sound) return fail(ReadStatusReason(s));
  if (!written) return fail(WFormat(L"写入失败[%d]", fs.LastError()));
  // The version the user was shown, not whatever the archive holds now: the list and folder copies
  // are replaced by every backup of the file.
  if (!SameVersion(version, info)) {
    if (version.twin.empty()) return fail(L"该版本已被新的备份取代,请重新列出版本");
    fs.RemoveFile(partial);
    FileVersion twin = version;
    twin.view = FileVersion::View::History;
    twin.archive = version.twin;
    twin.twin.clear();
    RestoreResult t = RestoreVersion(fs, twin, sourcePath, folder, password, cancel);
    // A cleaning took the twin as well: the version listed is gone, which is what the user must hear.
    if (!t.ok && !fs.Exists(twin.archive)) t.reason = L"该版本已被新的备份取代,请重新列出版本";
    return t;
  }
  // The entry's own time is exact; the history name only knows the local second.
  const UnixTime modified = info.hasModified ? info.modified : version.modified;
  if (!fs.SetLastWriteTime(partial, modified)) return fail(WFormat(L"无法设置修改时间[%d]", fs.LastError()));
  CalendarTime local;
  if (!platform::ToLocalCalendar(modified, &local)) local = CalendarTime();

  for (int attempt = folder.empty() ? 1 : 0; attempt < 1000; ++attempt) {
    const std::wstring target = dir + (attempt == 0 ? fileName : RestoredName(fileName, local, attempt));
    if (fs.Exists(target)) continue;
    bool exists = false;
    if (fs.MoveNoReplace(partial, target, &exists)) {
      r.target = target;
      // The new name is an entry of the folder: on the disk only once the folder is.
      if (!fs.FlushFolder(dir)) {
        r.reason = WFormat(L"文件夹无法写入磁盘[%d]", fs.LastError());
        return r;
      }
      r.ok = true;
      return r;
    }
    if (!exists) break;  // taken meanwhile: try the next name; anything else ends the restore
  }
  return fail(L"无法以新名字保存");
}

RestoreResult RestoreAndLog(platform::FileSystem& fs, const FileVersion& version, const std::wstring& sourcePath,
                            const std::wstring& folder, const std::string& password, const std::atomic<bool>* cancel) {
  RestoreResult r = RestoreVersion(fs, version, sourcePath, folder, password, cancel);
  if (r.ok)
    WriteLog(L"恢复文件:%s -> %s\r\n", r.archive, r.target);
  else
    WriteLog(L"恢复失败:%s [%s]\r\n", version.archive, r.reason);
  return r;
}

}  // namespace vq
