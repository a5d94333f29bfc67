// Small path and name helpers shared by the files of getting data back (verify, versions, restore);
// not part of the engine's interface.
#pragma once

#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "backup/Restore.h"
#include "common/Text.h"
#include "platform/Paths.h"

namespace vq {
namespace restore_detail {

inline bool IsDigits(const std::wstring& s, size_t at, size_t n) {
  for (size_t i = at; i < at + n; ++i)
    if (s[i] < L'0' || s[i] > L'9') return false;
  return true;
}

inline int Number(const std::wstring& s, size_t at, size_t n) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - L'0');
  return v;
}

inline bool EndsWithZip(const std::wstring& name) {
  return name.size() > 4 && EqualsIgnoreAsciiCase(std::wstring_view(name).substr(name.size() - 4), L".zip");
}

inline std::wstring WithSeparator(std::wstring dir) {
  if (!dir.empty() && !platform::IsSeparator(dir.back())) dir.push_back(platform::PathSeparator());
  return dir;
}

// The folder part of a path (with its separator) and the name after it.
inline void SplitPath(const std::wstring& path, std::wstring* folder, std::wstring* name) {
  size_t at = path.size();
  while (at > 0 && !platform::IsSeparator(path[at - 1])) --at;
  *folder = path.substr(0, at);
  *name = path.substr(at);
}

// Reads an archive of the destination through, holding its replace lock: only a regular file,
// never through a link (the destination's contents may be planted; a FIFO would block).
inline zip::ReadStatus ExtractArchive(platform::FileSystem& fs, const std::wstring& archive,
                                      const std::string& password, const zip::ZipSink& sink, zip::ZipEntryInfo* info) {
  if (info) *info = zip::ZipEntryInfo();
  std::shared_lock<std::shared_mutex> g(ArchiveReplaceLock(archive));
  std::unique_ptr<platform::FileStream> in = fs.OpenReadRegular(archive);
  if (!in) return zip::ReadStatus::OpenFailed;
  return zip::ZipExtract(*in, password.empty() ? nullptr : password.c_str(), sink, info);
}

}  // namespace restore_detail
}  // namespace vq
