#include "app/win32/BrowseDlg.h"

#include <commctrl.h>
#include <shlobj.h>
#include <windowsx.h>

#include "app/win32/RestoreDlg.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "res/resource.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

namespace vq::win {

namespace {

constexpr UINT kProgressMessage = WM_APP + 41;  // wParam done, lParam total
constexpr UINT kEndedMessage = WM_APP + 42;
constexpr UINT kCatalogMessage = WM_APP + 43;
constexpr int kVersionsItem = 1;  // the list's context menu

SYSTEMTIME ToSystemTime(const CalendarTime& c) {
  SYSTEMTIME s = {};
  s.wYear = static_cast<WORD>(c.year);
  s.wMonth = static_cast<WORD>(c.month);
  s.wDay = static_cast<WORD>(c.day);
  s.wHour = static_cast<WORD>(c.hour);
  s.wMinute = static_cast<WORD>(c.minute);
  s.wSecond = static_cast<WORD>(c.second);
  return s;
}

}  // namespace

CBrowseDlg::CBrowseDlg() : Dialog(IDD_DIALOG_BROWSE) {}

CBrowseDlg::~CBrowseDlg() {
  // The dialog ends only after the restore has (see IDCANCEL); this is for a WM_QUIT meanwhile.
  cancel_ = true;
  if (worker_.joinable()) worker_.detach();
}

BOOL CBrowseDlg::OnInitDialog() {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES | ICC_DATE_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  HWND list = Item(IDC_BROWSE_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  // Column widths in dialog units, so they follow the DPI as the template does.
  const struct {
    const wchar_t* title;
    int width;
    int format;
  } columns[] = {{L"名称", 130, LVCFMT_LEFT},
                 {L"修改时间", 82, LVCFMT_LEFT},
                 {L"大小", 50, LVCFMT_RIGHT},
                 {L"状态", 60, LVCFMT_LEFT}};
  for (int i = 0; i < 4; ++i) {
    RECT r = {0, 0, columns[i].width, 8};
    MapDialogRect(hwnd(), &r);
    LVCOLUMNW c = {};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    c.pszText = const_cast<wchar_t*>(columns[i].title);
    c.cx = r.right;
    c.fmt = columns[i].format;
    ListView_InsertColumn(list, i, &c);
  }
  DateTime_SetFormat(Item(IDC_BROWSE_DATE), L"yyyy'-'MM'-'dd");
  DateTime_SetFormat(Item(IDC_BROWSE_TIME), L"HH':'mm':'ss");

  // Anchors: the list takes every change of size; the rows below it move down; what sits at the
  // right edge moves right; the folder line, the progress bar and the status line widen.
  RECT client;
  GetClientRect(hwnd(), &client);
  startClient_ = {client.right, client.bottom};
  RECT window;
  GetWindowRect(hwnd(), &window);
  minTrack_ = {window.right - window.left, window.bottom - window.top};
  const Anchor rules[] = {
      {IDC_BROWSE_FOLDER, false, false, true, false, {}},       {IDC_BROWSE_UP, true, false, false, false, {}},
      {IDC_BROWSE_LIST, false, false, true, true, {}},          {IDC_BROWSE_VERSIONS, false, true, false, false, {}},
      {IDC_BROWSE_RESTORE_HERE, true, true, false, false, {}},  {IDC_BROWSE_RESTORE_TO, true, true, false, false, {}},
      {IDC_BROWSE_TARGET_LABEL, false, true, false, false, {}}, {IDC_BROWSE_TARGET, false, true, true, false, {}},
      {IDC_BROWSE_PROGRESS, false, true, true, false, {}},      {IDC_BROWSE_CANCEL, true, true, false, false, {}},
      {IDC_BROWSE_STATUS, false, true, true, false, {}},        {IDCANCEL, true, true, false, false, {}},
  };
  for (Anchor a : rules) {
    HWND c = Item(a.id);
    if (!c) continue;
    GetWindowRect(c, &a.start);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&a.start), 2);
    anchors_.push_back(a);
  }

