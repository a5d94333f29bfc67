// Test helper: does every text of a dialog fit its control at 96 and at 144 DPI? The dialog is
// made from the program's own resources (not shown); each control's size in dialog units is then
// laid out again with the dialog font made for each DPI, as the dialog manager would, and its text
// measured in that font.
//   dialogfit PROGRAM.exe DIALOG_ID ID...   exit 1 when a text of one of the IDs does not fit
// Every control is printed with its room and its need, so a tight one shows before it breaks.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

INT_PTR CALLBACK Quiet(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

struct Units {
  double x, y;  // pixels per 4 horizontal and per 8 vertical dialog units
};

// The dialog units of a font as the dialog manager derives them: the average width of the Latin
// letters and the font's height.
Units UnitsOf(HDC dc, HFONT font) {
  HGDIOBJ old = SelectObject(dc, font);
  SIZE s = {};
  const wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  GetTextExtentPoint32W(dc, letters, 52, &s);
  TEXTMETRICW tm = {};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  return Units{double((s.cx / 26 + 1) / 2), double(tm.tmHeight)};
}

SIZE TextSize(HDC dc, HFONT font, const std::wstring& text) {
  HGDIOBJ old = SelectObject(dc, font);
  RECT r = {0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), int(text.size()), &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: dialogfit PROGRAM.exe DIALOG_ID ID...\n");
    return 2;
  }
  // ctest hands over the build machine's path; under wine that file is on drive Z:.
  std::wstring program = argv[1];
  if (!program.empty() && program[0] == L'/') {
    for (wchar_t& ch : program)
      if (ch == L'/') ch = L'\\';
    program = L"Z:" + program;
  }
  HMODULE mod = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!mod) {
    std::fprintf(stderr, "dialogfit: cannot load %ls\n", argv[1]);
    return 2;
  }
  HWND dlg = CreateDialogParamW(mod, MAKEINTRESOURCEW(_wtoi(argv[2])), nullptr, Quiet, 0);
  if (!dlg) {
    std::fprintf(stderr, "dialogfit: no dialog %ls (%lu)\n", argv[2], GetLastError());
    return 2;
  }
  std::set<int> wanted;
  for (int i = 3; i < argc; ++i) wanted.insert(_wtoi(argv[i]));

  HDC dc = GetDC(dlg);
  const int systemDpi = GetDeviceCaps(dc, LOGPIXELSY);
  RECT unit = {0, 0, 4, 8};
  MapDialogRect(dlg, &unit);
  const Units here{double(unit.right), double(unit.bottom)};
  LOGFONTW lf = {};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0)), sizeof lf, &lf);

  int failures = 0;
  for (int dpi : {96, 144}) {
    LOGFONTW scaled = lf;
    scaled.lfHeight = MulDiv(lf.lfHeight, dpi, systemDpi);
    HFONT font = CreateFontIndirectW(&scaled);
    const Units u = UnitsOf(dc, font);
    std::printf("%d DPI: font height %ld, units %.0f x %.0f\n", dpi, scaled.lfHeight, u.x, u.y);
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      wchar_t cls[32] = {};
      GetClassNameW(c, cls, 32);
      const LONG style = GetWindowLongW(c, GWL_STYLE);
      const bool isStatic = _wcsicmp(cls, L"Static") == 0;
      const bool isButton = _wcsicmp(cls, L"Button") == 0;
      if (!isStatic && !isButton) continue;
      const int len = GetWindowTextLengthW(c);
      std::wstring text(size_t(len) + 1, L'\0');
      text.resize(size_t(GetWindowTextW(c, &text[0], len + 1)));
      if (text.empty()) continue;
      RECT r;
      GetWindowRect(c, &r);
      MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
      // Back to dialog units, then out again in the units of this DPI's font.
      const double width = (r.right - r.left) * u.x / here.x;
      const double height = (r.bottom - r.top) * u.y / here.y;
      const int type = style & 0x0F;
      const bool check = isButton && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX);
      // A check box gives its box and a gap; a push button a frame on each side.
      double room = width;
      if (check) room -= (GetSystemMetrics(SM_CXMENUCHECK) + 4) * dpi / double(systemDpi);
      if (isButton && !check) room -= 4.0 * dpi / 96;
      const SIZE need = TextSize(dc, font, text);
      const int id = GetDlgCtrlID(c);
      const bool fits = need.cx <= room && need.cy <= height + 1;
      std::printf("  %5d %-6s room %4.0f x %3.0f need %4ld x %3ld %s\n", id,
                  check      ? "check"
                  : isButton ? "button"
                             : "text",
                  room, height, need.cx, need.cy, fits ? "fits" : "DOES NOT FIT");
      if (!fits && wanted.count(id)) ++failures;
    }
    DeleteObject(font);
  }
  ReleaseDC(dlg, dc);
  DestroyWindow(dlg);
  std::printf(failures ? "%d text(s) do not fit\n" : "every text asked about fits\n", failures);
  return failures ? 1 : 0;
}
