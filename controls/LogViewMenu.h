// The log view's context menu: its items in order and which of them are greyed. The Windows
// control builds the menu from this table; the decision is kept apart so it can be tested
// without a window.
#pragma once

namespace vq {

enum LogViewCommand : int {
  ID_LOGVIEW_UNDO = 101,
  ID_LOGVIEW_CUT = 102,
  ID_LOGVIEW_COPY = 103,
  ID_LOGVIEW_PASTE = 104,
  ID_LOGVIEW_DELETE = 105,
  ID_LOGVIEW_SELECTALL = 106,
  ID_LOGVIEW_CLEAR = 107,
};

struct LogViewMenuItem {
  int id;  // 0: a separator
  const wchar_t* text;
};

// The texts are shown exactly so, trailing blanks included.
inline constexpr LogViewMenuItem kLogViewMenu[] = {
    {ID_LOGVIEW_UNDO, L"撤销(&U)"},
    {0, nullptr},
    {ID_LOGVIEW_CUT, L"剪切(&T)"},
    {ID_LOGVIEW_COPY, L"复制(&C) "},
    {ID_LOGVIEW_PASTE, L"粘帖(&P) "},
    {ID_LOGVIEW_DELETE, L"删除(&D) "},
    {0, nullptr},
    {ID_LOGVIEW_SELECTALL, L"全选(&A) "},
    {ID_LOGVIEW_CLEAR, L"清除屏幕(&Q)"},
};

// What the control reports when the menu opens.
struct LogViewState {
  bool selectionEmpty;
  bool readOnly;
  bool canUndo;
};

// True when the item is shown greyed. Select all and clear screen never are: clearing is a
// programmatic change and works on a read-only view too.
inline bool LogViewItemGreyed(int id, const LogViewState& s) {
  switch (id) {
    case ID_LOGVIEW_COPY:
      return s.selectionEmpty;
    case ID_LOGVIEW_CUT:
    case ID_LOGVIEW_DELETE:
      return s.selectionEmpty || s.readOnly;
    case ID_LOGVIEW_PASTE:
      return s.readOnly;
    case ID_LOGVIEW_UNDO:
      return s.readOnly || !s.canUndo;
    default:
      return false;
  }
}

}  // namespace vq
