#include "app/win32/RestoreDlg.h"

#include <commdlg.h>
#include <shlobj.h>

#include <utility>

#include "app/RestoreCommands.h"
#include "res/resource.h"
#include "settings/AppSettings.h"

namespace vq::win {

CRestoreDlg::CRestoreDlg(std::wstring path) : Dialog(IDD_DIALOG_RESTORE), startPath_(std::move(path)) {}

BOOL CRestoreDlg::OnInitDialog() {
  Status(L"选择或输入源文件，然后列出版本");
  if (!startPath_.empty()) {
    SetDlgItemTextW(hwnd(), IDC_RESTORE_PATH, startPath_.c_str());
    OnListVersions();
  }
  return TRUE;
}

bool CRestoreDlg::OnCommand(int id, int notifyCode, HWND control) {
  switch (id) {
    case IDC_RESTORE_PICK:
      if (notifyCode == BN_CLICKED) OnPickFile();
      return true;
    case IDC_RESTORE_LIST:
      if (notifyCode == BN_CLICKED) OnListVersions();
      return true;
    case IDC_RESTORE_BROWSE:
      if (notifyCode == BN_CLICKED) OnBrowseFolder();
      return true;
    case IDOK:  // Enter and the restore button
      if (notifyCode == BN_CLICKED) OnRestore();
      return true;
    case IDC_RESTORE_VERSIONS:
      if (notifyCode == LBN_DBLCLK) OnRestore();
      return true;
    default:
      return Dialog::OnCommand(id, notifyCode, control);  // Cancel closes
  }
}

void CRestoreDlg::Status(const std::wstring& text) { SetDlgItemTextW(hwnd(), IDC_RESTORE_STATUS, text.c_str()); }

void CRestoreDlg::OnPickFile() {
  wchar_t file[MAX_PATH] = {};
  const std::wstring start = AppSettings.S_DIR_SRCDATA.Get();
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd();
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrInitialDir = start.c_str();
  ofn.lpstrTitle = L"选择要恢复的源文件";
  // The file may be gone already: that is when it is wanted back most.
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return;
  SetDlgItemTextW(hwnd(), IDC_RESTORE_PATH, file);
  OnListVersions();
}

void CRestoreDlg::OnListVersions() {
  HWND list = Item(IDC_RESTORE_VERSIONS);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  listedPath_ = CleanTypedPath(Text(IDC_RESTORE_PATH));
  versions_.clear();
  if (listedPath_.empty()) {
    Status(L"请输入或选择源文件");
    return;
  }
  HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  // Whether the password opens each version, not a read of every byte: the window stays quick
  // whatever the file's size (校验备份 reads everything, the restore reads the chosen version).
  versions_ = FindVersions(listedPath_, VersionCheck::Opens, true);
  SetCursor(old);
  for (size_t i = 0; i < versions_.size(); ++i)
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(VersionText(i + 1, versions_[i]).c_str()));
  // Nothing is chosen for the user: Enter or the restore button needs a version picked.
  Status(versions_.empty() ? L"没有找到备份版本" : L"选择一个版本，然后恢复");
}

std::wstring PickRestoreFolder(HWND owner, const std::wstring& start) {
  wchar_t name[MAX_PATH] = {};
  BROWSEINFOW bi = {};
  bi.hwndOwner = owner;
  bi.pszDisplayName = name;
  bi.lpszTitle = L"恢复到文件夹：";
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  bi.lpfn = [](HWND w, UINT msg, LPARAM, LPARAM data) -> int {
    if (msg == BFFM_INITIALIZED && data) SendMessageW(w, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
  };
  bi.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&bi);
  if (!item) return std::wstring();
  wchar_t path[MAX_PATH] = {};
  std::wstring chosen;
  if (SHGetPathFromIDListW(item, path)) chosen = path;
  CoTaskMemFree(item);
  return chosen;
}

void CRestoreDlg::OnBrowseFolder() {
  const std::wstring chosen = PickRestoreFolder(hwnd(), std::wstring());
  if (!chosen.empty()) SetDlgItemTextW(hwnd(), IDC_RESTORE_FOLDER, chosen.c_str());
}

void CRestoreDlg::OnRestore() {
  // A path edited after the listing has versions of its own: Enter lists them, and a restore
  // waits for the user to pick one of them.
  if (CleanTypedPath(Text(IDC_RESTORE_PATH)) != listedPath_ || versions_.empty()) {
    OnListVersions();
    return;
  }
  const LRESULT sel = SendMessageW(Item(IDC_RESTORE_VERSIONS), LB_GETCURSEL, 0, 0);
  if (sel == LB_ERR || static_cast<size_t>(sel) >= versions_.size()) {
    Status(L"请先选择一个版本");
    return;
  }
  HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  RestoreResult r = RestoreChosen(versions_[static_cast<size_t>(sel)], listedPath_, Text(IDC_RESTORE_FOLDER));
  SetCursor(old);
  Status(r.ok ? L"已恢复到 " + r.target : L"恢复失败: " + r.reason);
}

}  // namespace vq::win