  // The catalog opens every version's archive: on a share and a large tree that takes long enough
  // that the window must open first and stay responsive while it loads.
  running_ = true;
  loading_ = true;
  Status(L"正在读取备份...");
  UpdateButtons();
  HWND self = hwnd();
  const std::wstring root = AppSettings.S_DIR_SRCDATA.Get();
  worker_ = std::thread([this, self, root] {
    BackupCatalog c = LoadCatalog(root);
    {
      std::lock_guard<std::mutex> g(reportLock_);
      loaded_ = std::move(c);
    }
    PostMessageW(self, kCatalogMessage, 0, 0);
  });
  SetFocus(list);
  return FALSE;
}

void CBrowseDlg::OnCatalogLoaded() {
  if (worker_.joinable()) worker_.join();
  {
    std::lock_guard<std::mutex> g(reportLock_);
    catalog_ = std::move(loaded_);
  }
  running_ = false;
  loading_ = false;
  if (closeWhenDone_) {
    EndDialog(IDCANCEL);
    return;
  }
  // Opens at the newest backup, so the list shows the latest of everything.
  const std::vector<UnixTime> times = catalog_.TimesUnder(L"");
  SetTime(times.empty() ? platform::Now() : times.back());
}

bool CBrowseDlg::OnCommand(int id, int notifyCode, HWND control) {
  switch (id) {
    case IDOK: {
      // Enter never restores: on the list it opens the row, elsewhere it does nothing.
      const std::vector<int> sel = SelectedRows();
      if (GetFocus() == Item(IDC_BROWSE_LIST) && sel.size() == 1) OnOpenRow(sel[0]);
      return true;
    }
    case IDCANCEL:
      if (running_) {
        // The thread writes to the log view, which belongs to this thread: it must end on its
        // own, so the dialog closes when it has.
        cancel_ = true;
        closeWhenDone_ = true;
        if (!loading_) Status(L"正在取消...");
        return true;
      }
      return Dialog::OnCommand(id, notifyCode, control);
    case IDC_BROWSE_UP:
      if (notifyCode == BN_CLICKED) OnUp();
      return true;
    case IDC_BROWSE_PREV:
    case IDC_BROWSE_NEXT:
      if (notifyCode == BN_CLICKED) OnStep(id == IDC_BROWSE_NEXT);
      return true;
    case IDC_BROWSE_VERSIONS:
      if (notifyCode == BN_CLICKED) OnVersions();
      return true;
    case IDC_BROWSE_RESTORE_HERE:
    case IDC_BROWSE_RESTORE_TO:
      if (notifyCode == BN_CLICKED) OnRestore(id == IDC_BROWSE_RESTORE_TO);
      return true;
    case IDC_BROWSE_CANCEL:
      if (notifyCode == BN_CLICKED && running_) {
        cancel_ = true;
        Status(L"正在取消...");
      }
      return true;
    default:
      return Dialog::OnCommand(id, notifyCode, control);
  }
}

bool CBrowseDlg::DefaultHandler(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  switch (msg) {
    case WM_NOTIFY: {
      const NMHDR* h = reinterpret_cast<const NMHDR*>(lp);
      if (h->idFrom == IDC_BROWSE_LIST) {
        if (h->code == NM_DBLCLK) {
          OnOpenRow(reinterpret_cast<const NMITEMACTIVATE*>(lp)->iItem);
          return true;
        }
        if (h->code == NM_RETURN) {
          // Enter opens one row; with several selected it does nothing, and it never restores.
          const std::vector<int> sel = SelectedRows();
          if (sel.size() == 1) OnOpenRow(sel[0]);
          return true;
        }
        if (h->code == LVN_KEYDOWN && reinterpret_cast<const NMLVKEYDOWN*>(lp)->wVKey == VK_BACK) {
          OnUp();
          return true;
        }
        if (h->code == LVN_ITEMCHANGED) {
          UpdateButtons();
          return true;
        }
      }
      if ((h->idFrom == IDC_BROWSE_DATE || h->idFrom == IDC_BROWSE_TIME) && h->code == DTN_DATETIMECHANGE) {
        OnTimePicked();
        return true;
      }
      return false;
    }
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wp) == Item(IDC_BROWSE_LIST)) {
        POINT p = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
        OnListContextMenu(p);
        return true;
      }
      return false;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      if (minTrack_.cx > 0) info->ptMinTrackSize = {minTrack_.cx, minTrack_.cy};
      *result = 0;
      return true;
    }
    case kProgressMessage:
      OnProgress(static_cast<size_t>(wp), static_cast<size_t>(lp));
      return true;
    case kEndedMessage:
      OnRestoreEnded();
      return true;
    case kCatalogMessage:
      OnCatalogLoaded();
      return true;
    default:
      return Dialog::DefaultHandler(msg, wp, lp, result);
  }
}

