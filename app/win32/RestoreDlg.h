// The restore dialog (dialog 148): pick or type a source file, list its versions, restore the
// chosen one into a folder from the folder browser (or beside the original). The listing and the
// restore are the terminal's (app/RestoreCommands.h); this class only moves texts.
#pragma once

#include <string>
#include <vector>

#include "app/win32/Dialog.h"
#include "backup/Restore.h"

namespace vq::win {

class CRestoreDlg : public Dialog {
 public:
  CRestoreDlg();

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;

 private:
  void OnPickFile();
  void OnListVersions();
  void OnBrowseFolder();
  void OnRestore();
  std::wstring Text(int id) const;
  void Status(const std::wstring& text);

  std::wstring listedPath_;
  std::vector<FileVersion> versions_;
};

}  // namespace vq::win
