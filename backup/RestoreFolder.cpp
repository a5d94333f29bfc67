// Restore of a whole source folder as it stood at a moment.
#include "backup/Restore.h"

#include "backup/Browse.h"
#include "backup/RestoreInternal.h"
#include "platform/Clock.h"
#include "settings/Log.h"

namespace vq {

using zip::ReadStatus;
using namespace restore_detail;

FolderRestoreReport RestoreFolderAt(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& sourceFolder,
                                    UnixTime at, const std::wstring& target, const std::string& password) {
  const std::wstring source = WithSeparator(sourceFolder);
  const std::wstring out = WithSeparator(target);
  WriteLog(L"恢复文件夹:%s (%s) -> %s\r\n", source, LocalTimeText(at), out);
  // The browser's model: the folder itself selected, so its contents go straight into target.
  const BackupCatalog catalog = BackupCatalog::Load(fs, dirs, source, password);
  const std::wstring base = WithSeparator(dirs.folder) + DriveRelativePath(source, platform::RootLength());
  if (catalog.Files().empty() && !fs.IsDirectory(base))
    WriteLog(L"恢复文件夹:备份中没有此文件夹或无法访问 %s\r\n", base);
  const SelectionReport r = RestoreSelection(fs, catalog, {RestoreItem{L"", true}}, at, out, password);
  WriteLog(L"恢复文件夹结束:%s\r\n", SelectionSummary(r));
  FolderRestoreReport rep;
  rep.restored = r.restored;
  rep.failed = int(r.failed.size());
  rep.noVersion = int(r.noVersion.size());
  return rep;
}

}  // namespace vq
