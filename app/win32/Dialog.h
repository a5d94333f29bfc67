// A small dialog layer over the Win32 dialog manager: one C++ object per dialog window, one named
// virtual handler per message, and a modal loop of our own so that keys can be looked at before
// the dialog manager turns Enter and Escape into OK and Cancel.
//
// Messages reach a dialog in two layers. The handlers of the first layer (init, system command,
// paint, query-drag-icon, timer, close, control colour, size, command) return whether they took
// the message; what they leave goes to DefaultHandler, the second layer, and what that leaves goes
// to the dialog manager's own processing.
#pragma once

#include <windows.h>

#include <string>

namespace vq::win {

class Dialog {
 public:
  explicit Dialog(int templateId) : templateId_(templateId) {}
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the dialog and runs its loop until it ends; returns the end result (-1 when it could
  // not be created). parent (may be nullptr) is the owner, disabled while the dialog runs. A
  // WM_QUIT ends the loop too; it is posted again for the caller's loop.
  INT_PTR DoModal(HWND parent);
  void EndDialog(INT_PTR result);
  HWND hwnd() const { return hwnd_; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  // The whole text of a control (an edit field however long), empty when it cannot be read.
  std::wstring Text(int id) const;

 protected:
  // Return TRUE to let the dialog manager set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual bool OnSysCommand(WPARAM /*id*/, LPARAM) { return false; }
  virtual bool OnPaint() { return false; }
  // nullptr: the dialog manager's default.
  virtual HCURSOR OnQueryDragIcon() { return nullptr; }
  virtual bool OnTimer(UINT_PTR /*id*/) { return false; }
  virtual bool OnClose() { return false; }
  // A brush to paint the control's background with, or nullptr for the default.
  virtual HBRUSH OnCtlColor(HDC, HWND, UINT /*ctlMsg*/) { return nullptr; }
  virtual void OnSize(UINT /*type*/, int /*cx*/, int /*cy*/) {}
  // OK and Cancel end the dialog by default.
  virtual bool OnCommand(int id, int notifyCode, HWND control);
  // The second layer. Return true when consumed (result in *result).
  virtual bool DefaultHandler(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
  // Before dispatch; return true to swallow the message.
  virtual bool PreTranslateMessage(MSG*) { return false; }

 private:
  static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR Handle(UINT msg, WPARAM wp, LPARAM lp);
  // Whether the first layer took the message.
  bool FirstLayer(UINT msg, WPARAM wp, LPARAM lp, INT_PTR* direct);

  int templateId_;
  HWND hwnd_ = nullptr;
  bool ended_ = false;
  INT_PTR result_ = 0;
};

}  // namespace vq::win
