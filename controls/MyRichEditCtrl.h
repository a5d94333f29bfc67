// The log view: the Unicode rich-edit control of the main window, read-only for the user and
// appended to by the log from any thread, with a context menu of its own (copy, select all,
// clear screen and the usual edit commands).
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "settings/Log.h"

namespace vq::win {

class CMyRichEditCtrl : public LogView {
 public:
  CMyRichEditCtrl() = default;
  ~CMyRichEditCtrl() override;
  CMyRichEditCtrl(const CMyRichEditCtrl&) = delete;
  CMyRichEditCtrl& operator=(const CMyRichEditCtrl&) = delete;

  // Takes over the dialog's control (its messages pass through this object first);
  // nullptr lets it go.
  void Attach(HWND edit);
  HWND hwnd() const { return edit_.load(); }

  // Sends the set-read-only request; the flag follows only when the control accepts it.
  bool SetReadOnly(bool readOnly);
  bool readOnly() const { return readOnly_.load(); }
  void LimitText(LPARAM chars);
  void SetBackgroundColor(COLORREF colour);

  // Appends at the end whatever the user selected, then scrolls to the bottom. The requests are
  // sent, so a worker thread waits until the UI thread has placed its text.
  void AppendLogText(const std::wstring& text) override;

 private:
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  void OnRButtonDown(POINT clientPoint);
  bool OnCommand(int id);

  std::atomic<HWND> edit_{nullptr};
  std::atomic<bool> readOnly_{false};
};

}  // namespace vq::win
