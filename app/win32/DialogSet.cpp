#include "app/win32/DialogSet.h"

#include <shlobj.h>

#include "app/Commands.h"
#include "app/win32/VQTimeDlg.h"
#include "res/resource.h"
#include "settings/AppSettings.h"

namespace vq::win {

CDialogSet::CDialogSet() : Dialog(IDD_DIALOG_SET) {}

BOOL CDialogSet::OnInitDialog() {
  Fill(FormFromSettings());
  return TRUE;
}

bool CDialogSet::OnCommand(int id, int notifyCode, HWND control) {
  if (notifyCode != BN_CLICKED) return false;
  switch (id) {
    case IDOK:
      OnOK();
      return true;
    case IDC_BUTTON_DEFAULT:
      OnRestoreDefaults();
      return true;
    case IDC_BUTTON_SRC:
      OnBrowse(IDC_EDIT_SRC, L"请选择源数据目录：");
      return true;
    case IDC_BUTTON_DEST:
      OnBrowse(IDC_EDIT_DEST, L"请选择目的数据目录：");
      return true;
    default:
      // Cancel ends the dialog and stores nothing.
      return Dialog::OnCommand(id, notifyCode, control);
  }
}

void CDialogSet::Fill(const SettingsForm& f) {
  SetDlgItemTextW(hwnd(), IDC_EDIT_SRC, f.source.c_str());
  SetDlgItemTextW(hwnd(), IDC_EDIT_DEST, f.dest.c_str());
  SetDlgItemTextW(hwnd(), IDC_EDIT_FILTER, f.filter.c_str());
  SetDlgItemTextW(hwnd(), IDC_EDIT_PSW, f.password.c_str());
  CheckDlgButton(hwnd(), IDC_CHECK_AUTORUN, f.autoRun ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(hwnd(), IDC_CHECK_DEBUG, f.debug ? BST_CHECKED : BST_UNCHECKED);
  SetDlgItemTextW(hwnd(), IDC_EDIT_MAXFSIZE, f.size.c_str());
  CheckDlgButton(hwnd(), IDC_CHECK_AES, f.aes ? BST_CHECKED : BST_UNCHECKED);
}

SettingsForm CDialogSet::Read() const {
  SettingsForm f;
  f.filter = Text(IDC_EDIT_FILTER);
  f.source = Text(IDC_EDIT_SRC);
  f.dest = Text(IDC_EDIT_DEST);
  f.password = Text(IDC_EDIT_PSW);
  f.size = Text(IDC_EDIT_MAXFSIZE);
  f.autoRun = IsDlgButtonChecked(hwnd(), IDC_CHECK_AUTORUN) == BST_CHECKED;
  f.debug = IsDlgButtonChecked(hwnd(), IDC_CHECK_DEBUG) == BST_CHECKED;
  f.aes = IsDlgButtonChecked(hwnd(), IDC_CHECK_AES) == BST_CHECKED;
  return f;
}

void CDialogSet::Box(const std::wstring& text) {
  MessageBoxW(hwnd(), text.c_str(), kAppName, MB_OK | MB_ICONEXCLAMATION);
}

void CDialogSet::OnOK() {
  SettingsSubmit r = SubmitSettings(Read(), PlatformSettingsRules());
  if (!r.accepted()) {
    Box(r.message);  // the dialog stays open with the input as entered
    return;
  }
  if (r.restart) {
    Box(kRestartMessage);
    // The main window handles the close after this dialog has ended: it starts the program
    // again and ends this instance.
    restartPending = 1;
    PostMessageW(hMainWnd, WM_CLOSE, 0, 0);
  }
  EndDialog(IDOK);
}

void CDialogSet::OnRestoreDefaults() { Fill(DefaultSettingsForm()); }

void CDialogSet::OnBrowse(int editId, const wchar_t* title) {
  wchar_t name[MAX_PATH] = {};
  BROWSEINFOW bi = {};
  bi.hwndOwner = hwnd();
  bi.pszDisplayName = name;
  bi.lpszTitle = title;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&bi);
  if (!item) return;  // cancelled
  wchar_t path[MAX_PATH] = {};
  if (SHGetPathFromIDListW(item, path))
    SetDlgItemTextW(hwnd(), editId, path);
  else
    Box(L"无效的目录，请重新选择");
  CoTaskMemFree(item);
}

}  // namespace vq::win
