#include "backup/Clean.h"

#include <vector>

#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

namespace vq {

void DeleteDir(platform::FileSystem& fs, const std::wstring& dir, int depth) {
  std::wstring path = dir;
  for (int i = 0; i < 2 && !path.empty() && path.back() == platform::PathSeparator(); ++i) path.pop_back();
  std::vector<platform::DirEntry> entries;
  fs.List(path + platform::PathSeparator(), &entries);
  for (const platform::DirEntry& e : entries) {
    std::wstring child = path + platform::PathSeparator() + e.name;
    if (e.attributes & platform::kAttrReparsePoint) {
      // A junction or a link: it goes as a link. Walking into it would delete whatever it
      // points to, and only the history itself is ours to empty.
      WriteLog(L"DeleteDir:%s\r\n", child);
      if (e.attributes & platform::kAttrDirectory)
        fs.RemoveDir(child);
      else
        fs.RemoveFile(child);
      continue;
    }
    if (e.attributes & platform::kAttrDirectory) {
      DeleteDir(fs, child, depth + 1);
      continue;
    }
    if (e.attributes & platform::kAttrReadOnly) {
      uint32_t attrs = 0;
      if (fs.GetAttributes(child, &attrs)) fs.SetAttributes(child, attrs & ~uint32_t(platform::kAttrReadOnly));
    }
    WriteLog(L"DeleteDir:%s\r\n", child);
    fs.RemoveFile(child);
  }
  if (depth > 0) {
    WriteLog(L"DeleteDir:%s\r\n", path);
    fs.RemoveDir(path);
  }
}

int RunClean(platform::FileSystem& fs) {
  WriteLog(L"CleanTreadFun:清理开始\r\n");
  std::wstring hist = AppSettings.S_DIR_ST_HIST.Get();
  WriteLog(L"Clean [%s]\r\n", hist);
  DeleteDir(fs, hist, 0);
  WriteLog(L"CleanTreadFun:清理结束\r\n");
  return 1;
}

int CleanTreadFun(void*) { return RunClean(platform::RealFileSystem()); }

}  // namespace vq
