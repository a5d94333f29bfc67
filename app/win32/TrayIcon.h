// The notification-area icon of the main window. There is no tray menu: a click only brings the
// window back (the window handles the callback message).
#pragma once

#include <windows.h>

#include <string>

namespace vq::win {

// The callback message of the icon: the first user message plus 99.
inline constexpr UINT WM_TRAYICON = WM_USER + 99;

class TrayIcon {
 public:
  // Asks the shell to add the icon (identifier 0 of owner, tip "vq.lumen"); remembers and
  // returns whether it was added.
  bool Add(HWND owner, HICON icon);
  // Forgets the icon, then asks the shell to delete it.
  void Remove();
  // 1 after a successful add; 0 after a failed one, a removal or a restart of the shell.
  int added() const { return added_; }
  void MarkLost() { added_ = 0; }
  // A balloon at the icon (a warning or an information icon); false when the shell refused it
  // or there is no icon.
  bool ShowBalloon(const wchar_t* title, const std::wstring& text, bool warning);

 private:
  HWND owner_ = nullptr;
  int added_ = 0;
};

}  // namespace vq::win
