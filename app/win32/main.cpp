// The Windows program: the application object runs the main dialog for the whole life of the
// process; when the dialog ends, the process ends.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/win32/VQTimeDlg.h"
#include "platform/Process.h"

namespace vq::win {

class CVQTimeApp {
 public:
  // Always reports failure, so that no message loop of the application's own follows the dialog.
  BOOL InitInstance() {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    // The Unicode rich-edit class: the old ANSI one turns Chinese into "?" on systems whose code
    // page is not 936.
    LoadLibraryW(L"Riched20.dll");
    // The folder browser of the settings dialog needs COM on this thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    platform::CreateRunningMarker();
    CVQTimeDlg dlg;
    dlg.DoModal(nullptr);
    return FALSE;
  }
};

}  // namespace vq::win

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  vq::win::CVQTimeApp app;
  app.InitInstance();
  // The engine threads still run and may be logging or saving: end the process here, before the
  // runtime's exit code destroys anything they use (as the terminal build does with _exit).
  ExitProcess(0);
}