bool CBrowseDlg::PreTranslateMessage(MSG* msg) {
  // Backspace goes up from anywhere but a field being typed in.
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_BACK && IsChild(hwnd(), msg->hwnd)) {
    wchar_t cls[32] = {};
    GetClassNameW(msg->hwnd, cls, 32);
    if (lstrcmpiW(cls, L"Edit") != 0 && msg->hwnd != Item(IDC_BROWSE_LIST)) {
      OnUp();
      return true;
    }
  }
  return false;
}

void CBrowseDlg::OnSize(UINT type, int cx, int cy) {
  if (type == SIZE_MINIMIZED || anchors_.empty()) return;
  const int dx = cx - startClient_.cx, dy = cy - startClient_.cy;
  HDWP batch = BeginDeferWindowPos(static_cast<int>(anchors_.size()));
  for (const Anchor& a : anchors_) {
    RECT r = a.start;
    if (a.moveX) OffsetRect(&r, dx, 0);
    if (a.moveY) OffsetRect(&r, 0, dy);
    if (a.growX) r.right += dx;
    if (a.growY) r.bottom += dy;
    if (batch)
      batch = DeferWindowPos(batch, Item(a.id), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                             SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (batch) EndDeferWindowPos(batch);
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CBrowseDlg::SetTime(UnixTime at) {
  at_ = at;
  CalendarTime c;
  if (platform::ToLocalCalendar(at, &c)) {
    SYSTEMTIME s = ToSystemTime(c);
    DateTime_SetSystemtime(Item(IDC_BROWSE_DATE), GDT_VALID, &s);
    DateTime_SetSystemtime(Item(IDC_BROWSE_TIME), GDT_VALID, &s);
  }
  ShowFolder();
}

void CBrowseDlg::OnTimePicked() {
  SYSTEMTIME d = {}, t = {};
  if (DateTime_GetSystemtime(Item(IDC_BROWSE_DATE), &d) != GDT_VALID ||
      DateTime_GetSystemtime(Item(IDC_BROWSE_TIME), &t) != GDT_VALID)
    return;
  CalendarTime c;
  c.year = d.wYear, c.month = d.wMonth, c.day = d.wDay;
  c.hour = t.wHour, c.minute = t.wMinute, c.second = t.wSecond;
  UnixTime at = 0;
  if (!platform::FromLocalCalendar(c, &at) || at == at_) return;
  at_ = at;
  ShowFolder();
}

void CBrowseDlg::OnStep(bool next) {
  UnixTime t = 0;
  const std::vector<UnixTime> times = catalog_.TimesUnder(folder_);
  if (next ? NextBackupTime(times, at_, &t) : PreviousBackupTime(times, at_, &t)) SetTime(t);
}

void CBrowseDlg::OnUp() {
  if (folder_.empty() || running_) return;
  std::wstring up = folder_.substr(0, folder_.size() - 1);
  size_t at = up.size();
  while (at > 0 && !platform::IsSeparator(up[at - 1])) --at;
  const std::wstring left = up.substr(at);  // selected again in the parent
  folder_ = up.substr(0, at);
  ShowFolder();
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].folder && rows_[i].name == left) {
      ListView_SetItemState(Item(IDC_BROWSE_LIST), static_cast<int>(i), LVIS_SELECTED | LVIS_FOCUSED,
                            LVIS_SELECTED | LVIS_FOCUSED);
      ListView_EnsureVisible(Item(IDC_BROWSE_LIST), static_cast<int>(i), FALSE);
    }
}

void CBrowseDlg::OnOpenRow(int row) {
  if (row < 0 || static_cast<size_t>(row) >= rows_.size() || running_) return;
  if (!rows_[static_cast<size_t>(row)].folder) {
    OnVersions();
    return;
  }
  folder_ += rows_[static_cast<size_t>(row)].name + platform::PathSeparator();
  ShowFolder();
}

void CBrowseDlg::ShowFolder() {
  HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  rows_ = catalog_.ListAt(folder_, at_);
  CheckRowsOpen(platform::RealFileSystem(), platform::WideToAnsi(AppSettings.S_ZIP_PSW.Get()), &rows_);
  SetCursor(old);
  HWND list = Item(IDC_BROWSE_LIST);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  for (size_t i = 0; i < rows_.size(); ++i) {
    BrowseTexts t = BrowseRowTexts(rows_[i]);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = t.name.data();
    ListView_InsertItem(list, &item);
    ListView_SetItemText(list, static_cast<int>(i), 1, t.time.data());
    ListView_SetItemText(list, static_cast<int>(i), 2, t.size.data());
    ListView_SetItemText(list, static_cast<int>(i), 3, t.state.data());
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  SetDlgItemTextW(hwnd(), IDC_BROWSE_FOLDER, (catalog_.Root() + folder_).c_str());
  Status(rows_.empty() ? L"这个时间还没有备份" : WFormat(L"%s 时的 %d 项", LocalTimeText(at_), int(rows_.size())));
  UpdateButtons();
}

void CBrowseDlg::UpdateButtons() {
  const std::vector<int> sel = SelectedRows();
  const std::vector<UnixTime> times = catalog_.TimesUnder(folder_);
  UnixTime t = 0;
  const bool idle = !running_;
  EnableWindow(Item(IDC_BROWSE_UP), idle && !folder_.empty());
  EnableWindow(Item(IDC_BROWSE_PREV), idle && PreviousBackupTime(times, at_, &t));
  EnableWindow(Item(IDC_BROWSE_NEXT), idle && NextBackupTime(times, at_, &t));
  EnableWindow(Item(IDC_BROWSE_DATE), idle);
  EnableWindow(Item(IDC_BROWSE_TIME), idle);
  EnableWindow(Item(IDC_BROWSE_VERSIONS),
               idle && (sel.empty() || (sel.size() == 1 && !rows_[static_cast<size_t>(sel[0])].folder)));
  EnableWindow(Item(IDC_BROWSE_RESTORE_HERE), idle && !sel.empty());
  EnableWindow(Item(IDC_BROWSE_RESTORE_TO), idle && !sel.empty());
  EnableWindow(Item(IDC_BROWSE_CANCEL), running_ && !loading_);  // a load cannot be cut short
}

std::vector<int> CBrowseDlg::SelectedRows() const {
  std::vector<int> out;
  HWND list = Item(IDC_BROWSE_LIST);
  for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0; i = ListView_GetNextItem(list, i, LVNI_SELECTED))
    if (static_cast<size_t>(i) < rows_.size()) out.push_back(i);
  return out;
}

void CBrowseDlg::OnVersions() {
  const std::vector<int> sel = SelectedRows();
  std::wstring path;
  if (sel.size() == 1 && !rows_[static_cast<size_t>(sel[0])].folder)
    path = catalog_.Root() + folder_ + rows_[static_cast<size_t>(sel[0])].name;
  CRestoreDlg dlg(path);
  if (dlg.DoModal(hwnd()) == -1)
    WriteLog(L"文件版本对话框无法打开[%lu]\r\n", static_cast<unsigned long>(GetLastError()));
}

void CBrowseDlg::OnListContextMenu(POINT screen) {
  const std::vector<int> sel = SelectedRows();
  if (sel.size() != 1 || rows_[static_cast<size_t>(sel[0])].folder) return;
  if (screen.x == -1 && screen.y == -1) {  // from the keyboard: at the selected row
    RECT r;
    ListView_GetItemRect(Item(IDC_BROWSE_LIST), sel[0], &r, LVIR_LABEL);
    screen = {r.left, r.bottom};
    ClientToScreen(Item(IDC_BROWSE_LIST), &screen);
  }
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kVersionsItem, L"文件版本(&V)...");
  const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, hwnd(), nullptr);
  DestroyMenu(menu);
  if (chosen == kVersionsItem) OnVersions();
}

