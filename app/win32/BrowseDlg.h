// The backup browser (dialog 149, "恢复文件"): the source tree as it stood at a moment, one folder
// at a time, with the backup times to step between and the restore of a selection beside the
// originals or into a chosen folder. What it shows and restores is the engine's model
// (backup/Browse.h) through app/RestoreCommands.h, which the terminal's browse shares; this class
// moves texts and runs the restore on a thread of its own.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/RestoreCommands.h"
#include "app/win32/Dialog.h"

namespace vq::win {

class CBrowseDlg : public Dialog {
 public:
  CBrowseDlg();
  ~CBrowseDlg() override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;
  void OnSize(UINT type, int cx, int cy) override;
  bool DefaultHandler(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
  bool PreTranslateMessage(MSG* msg) override;

 private:
  void ShowFolder();          // the list, the folder line and the buttons for folder_ at at_
  void SetTime(UnixTime at);  // the pickers follow, then the list
  void OnTimePicked();
  void OnStep(bool next);
  void OnUp();
  void OnOpenRow(int row);  // a folder is entered; a file shows its versions
  void OnVersions();
  void OnRestore(bool chooseFolder);
  void OnProgress(size_t done, size_t total);
  void OnRestoreEnded();
  void OnCatalogLoaded();
  void OnListContextMenu(POINT screen);
  void UpdateButtons();
  std::wstring ChooseFolder();
  std::vector<int> SelectedRows() const;
  void Status(const std::wstring& text);

  BackupCatalog catalog_;
  std::wstring folder_;  // relative to the catalog's root; "" or ending with a separator
  UnixTime at_ = 0;
  std::vector<BrowseRow> rows_;

  // Anchoring for resizing: each control's rectangle in the client area as the template made it.
  struct Anchor {
    int id;
    bool moveX, moveY, growX, growY;
    RECT start;
  };
  std::vector<Anchor> anchors_;
  SIZE startClient_ = {};
  SIZE minTrack_ = {};

  // The catalog's load when the dialog opens, then the restore in flight: their thread, the
  // restore's cancel, and what the thread hands over once it ends.
  std::thread worker_;
  bool loading_ = false;
  BackupCatalog loaded_;
  std::atomic<bool> cancel_{false};
  bool running_ = false;
  bool closeWhenDone_ = false;
  std::mutex reportLock_;
  SelectionReport report_;
  bool started_ = false;
};

}  // namespace vq::win
