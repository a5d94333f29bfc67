// A small dialog layer over the Win32 dialog manager: one C++ object per dialog window, a
// virtual handler per message family, and a modal loop of our own so that keys can be looked at
// before the dialog manager turns Enter and Escape into OK and Cancel.
#pragma once

#include <windows.h>

namespace vq::win {

class Dialog {
 public:
  explicit Dialog(int templateId) : templateId_(templateId) {}
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the dialog and runs its loop until it ends; returns the end result (-1 when it could
  // not be created). A WM_QUIT ends the loop too; it is posted again for the caller's loop.
  INT_PTR DoModal(HWND parent);
  void EndDialog(INT_PTR result);
  HWND hwnd() const { return hwnd_; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

 protected:
  // Return TRUE to let the dialog manager set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  // Return true when handled; OK and Cancel end the dialog by default.
  virtual bool OnCommand(int id, int notifyCode, HWND control);
  // Everything no other handler took. Return true when consumed (result in *result).
  virtual bool DefaultHandler(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
  virtual HBRUSH OnCtlColor(HDC, HWND, UINT /*ctlMsg*/) { return nullptr; }
  virtual void OnSize(UINT /*type*/, int /*cx*/, int /*cy*/) {}
  // Before dispatch; return true to swallow the message.
  virtual bool PreTranslateMessage(MSG*) { return false; }

 private:
  static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR Handle(UINT msg, WPARAM wp, LPARAM lp);

  int templateId_;
  HWND hwnd_ = nullptr;
  bool ended_ = false;
  INT_PTR result_ = 0;
};

}  // namespace vq::win
