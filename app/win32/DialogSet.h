// The settings dialog (dialog 147): edits every setting, checks and stores it on OK. The
// decisions live in settings/SettingsForm.h and app/Commands.h; this class only moves texts
// between the controls and a SettingsForm.
#pragma once

#include <string>

#include "app/win32/Dialog.h"
#include "settings/SettingsForm.h"

namespace vq::win {

class CDialogSet : public Dialog {
 public:
  CDialogSet();

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;

 private:
  void OnOK();
  void OnRestoreDefaults();
  void OnBrowse(int editId, const wchar_t* title);
  void Fill(const SettingsForm& form);
  SettingsForm Read() const;
  void Box(const std::wstring& text);
};

}  // namespace vq::win
