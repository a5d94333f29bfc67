// A file's versions (dialog 148, "文件版本", opened from the browser): pick or type a source
// file, list its versions, restore the
// chosen one into a folder from the folder browser (or beside the original). The listing and the
// restore are the terminal's (app/RestoreCommands.h); this class only moves texts.
#pragma once

#include <string>
#include <vector>

#include "app/win32/Dialog.h"
#include "backup/Restore.h"

namespace vq::win {

// The shell's folder browser for a restore target, opened on start when it is not empty; the
// chosen folder, or empty when cancelled.
std::wstring PickRestoreFolder(HWND owner, const std::wstring& start);

class CRestoreDlg : public Dialog {
 public:
  // path: the file whose versions are listed at once (empty: none yet).
  explicit CRestoreDlg(std::wstring path = {});

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;

 private:
  void OnPickFile();
  void OnListVersions();
  void OnBrowseFolder();
  void OnRestore();
  void Status(const std::wstring& text);

  std::wstring startPath_;
  std::wstring listedPath_;
  std::vector<FileVersion> versions_;
};

}  // namespace vq::win