std::wstring CBrowseDlg::ChooseFolder() {
  // The field holds the last folder chosen (or one typed); the folder browser opens on it.
  const std::wstring start = Text(IDC_BROWSE_TARGET);
  const std::wstring chosen = PickRestoreFolder(hwnd(), start);
  if (!chosen.empty()) SetDlgItemTextW(hwnd(), IDC_BROWSE_TARGET, chosen.c_str());
  return chosen;
}

void CBrowseDlg::OnRestore(bool chooseFolder) {
  if (running_) return;
  std::vector<RestoreItem> items;
  for (int i : SelectedRows()) {
    const BrowseRow& r = rows_[static_cast<size_t>(i)];
    items.push_back(RestoreItem{folder_ + r.name, r.folder});
  }
  if (items.empty()) {
    Status(L"请先选择要恢复的文件或文件夹");
    return;
  }
  std::wstring target;
  if (chooseFolder) {
    target = ChooseFolder();
    if (target.empty()) return;
  }
  running_ = true;
  cancel_ = false;
  started_ = false;
  SendMessageW(Item(IDC_BROWSE_PROGRESS), PBM_SETPOS, 0, 0);
  Status(L"正在恢复...");
  UpdateButtons();
  HWND self = hwnd();
  const UnixTime at = at_;
  worker_ = std::thread([this, self, items, target, at] {
    SelectionReport rep;
    const bool started = RunSelectionRestore(
        catalog_, items, at, target, &cancel_,
        [self](const RestoreProgress& p) { PostMessageW(self, kProgressMessage, p.done, p.total); }, &rep);
    {
      std::lock_guard<std::mutex> g(reportLock_);
      report_ = rep;
      started_ = started;
    }
    PostMessageW(self, kEndedMessage, 0, 0);
  });
}

