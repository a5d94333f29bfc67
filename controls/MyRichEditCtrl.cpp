#include "controls/MyRichEditCtrl.h"

#include <commctrl.h>
#include <richedit.h>

#include "controls/LogViewMenu.h"

namespace vq::win {

namespace {
const UINT_PTR kSubclassId = 1;
}

CMyRichEditCtrl::~CMyRichEditCtrl() { Attach(nullptr); }

void CMyRichEditCtrl::Attach(HWND edit) {
  HWND old = edit_.exchange(edit);
  if (old && IsWindow(old)) RemoveWindowSubclass(old, SubclassProc, kSubclassId);
  if (edit) SetWindowSubclass(edit, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

bool CMyRichEditCtrl::SetReadOnly(bool readOnly) {
  HWND e = hwnd();
  if (!e || !SendMessageW(e, EM_SETREADONLY, readOnly ? TRUE : FALSE, 0)) return false;
  readOnly_.store(readOnly);
  return true;
}

void CMyRichEditCtrl::LimitText(LPARAM chars) { SendMessageW(hwnd(), EM_EXLIMITTEXT, 0, chars); }

void CMyRichEditCtrl::SetBackgroundColor(COLORREF colour) { SendMessageW(hwnd(), EM_SETBKGNDCOLOR, 0, colour); }

void CMyRichEditCtrl::AppendLogText(const std::wstring& text) {
  HWND e = hwnd();
  if (!e) return;
  // The end is asked for explicitly: the caret of a read-only view can still be moved by the
  // user, and text must never land in the middle of older lines.
  GETTEXTLENGTHEX len = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  LRESULT end = SendMessageW(e, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
  if (end < 0) end = 0;
  // The limit caps what a program inserts as well as what the user types; not every rich-edit
  // implementation applies it to EM_REPLACESEL, so the overflow is cut here. A line break counts
  // as one character in the control.
  const LRESULT limit = SendMessageW(e, EM_GETLIMITTEXT, 0, 0);
  std::wstring piece = text;
  if (limit > 0) {
    LRESULT room = limit - end;
    size_t i = 0;
    for (; i < piece.size() && room > 0; ++i, --room)
      if (piece[i] == L'\r' && i + 1 < piece.size() && piece[i + 1] == L'\n') ++i;
    if (i == 0 && !piece.empty()) return;
    piece.resize(i);
  }
  SendMessageW(e, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
  SendMessageW(e, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
  end = SendMessageW(e, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
  if (end < 0) end = 0;
  SendMessageW(e, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
  PostMessageW(e, WM_VSCROLL, SB_BOTTOM, 0);
}

void CMyRichEditCtrl::OnRButtonDown(POINT clientPoint) {
  HWND e = hwnd();
  SetFocus(e);
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  LogViewState state;
  state.selectionEmpty = LOWORD(SendMessageW(e, EM_SELECTIONTYPE, 0, 0)) == 0;
  state.readOnly = readOnly();
  state.canUndo = SendMessageW(e, EM_CANUNDO, 0, 0) != 0;
  for (const LogViewMenuItem& item : kLogViewMenu) {
    if (item.id == 0) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING | (LogViewItemGreyed(item.id, state) ? MF_GRAYED : MF_ENABLED);
    AppendMenuW(menu, flags, static_cast<UINT_PTR>(item.id), item.text);
  }
  POINT p = clientPoint;
  ClientToScreen(e, &p);
  // The control owns the menu, so the chosen command comes back to it.
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, p.x, p.y, 0, e, nullptr);
  DestroyMenu(menu);
}

bool CMyRichEditCtrl::OnCommand(int id) {
  HWND e = hwnd();
  switch (id) {
    case ID_LOGVIEW_UNDO:
      SendMessageW(e, EM_UNDO, 0, 0);
      return true;
    case ID_LOGVIEW_CUT:
      SendMessageW(e, WM_CUT, 0, 0);
      return true;
    case ID_LOGVIEW_COPY:
      SendMessageW(e, WM_COPY, 0, 0);
      return true;
    case ID_LOGVIEW_PASTE:
      SendMessageW(e, WM_PASTE, 0, 0);
      return true;
    case ID_LOGVIEW_DELETE:
      SendMessageW(e, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
      return true;
    case ID_LOGVIEW_SELECTALL:
      SendMessageW(e, EM_SETSEL, 0, -1);
      return true;
    case ID_LOGVIEW_CLEAR:
      // A programmatic replace: it works on the read-only view and cannot be undone.
      SendMessageW(e, EM_SETSEL, 0, -1);
      SendMessageW(e, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK CMyRichEditCtrl::SubclassProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CMyRichEditCtrl*>(data);
  switch (msg) {
    case WM_RBUTTONDOWN:
      self->OnRButtonDown(POINT{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))});
      return 0;
    case WM_COMMAND:
      if (self->OnCommand(LOWORD(wp))) return 0;
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(h, SubclassProc, kSubclassId);
      self->edit_.store(nullptr);
      break;
    default:
      break;
  }
  return DefSubclassProc(h, msg, wp, lp);
}

}  // namespace vq::win