void CBrowseDlg::OnProgress(size_t done, size_t total) {
  HWND bar = Item(IDC_BROWSE_PROGRESS);
  SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(total ? total : 1));
  SendMessageW(bar, PBM_SETPOS, done, 0);
  if (!cancel_) Status(WFormat(L"正在恢复 %d/%d", int(done), int(total)));
}

void CBrowseDlg::OnRestoreEnded() {
  if (worker_.joinable()) worker_.join();
  running_ = false;
  SelectionReport rep;
  bool started;
  {
    std::lock_guard<std::mutex> g(reportLock_);
    rep = report_;
    started = started_;
  }
  UpdateButtons();
  if (closeWhenDone_) {
    EndDialog(IDCANCEL);
    return;
  }
  if (!started) {
    Status(L"校验或恢复正在进行，请稍后再恢复");
    return;
  }
  Status(SelectionSummary(rep));
  // The end of a long restore is worth a look even when the user went elsewhere meanwhile.
  MessageBoxW(hwnd(), SelectionSummaryText(rep, 12).c_str(), L"vq.l",
              MB_OK | (rep.failed.empty() ? MB_ICONINFORMATION : MB_ICONEXCLAMATION));
}

void CBrowseDlg::Status(const std::wstring& text) { SetDlgItemTextW(hwnd(), IDC_BROWSE_STATUS, text.c_str()); }

}  // namespace vq::win
